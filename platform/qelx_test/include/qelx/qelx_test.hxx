#pragma once
// Test support of the framework stand-in: recorders for events and
// assertions, the abort plan, option scopes and the reset of all
// process-wide framework state.
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_options.hxx"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qelx_test {

// Restores every process-wide framework state to its load state: option
// registry (and, through its change hooks, the bound switches), event
// listeners, abort switch, assertion log and policy, units; then runs the
// registered reset hooks (e.g. the kernel's test reset).
void resetFramework();
void addResetHook(void (*hook)());

struct EventIdentifier {
    std::uint64_t word = 0;
    std::string type;
    std::string typeName;
};

// One fired event, flattened. Field use per kind:
//   StartTask  name = start name, text = task name, level
//   EndTask    name = end name, text = task name, level, result, flag
//   Stage      name, count, weight, lastStage, finished
//   StartTranslate / StartRepair  name, text = kind argument, number
//   EndTranslate  result, source, targets
//   Summary    total, good, text = target
//   Warning    name = the text as bytes
//   ProgressStatus  count = status, number = value
//   StartTranslation  name, text = system, flag;  EndTranslation  result, flag
struct EventRecord {
    std::string kind;
    std::string name;
    std::string text;
    int level = 0, count = 0, number = 0, total = 0, good = 0;
    std::uint32_t result = 0;
    double weight = 0.0;
    bool lastStage = false, finished = false, flag = false;
    EventIdentifier source;
    std::vector<EventIdentifier> targets;
};

struct StageRecord {
    std::string name;
    int count = 0;
    double weight = 0.0;
    bool lastStage = false;
    bool finished = false; // the finished firing was seen
};

// Records every event fired while it lives.
class EventRecorder : public QELXEventListener {
public:
    EventRecorder();
    ~EventRecorder() override;
    EventRecorder(const EventRecorder&) = delete;
    EventRecorder& operator=(const EventRecorder&) = delete;

    void OnEvent(const QELXEvent& event) override;

    const std::vector<EventRecord>& records() const { return m_records; }
    int count(const std::string& kind) const;
    std::vector<std::string> names(const std::string& kind) const;
    // "Kind:name" per event, in firing order.
    std::vector<std::string> sequence() const;
    // Stages in start order, paired with their finished firing.
    std::vector<StageRecord> stages() const;
    // Every EndTask closes the innermost open StartTask of the same task
    // name, and none stays open.
    bool tasksNested() const;
    // Target words of every EndTranslate whose source has this word.
    std::vector<std::uint64_t> targetsOf(std::uint64_t sourceWord) const;
    void clear() { m_records.clear(); }

private:
    std::vector<EventRecord> m_records;
};

// Sees the assertions reported while it lives; optionally switches the
// policy to Throw and restores the old one on exit.
class AssertRecorder {
public:
    explicit AssertRecorder(Gk_ErrMgr::Policy policy = Gk_ErrMgr::Record);
    ~AssertRecorder();
    AssertRecorder(const AssertRecorder&) = delete;
    AssertRecorder& operator=(const AssertRecorder&) = delete;

    std::vector<Gk_AssertRecord> records() const;
    int count() const { return static_cast<int>(records().size()); }
    bool has(const std::string& source, int line, const std::string& kind = "assert") const;

private:
    std::size_t m_first;
    Gk_ErrMgr::Policy m_oldPolicy;
};

// Makes check n + 1 (checkAbort or IsAborted) throw QELXAbortException;
// withdraws the abort on exit.
class AbortPlan {
public:
    AbortPlan() = default;
    ~AbortPlan();
    AbortPlan(const AbortPlan&) = delete;
    AbortPlan& operator=(const AbortPlan&) = delete;
    void after(int checks);
    void now() { after(0); }
};

// Sets and removes registry options and puts back what was there on exit.
class OptionScope {
public:
    OptionScope() = default;
    ~OptionScope();
    OptionScope(const OptionScope&) = delete;
    OptionScope& operator=(const OptionScope&) = delete;

    Gk_Option* set(const std::string& key, const QELXValue& value);
    Gk_Option* on(const std::string& key) { return set(key, QELXValue(true)); }
    Gk_Option* off(const std::string& key) { return set(key, QELXValue(false)); }
    void remove(const std::string& key);

private:
    struct Saved {
        std::string key;
        std::optional<QELXValue> value; // empty: the key was absent
    };
    void remember(const std::string& key);
    std::vector<Saved> m_saved;
};

} // namespace qelx_test
