// Where a round trip stops, it says where: a save file whose edge lost its
// curve is refused on reading naming the edge's record, and a comparison the
// kernel cannot finish names the body and the face, coedge or step it was at.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "convert_run.hxx"
#include "../../tools/xvelm/info.hxx"
#include "../../tools/xvelm/roundtrip_verb.hxx"
#include "qelx_formats/cad_samples.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/save_file_words.hxx"
#include "velm/build.hxx"
#include "velm/errors.hxx"
#include "velm/save.hxx"
#include "velm/topology_api.hxx"

namespace roundtrip_places {

namespace fs = std::filesystem;

struct VerbRun {
    int status = -1;
    std::string err;
};

VerbRun runVerb(int (*verb)(const char*, FILE*, FILE*), const std::string& path)
{
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::tmpfile(), &std::fclose);
    std::unique_ptr<FILE, int (*)(FILE*)> err(std::tmpfile(), &std::fclose);
    VerbRun run;
    run.status = verb(path.c_str(), out.get(), err.get());
    run.err = convert_run::streamText(err.get());
    return run;
}

// The save file's text with its bodies placed in `frame`.
std::string framedText(const std::string& path, const QELtransf& frame)
{
    ENTITY_LIST top;
    FILE* in = std::fopen(path.c_str(), "rb");
    EXPECT_NE(in, nullptr);
    if (!in)
        return "";
    EXPECT_TRUE(api_restore_entity_list(in, 1, top).ok());
    std::fclose(in);
    for (int i = 0; i < top.count(); ++i)
        if (is_BODY(top[i])) {
            EXPECT_TRUE(api_apply_transf(top[i], frame).ok());
            EXPECT_TRUE(api_change_body_trans(static_cast<BODY*>(top[i])).ok());
        }
    FILE* out = std::tmpfile();
    EXPECT_TRUE(api_save_entity_list(out, 1, top).ok());
    std::rewind(out);
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;)
        text.push_back(static_cast<char>(c));
    std::fclose(out);
    EXPECT_TRUE(api_del_entity_list(top).ok());
    return text;
}

} // namespace roundtrip_places

using namespace roundtrip_places;

// The wing sample (spline faces bounded by intcurve edges) in every frame,
// each intcurve record dropped in turn (the edge's link to it left as none):
// every verb refuses the file on reading, naming the edge's record, where a
// round trip once went as far as the comparison and failed naming nothing.
TEST(RoundTripPlaces, ASaveFileWhoseEdgeLostItsCurveIsRefusedNamingTheEdgeInEveryFrame)
{
    const fs::path dir = convert_run::convertScratch();
    const std::string wing = (dir / "wing.vlt").string();
    ASSERT_EQ(convert_run::runConvert(std::string(cad_samples::SampleFolder) + "/occ/wing.brep", wing).status, 0);
    const fs::path damagedPath = dir / "wing-damaged.vlt";
    int dropped = 0;
    for (const QELtransf& frame : testkit::heal_frames()) {
        const testkit::SaveFileWords sound = testkit::SaveFileWords::parse(framedText(wing, frame));
        for (int r = 0; r < static_cast<int>(sound.records.size()); ++r) {
            if (sound.records[r][1] != "intcurve")
                continue;
            int edge = -1;
            for (int e = 0; e < static_cast<int>(sound.records.size()) && edge < 0; ++e)
                if (sound.records[e][1] == "edge")
                    for (std::size_t at : sound.links(e))
                        if (testkit::SaveFileWords::target(sound.records[e][at]) == r)
                            edge = e;
            if (edge < 0)
                continue;
            ++dropped;
            testkit::SaveFileWords damaged = sound;
            damaged.erase_record(r);
            std::ofstream(damagedPath, std::ios::binary) << damaged.text();
            const std::string expected = "xvelm: " + damagedPath.string() + ": save file damaged: record " +
                                         std::to_string(edge - (edge > r)) +
                                         " (edge): has no curve, though it runs between two vertices";
            for (const auto verb : {&xvelm::roundtrip, &xvelm::info}) {
                const VerbRun run = runVerb(verb, damagedPath.string());
                EXPECT_EQ(run.status, 1);
                EXPECT_EQ(convert_run::lastLine(run.err), expected) << "intcurve record " << r << " dropped";
            }
        }
    }
    EXPECT_GE(dropped, 3 * 4);
    fs::remove(damagedPath);
    fs::remove(wing);
}

// A body whose edge lost its curve in memory (no file reader lets one through)
// stops the comparison: the kernel refuses to measure it or to give its
// coedges' ranges. The failure names the body and where the comparison was
// (the step, and the face and coedge with its edge's ends), for every edge of
// a box of planes and of a spline sheet (pcurves on its coedges), in every frame.
TEST(RoundTripPlaces, AComparisonTheKernelCannotFinishNamesTheBodyAndWhereItWas)
{
    int cases = 0;
    for (const QELtransf& frame : testkit::heal_frames())
        for (int model = 0; model < 2; ++model) {
            BODY* before = model == 0 ? testkit::make_plane_box() : testkit::make_spline_sheet();
            ASSERT_TRUE(api_apply_transf(before, frame).ok());
            ASSERT_TRUE(api_change_body_trans(before).ok());
            ENTITY_LIST edges;
            ASSERT_TRUE(api_get_edges(before, edges).ok());
            for (int k = 0; k < edges.count(); ++k) {
                BODY* after = nullptr;
                ASSERT_TRUE(api_copy_body(before, after).ok());
                ENTITY_LIST copied;
                ASSERT_TRUE(api_get_edges(after, copied).ok());
                auto* edge = static_cast<EDGE*>(copied[k]);
                edge->set_geometry(nullptr);
                edge->set_param_range(nullptr);
                std::string said;
                try {
                    xvelm::compare_bodies({before}, {after}, 1e-6);
                } catch (const xvelm::roundtrip_detail::query_refused& refused) {
                    said = refused.what();
                } catch (...) {
                    said = "not a refused query: " + xvelm::failure_in_flight();
                }
                SCOPED_TRACE("model " + std::to_string(model) + ", edge " + std::to_string(k));
                ++cases;
                EXPECT_EQ(said.rfind("body 0, ", 0), 0u) << said;
                // Where a coedge's range was asked, the coedge is named with its edge's ends.
                if (said.find("the kernel failed") != std::string::npos) {
                    EXPECT_NE(said.find(", coedge "), std::string::npos) << said;
                    EXPECT_NE(said.find("(edge from ("), std::string::npos) << said;
                }
                api_del_entity(after);
            }
            api_del_entity(before);
        }
    // The kernel holds the last failure's error record: let the comparisons'
    // go, so that the tests after this one count from nothing of it.
    set_global_error_info(nullptr);
    EXPECT_EQ(cases, 3 * (12 + 4));
}
