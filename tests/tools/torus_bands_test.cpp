// Solids the kernel may hold on a torus whose torus face holds no seam: a
// slice of the ring between two tube circles, half the tube between its top
// and bottom circles (the inner half across the kernel's seam), the whole
// torus; rings of a wide hole and nearly closed ones. Walked as the driver
// walks them, each torus face's span reaches as far as the face, and every
// writer (and the neutral document on the way) writes
// them into files Open CASCADE reads back valid with the solid's own area
// and volume, handed the kernel's measures or not; handed them, it refuses
// every face turned against its loops naming it, and the half rings'
// cylinder side between two circles turned even without them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "../../tools/xvelm/body_measures.hxx"
#include "../../tools/xvelm/export_verb.hxx"
#include "qelx_formats/cad_file.hxx"
#include "qelx_formats/cad_samples.hxx"
#include "qelx_formats/neutral_document.hxx"
#include "support/geometry_builders.hxx"
#include "support/in_turn.hxx"
#include "velm/build.hxx"
#include "velm/query.hxx"

namespace {

namespace fs = std::filesystem;
using std::numbers::pi;

fs::path bandScratch(const std::string& name)
{
    return fs::temp_directory_path() / ("torus_bands_" + std::to_string(::getpid()) + "_" + name);
}

// A kernel solid, its area and volume in closed form, and how far its
// torus face reaches in the torus's u and v.
struct BandSolid {
    std::string name;
    std::function<BODY*()> make;
    double area, volume;
    double reachU, reachV;
};

std::vector<BandSolid> bandSolids()
{
    std::vector<BandSolid> out;
    // Major and minor radii: a wide ring and one whose hole nearly closes.
    for (const auto& pair : {std::pair{5.0, 1.5}, std::pair{1.05, 1.0}}) {
        const double R = pair.first, r = pair.second;
        const std::string radii = " (" + std::to_string(R).substr(0, 4) + ", " + std::to_string(r).substr(0, 4) + ")";
        // Pappus: the tube's section swept round the axis.
        for (const auto& ends : {std::pair{0.0, pi / 2}, std::pair{-0.3, 4.0}}) {
            const double v0 = ends.first, v1 = ends.second;
            out.push_back({"slice from " + std::to_string(v0).substr(0, 4) + " to " + std::to_string(v1).substr(0, 4) +
                               radii,
                           [R, r, v0, v1] { return testkit::make_torus_slice(R, r, v0, v1); },
                           2 * pi * r * R * (v1 - v0) + 2 * pi * r * r, pi * r * r * R * (v1 - v0), 2 * pi, v1 - v0});
        }
        for (const bool outer : {true, false}) {
            const double s = outer ? 1.0 : -1.0;
            out.push_back({std::string(outer ? "outer" : "inner") + " half ring" + radii,
                           [R, r, outer] { return testkit::make_torus_half_ring(R, r, outer); },
                           2 * pi * r * (pi * R + s * 2 * r) + 4 * pi * R * r,
                           pi * pi * r * r * R + s * 4.0 / 3.0 * pi * r * r * r, pi, 2 * pi});
        }
        out.push_back({"whole torus" + radii, [R, r] { return testkit::make_whole_torus(R, r); }, 4 * pi * pi * R * r,
                       2 * pi * pi * R * r * r, 2 * pi, 2 * pi});
    }
    return out;
}

// The body placed in the frame, walked as the driver walks it for a file,
// with the kernel's measures of it.
struct WalkedBand {
    qelx_test::TestModel model;
    qelx_formats::CadSourceMeasures measures;
};

WalkedBand walkedBand(BODY* body, const QELtransf& frame)
{
    WalkedBand out;
    EXPECT_TRUE(api_apply_transf(body, frame).ok());
    EXPECT_TRUE(api_change_body_trans(body).ok());
    ENTITY_LIST top;
    top.add(body);
    xvelm::ExportCounts counts;
    std::string failure;
    std::vector<const BODY*> bodies;
    EXPECT_TRUE(xvelm::walk_document(top, out.model, counts, failure, qelx_test::kWalkAllAttributes, &bodies))
        << failure;
    out.measures = xvelm::kernel_measures(bodies, out.model);
    api_del_entity(body);
    return out;
}

// Written by `writer`, the file holds the solid.
void expectBandWritten(const qelx_test::TestModel& model, const char* writer,
                       const qelx_formats::CadSourceMeasures* measures, const BandSolid& solid)
{
    const fs::path out = bandScratch(std::string("out") + writer);
    std::string error;
    ASSERT_EQ(qelx_formats::writeCadFile(model, out.string(), error, nullptr, measures), QELI_OK) << error;
    const cad_samples::Measures back = cad_samples::measure(cad_samples::peerRead(out.string()));
    fs::remove(out);
    EXPECT_TRUE(back.valid);
    EXPECT_EQ(back.solids, 1);
    EXPECT_LT(cad_samples::relativeGap(back.area, solid.area), 1e-6) << back.area << " where " << solid.area;
    EXPECT_LT(cad_samples::relativeGap(back.volume, solid.volume), 1e-6)
        << back.volume << " where " << solid.volume;
}

TEST(TorusBands, EveryWriterWritesSeamlessTorusFacesAndRefusesThemTurnedAgainstTheKernelsMeasures)
{
    const std::vector<testkit::KernelFrame> frames = testkit::kernel_frames();
    const std::vector<BandSolid> solids = bandSolids();
    int written = 0, refused = 0;
    for (std::size_t c = 0; c < solids.size(); ++c)
        for (std::size_t k = 0; k < frames.size(); ++k) {
            if (!in_turn::taken(c, k, frames.size()))
                continue;
            const BandSolid& solid = solids[c];
            SCOPED_TRACE(solid.name + ", " + frames[k].name);
            const WalkedBand walked = walkedBand(solid.make(), frames[k].transform);
            ASSERT_EQ(walked.model.bodies.size(), 1u);
            // The torus face's span reaches as far as the face does (a
            // writer holds a face to the surface's area inside it).
            for (const qelx_test::TestFace& face : walked.model.faces)
                if (walked.model.surfaces.at(static_cast<std::size_t>(face.surface)).type == qelx_test::SurfTorus) {
                    EXPECT_GE(face.uDomain[1] - face.uDomain[0], solid.reachU - 1e-9);
                    EXPECT_GE(face.vDomain[1] - face.vDomain[0], solid.reachV - 1e-9);
                }
            // The neutral document carries the model as it is.
            std::string error;
            const fs::path neutral = bandScratch("model.json");
            ASSERT_EQ(qelx_formats::writeNeutralDocument(walked.model, neutral.string(), error), QELI_OK) << error;
            qelx_test::TestModel reread;
            ASSERT_EQ(qelx_formats::readNeutralDocument(neutral.string(), reread, error), QELI_OK) << error;
            fs::remove(neutral);
            // A band's domain as another source may give it, the other
            // band's between the same circles: a band is held to no box.
            qelx_test::TestModel otherSide = walked.model;
            for (qelx_test::TestFace& face : otherSide.faces)
                if (otherSide.surfaces.at(static_cast<std::size_t>(face.surface)).type == qelx_test::SurfTorus)
                    for (double* range : {face.uDomain, face.vDomain})
                        if (const double reach = range == face.uDomain ? solid.reachU : solid.reachV; reach < 2 * pi) {
                            range[0] += reach;
                            range[1] = range[0] + 2 * pi - reach;
                        }
            for (const char* writer : {".step", ".igs", ".brep"}) {
                SCOPED_TRACE(writer);
                expectBandWritten(walked.model, writer, nullptr, solid);
                expectBandWritten(otherSide, writer, nullptr, solid);
                expectBandWritten(walked.model, writer, &walked.measures, solid);
                expectBandWritten(reread, writer, nullptr, solid);
                ++written;
                // Turned, a torus band bounds the other band between its
                // circles, a valid face the kernel's measures tell from it;
                // the half rings' cylinder side between two circles, turned,
                // runs round as holes alone (named by every writer, measures
                // or not: below).
                for (std::size_t f = 0; f < walked.model.faces.size(); ++f) {
                    qelx_test::TestModel turned = walked.model;
                    turned.faces[f].sense = !turned.faces[f].sense;
                    const bool side = walked.model.surfaces.at(static_cast<std::size_t>(walked.model.faces[f].surface))
                                          .type == qelx_test::SurfCylinder;
                    std::vector<const qelx_formats::CadSourceMeasures*> handed{&walked.measures};
                    if (side)
                        handed.push_back(nullptr);
                    for (const qelx_formats::CadSourceMeasures* measures : handed) {
                        const fs::path out = bandScratch(std::string("turned") + writer);
                        error.clear();
                        EXPECT_NE(qelx_formats::writeCadFile(turned, out.string(), error, nullptr, measures), QELI_OK)
                            << "face " << f << (measures ? "" : ", no measures");
                        // One body: a face's place among its faces is its index.
                        const std::string said = "body 0, face " + std::to_string(f) + ":";
                        EXPECT_NE(error.find(said), std::string::npos) << error << "\nnot " << said;
                        EXPECT_FALSE(fs::exists(out));
                        fs::remove(out);
                        ++refused;
                    }
                }
            }
        }
    EXPECT_GT(written, 0);
    EXPECT_GT(refused, 0);
}

} // namespace
