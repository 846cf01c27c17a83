#include "qelx/qelx_errors.hxx"

namespace {

struct ErrorState {
    Gk_ErrMgr::Policy policy = Gk_ErrMgr::Record;
    std::vector<Gk_AssertRecord> log;
    bool abortRequested = false;
    int checksBeforeAbort = 0;
};

ErrorState& state()
{
    static ErrorState s;
    return s;
}

void pollAbort()
{
    ErrorState& s = state();
    if (!s.abortRequested)
        return;
    if (s.checksBeforeAbort > 0) {
        --s.checksBeforeAbort;
        return;
    }
    throw QELXAbortException();
}

void record(const char* sourceName, int line, const char* kind)
{
    state().log.push_back({sourceName ? sourceName : "", line, kind});
}

} // namespace

void Gk_ErrMgr::checkAbort() { pollAbort(); }

void Gk_ErrMgr::doAssert(const char* sourceName, int line)
{
    record(sourceName, line, "assert");
    if (state().policy == Throw)
        throw Gk_AssertFailure(sourceName ? sourceName : "", line);
}

void Gk_ErrMgr::trap(const char* sourceName, int line) { record(sourceName, line, "trap"); }

void Gk_ErrMgr::raise(const char* text) { throw Gk_Exception(text); }

void Gk_ErrMgr::setPolicy(Policy policy) { state().policy = policy; }
Gk_ErrMgr::Policy Gk_ErrMgr::policy() { return state().policy; }
const std::vector<Gk_AssertRecord>& Gk_ErrMgr::assertions() { return state().log; }
void Gk_ErrMgr::clearAssertions() { state().log.clear(); }

bool QELXCallbackShared::IsAborted()
{
    pollAbort();
    return false;
}

void QELXCallbackShared::RequestAbort(bool abort, int afterChecks)
{
    state().abortRequested = abort;
    state().checksBeforeAbort = abort && afterChecks > 0 ? afterChecks : 0;
}
