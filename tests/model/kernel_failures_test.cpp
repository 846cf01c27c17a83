// Kernel failures the views used to swallow: each now leaves the model whole
// and is seen by the caller.
#include <gtest/gtest.h>

#include "model/math_types.hxx"
#include "model_test_support.hxx"
#include "qelx/qelx_test.hxx"

namespace {

class KernelFailures : public CachesCleared {
protected:
    void SetUp() override
    {
        CachesCleared::SetUp();
        qelx_test::resetFramework();
    }
    void TearDown() override
    {
        qelx_test::resetFramework();
        CachesCleared::TearDown();
    }
};

QELposition firstPoint(const BODY* b)
{
    return b->lump()->shell()->face()->loop()->start()->start()->geometry()->coords();
}

} // namespace

// Either step of a move failing leaves the body where it was, not half moved.
TEST_F(KernelFailures, FailedMoveRollsTheBodyBackAndAsserts)
{
    for (const char* step : {"api_apply_transf", "api_change_body_trans"}) {
        Owned box{testkit::make_box(1.0, 1.0, 1.0)};
        const QELposition before = firstPoint(box);
        qelx_test::AssertRecorder asserts;
        velm_test_fail_next(step, apiFailure());
        as<Ve_BodyTag>(box)->apply(QELXMorph3D(QELXAffine(), QELXPoint3D(5.0, 0.0, 0.0), 1.0));
        EXPECT_EQ(asserts.count(), 1) << step;
        EXPECT_EQ((firstPoint(box) - before).len(), 0.0) << step;
        EXPECT_EQ(box->transform(), nullptr) << step;
        EXPECT_EQ(testkit::model_problems(box), "") << step;
    }
}

// A body whose face or edge list the kernel could not give is not cached: a
// record would answer 0 faces or edges for the whole export.
TEST_F(KernelFailures, FailedListQueryLeavesTheBodyUncachedAndAsserts)
{
    for (const char* query : {"api_get_faces", "api_get_edges"}) {
        Owned box{testkit::make_box()};
        qelx_test::AssertRecorder asserts;
        velm_test_fail_next(query, apiFailure());
        Ve_DocumentTag::FillCache(as<Ve_BodyTag>(box));
        EXPECT_EQ(Ve_DocumentTag::CachedBody(as<Ve_BodyTag>(box)), nullptr) << query;
        EXPECT_EQ(asserts.count(), 1) << query;
        EXPECT_EQ(as<Ve_BodyTag>(box)->getNumberOfFaces(), 6) << query;
        EXPECT_EQ(as<Ve_BodyTag>(box)->getNumberOfEdges(), 12) << query;
        Ve_DocumentTag::ClearCaches();
    }
}

// An empty vertex list that stands for a failed edge query is reported.
TEST_F(KernelFailures, FailedEdgeQueryBehindTheVertexListAsserts)
{
    Owned box{testkit::make_box()};
    qelx_test::AssertRecorder asserts;
    velm_test_fail_next("api_get_edges", apiFailure());
    EXPECT_EQ(as<Ve_BodyTag>(box)->getVertices().Count(), 0);
    EXPECT_EQ(asserts.count(), 1);
    EXPECT_EQ(as<Ve_BodyTag>(box)->getVertices().Count(), 8);
}
