// The STEP, IGES and BREP writers hold what they build against the kernel's
// own measures of each body (every face's area, a solid's volume, the
// widest tolerance): kernel bodies of our own and of real models pass every
// writer as they are, and with a fault planted in what the writer is handed
// (one face's pcurve shifted off, a vertex moved so that its tolerance must
// widen to reach its edges) every writer refuses them, naming the body and
// a face the fault is in.
#include <gtest/gtest.h>

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeBox.hxx>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "../../tools/xvelm/body_measures.hxx"
#include "../../tools/xvelm/import_verb.hxx"
#include "../../tools/xvelm/save_file.hxx"
#include "occ_shapes.hxx"
#include "qelx_formats/cad_samples.hxx"
#include "support/geometry_builders.hxx"
#include "qelx_formats/cad_file.hxx"
#include "qelx_formats/step_assembly.hxx"

namespace {

namespace fs = std::filesystem;

const char* const kSampleRoot = "/usr/share/opencascade/data";

// A sample's kernel bodies walked as the driver walks them for a file,
// with the kernel's measures of them.
struct WalkedSample {
    qelx_test::TestModel model;
    qelx_formats::CadSourceMeasures measures;
};

// `plant`, when given, is done to the kernel bodies before they are walked.
std::optional<WalkedSample> walkedSample(const std::string& path,
                                         const std::function<void(ENTITY_LIST&)>& plant = nullptr)
{
    WalkedSample out;
    std::vector<const BODY*> bodies;
    xvelm::ExportCounts counts;
    std::string failure;
    const auto walk = [&](ENTITY_LIST& top) {
        if (plant)
            plant(top);
        if (!xvelm::walk_document(top, out.model, counts, failure, qelx_test::kWalkAllAttributes, &bodies))
            return false;
        out.measures = xvelm::kernel_measures(bodies, out.model);
        return true;
    };
    if (fs::path(path).extension() == ".vlt") {
        xvelm::restored_model restored;
        if (!xvelm::restore_file(path.c_str(), restored.top, restored.every, stderr) || !walk(restored.top))
            return std::nullopt;
        return out;
    }
    qelx_test::TestModel read;
    std::string error;
    if (qelx_formats::readCadFile(path, read, error) != QELI_OK)
        return std::nullopt;
    QELXVelmDocument target;
    xvelm::ImportCounts imported;
    if (!xvelm::prepare_import_target(target, read.xType, failure) ||
        !xvelm::import_model(std::move(read), target, imported, failure) || !target.GetNativeEntityList() ||
        !walk(*target.GetNativeEntityList()))
        return std::nullopt;
    return out;
}

// The body a model face belongs to and its place among the body's faces.
struct FacePlace {
    int body = -1;
    std::size_t place = 0;
};

std::vector<int> bodyFaces(const qelx_test::TestModel& m, std::size_t b)
{
    std::vector<int> faces = m.bodies[b].faces;
    const auto shell = [&](int s) {
        for (int f : m.shells.at(static_cast<std::size_t>(s)).faces)
            faces.push_back(f);
    };
    for (int l : m.bodies[b].lumps)
        for (int v : m.lumps.at(static_cast<std::size_t>(l)).volumes)
            for (int s : m.volumes.at(static_cast<std::size_t>(v)).shells)
                shell(s);
    for (int s : m.bodies[b].shells2D)
        shell(s);
    std::sort(faces.begin(), faces.end());
    return faces;
}

FacePlace placeOf(const qelx_test::TestModel& m, int face)
{
    for (std::size_t b = 0; b < m.bodies.size(); ++b) {
        const std::vector<int> faces = bodyFaces(m, b);
        if (const auto at = std::find(faces.begin(), faces.end(), face); at != faces.end())
            return {static_cast<int>(b), static_cast<std::size_t>(at - faces.begin())};
    }
    return {};
}

std::string named(const FacePlace& p)
{
    return "body " + std::to_string(p.body) + ", face " + std::to_string(p.place);
}

// The first face off a plane, of a body the kernel measured, whose coedges
// all carry pcurves of their own (no other coedge shares one).
std::optional<int> pcurvedFace(const qelx_test::TestModel& m, const qelx_formats::CadSourceMeasures& measures)
{
    std::vector<int> uses(m.pcurves.size(), 0);
    for (const qelx_test::TestCoedge& c : m.coedges)
        if (c.pcurve >= 0)
            ++uses[static_cast<std::size_t>(c.pcurve)];
    for (std::size_t f = 0; f < m.faces.size(); ++f) {
        const FacePlace p = placeOf(m, static_cast<int>(f));
        // Off a plane: there the writer takes the projections of the edges'
        // curves for pcurves that stray (the kernel fits them).
        if (p.body < 0 || !measures[static_cast<std::size_t>(p.body)] || m.faces[f].loops.empty() ||
            m.surfaces.at(static_cast<std::size_t>(m.faces[f].surface)).type == qelx_test::SurfPlane)
            continue;
        bool own = true;
        for (int l : m.faces[f].loops)
            for (int c : m.loops.at(static_cast<std::size_t>(l)).coedges) {
                const int pc = m.coedges.at(static_cast<std::size_t>(c)).pcurve;
                own = own && pc >= 0 && uses[static_cast<std::size_t>(pc)] == 1;
            }
        if (own)
            return static_cast<int>(f);
    }
    return std::nullopt;
}

// A vertex of a measured body's face, and that body's extent.
std::optional<std::pair<int, double>> measuredVertex(const qelx_test::TestModel& m,
                                                     const qelx_formats::CadSourceMeasures& measures)
{
    for (std::size_t f = 0; f < m.faces.size(); ++f) {
        const FacePlace p = placeOf(m, static_cast<int>(f));
        if (p.body < 0 || !measures[static_cast<std::size_t>(p.body)])
            continue;
        for (int l : m.faces[f].loops)
            for (int c : m.loops.at(static_cast<std::size_t>(l)).coedges) {
                const qelx_test::TestEdge& e = m.edges.at(static_cast<std::size_t>(m.coedges.at(static_cast<std::size_t>(c)).edge));
                if (e.start < 0 || e.start == e.end)
                    continue;
                // The body's extent, from its faces' vertices.
                double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
                for (int g : bodyFaces(m, static_cast<std::size_t>(p.body)))
                    for (int gl : m.faces.at(static_cast<std::size_t>(g)).loops)
                        for (int gc : m.loops.at(static_cast<std::size_t>(gl)).coedges) {
                            const qelx_test::TestEdge& ge =
                                m.edges.at(static_cast<std::size_t>(m.coedges.at(static_cast<std::size_t>(gc)).edge));
                            for (int v : {ge.start, ge.end})
                                if (v >= 0) {
                                    const qelx_test::Vec3& q = m.points.at(
                                        static_cast<std::size_t>(m.vertices.at(static_cast<std::size_t>(v)).point));
                                    for (int k = 0; k < 3; ++k)
                                        lo[k] = std::min(lo[k], q[k]), hi[k] = std::max(hi[k], q[k]);
                                }
                        }
                double extent = 0.0;
                for (int k = 0; k < 3; ++k)
                    extent = std::max(extent, hi[k] - lo[k]);
                return std::pair{e.start, extent};
            }
    }
    return std::nullopt;
}

// The places of the faces a vertex bounds.
std::set<std::string> facesAt(const qelx_test::TestModel& m, int vertex)
{
    std::set<std::string> out;
    for (std::size_t f = 0; f < m.faces.size(); ++f)
        for (int l : m.faces[f].loops)
            for (int c : m.loops.at(static_cast<std::size_t>(l)).coedges) {
                const qelx_test::TestEdge& e = m.edges.at(static_cast<std::size_t>(m.coedges.at(static_cast<std::size_t>(c)).edge));
                if (e.start == vertex || e.end == vertex)
                    out.insert(named(placeOf(m, static_cast<int>(f))));
            }
    return out;
}

struct Sample {
    const char* name;
    std::string path;
};

std::vector<Sample> samples()
{
    std::vector<Sample> out{{"shapes", std::string(XVELM_EXAMPLES_DIR) + "/shapes.vlt"},
                            {"bracket", std::string(XVELM_EXAMPLES_DIR) + "/bracket.step"}};
    for (const char* s : {"step/screw.step", "occ/Pump_Nut.brep", "occ/CrankArm.brep"})
        if (fs::exists(fs::path(kSampleRoot) / s))
            out.push_back({s, (fs::path(kSampleRoot) / s).string()});
    return out;
}

const char* const kWriters[] = {".step", ".igs", ".brep"};

class SourceCheck : public ::testing::Test {
protected:
    static std::string scratch(const char* extension)
    {
        const fs::path dir = fs::temp_directory_path() / ("source_check_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        return (dir / (std::string("out") + extension)).string();
    }

    // Writes the walked sample as it is with `writer`, which must take it;
    // the scratch file written is returned.
    static std::string expectWrittenAsItIs(const WalkedSample& walked, const char* writer)
    {
        const std::string out = scratch(writer);
        std::string error;
        EXPECT_EQ(qelx_formats::writeCadFile(walked.model, out, error, nullptr, &walked.measures), QELI_OK) << error;
        return out;
    }
};

TEST_F(SourceCheck, CleanBodiesPassEveryWriterAndPlantedFaultsAreRefusedNamingTheFace)
{
    int pcurvePlants = 0, vertexPlants = 0;
    for (const Sample& sample : samples()) {
        SCOPED_TRACE(sample.name);
        const std::optional<WalkedSample> walked = walkedSample(sample.path);
        ASSERT_TRUE(walked);
        bool measured = false;
        for (const auto& m : walked->measures)
            measured = measured || (m && !m->faceAreas.empty());
        ASSERT_TRUE(measured) << "no body's faces paired with the kernel's";

        // A face's pcurves shifted off its edges, a quarter of its domain
        // each way (past what the writer takes for a fit of its curves).
        std::optional<qelx_test::TestModel> shifted;
        std::string shiftedFace;
        if (const std::optional<int> at = pcurvedFace(walked->model, walked->measures)) {
            shifted = walked->model;
            const auto& face = shifted->faces[static_cast<std::size_t>(*at)];
            const double du = 0.25 * (face.uDomain[1] - face.uDomain[0]),
                         dv = 0.25 * (face.vDomain[1] - face.vDomain[0]);
            for (int l : face.loops)
                for (int c : shifted->loops[static_cast<std::size_t>(l)].coedges) {
                    qelx_test::TestPCurve& pc = shifted->pcurves[static_cast<std::size_t>(
                        shifted->coedges[static_cast<std::size_t>(c)].pcurve)];
                    for (std::size_t k = 0; k + 1 < pc.nurbs.ctrl.size(); k += 2)
                        pc.nurbs.ctrl[k] += du, pc.nurbs.ctrl[k + 1] += dv;
                }
            shiftedFace = named(placeOf(walked->model, *at));
            ++pcurvePlants;
        }
        // A vertex moved a hundredth of its body off its edges.
        std::optional<qelx_test::TestModel> moved;
        std::set<std::string> movedFaces;
        if (const auto at = measuredVertex(walked->model, walked->measures)) {
            moved = walked->model;
            const int point = moved->vertices[static_cast<std::size_t>(at->first)].point;
            qelx_test::Vec3 p = moved->points[static_cast<std::size_t>(point)];
            p[0] += 0.01 * at->second, p[1] += 0.01 * at->second;
            moved->points[static_cast<std::size_t>(point)] = p;
            movedFaces = facesAt(walked->model, at->first);
            ++vertexPlants;
        }
        for (const char* writer : kWriters) {
            SCOPED_TRACE(writer);
            const std::string out = expectWrittenAsItIs(*walked, writer);
            std::string error;
            if (shifted) {
                EXPECT_NE(qelx_formats::writeCadFile(*shifted, out, error, nullptr, &walked->measures), QELI_OK);
                EXPECT_NE(error.find(shiftedFace + ":"), std::string::npos) << error << "\nnot " << shiftedFace;
            }
            if (moved) {
                EXPECT_NE(qelx_formats::writeCadFile(*moved, out, error, nullptr, &walked->measures), QELI_OK);
                bool named = false;
                for (const std::string& face : movedFaces)
                    named = named || error.find(face) != std::string::npos;
                EXPECT_TRUE(named) << error;
            }
        }
    }
    EXPECT_GT(pcurvePlants, 0);
    EXPECT_GT(vertexPlants, 0);
}

// The kernel's first face on a cone, sphere or torus with a seam: one use of
// the seam moved onto its partner's side of the period (both at v = 0, say,
// as an import that loses the period leaves them), every point of it still
// on its edge. The face's place among its body's faces, or none.
std::optional<std::size_t> seamMovedOntoItsPartnersSide(ENTITY_LIST& top)
{
    for (int b = 0; b < top.count(); ++b) {
        if (!is_BODY(top[b]))
            continue;
        ENTITY_LIST faces;
        api_get_faces(static_cast<BODY*>(top[b]), faces);
        for (int i = 0; i < faces.count(); ++i) {
            FACE* face = static_cast<FACE*>(faces[i]);
            const int type = face->geometry() ? face->geometry()->equation().type() : 0;
            COEDGE* c = type >= 2 && type <= 4 ? testkit::seam_use(face) : nullptr;
            if (!c)
                continue;
            const auto middle = [](const COEDGE* use) {
                return use->geometry()->def().eval_position(use->param_range().mid_pt());
            };
            const QELpar_pos here = middle(c), there = middle(c->partner());
            testkit::shift_pcurve(c, there.u - here.u, there.v - here.v);
            return static_cast<std::size_t>(i);
        }
    }
    return std::nullopt;
}

// A seam whose two pcurves the kernel holds on one side of the period (both
// at v = 0, say, as an import that loses the period leaves them) still
// bounds the region its edges bound: the kernel measures that region and the
// writers' shapes place a seam's uses a period apart, so every writer writes
// the body, its faces' areas as the kernel's, in every frame.
TEST_F(SourceCheck, SeamHeldOnOneSideOfItsPeriodIsWrittenAsTheBodyIs)
{
    const fs::path dir = fs::path(scratch(".brep")).parent_path();
    for (const char* shape : {"cylinder", "cone"})
        for (const char* frame : occ_shapes::Frames) {
            SCOPED_TRACE(std::string(shape) + ", " + frame);
            const std::string path = (dir / (std::string(shape) + "-" + frame + ".brep")).string();
            ASSERT_TRUE(occ_shapes::writeFile(occ_shapes::placed(occ_shapes::named(shape), frame), path));
            std::optional<std::size_t> face;
            const std::optional<WalkedSample> planted =
                walkedSample(path, [&face](ENTITY_LIST& top) { face = seamMovedOntoItsPartnersSide(top); });
            ASSERT_TRUE(planted);
            ASSERT_TRUE(face) << "no seam with two pcurves";
            ASSERT_TRUE(planted->measures.at(0));
            EXPECT_GT(planted->measures[0]->faceAreas.at(*face), 0.0);
            for (const char* writer : kWriters) {
                std::string error;
                EXPECT_EQ(qelx_formats::writeCadFile(planted->model, scratch(writer), error, nullptr,
                                                     &planted->measures),
                          QELI_OK)
                    << writer << ": " << error;
            }
        }
}

// Wedges of a cylinder, cone, sphere (a band of latitudes, and from pole to
// pole) and torus (three quarters of a turn), and a torus less a cap (its
// face bounded by the hole alone), their faces on planes, cones, spheres
// and tori: each writer writes the body as it was, in every frame, and Open
// CASCADE reads it back valid with the solid's area and volume; each face
// handed over turned against its loops (its sense turned, its loops not)
// bounds the rest of its surface, or the plane outside its loop, with every
// edge still on it and the analyser content, and each writer refuses it
// naming the face.
TEST_F(SourceCheck, FaceTurnedAgainstItsLoopsIsRefusedByEveryWriterNamingTheFace)
{
    const fs::path dir = fs::path(scratch(".brep")).parent_path();
    const double turn = 1.5 * M_PI;
    const TopoDS_Shape cap = BRepPrimAPI_MakeBox(gp_Pnt(-0.5, 4.5, 1.0), 1.0, 1.0, 1.0).Shape();
    const std::pair<const char*, TopoDS_Shape> wedges[] = {
        {"cylinder", BRepPrimAPI_MakeCylinder(2.0, 4.0, turn).Shape()},
        {"cone", BRepPrimAPI_MakeCone(2.0, 0.5, 4.0, turn).Shape()},
        {"sphere band", BRepPrimAPI_MakeSphere(3.0, -0.5, 0.8, turn).Shape()},
        {"sphere pole to pole", BRepPrimAPI_MakeSphere(3.0, turn).Shape()},
        {"torus", BRepPrimAPI_MakeTorus(5.0, 1.5, turn).Shape()},
        {"torus less a cap", BRepAlgoAPI_Cut(BRepPrimAPI_MakeTorus(5.0, 1.5).Shape(), cap).Shape()}};
    int refused = 0, closedRefused = 0;
    for (const auto& [shape, solid] : wedges)
        for (const char* frame : occ_shapes::Frames) {
            SCOPED_TRACE(std::string(shape) + ", " + frame);
            const TopoDS_Shape source = occ_shapes::placed(solid, frame);
            const cad_samples::Measures expected = cad_samples::measure(source);
            ASSERT_TRUE(expected.valid);
            const std::string path = (dir / (std::string(shape) + "-wedge-" + frame + ".brep")).string();
            ASSERT_TRUE(occ_shapes::writeFile(source, path));
            const std::optional<WalkedSample> walked = walkedSample(path);
            ASSERT_TRUE(walked);
            for (const char* writer : kWriters) {
                SCOPED_TRACE(writer);
                const std::string out = expectWrittenAsItIs(*walked, writer);
                std::string error;
                const cad_samples::Measures back = cad_samples::measure(cad_samples::peerRead(out));
                EXPECT_TRUE(back.valid);
                EXPECT_EQ(back.solids, 1);
                // The kernel fits pcurves it cannot carry over exactly.
                EXPECT_LT(cad_samples::relativeGap(back.area, expected.area), 1e-5)
                    << back.area << " where " << expected.area;
                EXPECT_LT(cad_samples::relativeGap(back.volume, expected.volume), 1e-5)
                    << back.volume << " where " << expected.volume;
                for (std::size_t f = 0; f < walked->model.faces.size(); ++f) {
                    const int type =
                        walked->model.surfaces.at(static_cast<std::size_t>(walked->model.faces[f].surface)).type;
                    if (type != qelx_test::SurfPlane && type != qelx_test::SurfCylinder &&
                        type != qelx_test::SurfCone && type != qelx_test::SurfSphere && type != qelx_test::SurfTorus)
                        continue;
                    qelx_test::TestModel turned = walked->model;
                    turned.faces[f].sense = !turned.faces[f].sense;
                    const std::string name = named(placeOf(walked->model, static_cast<int>(f))) + ":";
                    EXPECT_NE(qelx_formats::writeCadFile(turned, out, error, nullptr, &walked->measures), QELI_OK)
                        << name;
                    EXPECT_NE(error.find(name), std::string::npos) << error << "\nnot " << name;
                    ++refused;
                    closedRefused += type == qelx_test::SurfSphere || type == qelx_test::SurfTorus;
                }
            }
        }
    EXPECT_GT(refused, 0);
    EXPECT_GT(closedRefused, 0);
}

// The STEP assembly writer holds each part against its own measures: two
// parts placed (one of them mirrored) write as they are, and with a face of
// one part turned against its loops the file is refused naming that product
// and face.
TEST_F(SourceCheck, AssemblyWriterRefusesAFaultedPartNamingTheProductAndFace)
{
    const fs::path dir = fs::path(scratch(".step")).parent_path();
    qelx_test::TestAssembly assembly;
    std::vector<qelx_formats::CadSourceMeasures> measures;
    for (const char* shape : {"cylinder", "torus"}) {
        const std::string path = (dir / (std::string("part-") + shape + ".brep")).string();
        ASSERT_TRUE(occ_shapes::writeFile(shape == std::string("torus")
                                              ? BRepPrimAPI_MakeTorus(5.0, 1.5, 1.5 * M_PI).Shape()
                                              : occ_shapes::named(shape),
                                          path));
        std::optional<WalkedSample> walked = walkedSample(path);
        ASSERT_TRUE(walked);
        const int d = assembly.addPart(shape, std::move(walked->model));
        measures.push_back(std::move(walked->measures));
        assembly.place(-1, d, std::string(shape) + "-1", qelx_test::placementTranslation(0.0, 20.0 * d, 0.0));
        assembly.place(-1, d, std::string(shape) + "-2", qelx_test::placementMirrorX(40.0, 20.0 * d, 0.0));
    }
    const std::string out = scratch(".step");
    std::string error;
    EXPECT_EQ(qelx_formats::writeStepAssembly(assembly, out, error, &measures), QELI_OK) << error;
    // An end of the torus wedge turned against its loop.
    qelx_test::TestModel& torus = assembly.definitions[1].part;
    int end = 0;
    while (torus.surfaces.at(static_cast<std::size_t>(torus.faces.at(static_cast<std::size_t>(end)).surface)).type !=
           qelx_test::SurfPlane)
        ++end;
    torus.faces[static_cast<std::size_t>(end)].sense = !torus.faces[static_cast<std::size_t>(end)].sense;
    const std::string name = "product \"torus\": " + named(placeOf(torus, end)) + ":";
    EXPECT_NE(qelx_formats::writeStepAssembly(assembly, out, error, &measures), QELI_OK);
    EXPECT_NE(error.find(name), std::string::npos) << error << "\nnot " << name;
}

} // namespace
