// Resetting the framework between tests resets the kernel's test state too
// (counters, call log, injected failures, options), as one plant.
#include "qelx/qelx_test.hxx"
#include "velm/testkit.hxx"

namespace {
const bool kernel_reset_hooked = (qelx_test::addResetHook(&velm_test_reset), true);
}  // namespace

namespace testkit {
// Referenced by the builders so the linker keeps this object in every test program.
bool framework_reset_includes_kernel() { return kernel_reset_hooked; }
}  // namespace testkit
