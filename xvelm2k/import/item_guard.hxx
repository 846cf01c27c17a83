#pragma once
// The guard every item of an import stage runs under (a body of the "Body"
// stage, a free surface, curve or point): one bad item fails alone.
#include <new>

#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_result.hxx"

// The item's result; 0x1000001 when a kernel error stopped it. Running out
// of memory (the kernel's or the process's) and the framework's abort end the
// whole import; any other exception ends the item alone, with the result it
// had by then.
template <class F>
QELIResult importItemGuard(F&& item)
{
    QELIResult result = QELI_OK;
    try {
        const int kept = velmGuard([&] { result = item(); });
        if (kept != 0) {
            result = QELI_FAIL;
            if (kept == qelbase_mmgr_errmod.message_code(8))
                throw QELXAllocException();
        }
    } catch (const QELXAbortException&) {
        throw QELXAbortException();
    } catch (const QELXAllocException&) {
        throw QELXAllocException();
    } catch (const std::bad_alloc&) {
        throw QELXAllocException();
    } catch (...) {
    }
    return result;
}
