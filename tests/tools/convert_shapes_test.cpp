// Every kind of body the kernel holds (our own example: a block, a cylinder
// with its seam and caps, a hemisphere sheet bounded by one closed edge round
// its pole, a spline sheet, an open wire, a point; and a closed wire of one
// circle) written by `xvelm convert`
// as STEP, IGES and BREP in the identity, a turned and a mirrored placement:
// Open CASCADE reads every body back valid, solids as solids, with the
// volume, area, wire length and points the kernel gives the same bodies.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <BRepGProp.hxx>
#include <BRep_Tool.hxx>
#include <GProp_GProps.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Iterator.hxx>

#include "convert_run.hxx"
#include "support/save_file_words.hxx"
#include "qelx_formats/cad_samples.hxx"
#include "support/geometry_builders.hxx"
#include "velm/build.hxx"
#include "velm/query.hxx"
#include "velm/save.hxx"
#include "velm/topology_api.hxx"

namespace fs = std::filesystem;

namespace {

using Point = std::array<double, 3>;

// What one body holds, as the kernel or the peer measures it: solids, their
// volume, the faces' area, the length of edges outside faces, and where its
// vertices are (which places the body: the measures alone do not move with
// it).
struct BodyMeasures {
    int solids = 0;
    double volume = 0.0, area = 0.0, length = 0.0;
    std::vector<Point> vertices;
    std::vector<Point> added; // the file's vertices where the kernel may have none
};

BodyMeasures kernelMeasures(const BODY* body)
{
    BodyMeasures m;
    double accuracy = 0.0;
    ENTITY_LIST faces, lumps, edges, vertices;
    api_get_faces(body, faces);
    api_get_vertices(body, vertices);
    for (int i = 0; i < vertices.count(); ++i) {
        const QELposition p =
            static_cast<const VERTEX*>(vertices[i])->geometry()->coords() * get_owner_transf(body);
        m.vertices.push_back({p.x(), p.y(), p.z()});
    }
    if (faces.iteration_count() > 0) {
        EXPECT_TRUE(api_ent_area(body, 1e-10, m.area, accuracy).ok());
        m.area = std::abs(m.area);
    }
    if (is_closed_solid_body(body)) {
        api_get_lumps(body, lumps);
        m.solids = lumps.iteration_count();
        EXPECT_TRUE(api_body_volume(body, 1e-10, m.volume, accuracy).ok());
    }
    if (faces.iteration_count() == 0) {
        api_get_edges(body, edges);
        for (int i = 0; i < edges.count(); ++i)
            if (const auto* e = static_cast<const EDGE*>(edges[i]); e && e->geometry())
                m.length += e->length(false);
    }
    return m;
}

BodyMeasures peerMeasures(const TopoDS_Shape& shape)
{
    BodyMeasures m;
    const cad_samples::Measures whole = cad_samples::measure(shape);
    EXPECT_TRUE(whole.valid);
    m.solids = whole.solids;
    m.volume = whole.volume;
    m.area = whole.area;
    for (TopExp_Explorer e(shape, TopAbs_EDGE, TopAbs_FACE); e.More(); e.Next()) {
        GProp_GProps props;
        BRepGProp::LinearProperties(e.Current(), props);
        m.length += props.Mass();
    }
    // Poles, which a face reaches without a vertex in the kernel, are where
    // the file's degenerate edges lie,
    TopTools_IndexedMapOfShape added;
    for (TopExp_Explorer e(shape, TopAbs_EDGE); e.More(); e.Next())
        if (BRep_Tool::Degenerated(TopoDS::Edge(e.Current())))
            TopExp::MapShapes(e.Current(), TopAbs_VERTEX, added);
    // and a seam Open CASCADE needs where the kernel's face has none (a loop
    // round a sphere) may end where the kernel has no vertex.
    for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next())
        for (TopExp_Explorer e(f.Current(), TopAbs_EDGE); e.More(); e.Next())
            if (BRep_Tool::IsClosed(TopoDS::Edge(e.Current()), TopoDS::Face(f.Current())))
                TopExp::MapShapes(e.Current(), TopAbs_VERTEX, added);
    for (TopExp_Explorer v(shape, TopAbs_VERTEX); v.More(); v.Next()) {
        const gp_Pnt p = BRep_Tool::Pnt(TopoDS::Vertex(v.Current()));
        (added.Contains(v.Current()) ? m.added : m.vertices).push_back({p.X(), p.Y(), p.Z()});
    }
    return m;
}

// The file's top shapes, one per body, in the order written.
std::vector<TopoDS_Shape> topShapes(const TopoDS_Shape& read)
{
    std::vector<TopoDS_Shape> out;
    if (read.IsNull())
        return out;
    if (read.ShapeType() != TopAbs_COMPOUND)
        return {read};
    for (TopoDS_Iterator it(read); it.More(); it.Next())
        out.push_back(it.Value());
    return out;
}

void expectSameBody(const BodyMeasures& kernel, const BodyMeasures& peer)
{
    EXPECT_EQ(peer.solids, kernel.solids);
    EXPECT_LE(cad_samples::relativeGap(kernel.volume, peer.volume), 1e-6) << kernel.volume << " " << peer.volume;
    EXPECT_LE(cad_samples::relativeGap(kernel.area, peer.area), 1e-6) << kernel.area << " " << peer.area;
    EXPECT_LE(cad_samples::relativeGap(kernel.length, peer.length), 1e-9) << kernel.length << " " << peer.length;
    // The same places (a file may split a vertex two edges share).
    const auto near = [](const std::vector<Point>& in, const Point& p) {
        return std::any_of(in.begin(), in.end(), [&](const Point& q) {
            return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]) <= 1e-7;
        });
    };
    for (const Point& p : kernel.vertices)
        EXPECT_TRUE(near(peer.vertices, p) || near(peer.added, p)) << "the kernel's vertex at " << p[0] << " " << p[1] << " " << p[2];
    for (const Point& p : peer.vertices)
        EXPECT_TRUE(near(kernel.vertices, p)) << "a written vertex at " << p[0] << " " << p[1] << " " << p[2];
}

ENTITY_LIST restoredExample(const std::string& name)
{
    ENTITY_LIST top;
    FILE* fp = std::fopen((std::string(XVELM_EXAMPLES_DIR) + "/" + name).c_str(), "rb");
    EXPECT_NE(fp, nullptr);
    if (fp) {
        EXPECT_TRUE(api_restore_entity_list(fp, 1, top).ok());
        std::fclose(fp);
    }
    return top;
}

void saveEntities(const ENTITY_LIST& top, const fs::path& path)
{
    FILE* fp = std::fopen(path.c_str(), "w");
    ASSERT_NE(fp, nullptr);
    EXPECT_TRUE(api_save_entity_list(fp, 1, top).ok());
    std::fclose(fp);
}

// The bodies of `top` placed by `frame`, written in every format and judged
// body by body against what the kernel says of them.
void judgeEveryFormat(ENTITY_LIST& top, const QELtransf& frame, const fs::path& dir)
{
    std::vector<BodyMeasures> kernel;
    for (int i = 0; i < top.count(); ++i)
        if (top[i] && is_BODY(top[i])) {
            ASSERT_TRUE(api_apply_transf(top[i], frame).ok());
            kernel.push_back(kernelMeasures(static_cast<BODY*>(top[i])));
        }
    const fs::path in = dir / "placed.vlt";
    saveEntities(top, in);
    for (const char* kind : {".step", ".igs", ".brep"}) {
        SCOPED_TRACE(kind);
        const fs::path out = dir / (std::string("placed") + kind);
        const convert_run::ConvertRun run = convert_run::runConvert(in.string(), out.string());
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(std::to_string(kernel.size()) + " bodies"), std::string::npos) << run.out;
        const std::vector<TopoDS_Shape> bodies = topShapes(cad_samples::peerRead(out.string()));
        fs::remove(out);
        ASSERT_EQ(bodies.size(), kernel.size());
        for (std::size_t b = 0; b < bodies.size(); ++b) {
            SCOPED_TRACE("body " + std::to_string(b));
            expectSameBody(kernel[b], peerMeasures(bodies[b]));
        }
    }
}

} // namespace

TEST(ConvertShapes, EveryKindOfBodyIsWrittenInEveryFormatAsTheKernelHasIt)
{
    const fs::path dir = convert_run::convertScratch();
    for (const testkit::KernelFrame& frame : testkit::kernel_frames()) {
        SCOPED_TRACE(frame.name);
        ENTITY_LIST top = restoredExample("shapes.vlt");
        ASSERT_EQ(top.iteration_count(), 7);
        // and a closed wire of one edge, which the example lacks.
        BODY* ring = testkit::make_circle_wire();
        ASSERT_NE(ring, nullptr);
        top.add(ring);
        judgeEveryFormat(top, frame.transform, dir);
        api_del_entity_list(top);
    }
    fs::remove_all(dir);
}

// Bare topology (a face whose surface carries no equation) is no model a
// save file may hold: the restore refuses it naming the face and its
// surface's record, with one line, exit 1 and no output, whatever the kind
// asked for.
TEST(ConvertShapes, BareTopologyIsRefusedWithOneLineAndNoOutput)
{
    const fs::path dir = convert_run::convertScratch();
    const std::string example = std::string(XVELM_EXAMPLES_DIR) + "/two_bodies.vlt";
    testkit::SaveFileWords words = testkit::SaveFileWords::parse(convert_run::fileText(example));
    const int face = words.find("face");
    ASSERT_GE(face, 0);
    // "-8 face 1 $attrib 0 $next $loop $shell $surface ...": the surface's record made the base class's alone.
    const int surface = testkit::SaveFileWords::target(words.records[face][words.links(face)[4]]);
    ASSERT_GE(surface, 0);
    std::vector<std::string>& record = words.records[static_cast<std::size_t>(surface)];
    const auto base = std::find(record.begin(), record.end(), "surface");
    ASSERT_LE(base + 4, record.end());
    record = {record[0], "surface", "1", base[2], base[3], "#"};
    const std::string in = (dir / "bare.vlt").string();
    std::ofstream(in, std::ios::binary) << words.text();
    for (const char* kind : {".step", ".igs", ".brep", ".json"}) {
        SCOPED_TRACE(kind);
        const fs::path out = dir / (std::string("bare") + kind);
        const convert_run::ConvertRun run = convert_run::runConvert(in, out.string());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(convert_run::driverMessages(run.err), 1) << run.err;
        const std::string line = convert_run::lastLine(run.err);
        EXPECT_EQ(line.rfind("xvelm: " + in + ": ", 0), 0u) << line;
        const std::string said = "record " + std::to_string(face) + " (face): its surface (record " +
                                 std::to_string(surface) + ") carries no equation";
        EXPECT_EQ(line.substr(line.size() - std::min(line.size(), said.size())), said) << line;
        EXPECT_TRUE(run.out.empty()) << run.out;
        EXPECT_FALSE(fs::exists(out));
    }
    fs::remove_all(dir);
}
