#pragma once
// The framework's event bus: one process-wide, synchronous bus. Firing hands
// the event to every listener in registration order, then returns. The
// static Fire helpers build the event on the stack, fire it and drop it.
#include "qelx/qelx_identifier.hxx"
#include "qelx/qelx_refcount.hxx"
#include "qelx/qelx_result.hxx"
#include "qelx/qelx_stream.hxx"
#include "qelx/qelx_string.hxx"

#include <string>
#include <vector>

class QELXEvent : public QELXReferenceCount {
public:
    const char* GetName() const override { return "QELXEvent"; }
    virtual bool IsKindOf(const char* kind) const;
    // One line: the kind, then the fields.
    virtual void GetFormattedDescription(QELXOutputStream* stream) const;
    virtual bool IsTimed() const { return false; }
    virtual int GetTaskIdentifier() const { return 0; }
    virtual const char* GetKind() const = 0;

protected:
    virtual void DescribeFields(QELXStreamFormatter&) const {}
};

struct QELXEventListener {
    virtual ~QELXEventListener() = default;
    virtual void OnEvent(const QELXEvent& event) = 0;
};

class QELXEventBus {
public:
    static QELXEventBus* GetEventBus();
    static void Fire(QELXEvent& event);
    void AddListener(QELXEventListener* listener);
    // Nothing for a listener that is not registered.
    void RemoveListener(QELXEventListener* listener);
    void RemoveAllListeners();

private:
    std::vector<QELXEventListener*> m_listeners;
};

class QELXStartTaskEvent : public QELXEvent {
public:
    QELXStartTaskEvent(const char* startName, const char* taskName, int level)
        : m_startName(startName), m_taskName(taskName), m_level(level) {}
    static void Fire(const char* startName, const char* taskName, int level);
    const char* GetKind() const override { return "StartTask"; }
    const char* GetStartName() const { return m_startName.c_str(); }
    const char* GetTaskName() const { return m_taskName.c_str(); }
    int GetLevel() const { return m_level; }

protected:
    void DescribeFields(QELXStreamFormatter& out) const override;

private:
    QELXString m_startName, m_taskName;
    int m_level;
};

// Constructing one fires nothing; Fire builds and sends one.
class QELXEndTaskEvent : public QELXEvent {
public:
    QELXEndTaskEvent(QELIResult result, const char* endName, const char* taskName, int level, bool flag)
        : m_result(result), m_endName(endName), m_taskName(taskName), m_level(level), m_flag(flag) {}
    static void Fire(QELIResult result, const char* endName, const char* taskName, int level, bool flag);
    const char* GetKind() const override { return "EndTask"; }
    QELIResult GetResult() const { return m_result; }
    const char* GetEndName() const { return m_endName.c_str(); }
    const char* GetTaskName() const { return m_taskName.c_str(); }
    int GetLevel() const { return m_level; }
    bool GetFlag() const { return m_flag; }

protected:
    void DescribeFields(QELXStreamFormatter& out) const override;

private:
    QELIResult m_result;
    QELXString m_endName, m_taskName;
    int m_level;
    bool m_flag;
};

// Fired at the start of a stage and again after SetFinished.
class QELXStartConversionStageEvent : public QELXEvent {
public:
    QELXStartConversionStageEvent(const char* name, int count, double weight, bool lastStage)
        : m_name(name), m_count(count), m_weight(weight), m_lastStage(lastStage) {}
    const char* GetKind() const override { return "Stage"; }
    void SetFinished() { m_finished = true; }
    const char* GetName() const override { return m_name.c_str(); }
    int GetCount() const { return m_count; }
    double GetWeight() const { return m_weight; }
    bool IsLastStage() const { return m_lastStage; }
    bool IsFinished() const { return m_finished; }

protected:
    void DescribeFields(QELXStreamFormatter& out) const override;

private:
    QELXString m_name;
    int m_count;
    double m_weight;
    bool m_lastStage;
    bool m_finished = false;
};

// Shared shape of the (name, kind, number) announcements.
class QELXNamedCountEvent : public QELXEvent {
public:
    QELXNamedCountEvent(const char* name, const char* kind, int number)
        : m_name(name), m_entityKind(kind), m_number(number) {}
    const char* GetEntityName() const { return m_name.c_str(); }
    const char* GetEntityKind() const { return m_entityKind.c_str(); }
    int GetNumber() const { return m_number; }

protected:
    void DescribeFields(QELXStreamFormatter& out) const override;

private:
    QELXString m_name, m_entityKind;
    int m_number;
};

class QELXStartTranslateEntityEvent : public QELXNamedCountEvent {
public:
    using QELXNamedCountEvent::QELXNamedCountEvent;
    static void Fire(const char* name, const char* kind, int number);
    const char* GetKind() const override { return "StartTranslate"; }
};

class QELXStartTranslateRepairEvent : public QELXNamedCountEvent {
public:
    using QELXNamedCountEvent::QELXNamedCountEvent;
    static void Fire(const char* name, const char* kind, int number);
    const char* GetKind() const override { return "StartRepair"; }
};

// Copies the identifiers; never looks behind their words (the entity may be
// gone already).
class QELXEndTranslateEntityEvent : public QELXEvent {
public:
    QELXEndTranslateEntityEvent(QELIResult result, const QELXIdentifier& source, const QELXIdentifier& target);
    QELXEndTranslateEntityEvent(QELIResult result, const QELXIdentifier& source, const QELXIdentifiers& targets);
    static void Fire(QELIResult result, const QELXIdentifier& source, const QELXIdentifier& target);
    static void Fire(QELIResult result, const QELXIdentifier& source, const QELXIdentifiers& targets);
    const char* GetKind() const override { return "EndTranslate"; }
    QELIResult GetResult() const { return m_result; }
    const QELXIdentifier& GetSource() const { return m_source; }
    const QELXIdentifiers& GetTargets() const { return m_targets; }

protected:
    void DescribeFields(QELXStreamFormatter& out) const override;

private:
    QELIResult m_result;
    QELXIdentifier m_source;
    QELXIdentifiers m_targets;
};

class QELXConversionSummaryEvent : public QELXEvent {
public:
    QELXConversionSummaryEvent(int total, int good, const QELXString& target)
        : m_total(total), m_good(good), m_target(target) {}
    static void Fire(int total, int good, const QELXString& target);
    const char* GetKind() const override { return "Summary"; }
    int GetTotal() const { return m_total; }
    int GetGood() const { return m_good; }
    const QELXString& GetTarget() const { return m_target; }

protected:
    void DescribeFields(QELXStreamFormatter& out) const override;

private:
    int m_total, m_good;
    QELXString m_target;
};

// The text travels as raw bytes, never re-encoded.
class QELXWarningEvent : public QELXEvent {
public:
    explicit QELXWarningEvent(const char* text) : m_text(text) {}
    static void Fire(const char* text);
    const char* GetKind() const override { return "Warning"; }
    const char* GetText() const { return m_text.c_str(); }

protected:
    void DescribeFields(QELXStreamFormatter& out) const override;

private:
    QELXString m_text;
};

class QELXProgressStatusEvent : public QELXEvent {
public:
    QELXProgressStatusEvent(int status, int value) : m_status(status), m_value(value) {}
    static void Fire(int status, int value);
    const char* GetKind() const override { return "ProgressStatus"; }
    int GetStatus() const { return m_status; }
    int GetValue() const { return m_value; }

protected:
    void DescribeFields(QELXStreamFormatter& out) const override;

private:
    int m_status, m_value;
};

class QELXStartTranslationTaskEvent : public QELXEvent {
public:
    QELXStartTranslationTaskEvent(const QELXString& name, const char* system, bool flag, QELXOutputStream* log,
                                  const wchar_t* sourcePath, const wchar_t* targetPath);
    static void Fire(const QELXString& name, const char* system, bool flag, QELXOutputStream* log,
                     const wchar_t* sourcePath, const wchar_t* targetPath);
    const char* GetKind() const override { return "StartTranslation"; }
    const QELXString& GetTaskName() const { return m_name; }
    const char* GetSystem() const { return m_system.c_str(); }
    bool GetFlag() const { return m_flag; }
    QELXOutputStream* GetLog() const { return m_log; }
    const QELXString& GetSourcePath() const { return m_sourcePath; }
    const QELXString& GetTargetPath() const { return m_targetPath; }

protected:
    void DescribeFields(QELXStreamFormatter& out) const override;

private:
    QELXString m_name, m_system;
    bool m_flag;
    QELXOutputStream* m_log;
    QELXString m_sourcePath, m_targetPath;
};

class QELXEndTranslationTaskEvent : public QELXEvent {
public:
    QELXEndTranslationTaskEvent(QELIResult result, bool flag) : m_result(result), m_flag(flag) {}
    static void Fire(QELIResult result, bool flag);
    const char* GetKind() const override { return "EndTranslation"; }
    QELIResult GetResult() const { return m_result; }
    bool GetFlag() const { return m_flag; }

protected:
    void DescribeFields(QELXStreamFormatter& out) const override;

private:
    QELIResult m_result;
    bool m_flag;
};

class QELXStartConversionTaskEvent : public QELXEvent {
public:
    bool IsTimed() const override { return true; }
    int GetTaskIdentifier() const override { return 0; }
    const char* GetKind() const override { return "StartConversionTask"; }
};
