// The framework's import machinery: context, observers, entity callbacks.
#include "qelx/gk_import.hxx"

#include "qelx/qelx_units.hxx"

std::vector<Gk_ObsCall>& Gk_ObsWraper::log()
{
    static std::vector<Gk_ObsCall> calls;
    return calls;
}

void Gk_ObsWraper::record(const char* call, long long value, const void* source, const ENTITY* created)
{
    if (m_name.empty())
        return;
    log().push_back(Gk_ObsCall{m_name, call, value, source, created});
}

void Gk_ObsWraper::setMax(int max) { record("setMax", max); }
void Gk_ObsWraper::setDone(int done) { record("setDone", done); }
void Gk_ObsWraper::setOver() { record("setOver", 0); }
void Gk_ObsWraper::setEntityCallback(const void* sourceEntity, ENTITY* created)
{
    record("setEntityCallback", 0, sourceEntity, created);
}

Gk_ObsWraper Gk_ImportMachine::fetchCallbackForEntity(const char* entity, const QELXString& target,
                                                      const QELXString& source, bool)
{
    return Gk_ObsWraper(std::string(entity ? entity : "") + "@" + source.c_str() + "->" + target.c_str());
}

Gk_ImportContext::Gk_ImportContext(QELXDocument* target, QELXDocument* source) : m_target(target), m_source(source)
{
    QELXUnit sourceUnit = QELX_UNIT_UNSPECIFIED, targetUnit = QELX_UNIT_UNSPECIFIED;
    if (!target || !source || source->GetUnit(sourceUnit) != QELI_OK || target->GetUnit(targetUnit) != QELI_OK)
        return;
    const double m = GetGkUnitFromQELXUnit(targetUnit).mapTo(GetGkUnitFromQELXUnit(sourceUnit));
    if (m > 0.0)
        m_morph = QELXMorph3D(QELXAffine(), QELXPoint3D(0, 0, 0), 1.0 / m);
}
