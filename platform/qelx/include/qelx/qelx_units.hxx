#pragma once
// Length units. The framework states a unit in metres per unit; Gk_Unit holds
// millimetres per unit, the kernel's file convention.
#include "qelx/qelx_result.hxx"

enum QELXUnit {
    QELX_UNIT_NONE = 0,
    QELX_UNIT_MILLIMETER = 1,
    QELX_UNIT_CENTIMETER = 2,
    QELX_UNIT_METER = 3,
    QELX_UNIT_UNSPECIFIED = 4,
    QELX_UNIT_INCH = 5,
    QELX_UNIT_FOOT = 6,
    QELX_UNIT_MICROMETER = 7,
    QELX_UNIT_KILOMETER = 8,
    QELX_UNIT_YARD = 9,
    QELX_UNIT_MILE = 10,
};

class QELXUnitValue {
public:
    static void SetReadUnit(QELXUnit unit);
    static QELXUnit GetReadUnit();
};

// The unit whose metres-per-unit value matches within relative 1e-6;
// 0x1000001 and unit untouched when none does.
QELIResult GetQELXUnit(double metresPerUnit, QELXUnit& unit);

class Gk_Unit {
public:
    explicit Gk_Unit(QELXUnit unit = QELX_UNIT_MILLIMETER);
    // Millimetres per unit; 0 for none and unspecified.
    double value() const { return m_mm; }
    // Length of one of these units in other units.
    // 1 when either unit has no length (none, unspecified): nothing to scale.
    double mapTo(const Gk_Unit& other) const { return m_mm > 0 && other.m_mm > 0 ? m_mm / other.m_mm : 1.0; }

private:
    double m_mm;
};

Gk_Unit GetGkUnitFromQELXUnit(QELXUnit unit);

// Process-wide unit settings; each gives 0x100000b for an unknown code.
QELIResult api_set_unspecified_file_unit(QELXUnit unit);
QELIResult api_set_read_unit_callback(void (*callback)(QELXUnit));
QELIResult api_set_write_unit(QELXUnit unit);
QELIResult api_set_application_unit(QELXUnit unit);

struct QELXUnitSettings {
    QELXUnit unspecifiedFileUnit;
    void (*readUnitCallback)(QELXUnit);
    QELXUnit writeUnit;
    QELXUnit applicationUnit;
};
const QELXUnitSettings& qelxUnitSettings();
void qelxResetUnits();
