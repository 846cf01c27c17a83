// The framework's import machinery: context, observers, entity callbacks.
#include "qelx/gk_import.hxx"

#include "qelx/qelx_units.hxx"

#include <map>
#include <string>
#include <tuple>

namespace {

using RuleKey = std::tuple<std::string, std::string, int>;

std::map<RuleKey, bool>& importRules()
{
    static std::map<RuleKey, bool> rules;
    return rules;
}

bool ruleOr(const QELXString& target, const QELXString& source, Gk_ImportMachine::Filter filter, bool fallback)
{
    const auto& rules = importRules();
    const auto it = rules.find(RuleKey(target.c_str(), source.c_str(), filter));
    return it == rules.end() ? fallback : it->second;
}

} // namespace

Gk_ObsWraper Gk_ObserverUtil::CoreTplgyBodyTransPhase("CoreTplgyBodyTransPhase");

bool Gk_ImportMachine::filterForTplgy(const QELXString& target, const QELXString& source)
{
    return ruleOr(target, source, Tplgy, std::string(source.c_str()) != "XVda");
}

bool Gk_ImportMachine::filterForTrim(const QELXString& target, const QELXString& source)
{
    return ruleOr(target, source, Trim, true);
}

bool Gk_ImportMachine::filterForWire(const QELXString& target, const QELXString& source)
{
    return ruleOr(target, source, Wire, true);
}

bool Gk_ImportMachine::filterForPoint(const QELXString& target, const QELXString& source)
{
    return ruleOr(target, source, Point, true);
}

bool Gk_ImportMachine::adapterForTplgyToTrim(const QELXString& target, const QELXString& source)
{
    return ruleOr(target, source, TplgyToTrim, !filterForTplgy(target, source));
}

void Gk_ImportMachine::setRule(const QELXString& target, const QELXString& source, Filter filter, bool value)
{
    importRules()[RuleKey(target.c_str(), source.c_str(), filter)] = value;
}

void Gk_ImportMachine::resetRules() { importRules().clear(); }

std::vector<Gk_ObsCall>& Gk_ObsWraper::log()
{
    static std::vector<Gk_ObsCall> calls;
    return calls;
}

namespace {
bool g_obsRecording = true;
}

bool Gk_ObsWraper::setRecording(bool on)
{
    const bool was = g_obsRecording;
    g_obsRecording = on;
    return was;
}

void Gk_ObsWraper::record(const char* call, long long value, const void* source, const ENTITY* created)
{
    if (m_name.empty() || !g_obsRecording)
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
