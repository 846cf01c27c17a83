// The STEP, IGES and BREP writers hold what they build against the kernel's
// own measures of each body (every face's area, a solid's volume, the
// widest tolerance): kernel bodies of our own and of real models pass every
// writer as they are, and with a fault planted in what the writer is handed
// (one face's pcurve shifted off, a vertex moved so that its tolerance must
// widen to reach its edges) every writer refuses them, naming the body and
// a face the fault is in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "../../tools/xvelm/body_measures.hxx"
#include "../../tools/xvelm/import_verb.hxx"
#include "../../tools/xvelm/save_file.hxx"
#include "qelx_formats/cad_file.hxx"

namespace {

namespace fs = std::filesystem;

const char* const kSampleRoot = "/usr/share/opencascade/data";

// A sample's kernel bodies walked as the driver walks them for a file,
// with the kernel's measures of them.
struct WalkedSample {
    qelx_test::TestModel model;
    qelx_formats::CadSourceMeasures measures;
};

std::optional<WalkedSample> walkedSample(const std::string& path)
{
    WalkedSample out;
    std::vector<const BODY*> bodies;
    xvelm::ExportCounts counts;
    std::string failure;
    const auto walk = [&](ENTITY_LIST& top) {
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
            const std::string out = scratch(writer);
            std::string error;
            EXPECT_EQ(qelx_formats::writeCadFile(walked->model, out, error, nullptr, &walked->measures), QELI_OK)
                << error;
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

} // namespace
