// The trim road's face factory: faces with edges and vertices of their own,
// faces of free surfaces, sheet bodies; and loose faces of closed solids
// stitched back into them in every frame.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <set>

#include "qelx/qelx_test.hxx"
#include "support/model_builders.hxx"
#include "support/quilt_builders.hxx"
#include "support/repair_builders.hxx"
#include "trim/stitch_test_support.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"

namespace {

using namespace stitchtest;
using qelx_test::KindFace;
using qelx_test::TestModel;

class StitchCreator : public ::testing::Test {
protected:
    void SetUp() override
    {
        qelx_test::resetFramework();
        m_live = velm_live_object_count();
    }
    void TearDown() override
    {
        for (BODY* b : m_bodies)
            api_del_entity(b);
        testkit::delete_loose_faces(m_loose);
        EXPECT_EQ(velm_live_object_count(), m_live);
        qelx_test::resetFramework();
    }
    void keepBodies(const std::vector<BODY*>& bodies) { m_bodies.insert(m_bodies.end(), bodies.begin(), bodies.end()); }
    void keepBodies(Ve_BaseStitchCreator& creator)
    {
        for (Ve_BodyTag* b : creator.getCocoon()->getBodies())
            m_bodies.push_back(reinterpret_cast<BODY*>(b));
    }

    std::vector<BODY*> m_bodies;
    std::vector<FACE*> m_loose;
    long m_live = 0;
};

TEST_F(StitchCreator, EveryFaceOwnsItsEdgesAndVertices)
{
    Source source(TestModel::block(1.0, 2.0, 3.0));
    const std::vector<FACE*> faces = source.createFaces();
    m_loose = faces;
    ASSERT_EQ(faces.size(), 6u);
    std::set<const VERTEX*> seen;
    for (FACE* f : faces) {
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->shell(), nullptr);
        EXPECT_EQ(f->sides(), 1);
        ASSERT_NE(f->loop(), nullptr);
        COEDGE* c = f->loop()->start();
        int n = 0;
        do {
            // Each edge runs from its coedge's start to the next coedge's start.
            EXPECT_EQ(c->edge()->start(), c->start());
            EXPECT_EQ(c->end(), c->next()->start());
            EXPECT_EQ(c->partner(), nullptr);
            EXPECT_TRUE(seen.insert(c->start()).second) << "a vertex shared";
            EXPECT_NE(c->geometry(), nullptr) << "pcurve";
            EXPECT_NE(c->edge()->geometry(), nullptr) << "curve";
            c = c->next();
            ++n;
        } while (c != f->loop()->start());
        EXPECT_EQ(n, 4);
    }
}

TEST_F(StitchCreator, LooseFacesStitchBackIntoTheSolidInEveryFrame)
{
    struct Case {
        const char* name;
        TestModel model;
        double volume;
        double tolerance;
        bool everyFrame;
    };
    // The quilt of 100 patches in the identity frame; a smaller one turned and mirrored.
    const Case cases[] = {
        {"block", TestModel::block(1.0, 2.0, 3.0), 6.0, 1e-9, true},
        {"cylinder", TestModel::cylinder(1.5, 2.0), std::numbers::pi * 1.5 * 1.5 * 2.0, 1e-6, true},
        {"quilt of 100 patches", testkit::lens_quilt(10, 5), testkit::lens_volume(), 1e-6, false},
        {"quilt of 24 patches", testkit::lens_quilt(4, 3), testkit::lens_volume(), 1e-6, true},
    };
    for (const Case& c : cases)
        for (const Frame& frame : allFrames()) {
            if (!c.everyFrame && std::string(frame.name) != "identity")
                continue;
            SCOPED_TRACE(std::string(c.name) + " " + frame.name);
            Source source(c.model, frame.morph);
            const std::vector<BODY*> bodies = stitchIntoBodies(source.createFaces());
            keepBodies(bodies);
            ASSERT_EQ(bodies.size(), 1u);
            EXPECT_TRUE(closedOnceSingleSided(bodies[0]));
            EXPECT_NEAR(volumeOf(bodies[0]), c.volume, c.tolerance * c.volume);
            EXPECT_EQ(testkit::check_findings(bodies[0]), "");
            for (BODY* b : m_bodies)
                api_del_entity(b);
            m_bodies.clear();
        }
}

TEST_F(StitchCreator, FacesThatDoNotMeetStaySheets)
{
    // Every other face of the quilt's top: no two share an edge.
    TestModel quilt = testkit::lens_quilt(4, 2);
    Source source(quilt);
    std::vector<FACE*> chosen;
    for (int i = 0; i < 8; ++i) {
        const int col = i % 4, row = i / 4;
        FACE* f = reinterpret_cast<FACE*>(source.creator().CreateFace(source.id(KindFace, i), &source.exporter()));
        if ((col + row) % 2 == 0)
            chosen.push_back(f);
        else
            m_loose.push_back(f);
    }
    const std::vector<BODY*> bodies = stitchIntoBodies(chosen);
    keepBodies(bodies);
    EXPECT_EQ(bodies.size(), chosen.size());
    for (BODY* b : bodies)
        EXPECT_FALSE(closedOnceSingleSided(b));
}

} // namespace
