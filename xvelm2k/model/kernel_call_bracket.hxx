#pragma once
// The one protocol around calls into the kernel.
//
//   outcome r = velmCall([&] { return api_xxx(...); });      // API call(s)
//   outcome r = velmInnerCall([&] { separate_body_shells(b); }); // kernel routines
//   int err = velmGuard([&] { ... });                         // one item of work
//   QELIResult r = velmItemGuard([&] { return convertItem(); }); // import stages
//
// A kernel error never escapes a bracket or a guard: it becomes the result.
// The framework's abort and out-of-memory exceptions pass through both, and
// on any way out the kernel state is restored in reverse order of setting:
// bulletin board, logging, exception frame, then the kept error record.
#include <type_traits>
#include <utility>

#include "model/memory_init.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_result.hxx"
#include "velm/bb.hxx"
#include "velm/errors.hxx"
#include "xvelm2k/export.hxx"

// The kept error of one bracket or guard; holds one reference to its record.
class KernelErrorHolder {
public:
    KernelErrorHolder() = default;
    KernelErrorHolder(const KernelErrorHolder&) = delete;
    KernelErrorHolder& operator=(const KernelErrorHolder&) = delete;
    ~KernelErrorHolder()
    {
        if (m_record)
            m_record->remove();
    }

    error_info* assign(error_info* record)
    {
        if (record == m_record)
            return m_record;
        if (m_record)
            m_record->remove();
        m_record = record;
        if (m_record)
            m_record->add();
        return m_record;
    }

    void take(const velm_exception& e)
    {
        m_number = e.error_number();
        assign(e.get_error_info());
    }

    int number() const { return m_number; }
    error_info* record() const { return m_record; }

private:
    int m_number = 0;
    error_info* m_record = nullptr;
};

// Bulletin-board and logging guard: kind 0 for an ordinary kernel call, 2 for
// the inner-routine form (which logs whatever the caller's setting).
class KernelCallBracket {
public:
    KernelCallBracket(int kind, outcome& result) : m_kind(kind), m_result(&result), m_savedLogging(logging_opt_on())
    {
        if (m_kind != 0)
            set_logging(1);
        api_bb_begin(m_kind == 0);
    }
    KernelCallBracket(const KernelCallBracket&) = delete;
    KernelCallBracket& operator=(const KernelCallBracket&) = delete;
    ~KernelCallBracket()
    {
        api_bb_end(*m_result, m_kind != 1, m_savedLogging == 0);
        set_logging(m_savedLogging);
    }

private:
    int m_kind;
    outcome* m_result;
    int m_savedLogging;
};

// How many kernel errors the brackets and guards below have caught in this
// process: work that may go on past a caught error (a step of the healing)
// compares it before and after to know that it fell short.
XVELM2KA_API long& caughtKernelErrors();
// The kernel failures met so far (calls refused, errors caught by the
// brackets and guards), less those answered in full: what a step of the
// healing compares before and after to know that it went on past one.
XVELM2KA_API long kernelFailuresMet();
// The failures met since `mark` (an earlier kernelFailuresMet()) were
// answered in full by the work that met them, and no longer count: a first
// attempt whose fallback did what it could not, or a check whose kernel
// error is its answer. Only for work that does all it was asked either way.
XVELM2KA_API void kernelFailuresAnswered(long mark);

namespace xvelm_detail {

// Raises an interrupt that arrived during the work as a kernel error in the caller.
inline void raisePendingInterrupt(const KernelErrorHolder& holder)
{
    if (velm_interrupted())
        sys_error(holder.number(), holder.record());
}

template <int Kind, class F>
outcome runBracket(F&& body)
{
    set_global_error_info(nullptr);
    outcome result(0, nullptr);
    KernelErrorHolder holder;
    {
        exception_save frame;
        KernelCallBracket bracket(Kind, result);
        frame.begin();
        get_error_mark() = 1;
        try {
            // Inside the catch: a kernel error raised by the check itself is the call's result.
            if constexpr (Kind == 0)
                VELMExceptionCheck("API");
            if constexpr (Kind == 0 && !std::is_void_v<std::invoke_result_t<F&>>) {
                result = body();
            } else {
                body(); // the inner form drops what the routines return
            }
            if constexpr (Kind == 0) {
                if (result.error_number() == 0)
                    update_from_bb();
            }
        } catch (const velm_exception& e) {
            ++caughtKernelErrors();
            holder.take(e);
            if (holder.number() != 0)
                result = outcome(holder.number(), holder.record());
        }
    } // board closed, logging restored, then the frame closed
    raisePendingInterrupt(holder);
    return result;
}

} // namespace xvelm_detail

// A kernel call whose answer the work cannot do without: its failure is
// raised as the kernel error it is, for the caller's bracket to take back.
inline void raiseFailure(const outcome& result)
{
    if (!result.ok())
        sys_error(result.error_number(), result.get_error_info());
}

// While a body is healed, a failed list query of an entity view is a kernel
// error rather than an empty answer: a step handed a short list would do
// part of its work and say nothing of it. Outside healing the views answer
// empty and assert, as the framework expects of them.
class FailedViewQueriesRaise {
public:
    FailedViewQueriesRaise() { ++depth(); }
    ~FailedViewQueriesRaise() { --depth(); }
    FailedViewQueriesRaise(const FailedViewQueriesRaise&) = delete;
    FailedViewQueriesRaise& operator=(const FailedViewQueriesRaise&) = delete;
    static bool active() { return depth() > 0; }

private:
    static int& depth()
    {
        static int d = 0;
        return d;
    }
};

// Ordinary kernel call: the callable returns the API's outcome (or nothing,
// for a sequence whose failures surface as kernel errors).
template <class F>
outcome velmCall(F&& call)
{
    return xvelm_detail::runBracket<0>(std::forward<F>(call));
}

// Inner-routine form, around kernel routines that are not API functions.
template <class F>
outcome velmInnerCall(F&& routines)
{
    return xvelm_detail::runBracket<2>(std::forward<F>(routines));
}

// Error guard without bulletin board or logging. Returns the kept kernel error
// number, 0 when the block ran through; what that means is the caller's call.
template <class F>
int velmGuard(F&& block)
{
    KernelErrorHolder holder;
    {
        exception_save frame;
        frame.begin();
        get_error_mark() = 1;
        try {
            block();
        } catch (const velm_exception& e) {
            ++caughtKernelErrors();
            holder.take(e);
        } catch (const QELXAbortException&) {
            throw QELXAbortException();
        } catch (const QELXAllocException&) {
            throw QELXAllocException();
        }
    }
    xvelm_detail::raisePendingInterrupt(holder);
    return holder.number();
}

// A kernel error kept by a guard, as the framework hears of it: the kernel's
// out-of-memory error becomes QELXAllocException, which ends the conversion;
// any other is the framework's assertion with the caller's source and line.
// Nothing for 0.
inline void reportKernelError(int kept, const char* source, int line)
{
    if (kept == 0)
        return;
    if (kept == qelbase_mmgr_errmod.message_code(8))
        throw QELXAllocException();
    Gk_ErrMgr::checkAbort();
    Gk_ErrMgr::doAssert(source, line);
}

// Error guard around kernel work that a view or adapter does for the
// framework: a kernel error never leaves it, and is reported as above.
// True when the block ran through.
template <class F>
bool velmViewGuard(const char* source, int line, F&& block)
{
    const int kept = velmGuard(std::forward<F>(block));
    reportKernelError(kept, source, line);
    return kept == 0;
}

// Guard around one item of an import stage: the item's result, or 0x1000001
// when a kernel error stopped it. Running out of kernel memory ends the whole
// conversion instead.
template <class F>
QELIResult velmItemGuard(F&& item)
{
    QELIResult result = 0;
    const int kept = velmGuard([&] { result = item(); });
    if (kept != 0) {
        result = 0x1000001;
        if (kept == qelbase_mmgr_errmod.message_code(8))
            throw QELXAllocException();
    }
    return result;
}
