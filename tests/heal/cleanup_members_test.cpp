// The single clean-up members of a body, wire senses, the C1 edge merge's
// option and the product-data callback.
#include <gtest/gtest.h>

#include <string>

#include "heal/repair_utils.hxx"
#include "model/body_set.hxx"
#include "model/entity_views.hxx"
#include "persist/brep_attrib_transfer.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/velm_document.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "velm/attrib.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/options.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

class CleanupMembers : public testkit::ConnectorTest {};

Ve_BodyTag* cleanupTag(BODY* b) { return reinterpret_cast<Ve_BodyTag*>(b); }

int callbackCalls = 0;
std::string seenFile = "unset";
void recordCallback(ENTITY_LIST*, const char*, const char* file, const char*, bool)
{
    ++callbackCalls;
    seenFile = file ? file : "null";
}

} // namespace

TEST_F(CleanupMembers, AnalyticFacesRecordTheirSurfaceAndSplineFacesDoNot)
{
    // Planes, cones, spheres and tori record theirs.
    for (BODY* b : {testkit::make_plane_box(), testkit::make_cylinder(), testkit::make_hemisphere(),
                    testkit::make_torus_band(true), testkit::make_spline_sheet()}) {
        cleanupTag(b)->attachAnalyticSurfaceAsAttribOnFaces();
        ENTITY_LIST faces;
        api_get_faces(b, faces);
        for (int i = 0; i < faces.count(); ++i) {
            const SURFACE* own = static_cast<FACE*>(faces[i])->geometry();
            ENTITY* recorded = nullptr;
            const bool has = QELXVelmBRepAttribTransfer::getAnalyticSurface(faces[i], recorded);
            EXPECT_EQ(has, own->equation().type() != 10);
            if (has) {
                ASSERT_NE(recorded, nullptr);
                EXPECT_NE(recorded, own) << "a copy, not the face's own surface";
            }
        }
        api_del_entity(b);
    }
}

TEST_F(CleanupMembers, ABackwardWireEdgeIsTurnedAndForwardOnesAreLeft)
{
    BODY* wire = testkit::make_polyline_wire({{0, 0, 0}, {4, 0, 0}});
    ENTITY_LIST edges;
    api_get_edges(wire, edges);
    EDGE* edge = static_cast<EDGE*>(edges[0]);
    // The vertices change places: the curve now runs from the end vertex to the start.
    VERTEX* a = edge->start();
    VERTEX* b = edge->end();
    edge->set_start(b);
    edge->set_end(a);
    EXPECT_GT(edge_deviation(edge), 1.0);
    EXPECT_TRUE(cleanupTag(wire)->FixWireEdgeSense());
    EXPECT_EQ(edge->sense(), REVERSED);
    EXPECT_LT(edge_deviation(edge), 1e-9);
    api_del_entity(wire);

    BODY* ring = testkit::make_polyline_wire({{0, 0, 0}, {4, 0, 0}, {4, 3, 0}, {0, 0, 0}});
    const std::string before = testkit::saved_text(ring);
    cleanupTag(ring)->FixWireEdgeSense();
    EXPECT_EQ(testkit::saved_text(ring), before) << "edges that run forward stay";
    api_del_entity(ring);
}

TEST_F(CleanupMembers, TheC1MergeSetsItsOptionOnlyForItsOwnLength)
{
    option_header* merge = find_option("merge_spline_vertex");
    ASSERT_NE(merge, nullptr);
    for (const int was : {0, 1}) {
        merge->set(was);
        BODY* b = testkit::make_plane_box();
        QELXDynamicArray<Ve_BodyTag*> bodies;
        bodies.Add(cleanupTag(b));
        Ve_CocoonTag set(bodies);
        QELXVeRepairUtils::mergeC1Edges(&set);
        EXPECT_EQ(merge->count(), was);
        EXPECT_EQ(testkit::model_problems(b), "");
        api_del_entity(b);
    }
    merge->reset();
}

TEST_F(CleanupMembers, TheProductDataCallbackIsCalledOnceAndOnlyWhenRegistered)
{
    QELXVelmDocument document;
    callbackCalls = 0;
    QELXVelmSetProductDataCallback(nullptr);
    QELXVeRepairUtils::MakeQELXVelmProductDataCallback(&document, true);
    EXPECT_EQ(callbackCalls, 0);
    QELXVelmSetProductDataCallback(recordCallback);
    QELXVeRepairUtils::MakeQELXVelmProductDataCallback(nullptr, true);
    EXPECT_EQ(callbackCalls, 0);
    QELXVeRepairUtils::MakeQELXVelmProductDataCallback(&document, true);
    EXPECT_EQ(callbackCalls, 1);
    EXPECT_EQ(seenFile, "null") << "a document without a source file passes no name";
    QELXVelmSetProductDataCallback(nullptr);
}

namespace {

int noMergeMarks(BODY* b)
{
    ENTITY_LIST edges;
    api_get_edges(b, edges);
    int n = 0;
    for (int i = 0; i < edges.count(); ++i)
        n += find_attrib(edges[i], ATTRIB_ST_TYPE, NO_MERGE_ATTRIB_TYPE) != nullptr;
    return n;
}

} // namespace

// Scribe removal frees and cleans the faces round a dangling edge; asked to
// clean first, it frees every edge of the body and cleans the whole body.
// Either way the scribe goes; only the marks on the edges of the face
// without one tell the two apart.
TEST_F(CleanupMembers, ScribesAreRemovedFaceByFaceOrOverTheWholeBodyWhenCleaningFirst)
{
    for (const bool cleanFirst : {false, true}) {
        SCOPED_TRACE(cleanFirst ? "clean first" : "face by face");
        // A square with an edge dangling from a corner into it, and a
        // square beside it with no scribe.
        BODY* b = testkit::make_polyhedron(
            {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}, {5, 5, 0}, {20, 0, 0}, {30, 0, 0}, {30, 10, 0}, {20, 10, 0}},
            {{0, 1, 2, 4, 2, 3}, {5, 6, 7, 8}});
        ENTITY_LIST edges;
        api_get_edges(b, edges);
        for (int i = 0; i < edges.count(); ++i)
            new NO_MERGE_ATTRIB(edges[i]);
        ASSERT_EQ(testkit::count_edges(b), 9);
        cleanupTag(b)->removeScribes(cleanFirst);
        EXPECT_EQ(testkit::count_edges(b), 8);
        EXPECT_EQ(noMergeMarks(b), cleanFirst ? 0 : 4);
        EXPECT_EQ(testkit::check_findings(b), "");
        api_del_entity(b);
    }
}
