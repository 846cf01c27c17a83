// The driver's measures of a healed body (held against what a writer built)
// take every edge as the kernel holds it: an edge with no range of its own
// and no curve to give one (healing may leave one) makes no pcurve ends to
// measure, not a kernel error out of the measure. `xvelm convert` of a
// damaged neutral document to STEP ended in std::terminate there, and the
// healed verdict said only "the kernel failed (bad argument)".
#include <gtest/gtest.h>

#include <string>

#include "../../tools/xvelm/body_measures.hxx"
#include "support/geometry_builders.hxx"
#include "velm/testkit.hxx"

// Every edge of a box with pcurves on all its coedges in turn, its curve and
// its range taken away: the faces' boundaries are measured as before, but
// for the pcurves of that edge's coedges; the untouched box measures 0.
TEST(EdgeRangeMeasures, AnEdgeOfNoRangeAndNoCurveIsLeftOutOfTheBoundaryMeasure)
{
    const auto strayOf = [](const BODY* body) {
        ENTITY_LIST faces;
        EXPECT_TRUE(api_get_faces(body, faces).ok());
        double most = 0.0;
        for (int i = 0; i < faces.count(); ++i)
            most = std::max(most, xvelm::boundary_stray(static_cast<const FACE*>(faces[i])));
        return most;
    };
    {
        BODY* box = testkit::make_plane_box();
        EXPECT_EQ(strayOf(box), 0.0);
        EXPECT_TRUE(api_del_entity(box).ok());
    }
    for (int k = 0; k < 12; ++k) {
        BODY* box = testkit::make_plane_box();
        ENTITY_LIST edges;
        ASSERT_TRUE(api_get_edges(box, edges).ok());
        ASSERT_EQ(edges.count(), 12);
        auto* edge = static_cast<EDGE*>(edges[k]);
        ASSERT_NE(edge->coedge()->geometry(), nullptr) << "edge " << k;
        edge->set_geometry(nullptr);
        edge->set_param_range(nullptr);
        double stray = -1.0;
        EXPECT_NO_THROW(stray = strayOf(box)) << "edge " << k;
        EXPECT_EQ(stray, 0.0) << "edge " << k;
        EXPECT_TRUE(api_del_entity(box).ok());
    }
}
