#include "qelx/qelx_test.hxx"

#include "qelx/gk_import.hxx"
#include "qelx/qelx_units.hxx"
#include "qelx/qeli_conversion.hxx"

#include <algorithm>

namespace qelx_test {

namespace {

std::vector<void (*)()>& resetHooks()
{
    static std::vector<void (*)()> hooks;
    return hooks;
}

EventIdentifier flatten(const QELXIdentifier& id) { return {id.GetValue(), id.GetType(), id.GetTypeName()}; }

// The one place that knows every event class's fields.
EventRecord flatten(const QELXEvent& event)
{
    EventRecord r;
    r.kind = event.GetKind();
    if (auto* e = dynamic_cast<const QELXStartTaskEvent*>(&event)) {
        r.name = e->GetStartName(), r.text = e->GetTaskName(), r.level = e->GetLevel();
    } else if (auto* e = dynamic_cast<const QELXEndTaskEvent*>(&event)) {
        r.name = e->GetEndName(), r.text = e->GetTaskName(), r.level = e->GetLevel();
        r.result = e->GetResult(), r.flag = e->GetFlag();
    } else if (auto* e = dynamic_cast<const QELXStartConversionStageEvent*>(&event)) {
        r.name = e->GetName(), r.count = e->GetCount(), r.weight = e->GetWeight();
        r.lastStage = e->IsLastStage(), r.finished = e->IsFinished();
    } else if (auto* e = dynamic_cast<const QELXNamedCountEvent*>(&event)) {
        r.name = e->GetEntityName(), r.text = e->GetEntityKind(), r.number = e->GetNumber();
    } else if (auto* e = dynamic_cast<const QELXEndTranslateEntityEvent*>(&event)) {
        r.result = e->GetResult(), r.source = flatten(e->GetSource());
        for (int i = 0; i < e->GetTargets().Count(); ++i)
            r.targets.push_back(flatten(e->GetTargets()[i]));
    } else if (auto* e = dynamic_cast<const QELXConversionSummaryEvent*>(&event)) {
        r.total = e->GetTotal(), r.good = e->GetGood(), r.text = e->GetTarget().c_str();
    } else if (auto* e = dynamic_cast<const QELXWarningEvent*>(&event)) {
        r.name = e->GetText();
    } else if (auto* e = dynamic_cast<const QELXProgressStatusEvent*>(&event)) {
        r.count = e->GetStatus(), r.number = e->GetValue();
    } else if (auto* e = dynamic_cast<const QELXStartTranslationTaskEvent*>(&event)) {
        r.name = e->GetTaskName().c_str(), r.text = e->GetSystem(), r.flag = e->GetFlag();
    } else if (auto* e = dynamic_cast<const QELXEndTranslationTaskEvent*>(&event)) {
        r.result = e->GetResult(), r.flag = e->GetFlag();
    }
    return r;
}

} // namespace

void addResetHook(void (*hook)())
{
    auto& hooks = resetHooks();
    if (hook && std::find(hooks.begin(), hooks.end(), hook) == hooks.end())
        hooks.push_back(hook);
}

void resetFramework()
{
    Gk_OptionDoc::reset();
    QELXEventBus::GetEventBus()->RemoveAllListeners();
    QELXCallbackShared::RequestAbort(false);
    Gk_ErrMgr::setPolicy(Gk_ErrMgr::Record);
    Gk_ErrMgr::clearAssertions();
    qelxResetUnits();
    QELXRepresentationRegistry::Clear();
    Gk_ImportMachine::resetRules();
    Gk_ObsWraper::log().clear();
    for (auto hook : resetHooks())
        hook();
}

EventRecorder::EventRecorder() { QELXEventBus::GetEventBus()->AddListener(this); }
EventRecorder::~EventRecorder() { QELXEventBus::GetEventBus()->RemoveListener(this); }

void EventRecorder::OnEvent(const QELXEvent& event) { m_records.push_back(flatten(event)); }

int EventRecorder::count(const std::string& kind) const
{
    return static_cast<int>(
        std::count_if(m_records.begin(), m_records.end(), [&](const EventRecord& r) { return r.kind == kind; }));
}

std::vector<std::string> EventRecorder::names(const std::string& kind) const
{
    std::vector<std::string> out;
    for (const EventRecord& r : m_records)
        if (r.kind == kind)
            out.push_back(r.name);
    return out;
}

std::vector<std::string> EventRecorder::sequence() const
{
    std::vector<std::string> out;
    for (const EventRecord& r : m_records)
        out.push_back(r.kind + ":" + r.name);
    return out;
}

std::vector<StageRecord> EventRecorder::stages() const
{
    std::vector<StageRecord> out;
    for (const EventRecord& r : m_records) {
        if (r.kind != "Stage")
            continue;
        if (!r.finished) {
            out.push_back({r.name, r.count, r.weight, r.lastStage, false});
            continue;
        }
        // The finished firing belongs to the latest open stage of that name.
        const auto open = std::find_if(out.rbegin(), out.rend(),
                                       [&](const StageRecord& s) { return s.name == r.name && !s.finished; });
        if (open != out.rend())
            open->finished = true;
        else
            out.push_back({r.name, r.count, r.weight, r.lastStage, true});
    }
    return out;
}

bool EventRecorder::tasksNested() const
{
    std::vector<std::string> open;
    for (const EventRecord& r : m_records) {
        if (r.kind == "StartTask") {
            open.push_back(r.text);
        } else if (r.kind == "EndTask") {
            if (open.empty() || open.back() != r.text)
                return false;
            open.pop_back();
        }
    }
    return open.empty();
}

std::vector<std::uint64_t> EventRecorder::targetsOf(std::uint64_t sourceWord) const
{
    std::vector<std::uint64_t> out;
    for (const EventRecord& r : m_records)
        if (r.kind == "EndTranslate" && r.source.word == sourceWord)
            for (const EventIdentifier& t : r.targets)
                out.push_back(t.word);
    return out;
}

AssertRecorder::AssertRecorder(Gk_ErrMgr::Policy policy)
    : m_first(Gk_ErrMgr::assertions().size()), m_oldPolicy(Gk_ErrMgr::policy())
{
    Gk_ErrMgr::setPolicy(policy);
}

AssertRecorder::~AssertRecorder() { Gk_ErrMgr::setPolicy(m_oldPolicy); }

std::vector<Gk_AssertRecord> AssertRecorder::records() const
{
    const auto& log = Gk_ErrMgr::assertions();
    // The log may have been cleared since this recorder started.
    const std::size_t first = std::min(m_first, log.size());
    return {log.begin() + static_cast<std::ptrdiff_t>(first), log.end()};
}

bool AssertRecorder::has(const std::string& source, int line, const std::string& kind) const
{
    const auto all = records();
    return std::any_of(all.begin(), all.end(), [&](const Gk_AssertRecord& r) {
        return r.source == source && r.line == line && r.kind == kind;
    });
}

AbortPlan::~AbortPlan() { QELXCallbackShared::RequestAbort(false); }
void AbortPlan::after(int checks) { QELXCallbackShared::RequestAbort(true, checks); }

void OptionScope::remember(const std::string& key)
{
    for (const Saved& s : m_saved)
        if (s.key == key)
            return;
    Saved saved{key, std::nullopt};
    if (Gk_Option* existing = Gk_OptionDoc::fetchOption(key)) {
        QELXValue value;
        existing->GetValue(value);
        saved.value = value;
    }
    m_saved.push_back(std::move(saved));
}

Gk_Option* OptionScope::set(const std::string& key, const QELXValue& value)
{
    remember(key);
    return Gk_OptionDoc::setOption(key, value);
}

void OptionScope::remove(const std::string& key)
{
    remember(key);
    Gk_OptionDoc::removeOption(key);
}

OptionScope::~OptionScope()
{
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        if (it->value)
            Gk_OptionDoc::setOption(it->key, *it->value);
        else
            Gk_OptionDoc::removeOption(it->key);
    }
}

} // namespace qelx_test
