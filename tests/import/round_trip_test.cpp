// Round trips: kernel models exported through the connector into a neutral
// document, read back as another system's document, imported through the
// full roads and compared with what went out: the same topology per body, the
// same geometry at the same parameters, names, colours and layers kept, and
// the kernel's checker clean. Also each import road from a source model.
#include "import_test_support.hxx"

#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "../../tools/xvelm/roundtrip_verb.hxx"
#include "persist/brep_attrib_transfer.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "support/geometry_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/build.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/groups.hxx"

using namespace importtest;
using qelx_test::TestModel;

namespace {

// A wire of straight edges through the points (each edge its own line).
BODY* straightWire(const std::vector<QELposition>& points)
{
    std::vector<VERTEX*> vertices;
    for (const QELposition& p : points)
        vertices.push_back(new VERTEX(new APOINT(p)));
    std::vector<EDGE*> edges;
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const QELvector d = points[i + 1] - points[i];
        const QELinterval range(0.0, d.len());
        edges.push_back(new EDGE(vertices[i], vertices[i + 1], make_curve(straight(points[i], QELunit_vector(d))),
                                 FORWARD, EDGE_cvty_unknown, &range));
    }
    BODY* body = nullptr;
    EXPECT_TRUE(api_make_ewire(static_cast<int>(edges.size()), edges.data(), body).ok());
    return body;
}

BODY* acorn(const QELposition& at)
{
    auto* v = new VERTEX(new APOINT(at));
    EDGE* e = new EDGE(v, v, nullptr, REVERSED);
    BODY* body = nullptr;
    EXPECT_TRUE(api_make_ewire(1, &e, body).ok());
    return body;
}

// The model every round trip starts from: a named box with a red face on
// layer 3, a cylinder, a hemisphere, a spline sheet, a named wire and a point.
std::vector<ENTITY*> exportTestModel(ENTITY_LIST& groups)
{
    BODY* box = testkit::make_plane_box(10, 20, 30);
    Ve_AttribTransfer::SetStringAttrib(box, Ve_AttribTransfer::LabelName, "box");
    FACE* red = testkit::faces_of(box)[1];
    Ve_AttribTransfer::setColor(red, 1.0, 0.0, 0.0);
    Ve_AttribTransfer::SetIntegerAttrib(red, Ve_AttribTransfer::LayerName, 3, true);
    auto* layer = new QELGROUP();
    Ve_AttribTransfer::setGroupType(layer, Ve_GroupLayer);
    Ve_AttribTransfer::setID(layer, 3);
    api_ct_add_to_group(red, layer);
    groups.add(layer);
    BODY* wire = straightWire({QELposition(0, 0, 40), QELposition(5, 0, 40), QELposition(5, 7, 41)});
    Ve_AttribTransfer::SetStringAttrib(wire, Ve_AttribTransfer::LabelName, "wire");
    return {box, testkit::make_cylinder(5, 8), testkit::make_hemisphere(4), testkit::make_spline_sheet(), wire,
            acorn(QELposition(-3, 2, 1))};
}

// Deletes every top-level entity of the list when it goes.
struct Owned {
    ENTITY_LIST top;
    ~Owned()
    {
        for (int i = 0; i < top.count(); ++i)
            if (velm_is_live_entity(top[i]))
                api_del_entity(top[i]);
    }
};

// Whether every face and edge of the model's bodies has its equation.
bool hasEveryEquation(const ENTITY_LIST& top)
{
    for (int i = 0; i < top.count(); ++i) {
        if (!is_BODY(top[i]))
            continue;
        ENTITY_LIST faces, edges;
        api_get_faces(top[i], faces);
        api_get_edges(top[i], edges);
        for (int k = 0; k < faces.count(); ++k)
            if (const SURFACE* s = static_cast<FACE*>(faces[k])->geometry(); !s || !s->has_equation())
                return false;
        for (int k = 0; k < edges.count(); ++k)
            if (const CURVE* c = static_cast<EDGE*>(edges[k])->geometry(); c && !c->has_equation())
                return false;
    }
    return true;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& l : lines)
        out += l + "\n";
    return out;
}

} // namespace

class RoundTrip : public ImportTest {};

TEST_F(RoundTrip, ThePointIndexFindsEveryNearItemNearestFirst)
{
    // Points on both sides of cell borders and of zero, several to a cell,
    // enough cells to regrow the table of cells a few times.
    xvelm::roundtrip_detail::PointIndex<int> index(1.0);
    std::vector<QELposition> points;
    for (int i = -12; i < 12; ++i)
        for (int j = -3; j < 3; ++j) {
            points.emplace_back(0.5 * i + 1e-9 * j, 0.5 * j, 0.25 * (i % 3));
            index.add(points.back(), static_cast<int>(points.size()) - 1);
        }
    for (const QELposition& probe : {QELposition(0, 0, 0), QELposition(1.0 - 1e-12, -1e-12, 0.25),
                                     QELposition(-5.75, 1.2, 0.4), QELposition(40, 40, 40)})
        for (double tol : {0.3, 0.6}) {
            std::vector<int> expected;
            for (std::size_t k = 0; k < points.size(); ++k)
                if ((points[k] - probe).len() <= tol)
                    expected.push_back(static_cast<int>(k));
            std::vector<int> found = index.near(probe, tol);
            for (std::size_t k = 1; k < found.size(); ++k)
                EXPECT_LE((points[found[k - 1]] - probe).len(), (points[found[k]] - probe).len());
            std::sort(found.begin(), found.end());
            EXPECT_EQ(found, expected) << "near " << probe.x() << " " << probe.y() << " " << probe.z() << " within "
                                       << tol;
        }
}

TEST_F(RoundTrip, TheExportTestModelComesBackInEveryFrame)
{
    for (const testkit::KernelFrame& frame : testkit::kernel_frames()) {
        SCOPED_TRACE(frame.name);
        Owned model;
        ENTITY_LIST groups;
        for (ENTITY* e : exportTestModel(groups)) {
            ASSERT_TRUE(api_apply_transf(e, frame.transform).ok());
            ASSERT_TRUE(api_change_body_trans(static_cast<BODY*>(e)).ok());
            model.top.add(e);
        }
        for (int i = 0; i < groups.count(); ++i)
            model.top.add(groups[i]);
        for (bool throughDocument : {true, false}) {
            SCOPED_TRACE(throughDocument ? "through the neutral document" : "through the exporter itself");
            xvelm::RoundTrip trip;
            ASSERT_TRUE(throughDocument ? trip.run(model.top, "export test model")
                                        : trip.run_through_foreign_view(model.top))
                << trip.failure();
            ASSERT_EQ(trip.after().size(), 6u) << trip.failure();
            EXPECT_EQ(joined(trip.differences(1e-6)), "");
            // A block comes back with its edges shared, not one set per face.
            EXPECT_EQ(countsOf(trip.after()[0]).edges, 12);
        }
    }
}

TEST_F(RoundTrip, EveryExampleComesBackAsItWent)
{
    int examples = 0;
    if (DIR* dir = opendir(XVELM_EXAMPLES_DIR)) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() < 4 || name.substr(name.size() - 4) != ".vlt")
                continue;
            SCOPED_TRACE(name);
            ++examples;
            const std::string path = std::string(XVELM_EXAMPLES_DIR) + "/" + name;
            xvelm::restored_model model;
            ASSERT_TRUE(xvelm::restore_file(path.c_str(), model.top, model.every, stderr));
            xvelm::RoundTrip trip;
            // An example of bare topology (faces and edges without equations)
            // cannot come back whole, and the trip says so.
            if (!hasEveryEquation(model.top)) {
                EXPECT_FALSE(trip.run(model.top, name));
                EXPECT_NE(trip.failure().find("could not be imported"), std::string::npos) << trip.failure();
                continue;
            }
            ASSERT_TRUE(trip.run(model.top, name)) << trip.failure();
            EXPECT_EQ(joined(trip.differences(1e-6)), "");
        }
        closedir(dir);
    }
    EXPECT_GT(examples, 0);
}

TEST_F(RoundTrip, TheComparisonSeesWhatChanged)
{
    // Each change made to what came back is reported, and only then.
    struct Change {
        const char* what;
        const char* seen;
        void (*apply)(BODY*);
    };
    const Change changes[] = {
        {"a face renamed", "attributes", [](BODY* b) {
             Ve_AttribTransfer::SetStringAttrib(testkit::faces_of(b)[2], Ve_AttribTransfer::LabelName, "other");
         }},
        {"a vertex moved", "vertex at", [](BODY* b) {
             ENTITY_LIST v;
             api_get_vertices(b, v);
             static_cast<VERTEX*>(v[0])->geometry()->set_coords(QELposition(100, 100, 100));
         }},
        {"a face turned", "faces the other way", [](BODY* b) { api_reverse_face(testkit::faces_of(b)[0]); }},
    };
    for (const Change& c : changes) {
        SCOPED_TRACE(c.what);
        Owned model;
        model.top.add(testkit::make_plane_box(3, 4, 5));
        xvelm::RoundTrip trip;
        ASSERT_TRUE(trip.run(model.top, "box")) << trip.failure();
        ASSERT_EQ(trip.differences(1e-6), std::vector<std::string>());
        c.apply(trip.after()[0]);
        const std::string seen = joined(trip.differences(1e-6));
        EXPECT_NE(seen.find(c.seen), std::string::npos) << seen;
    }
}

TEST_F(RoundTrip, EachImportRoadFromASourceModel)
{
    struct Road {
        const char* what;
        TestModel model;
        const char* option;
        std::vector<int> edgesPerBody;
        const char* marker;
    };
    TestModel polyline = TestModel::pointWire({{0, 0, 0}, {1, 0, 0}, {1, 2, 0}});
    polyline.attributes[qelx_test::wordOf(qelx_test::KindBody, 0)].pset = "P";
    TestModel curves = TestModel::freeGeometry();
    curves.freeSurfaces.clear();
    curves.freePoints.clear();
    // A curve of another kind makes no body (and a warning, which fails the import).
    std::erase_if(curves.freeCurves, [&](int c) { return curves.curves[c].type == qelx_test::CurvOther; });
    TestModel points = TestModel::freeGeometry();
    points.freeSurfaces.clear();
    points.freeCurves.clear();
    std::vector<Road> roads = {
        {"wire", TestModel::polylineWire({{0, 0, 0}, {2, 0, 0}, {2, 1, 0}}), nullptr, {2}, nullptr},
        {"acorns", TestModel::pointWire({{0, 0, 0}, {1, 0, 0}}), nullptr, {1, 1}, nullptr},
        {"polyline", polyline, "/XVelm/PsetToPolyline", {2}, nullptr},
        {"free curves", curves, nullptr, std::vector<int>(curves.freeCurves.size(), 1), "QELATRIB_FREE_CURVE"},
        {"free points", points, nullptr, {1, 1}, "QELATRIB_FREE_POINT"},
        {"a block", TestModel::block(1, 2, 3), nullptr, {12}, nullptr},
    };
    for (Road& road : roads) {
        SCOPED_TRACE(road.what);
        qelx_test::OptionScope options;
        if (road.option)
            options.on(road.option);
        road.model.xType = xvelm::foreign_xtype;
        xvelm::RoundTrip trip;
        ASSERT_TRUE(trip.import(road.model)) << trip.failure();
        ASSERT_EQ(trip.after().size(), road.edgesPerBody.size()) << trip.failure();
        for (std::size_t i = 0; i < trip.after().size(); ++i) {
            BODY* body = trip.after()[i];
            EXPECT_EQ(countsOf(body).edges, road.edgesPerBody[i]) << i;
            EXPECT_EQ(findingsOf(body), std::vector<std::string>()) << i;
            if (road.marker) {
                int marked = 0;
                EXPECT_TRUE(Ve_AttribTransfer::GetIntegerAttrib(body, road.marker, marked)) << i;
            }
        }
    }
}
