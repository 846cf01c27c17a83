#pragma once
// Exceptions, the abort switch and the assertion log of the framework.
#include <string>
#include <utility>
#include <vector>

// Ends the whole conversion; guards rethrow it.
class QELXAbortException {};
// Out of memory; guards rethrow it.
class QELXAllocException {};

class Gk_Exception {
public:
    explicit Gk_Exception(const char* text = "Unknown_Error") : m_text(text ? text : "") {}
    const char* getText() const { return m_text.c_str(); }

private:
    std::string m_text;
};

// Thrown by doAssert under the Throw policy (tests only).
class Gk_AssertFailure {
public:
    Gk_AssertFailure(std::string source, int line) : source(std::move(source)), line(line) {}
    std::string source;
    int line;
};

struct Gk_AssertRecord {
    std::string source;
    int line;
    std::string kind; // "assert" or "trap"
};

class Gk_ErrMgr {
public:
    enum Policy { Record, Throw };

    // Throws QELXAbortException once an abort is pending.
    static void checkAbort();
    // Records the report and returns: callers go on after a failed assertion.
    static void doAssert(const char* sourceName = "", int line = 0);
    // Internal-error report; recorded, never throws.
    static void trap(const char* sourceName = "", int line = 0);
    [[noreturn]] static void raise(const char* text = "Unknown_Error");

    static void setPolicy(Policy policy);
    static Policy policy();
    static const std::vector<Gk_AssertRecord>& assertions();
    static void clearAssertions();
};

class QELXCallbackShared {
public:
    // Throws QELXAbortException when an abort is pending, else false.
    static bool IsAborted();
    // With true the abort becomes pending after afterChecks further checks
    // (checkAbort or IsAborted), so check afterChecks + 1 throws; it then stays
    // pending. With false any abort is withdrawn.
    static void RequestAbort(bool abort, int afterChecks = 0);
};
