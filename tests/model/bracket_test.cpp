#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/kernel_call_bracket.hxx"
#include "model_test_support.hxx"
#include "velm/api.hxx"

namespace {

// A kernel API function and an inner routine of the test's own, so that the
// kit can make them fail.
outcome api_probe()
{
    return velm_api("api_probe", [] {});
}
void probe_routine() { velm_check_call("probe_routine"); }

int outOfMemory() { return qelbase_mmgr_errmod.message_code(8); }

// The bracket's part of the call log.
std::vector<std::string> protocol()
{
    std::vector<std::string> out;
    for (const std::string& entry : velm_test_call_log())
        for (const char* name : {"api_bb_begin", "api_bb_end", "update_from_bb", "set_logging", "api_probe"})
            if (entry.rfind(name, 0) == 0)
                out.push_back(entry);
    return out;
}

// Starts with an empty call log and the given logging state in it.
void startLogged(int logging)
{
    set_logging(logging);
    velm_test_reset();
    velm_test_record_calls(true);
    set_logging(logging);
}

class Bracket : public ::testing::Test {
protected:
    void SetUp() override
    {
        velm_test_reset();
        velm_test_record_calls(true);
        m_liveAtStart = velm_live_object_count();
    }
    void TearDown() override
    {
        EXPECT_EQ(bb_depth(), 0);
        EXPECT_EQ(get_global_error_info(), nullptr);
        // Every error record was released.
        EXPECT_EQ(velm_live_object_count(), m_liveAtStart);
        velm_test_reset();
    }

    long m_liveAtStart = 0;
};

} // namespace

TEST_F(Bracket, SuccessUpdatesFromBoardOnceAndClosesIt)
{
    startLogged(1);
    EXPECT_TRUE(velmCall([] { return api_probe(); }).ok());
    EXPECT_EQ(velm_test_call_count("update_from_bb"), 1);
    const std::vector<std::string> expected = {"set_logging(1)", "api_bb_begin(1)", "api_probe", "update_from_bb",
                                               "api_bb_end(ok,rollback,keep)", "set_logging(1)"};
    EXPECT_EQ(protocol(), expected);
}

TEST_F(Bracket, FailedCallKeepsErrorAndSkipsUpdate)
{
    startLogged(0);
    const int error = apiError(VELM_BAD_ARGUMENT);
    velm_test_fail_next("api_probe", error);
    {
        const outcome result = velmCall([] { return api_probe(); });
        EXPECT_EQ(result.error_number(), error);
        ASSERT_NE(result.get_error_info(), nullptr);
        EXPECT_EQ(result.get_error_info()->error_number(), error);
    }
    const std::vector<std::string> expected = {"set_logging(0)", "api_bb_begin(1)", "api_probe",
                                               "api_bb_end(failed,rollback,discard)", "set_logging(0)"};
    EXPECT_EQ(protocol(), expected);
    EXPECT_EQ(logging_opt_on(), 0);

    // A kernel error raised inside a sequence ends it and becomes the outcome.
    velm_test_fail_next("probe_routine", outOfMemory());
    int after = 0;
    EXPECT_EQ(velmCall([&] {
                  probe_routine();
                  ++after;
              }).error_number(),
              outOfMemory());
    EXPECT_EQ(after, 0);
    EXPECT_EQ(velm_test_call_count("update_from_bb"), 0);
}

TEST_F(Bracket, InnerFormLogsForItsDurationOnlyAndCatchesRoutineErrors)
{
    startLogged(0);
    int loggingInside = -1;
    velm_test_fail_next("api_probe", apiError(VELM_BAD_ARGUMENT));
    EXPECT_TRUE(velmInnerCall([&] {
                    loggingInside = logging_opt_on();
                    api_probe(); // an API result inside is dropped
                }).ok());
    EXPECT_EQ(loggingInside, 1);
    EXPECT_EQ(logging_opt_on(), 0);
    EXPECT_EQ(velm_test_call_count("update_from_bb"), 0);
    const std::vector<std::string> expected = {"set_logging(0)", "set_logging(1)", "api_bb_begin(0)", "api_probe",
                                               "api_bb_end(ok,rollback,discard)", "set_logging(0)"};
    EXPECT_EQ(protocol(), expected);

    velm_test_fail_next("probe_routine", apiError(VELM_NO_CONVERGENCE));
    EXPECT_EQ(velmInnerCall([] { probe_routine(); }).error_number(), apiError(VELM_NO_CONVERGENCE));
}

TEST_F(Bracket, InterruptIsRaisedAfterTheCallAndCarriesTheKeptError)
{
    set_logging(1);
    try {
        velmCall([] {
            velm_test_request_interrupt();
            return api_probe();
        });
        ADD_FAILURE() << "no interrupt";
    } catch (const velm_exception& e) {
        EXPECT_EQ(e.error_number(), apiError(VELM_INTERRUPTED));
    }
    EXPECT_FALSE(velm_interrupted());
    EXPECT_EQ(logging_opt_on(), 1);
    // The board was closed before the interrupt was raised.
    const std::vector<std::string> log = protocol();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "set_logging(1)");

    const int error = apiError(VELM_WRONG_TYPE);
    velm_test_fail_next("probe_routine", error);
    // The interrupt arrives while the error unwinds, after the routine raised it.
    struct InterruptOnExit {
        ~InterruptOnExit() { velm_test_request_interrupt(); }
    };
    try {
        velmGuard([] {
            InterruptOnExit late;
            probe_routine();
        });
        ADD_FAILURE() << "no interrupt";
    } catch (const velm_exception& e) {
        EXPECT_EQ(e.error_number(), error);
    }
}

TEST_F(Bracket, GuardKeepsKernelErrorsAndFrameworkExceptionsPassThroughEveryForm)
{
    velm_test_fail_next("probe_routine", apiError(VELM_NULL_ENTITY));
    EXPECT_EQ(velmGuard([] { probe_routine(); }), apiError(VELM_NULL_ENTITY));
    EXPECT_EQ(velmGuard([] {}), 0);
    EXPECT_THROW(velmGuard([] { throw QELXAbortException(); }), QELXAbortException);
    EXPECT_THROW(velmGuard([] { throw QELXAllocException(); }), QELXAllocException);
    // The guard opens no board and leaves logging alone.
    EXPECT_EQ(velm_test_call_count("api_bb_begin"), 0);
    EXPECT_EQ(velm_test_call_count("set_logging"), 0);

    set_logging(0);
    EXPECT_THROW(velmCall([]() -> outcome { throw QELXAbortException(); }), QELXAbortException);
    EXPECT_EQ(logging_opt_on(), 0);
    EXPECT_EQ(velm_test_call_count("api_bb_end"), 1);
    EXPECT_EQ(velm_test_call_count("update_from_bb"), 0);
}

TEST_F(Bracket, ItemGuardFailsTheItemOrEndsTheConversion)
{
    EXPECT_EQ(velmItemGuard([] { return QELIResult(2); }), 2u);
    const auto failing = [] {
        probe_routine();
        return QELIResult(0);
    };
    velm_test_fail_next("probe_routine", apiError(VELM_BAD_FACE_LOOPS));
    EXPECT_EQ(velmItemGuard(failing), 0x1000001u);
    bool nextItemRan = false;
    EXPECT_EQ(velmItemGuard([&] {
                  nextItemRan = true;
                  return QELIResult(0);
              }),
              0u);
    EXPECT_TRUE(nextItemRan);
    velm_test_fail_next("probe_routine", outOfMemory());
    EXPECT_THROW(velmItemGuard(failing), QELXAllocException);
}

TEST_F(Bracket, HolderReferencesARecordOnce)
{
    error_info* record = new error_info(apiError(VELM_BAD_ARGUMENT));
    KernelErrorHolder holder;
    EXPECT_EQ(holder.assign(record), record);
    holder.assign(record);
    EXPECT_EQ(record->references(), 1);
    outcome keep(record->error_number(), record);
    holder.assign(nullptr);
    EXPECT_EQ(record->references(), 1); // only the outcome's now
}
