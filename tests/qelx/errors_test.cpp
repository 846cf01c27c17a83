#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_test.hxx"

#include <gtest/gtest.h>

class QelxErrMgr : public ::testing::Test {
protected:
    void SetUp() override { qelx_test::resetFramework(); }
    void TearDown() override { qelx_test::resetFramework(); }
};

TEST_F(QelxErrMgr, DoAssertIsRecordedAndExecutionContinues)
{
    qelx_test::AssertRecorder asserts;
    int reached = 0;
    Gk_ErrMgr::doAssert("ve_bodytag", 258);
    ++reached;
    Gk_ErrMgr::doAssert();
    Gk_ErrMgr::trap("ve_curvexltr", 486);
    ++reached;
    EXPECT_EQ(reached, 2);
    EXPECT_EQ(asserts.count(), 3);
    EXPECT_TRUE(asserts.has("ve_bodytag", 258));
    EXPECT_TRUE(asserts.has("", 0));
    EXPECT_TRUE(asserts.has("ve_curvexltr", 486, "trap"));
    EXPECT_FALSE(asserts.has("ve_curvexltr", 486));
}

TEST_F(QelxErrMgr, ThrowPolicyTurnsAssertionsIntoExceptions)
{
    {
        qelx_test::AssertRecorder asserts(Gk_ErrMgr::Throw);
        EXPECT_THROW(Gk_ErrMgr::doAssert("ve_facetag", 399), Gk_AssertFailure);
        EXPECT_NO_THROW(Gk_ErrMgr::trap("ve_facetag", 400));
        EXPECT_EQ(asserts.count(), 2);
    }
    EXPECT_EQ(Gk_ErrMgr::policy(), Gk_ErrMgr::Record) << "the recorder restores the policy";
}

TEST_F(QelxErrMgr, CheckAbortThrowsOnlyWhenTheSwitchIsOn)
{
    EXPECT_NO_THROW(Gk_ErrMgr::checkAbort());
    EXPECT_FALSE(QELXCallbackShared::IsAborted());
    {
        qelx_test::AbortPlan plan;
        plan.after(2);
        EXPECT_NO_THROW(Gk_ErrMgr::checkAbort());
        EXPECT_FALSE(QELXCallbackShared::IsAborted());
        EXPECT_THROW(Gk_ErrMgr::checkAbort(), QELXAbortException);
        EXPECT_THROW(QELXCallbackShared::IsAborted(), QELXAbortException) << "an abort stays pending";
    }
    EXPECT_NO_THROW(Gk_ErrMgr::checkAbort());
}

TEST_F(QelxErrMgr, RaiseThrowsGkException)
{
    try {
        Gk_ErrMgr::raise();
        FAIL() << "raise returned";
    } catch (const Gk_Exception& e) {
        EXPECT_STREQ(e.getText(), "Unknown_Error");
    }
}

TEST_F(QelxErrMgr, ResetWithdrawsAbortAndClearsLog)
{
    QELXCallbackShared::RequestAbort(true);
    Gk_ErrMgr::doAssert("x", 1);
    qelx_test::resetFramework();
    EXPECT_NO_THROW(Gk_ErrMgr::checkAbort());
    EXPECT_TRUE(Gk_ErrMgr::assertions().empty());
}
