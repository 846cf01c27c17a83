// A vertex moved off the corner its edges' curves still bound (the edges
// keep the bounds the file gave them) goes back to the corner in the
// repair, rather than being tolerated as wide as its distance, in every
// frame. (Edges bounded by the vertex's own feet tell nothing of where the
// corner is: standard_repair_test has that vertex tolerated where it lies.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/entity_views.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/repair_builders.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace {

class VertexReposition : public testkit::ConnectorTest {};

VERTEX* vertexNearest(BODY* body, const QELposition& at)
{
    ENTITY_LIST vertices;
    api_get_vertices(body, vertices);
    VERTEX* best = nullptr;
    for (int i = 0; i < vertices.count(); ++i) {
        auto* v = static_cast<VERTEX*>(vertices[i]);
        if (!best || distance(v->geometry()->coords(), at) < distance(best->geometry()->coords(), at))
            best = v;
    }
    return best;
}

int tolerantVertices(BODY* body)
{
    ENTITY_LIST vertices;
    api_get_vertices(body, vertices);
    int tolerant = 0;
    for (int i = 0; i < vertices.count(); ++i)
        tolerant += is_TVERTEX(vertices[i]) ? 1 : 0;
    return tolerant;
}

} // namespace

TEST_F(VertexReposition, AVertexOffTheCornerItsEdgesBoundGoesBackInEveryFrame)
{
    const std::vector<QELtransf> frames = testkit::heal_frames();
    for (const double offset : {2e-5, 1e-3, 0.5})
        for (std::size_t f = 0; f < frames.size(); ++f) {
            SCOPED_TRACE("moved " + std::to_string(offset) + ", frame " + std::to_string(f));
            const QELtransf& frame = frames[f];
            BODY* box = testkit::make_framed_box(frame);
            const QELposition corner = QELposition(10.0, 20.0, 30.0) * frame;
            const QELposition moved = QELposition(10.0 + offset, 20.0 + offset, 30.0 - offset) * frame;
            VERTEX* v = vertexNearest(box, corner);
            ASSERT_LT(distance(v->geometry()->coords(), corner), 1e-9);
            v->geometry()->set_coords(moved);
            ASSERT_NE(testkit::check_findings(box), "") << "the model is built faulty";

            reinterpret_cast<Ve_BodyTag*>(box)->doStandardRepair();
            EXPECT_EQ(testkit::check_findings(box), "");
            EXPECT_EQ(testkit::count_faces(box), 6);
            EXPECT_LT(distance(vertexNearest(box, corner)->geometry()->coords(), corner), QELresabs);
            EXPECT_EQ(tolerantVertices(box), 0);
            api_del_entity(box);
        }
}
