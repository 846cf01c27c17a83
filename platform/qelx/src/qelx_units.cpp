#include "qelx/qelx_units.hxx"

#include <cmath>

namespace {

// Millimetres per unit, indexed by unit code; 0 = no length.
constexpr double kMillimetres[] = {0.0, 1.0, 10.0, 1000.0, 0.0, 25.4, 304.8, 0.001, 1.0e6, 914.4, 1609344.0};
constexpr int kUnitCount = sizeof kMillimetres / sizeof kMillimetres[0];

bool known(QELXUnit unit) { return unit >= 0 && unit < kUnitCount; }

const QELXUnitSettings kLoadSettings{QELX_UNIT_UNSPECIFIED, nullptr, QELX_UNIT_MILLIMETER, QELX_UNIT_MILLIMETER};

QELXUnitSettings& settings()
{
    static QELXUnitSettings s = kLoadSettings;
    return s;
}

QELXUnit& readUnit()
{
    static QELXUnit unit = QELX_UNIT_NONE;
    return unit;
}

QELIResult store(QELXUnit unit, QELXUnit& slot)
{
    if (!known(unit))
        return QELI_INVALID_ARG;
    slot = unit;
    return QELI_OK;
}

} // namespace

void QELXUnitValue::SetReadUnit(QELXUnit unit) { readUnit() = unit; }
QELXUnit QELXUnitValue::GetReadUnit() { return readUnit(); }

QELIResult GetQELXUnit(double metresPerUnit, QELXUnit& unit)
{
    const double mm = metresPerUnit * 1000.0;
    for (int code = 0; code < kUnitCount; ++code) {
        if (kMillimetres[code] > 0.0 && std::fabs(mm - kMillimetres[code]) <= 1e-6 * kMillimetres[code]) {
            unit = static_cast<QELXUnit>(code);
            return QELI_OK;
        }
    }
    return QELI_FAIL;
}

Gk_Unit::Gk_Unit(QELXUnit unit) : m_mm(known(unit) ? kMillimetres[unit] : 0.0) {}

Gk_Unit GetGkUnitFromQELXUnit(QELXUnit unit) { return Gk_Unit(unit); }

QELIResult api_set_unspecified_file_unit(QELXUnit unit) { return store(unit, settings().unspecifiedFileUnit); }

QELIResult api_set_read_unit_callback(void (*callback)(QELXUnit))
{
    settings().readUnitCallback = callback;
    return QELI_OK;
}

QELIResult api_set_write_unit(QELXUnit unit) { return store(unit, settings().writeUnit); }
QELIResult api_set_application_unit(QELXUnit unit) { return store(unit, settings().applicationUnit); }

const QELXUnitSettings& qelxUnitSettings() { return settings(); }

void qelxResetUnits()
{
    settings() = kLoadSettings;
    readUnit() = QELX_UNIT_NONE;
}
