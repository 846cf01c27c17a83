#include "qelx/qelx_events.hxx"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

template <class Event, class... Args>
void fireNew(Args&&... args)
{
    Event event(std::forward<Args>(args)...);
    QELXEventBus::Fire(event);
}

void describeIdentifier(QELXStreamFormatter& out, const QELXIdentifier& id)
{
    out << " " << std::to_string(id.GetValue()) << ":" << id.GetTypeName();
}

} // namespace

bool QELXEvent::IsKindOf(const char* kind) const { return kind && std::strcmp(GetKind(), kind) == 0; }

void QELXEvent::GetFormattedDescription(QELXOutputStream* stream) const
{
    QELXStreamFormatter out(stream);
    out << GetKind();
    DescribeFields(out);
}

QELXEventBus* QELXEventBus::GetEventBus()
{
    static QELXEventBus bus;
    return &bus;
}

void QELXEventBus::Fire(QELXEvent& event)
{
    // A listener may detach itself (or others) while it is called.
    const std::vector<QELXEventListener*> listeners = GetEventBus()->m_listeners;
    for (QELXEventListener* listener : listeners) {
        const auto& live = GetEventBus()->m_listeners;
        if (std::find(live.begin(), live.end(), listener) != live.end())
            listener->OnEvent(event);
    }
}

void QELXEventBus::AddListener(QELXEventListener* listener)
{
    if (listener && std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void QELXEventBus::RemoveListener(QELXEventListener* listener)
{
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener), m_listeners.end());
}

void QELXEventBus::RemoveAllListeners() { m_listeners.clear(); }

void QELXStartTaskEvent::Fire(const char* startName, const char* taskName, int level)
{
    fireNew<QELXStartTaskEvent>(startName, taskName, level);
}

void QELXStartTaskEvent::DescribeFields(QELXStreamFormatter& out) const
{
    out << " " << GetStartName() << " " << GetTaskName() << " " << m_level;
}

void QELXEndTaskEvent::Fire(QELIResult result, const char* endName, const char* taskName, int level, bool flag)
{
    fireNew<QELXEndTaskEvent>(result, endName, taskName, level, flag);
}

void QELXEndTaskEvent::DescribeFields(QELXStreamFormatter& out) const
{
    out << " " << static_cast<unsigned>(m_result) << " " << GetEndName() << " " << GetTaskName() << " " << m_level;
}

void QELXStartConversionStageEvent::DescribeFields(QELXStreamFormatter& out) const
{
    out << " " << GetName() << " " << m_count << " " << m_weight << (m_lastStage ? " last" : "")
        << (m_finished ? " finished" : "");
}

void QELXNamedCountEvent::DescribeFields(QELXStreamFormatter& out) const
{
    out << " " << GetEntityName() << " " << GetEntityKind() << " " << m_number;
}

void QELXStartTranslateEntityEvent::Fire(const char* name, const char* kind, int number)
{
    fireNew<QELXStartTranslateEntityEvent>(name, kind, number);
}

void QELXStartTranslateRepairEvent::Fire(const char* name, const char* kind, int number)
{
    fireNew<QELXStartTranslateRepairEvent>(name, kind, number);
}

QELXEndTranslateEntityEvent::QELXEndTranslateEntityEvent(QELIResult result, const QELXIdentifier& source,
                                                         const QELXIdentifier& target)
    : m_result(result), m_source(source)
{
    m_targets.Add(target);
}

QELXEndTranslateEntityEvent::QELXEndTranslateEntityEvent(QELIResult result, const QELXIdentifier& source,
                                                         const QELXIdentifiers& targets)
    : m_result(result), m_source(source), m_targets(targets)
{
}

void QELXEndTranslateEntityEvent::Fire(QELIResult result, const QELXIdentifier& source, const QELXIdentifier& target)
{
    fireNew<QELXEndTranslateEntityEvent>(result, source, target);
}

void QELXEndTranslateEntityEvent::Fire(QELIResult result, const QELXIdentifier& source,
                                       const QELXIdentifiers& targets)
{
    fireNew<QELXEndTranslateEntityEvent>(result, source, targets);
}

void QELXEndTranslateEntityEvent::DescribeFields(QELXStreamFormatter& out) const
{
    out << " " << static_cast<unsigned>(m_result);
    describeIdentifier(out, m_source);
    out << " ->";
    for (int i = 0; i < m_targets.Count(); ++i)
        describeIdentifier(out, m_targets[i]);
}

void QELXConversionSummaryEvent::Fire(int total, int good, const QELXString& target)
{
    fireNew<QELXConversionSummaryEvent>(total, good, target);
}

void QELXConversionSummaryEvent::DescribeFields(QELXStreamFormatter& out) const
{
    out << " " << m_total << " " << m_good << " " << m_target.c_str();
}

void QELXWarningEvent::Fire(const char* text) { fireNew<QELXWarningEvent>(text); }

void QELXWarningEvent::DescribeFields(QELXStreamFormatter& out) const { out << " " << GetText(); }

void QELXProgressStatusEvent::Fire(int status, int value) { fireNew<QELXProgressStatusEvent>(status, value); }

void QELXProgressStatusEvent::DescribeFields(QELXStreamFormatter& out) const
{
    out << " " << m_status << " " << m_value;
}

QELXStartTranslationTaskEvent::QELXStartTranslationTaskEvent(const QELXString& name, const char* system, bool flag,
                                                             QELXOutputStream* log, const wchar_t* sourcePath,
                                                             const wchar_t* targetPath)
    : m_name(name), m_system(system), m_flag(flag), m_log(log), m_sourcePath(sourcePath), m_targetPath(targetPath)
{
}

void QELXStartTranslationTaskEvent::Fire(const QELXString& name, const char* system, bool flag,
                                         QELXOutputStream* log, const wchar_t* sourcePath,
                                         const wchar_t* targetPath)
{
    fireNew<QELXStartTranslationTaskEvent>(name, system, flag, log, sourcePath, targetPath);
}

void QELXStartTranslationTaskEvent::DescribeFields(QELXStreamFormatter& out) const
{
    out << " " << m_name.c_str() << " " << GetSystem();
}

void QELXEndTranslationTaskEvent::Fire(QELIResult result, bool flag) { fireNew<QELXEndTranslationTaskEvent>(result, flag); }

void QELXEndTranslationTaskEvent::DescribeFields(QELXStreamFormatter& out) const
{
    out << " " << static_cast<unsigned>(m_result);
}
