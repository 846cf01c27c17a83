// The neutral document's writers refuse what its reader refuses: a model the
// reader would refuse (a pcurve winding round its cylinder 3.4e8 times, an
// edge's range beyond any model) is never written, and the refusal names
// the element and the body and face or edge it belongs to; whatever either
// writer writes, the reader reads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../../tools/xvelm/convert_verb.hxx"
#include "../../tools/xvelm/export_verb.hxx"
#include "qelx/framework_walk.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx/test_exporters.hxx"
#include "qelx_formats/neutral_document.hxx"
#include "support/geometry_builders.hxx"
#include "support/in_turn.hxx"
#include "support/query_builders.hxx"
#include "support/save_file_words.hxx"
#include "velm/build.hxx"
#include "velm/testkit.hxx"

namespace {

namespace fs = std::filesystem;

struct JudgedRun {
    int status = -1;
    std::string err;
};

std::string judgedFileText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// `xvelm convert IN OUT` (`convert`) or `xvelm export IN OUT`.
JudgedRun runJudgedVerb(bool convert, const fs::path& in, const fs::path& out)
{
    std::unique_ptr<FILE, int (*)(FILE*)> o(std::tmpfile(), &std::fclose);
    std::unique_ptr<FILE, int (*)(FILE*)> e(std::tmpfile(), &std::fclose);
    JudgedRun run;
    run.status = convert ? xvelm::convert(in.c_str(), out.c_str(), nullptr, o.get(), e.get())
                         : xvelm::exportNeutral(in.c_str(), out.c_str(), o.get(), e.get());
    std::rewind(e.get());
    for (int c; (c = std::fgetc(e.get())) != EOF;)
        run.err.push_back(static_cast<char>(c));
    return run;
}

std::string judgedLastLine(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text.substr(text.rfind('\n') + 1);
}

// The writer's refusal of the model ("" when it writes it); a written text
// is read back, and its reader's refusal is the failure.
std::string writtenOrRefusedText(const qelx_test::TestModel& m, std::string& readerRefusal)
{
    std::string text;
    try {
        text = qelx_formats::writeNeutralText(m);
    } catch (const qelx_formats::NeutralDocumentError& e) {
        return e.what();
    }
    try {
        qelx_formats::readNeutralText(text, "written.json");
    } catch (const qelx_formats::NeutralDocumentError& e) {
        readerRefusal = e.what();
    }
    return "";
}

} // namespace

// A save file whose pcurve runs 3.4e8 times round its cylinder (a control
// point of its spline moved that many turns along the side) restores, and
// both `xvelm convert` and `xvelm export` wrote a document that their own
// reader refused. Every pcurve of the example is moved so in turn: each run
// is refused naming the coedge, its face and body, with no file left, or
// writes a document the reader reads.
TEST(NeutralWriterJudgement, APcurveWindingRoundItsSurfaceIsRefusedNamingItsFaceAndBody)
{
    qelx_test::resetFramework();
    const fs::path folder = fs::path(::testing::TempDir()) / ("xvelm_writer_judgement_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path in = folder / "wound.vlt", out = folder / "wound.json";
    const testkit::SaveFileWords example =
        testkit::SaveFileWords::parse(judgedFileText(fs::path(XVELM_EXAMPLES_DIR) / "shapes.vlt"));
    const std::string turns = std::to_string(2.0 * M_PI * 3.4e8);
    int wound = 0, records = 0;
    for (int r = example.find("pcurve"); r >= 0; r = example.find("pcurve", r), ++records) {
        // Field 11: a parameter of a control point of the spline. The
        // pcurves of the cylinder's circles (from -pi or pi round) go
        // through both verbs, the others through one in turn.
        const std::string& v = example.records[static_cast<std::size_t>(r)][11];
        const bool circle = v == "-3.1415926535897931" || v == "3.1415926535897931";
        for (const bool convert : {true, false}) {
            if (!circle && !in_turn::taken(static_cast<std::size_t>(records), convert ? 0 : 1, 2))
                continue;
            SCOPED_TRACE(std::string(convert ? "convert" : "export") + ", pcurve record " + std::to_string(r));
            testkit::SaveFileWords damaged = example;
            damaged.records[static_cast<std::size_t>(r)][11] = turns;
            std::ofstream(in, std::ios::binary) << damaged.text();
            const JudgedRun run = runJudgedVerb(convert, in, out);
            if (run.status == 0) {
                qelx_test::TestModel model;
                std::string error;
                EXPECT_EQ(qelx_formats::readNeutralDocument(out.string(), model, error), 0u) << error;
                fs::remove(out);
                continue;
            }
            EXPECT_EQ(run.status, 1);
            EXPECT_FALSE(fs::exists(out));
            const std::string line = judgedLastLine(run.err);
            if (line.find("times round its surface") == std::string::npos)
                continue;
            ++wound;
            EXPECT_EQ(line.rfind("xvelm: ", 0), 0u) << line;
            EXPECT_NE(line.find(": /coedges/"), std::string::npos) << line;
            EXPECT_NE(line.find("/domain (body "), std::string::npos) << line;
            EXPECT_NE(line.find(", face "), std::string::npos) << line;
            EXPECT_NE(line.find(", which a document cannot hold"), std::string::npos) << line;
            EXPECT_EQ(line.find("unexpected"), std::string::npos) << line;
        }
    }
    EXPECT_GT(records, 0);
    EXPECT_GT(wound, 0);
    fs::remove_all(folder);
}

// Seeded kernel bodies (a box, a cylinder, a hemisphere, a torus band, a
// spline sheet) in every frame, walked as the driver walks them, then
// spoiled at random (a curve's or pcurve's scale, a range, a domain, a point
// multiplied or moved by turns): whatever the text writer writes, the reader
// reads, and the streaming writer refuses exactly what it refuses.
TEST(NeutralWriterJudgement, WhatEitherWriterWritesItsReaderReads)
{
    qelx_test::resetFramework();
    const fs::path path = fs::path(::testing::TempDir()) / ("xvelm_writer_stream_" + std::to_string(::getpid()) + ".json");
    const std::vector<testkit::KernelFrame> frames = testkit::kernel_frames();
    int refused = 0, written = 0;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        SCOPED_TRACE(frames[f].name);
        ENTITY_LIST top;
        for (BODY* body : {testkit::make_plane_box(3, 4, 5), testkit::make_cylinder(2, 3), testkit::make_hemisphere(2),
                           testkit::make_torus_band(true), testkit::make_spline_sheet()}) {
            ASSERT_TRUE(api_apply_transf(body, frames[f].transform).ok());
            ASSERT_TRUE(api_change_body_trans(body).ok());
            top.add(body);
        }
        qelx_test::TestModel walked;
        xvelm::ExportCounts counts;
        std::string failure;
        ENTITY_LIST made;
        ASSERT_TRUE(xvelm::walk_document(top, walked, counts, failure, qelx_test::kWalkAllAttributes, nullptr, &made))
            << failure;
        api_del_entity_list(top);
        api_del_entity_list(made); // none: no loose entities
        std::string readerRefusal;
        ASSERT_EQ(writtenOrRefusedText(walked, readerRefusal), "");
        ASSERT_EQ(readerRefusal, "");
        std::mt19937 random(static_cast<unsigned>(101 + f));
        const double factors[] = {1e3, 1e6, 3.4e8, -2e9, 1e101};
        for (int trial = 0; trial < 30; ++trial) {
            qelx_test::TestModel m = walked;
            std::string spoiled;
            const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
            for (int k = 0, n = 1 + static_cast<int>(pick(2)); k < n; ++k) {
                const double factor = factors[pick(std::size(factors))];
                const double turnsOn = 2.0 * M_PI * static_cast<double>(1 + pick(1000000));
                switch (pick(6)) {
                case 0: {
                    const std::size_t i = pick(m.curves.size());
                    m.curves[i].scale *= factor;
                    spoiled += "curve " + std::to_string(i) + " scale; ";
                    break;
                }
                case 1: {
                    const std::size_t i = pick(m.pcurves.size());
                    m.pcurves[i].scale *= factor;
                    spoiled += "pcurve " + std::to_string(i) + " scale; ";
                    break;
                }
                case 2: {
                    const std::size_t i = pick(m.edges.size());
                    m.edges[i].domain[1] *= factor;
                    spoiled += "edge " + std::to_string(i) + " range; ";
                    break;
                }
                case 3: {
                    const std::size_t i = pick(m.coedges.size());
                    m.coedges[i].domain[1] += turnsOn;
                    spoiled += "coedge " + std::to_string(i) + " range; ";
                    break;
                }
                case 4: {
                    const std::size_t i = pick(m.faces.size());
                    m.faces[i].uDomain[1] *= factor;
                    spoiled += "face " + std::to_string(i) + " domain; ";
                    break;
                }
                default: {
                    qelx_test::TestPCurve& p = m.pcurves[pick(m.pcurves.size())];
                    if (!p.nurbs.ctrl.empty())
                        p.nurbs.ctrl[pick(p.nurbs.ctrl.size())] += turnsOn;
                    spoiled += "pcurve control point; ";
                }
                }
            }
            SCOPED_TRACE("trial " + std::to_string(trial) + ": " + spoiled);
            readerRefusal.clear();
            const std::string refusal = writtenOrRefusedText(m, readerRefusal);
            EXPECT_EQ(readerRefusal, "") << "written, and refused by its reader";
            if (refusal.empty())
                ++written;
            else
                ++refused;
            // The streaming writer, over the same model walked again.
            qelx_test::TestDocument document(m);
            qelx_test::TestBRepExporter exporter(&document);
            qelx_formats::NeutralDocumentStream stream(path.string());
            qelx_test::walkExporter(&exporter, stream);
            std::string reason;
            const QELIResult committed = stream.commit(reason);
            EXPECT_EQ(committed == QELI_OK, refusal.empty()) << reason << " / " << refusal;
            if (committed != QELI_OK)
                EXPECT_EQ(reason, refusal);
            fs::remove(path);
        }
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(written, 0);
}
