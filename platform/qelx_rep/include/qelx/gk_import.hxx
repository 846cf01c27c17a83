#pragma once
// The framework's import machinery as the import roads meet it: the import
// context, progress observers and the import machine's entity callbacks.
#include "qelx/qelx_document.hxx"
#include "qelx/qelx_math.hxx"

#include <string>
#include <vector>

class ENTITY;

// One call on a named observer, kept in the process-wide log (a test aid).
struct Gk_ObsCall {
    std::string observer;
    std::string call; // "setMax", "setDone", "setOver", "setEntityCallback"
    long long value = 0;
    const void* source = nullptr;
    const ENTITY* created = nullptr;
};

// Progress observer wrapper. An empty name makes an empty wrapper whose calls do nothing.
class Gk_ObsWraper {
public:
    Gk_ObsWraper() = default;
    explicit Gk_ObsWraper(const std::string& name) : m_name(name) {}

    void setMax(int max);
    void setDone(int done);
    void setOver();
    void setEntityCallback(const void* sourceEntity, ENTITY* created);
    const std::string& name() const { return m_name; }

    // Every call on a named wrapper, in order, while recording is on (the
    // default); a driver importing large models turns it off, as the log
    // would otherwise grow by a record per imported entity for the life of
    // the process. Answers the setting it replaced.
    static std::vector<Gk_ObsCall>& log();
    static bool setRecording(bool on);

private:
    void record(const char* call, long long value, const void* source = nullptr, const ENTITY* created = nullptr);
    std::string m_name;
};

// The framework's progress phases.
class Gk_ObserverUtil {
public:
    // Bodies copied by an importer's direct-copy road.
    static Gk_ObsWraper CoreTplgyBodyTransPhase;
};

// Which import roads the framework allows for a pair of document types
// (asked with the target type, then the source type), and the entity
// callbacks of the roads.
class Gk_ImportMachine {
public:
    enum Filter { Tplgy, Trim, Wire, Point, TplgyToTrim };
    // Topology except from "XVda" (its files have none); trim, wire and point
    // always; topology-to-trim exactly where topology is refused.
    static bool filterForTplgy(const QELXString& target, const QELXString& source);
    static bool filterForTrim(const QELXString& target, const QELXString& source);
    static bool filterForWire(const QELXString& target, const QELXString& source);
    static bool filterForPoint(const QELXString& target, const QELXString& source);
    static bool adapterForTplgyToTrim(const QELXString& target, const QELXString& source);
    // A rule of its own for one pair (tests); resetRules forgets every one.
    static void setRule(const QELXString& target, const QELXString& source, Filter filter, bool value);
    static void resetRules();
    // A wrapper named "<entity>@<source>-><target>" that records the calls.
    static Gk_ObsWraper fetchCallbackForEntity(const char* entity, const QELXString& target,
                                               const QELXString& source, bool flag);
};

// The context every import road receives: the two documents and the scale
// that takes source lengths into target lengths.
class Gk_ImportContext {
public:
    // The identity unless both documents answer their unit (the source asked
    // first); then the uniform scale by 1 / m, m the target's unit mapped onto
    // the source's.
    Gk_ImportContext(QELXDocument* target, QELXDocument* source);
    Gk_ImportContext(const Gk_ImportContext&) = delete;
    Gk_ImportContext& operator=(const Gk_ImportContext&) = delete;
    virtual ~Gk_ImportContext() = default;

    QELXDocument* GetTargetDocument() const { return m_target; }
    QELXDocument* GetSourceDocument() const { return m_source; }
    const QELXMorph3D& GetMorph() const { return m_morph; }
    // Tests set a frame (rotation, mirror) to import into.
    void SetMorph(const QELXMorph3D& morph) { m_morph = morph; }

private:
    QELXDocument* m_target;
    QELXDocument* m_source;
    QELXMorph3D m_morph;
};
