// `xvelm import`: a neutral document through the connector into a kernel save
// file, healed by the recipe of the system it came from; a document that
// cannot be imported whole gives one line, exit status 1 and no file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>

#include <nlohmann/json.hpp>

#include "../../tools/xvelm/import_verb.hxx"
#include "../../tools/xvelm/info.hxx"
#include "assembly/docfeature_support.hxx"
#include "qelx/qelx_test.hxx"
#include "velm/errors.hxx"
#include "velm/insanity.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"

namespace {

namespace fs = std::filesystem;
using qelx_test::TestModel;

struct ImportRun {
    int status = -1;
    std::string out, err;
};

ImportRun runImport(const std::string& in, const std::string& out)
{
    std::unique_ptr<FILE, int (*)(FILE*)> o(std::tmpfile(), &std::fclose);
    std::unique_ptr<FILE, int (*)(FILE*)> e(std::tmpfile(), &std::fclose);
    ImportRun run;
    run.status = xvelm::importNeutral(in.c_str(), out.c_str(), o.get(), e.get());
    const auto read = [](FILE* f) {
        std::rewind(f);
        std::string text;
        for (int c; (c = std::fgetc(f)) != EOF;)
            text.push_back(static_cast<char>(c));
        return text;
    };
    run.out = read(o.get());
    run.err = read(e.get());
    return run;
}

// A folder of this process's own, removed with everything in it.
struct ImportScratch {
    explicit ImportScratch(const std::string& name)
        : path(fs::path(::testing::TempDir()) / (name + "_" + std::to_string(::getpid())))
    {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~ImportScratch() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    int entries() const
    {
        int n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(path))
            ++n;
        return n;
    }
    fs::path path;
};

TestModel blockAndCylinder()
{
    TestModel m = TestModel::block(1, 2, 3);
    m.append(TestModel::cylinder(1.0, 2.0));
    return m;
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The lines of the error stream that are the driver's own messages.
std::vector<std::string> messages(const std::string& err)
{
    std::vector<std::string> out;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("xvelm:", 0) == 0)
            out.push_back(line);
    return out;
}

class ImportVerb : public ::testing::Test {
protected:
    void SetUp() override
    {
        qelx_test::resetFramework();
        // The kernel keeps the last failed call's error record until another
        // replaces it: a failure an earlier test provoked is not this test's.
        set_global_error_info(nullptr);
        m_live = velm_live_object_count();
    }
    void TearDown() override
    {
        EXPECT_EQ(velm_live_object_count(), m_live) << "kernel objects left alive";
        qelx_test::resetFramework();
    }

private:
    long m_live = 0;
};

} // namespace

TEST_F(ImportVerb, WritesASaveFileOfTheHealedBodiesAndSummarises)
{
    const ImportScratch dir("xvelm_import_good");
    const std::string in = dir / "model.json", out = dir / "model.vlt";
    writeText(in, qelx_formats::writeNeutralText(blockAndCylinder()));
    const ImportRun run = runImport(in, out);
    ASSERT_EQ(run.status, 0) << run.err;
    // The framework's observer log keeps nothing of a driver's run (a record
    // per imported entity, for the life of the process), and records again after.
    EXPECT_TRUE(Gk_ObsWraper::log().empty()) << Gk_ObsWraper::log().size() << " records";
    Gk_ObsWraper("after").setOver();
    EXPECT_EQ(Gk_ObsWraper::log().size(), 1u);
    EXPECT_NE(run.out.find("model.json: 2 bodies, 9 faces, 15 edges imported to "), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("Body (2) done"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("ToVelmRepair (2) done"), std::string::npos) << run.err;
    EXPECT_TRUE(messages(run.err).empty()) << run.err;
    EXPECT_EQ(dir.entries(), 2) << "no temporary file stays";

    FILE* fp = std::fopen(out.c_str(), "r");
    ASSERT_NE(fp, nullptr);
    ENTITY_LIST restored;
    std::vector<ENTITY*> every;
    ASSERT_TRUE(api_restore_entity_list(fp, 1, restored, &every).ok()) << velm_last_restore_damage();
    std::fclose(fp);
    ASSERT_EQ(restored.count(), 2);
    const int faces[] = {6, 3}, edges[] = {12, 3};
    for (int i = 0; i < 2; ++i) {
        ENTITY_LIST f, e;
        api_get_faces(restored[i], f);
        api_get_edges(restored[i], e);
        EXPECT_EQ(f.count(), faces[i]);
        EXPECT_EQ(e.count(), edges[i]);
        insanity_list* findings = nullptr;
        ASSERT_TRUE(api_check_entity(restored[i], findings).ok());
        EXPECT_TRUE(!findings || findings->count() == 0);
        delete findings;
    }
    api_del_entity_list(restored);
}

TEST_F(ImportVerb, HealsByTheRecipeOfTheSystemTheDocumentCameFrom)
{
    const ImportScratch dir("xvelm_import_recipe");
    for (const char* system : {"XStep", "XTest"}) {
        SCOPED_TRACE(system);
        TestModel model = blockAndCylinder();
        model.xType = system;
        const std::string in = dir / "model.json", out = dir / (std::string(system) + ".vlt");
        writeText(in, qelx_formats::writeNeutralText(model));
        qelx_test::EventRecorder events;
        const ImportRun run = runImport(in, out);
        ASSERT_EQ(run.status, 0) << run.err;
        // The STEP recipe numbers its repair events from 0, body by body.
        std::vector<int> repairs;
        for (const qelx_test::EventRecord& r : events.records())
            if (r.kind == "StartRepair")
                repairs.push_back(r.number);
        if (std::string(system) == "XStep") {
            EXPECT_EQ(repairs, (std::vector<int>{0, 1}));
        } else {
            EXPECT_EQ(std::count(repairs.begin(), repairs.end(), 0), 0);
        }
        // The switches the run set are put back.
        EXPECT_FALSE(Ve_OptionDoc::isOn(Ve_OptionDoc::HealBodyPostProcessStep));
        EXPECT_FALSE(Ve_OptionDoc::isOn(Ve_OptionDoc::HealBody));
    }
}

TEST_F(ImportVerb, ADocumentThatCannotBeImportedWholeGivesOneLineAndNoFile)
{
    const ImportScratch dir("xvelm_import_bad");
    const std::string good = qelx_formats::writeNeutralText(blockAndCylinder());
    const auto edited = [&](const std::function<void(nlohmann::json&)>& edit) {
        nlohmann::json doc = nlohmann::json::parse(good);
        edit(doc);
        return doc.dump();
    };
    const auto spoiled = [](const std::function<void(TestModel&)>& spoil) {
        TestModel m = blockAndCylinder();
        spoil(m);
        return qelx_formats::writeNeutralText(m);
    };
    struct Case {
        const char* what;
        std::string text;
        const char* says; // a fragment of the one line
    };
    const std::vector<Case> cases = {
        {"not there", "", "cannot be opened"},
        {"not JSON", "{\"format\": ", "model.json"},
        {"a dangling reference", edited([](nlohmann::json& d) { d["coedges"][0]["edge"] = 999; }), "/coedges/0/edge"},
        {"a reference of the wrong kind", edited([](nlohmann::json& d) { d["coedges"][0]["edge"] = "edge 1"; }),
         "/coedges/0/edge"},
        {"duplicate ids", edited([](nlohmann::json& d) { d["faces"][1]["id"] = d["faces"][0]["id"]; }), "/faces/1"},
        {"a number that is not finite", [&] {
             std::string t = edited([](nlohmann::json& d) { d["points"][0]["xyz"][0] = 12345.5; });
             t.replace(t.find("12345.5"), 7, "1e999");
             return t;
         }(), "/points/0"},
        {"a face without geometry", spoiled([](TestModel& m) { m.faces[4].surface = -1; }),
         "part of it could not be imported: body 0, face 4: not imported, it has no surface (and 1 more)"},
        // Named as the driver names a face everywhere, counted in its own body.
        {"a face of the second body without geometry", spoiled([](TestModel& m) { m.faces[7].surface = -1; }),
         "part of it could not be imported: body 1, face 1: not imported, it has no surface (and 1 more)"},
        // Read whole, it was imported and the kernel's save refused the line, naming nothing.
        // (The writer refuses such a model: the document is edited.)
        {"a line through a point beyond any model", edited([](nlohmann::json& d) {
             for (auto& curve : d["curves"])
                 if (curve["type"] == "line") {
                     curve["point"][0] = 2147483647.0;
                     break;
                 }
         }),
         ": a point at x = 2147483647, beyond any model"},
        {"a loop that does not close", spoiled([](TestModel& m) { m.loops[2].coedges.pop_back(); }),
         "part of it could not be imported: body 0: not imported"},
        // Refused as "bad owner link", naming no face.
        {"a sheet's loop listing fewer coedges than claim it", [] {
             TestModel m = TestModel::twoFacesSharingEdge();
             m.loops[1].coedges.pop_back();
             return qelx_formats::writeNeutralText(m);
         }(),
         "body 0: not imported, loop 0, coedge 2: end vertex is not the next coedge's start vertex at body 0, "
         "face 1; no save file written"},
        {"an edge with three coedges", spoiled([](TestModel& m) { m.addThirdCoedge(0); }),
         "part of it could not be imported: body 0: not imported"},
        {"nothing in it", qelx_formats::writeNeutralText(TestModel()),
         "nothing in the file: no bodies, free surfaces, curves or points"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string in = dir / "model.json", out = dir / "model.vlt";
        fs::remove(in);
        if (std::string(c.what) != "not there")
            writeText(in, c.text);
        const ImportRun run = runImport(in, out);
        EXPECT_EQ(run.status, 1);
        const std::vector<std::string> lines = messages(run.err);
        ASSERT_EQ(lines.size(), 1u) << run.err;
        EXPECT_NE(lines[0].find(c.says), std::string::npos) << lines[0];
        EXPECT_FALSE(fs::exists(out));
        EXPECT_TRUE(run.out.empty());
        EXPECT_EQ(dir.entries(), std::string(c.what) == "not there" ? 0 : 1) << "nothing but the input";
    }
    // The input is never the output, by any name.
    const std::string in = dir / "model.json";
    writeText(in, good);
    fs::create_hard_link(in, dir / "same.vlt");
    const ImportRun same = runImport(in, dir / "same.vlt");
    EXPECT_EQ(same.status, 1);
    EXPECT_NE(same.err.find("is the input file"), std::string::npos) << same.err;
    EXPECT_EQ(runImport(in, dir.path.string()).status, 1) << "a folder is not a file";
}

TEST_F(ImportVerb, RandomlyDamagedDocumentsNeverCrashNorLeaveAnything)
{
    const ImportScratch dir("xvelm_import_mutations");
    const nlohmann::json good = nlohmann::json::parse(qelx_formats::writeNeutralText(blockAndCylinder()));
    std::mt19937 random(20261207);
    const auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    const char* tables[] = {"faces", "loops", "coedges", "edges", "vertices", "curves", "surfaces", "points"};
    int imported = 0, refused = 0;
    for (int round = 0; round < 24; ++round) {
        nlohmann::json doc = good;
        for (int k = 0; k < 2; ++k) {
            nlohmann::json& table = doc[tables[pick(std::size(tables))]];
            if (table.empty())
                continue;
            nlohmann::json& element = table[pick(table.size())];
            std::vector<std::string> keys;
            for (auto it = element.begin(); it != element.end(); ++it)
                if (it.key() != "id")
                    keys.push_back(it.key());
            nlohmann::json& field = element[keys[pick(keys.size())]];
            // An integer off by a little, a real scaled, an array cut short, a flag flipped.
            if (field.is_number_integer())
                field = field.get<long long>() + static_cast<long long>(pick(5)) - 2;
            else if (field.is_number_float())
                field = field.get<double>() * 1.5 + 0.25;
            else if (field.is_array() && !field.empty())
                field.erase(field.begin() + static_cast<long>(pick(field.size())));
            else if (field.is_boolean())
                field = !field.get<bool>();
        }
        SCOPED_TRACE("round " + std::to_string(round) + ": " + doc.dump().substr(0, 80));
        const std::string in = dir / "model.json", out = dir / "model.vlt";
        writeText(in, doc.dump());
        fs::remove(out);
        const ImportRun run = runImport(in, out);
        ASSERT_TRUE(run.status == 0 || run.status == 1) << run.err;
        if (run.status == 0) {
            ++imported;
            EXPECT_TRUE(fs::exists(out));
        } else {
            ++refused;
            EXPECT_EQ(messages(run.err).size(), 1u) << run.err;
            EXPECT_FALSE(fs::exists(out));
        }
    }
    // Both ways out are met.
    EXPECT_GT(refused, 0);
    EXPECT_GT(imported, 0);
}

TEST_F(ImportVerb, AKernelFailureAnywhereFailsTheRunWithNothingLeft)
{
    const ImportScratch dir("xvelm_import_kernel");
    const std::string in = dir / "model.json", out = dir / "model.vlt";
    writeText(in, qelx_formats::writeNeutralText(blockAndCylinder()));
    // Allocations fail at points spread over the whole run: building, healing,
    // committing, saving. A computation that only refines (a pcurve fitted
    // for speed) may go without; what the run presents is whole or nothing.
    for (long nth : {1L, 40L, 300L, 1500L, 6000L, 20000L}) {
        SCOPED_TRACE("allocation " + std::to_string(nth));
        fs::remove(out);
        velm_test_fail_alloc(nullptr, nth);
        const ImportRun run = runImport(in, out);
        velm_test_reset();
        ASSERT_TRUE(run.status == 0 || run.status == 1) << run.err;
        if (run.status == 1) {
            EXPECT_EQ(messages(run.err).size(), 1u) << run.err;
            EXPECT_FALSE(fs::exists(out));
            continue;
        }
        FILE* fp = std::fopen(out.c_str(), "r");
        ASSERT_NE(fp, nullptr);
        ENTITY_LIST restored;
        std::vector<ENTITY*> every;
        ASSERT_TRUE(api_restore_entity_list(fp, 1, restored, &every).ok()) << velm_last_restore_damage();
        std::fclose(fp);
        ASSERT_EQ(restored.count(), 2);
        ENTITY_LIST faces;
        api_get_faces(restored[0], faces);
        api_get_faces(restored[1], faces);
        EXPECT_EQ(faces.count(), 9);
        api_del_entity_list(restored);
    }
}

TEST_F(ImportVerb, ASaveFileThatCannotBeWrittenWholeLeavesNothing)
{
    const ImportScratch dir("xvelm_import_short");
    const std::string in = dir / "model.json", out = dir / "model.vlt";
    writeText(in, qelx_formats::writeNeutralText(blockAndCylinder()));
    // The kernel's text goes to the file as it comes: a write refused part way
    // (a file-size limit, as a full disk) fails the run with the file's reason
    // and takes the part already written away.
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const ImportRun run = runImport(in, out);
    setrlimit(RLIMIT_FSIZE, &before);
    set_global_error_info(nullptr); // the failed save's error record is the caller's to drop
    std::signal(SIGXFSZ, oldSignal);
    EXPECT_EQ(run.status, 1);
    const std::vector<std::string> lines = messages(run.err);
    ASSERT_EQ(lines.size(), 1u) << run.err;
    EXPECT_NE(lines[0].find("model.vlt write failed (File too large)"), std::string::npos) << lines[0];
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_EQ(dir.entries(), 1) << "only the document stays";
}

// Names, colours and layers (and the layer's group) come through an import
// as through a conversion: the import verb left them behind without a word.
TEST_F(ImportVerb, NamesColoursAndLayersTravelWithTheBodies)
{
    const ImportScratch dir("xvelm_import_named");
    const std::string example = std::string(XVELM_EXAMPLES_DIR) + "/shapes.vlt";
    const std::string doc = dir / "shapes.json", out = dir / "shapes.vlt";
    const auto infoText = [](const std::string& path) {
        std::unique_ptr<FILE, int (*)(FILE*)> o(std::tmpfile(), &std::fclose), e(std::tmpfile(), &std::fclose);
        EXPECT_EQ(xvelm::info(path.c_str(), o.get(), e.get()), 0);
        std::rewind(o.get());
        std::string text;
        for (int c; (c = std::fgetc(o.get())) != EOF;)
            text.push_back(static_cast<char>(c));
        return text;
    };
    {
        std::unique_ptr<FILE, int (*)(FILE*)> o(std::tmpfile(), &std::fclose), e(std::tmpfile(), &std::fclose);
        ASSERT_EQ(xvelm::exportNeutral(example.c_str(), doc.c_str(), o.get(), e.get()), 0);
    }
    ASSERT_EQ(runImport(doc, out).status, 0);
    const std::string before = infoText(example), after = infoText(out);
    int carried = 0;
    std::istringstream lines(before);
    for (std::string line; std::getline(lines, line);)
        if (line.find("ATTRIB_XVELM_NAME") != std::string::npos || line.find(": rgb ") != std::string::npos ||
            line.find("ATTRIB_XVELM_LAYER") != std::string::npos || line.rfind("group with", 0) == 0) {
            EXPECT_NE(after.find(line + "\n"), std::string::npos) << line << "\n" << after;
            ++carried;
        }
    EXPECT_EQ(carried, 5); // two names, a colour, a layer and the layer's group
}

// A document's layer filters and groups (a group nested in another, members
// by body and by face) come through an import with the bodies they name:
// the import verb and the conversion left them behind without a word.
TEST_F(ImportVerb, LayerFiltersAndGroupsTravelWithTheBodiesTheyName)
{
    using qelx_test::wordOf;
    TestModel m = blockAndCylinder();
    m.attributes[wordOf(qelx_test::KindBody, 0)].name = "block";
    m.attributes[wordOf(qelx_test::KindBody, 0)].layer = 4;
    m.attributes[wordOf(qelx_test::KindBody, 1)].name = "pin";
    m.attributes[wordOf(qelx_test::KindBody, 1)].layer = 7;
    m.attributes[wordOf(qelx_test::KindFace, 7)].name = "pin side";
    m.layers[4] = qelx_test::TestLayer{"Glass", {0, 0, 1, 1}, false};
    m.layers[7] = qelx_test::TestLayer{"Steel", {1, 0, 0, 1}, true};
    m.layerFilters = {{"All", QELX_LayerFilterAll, {}, false}, {"Metal", QELX_LayerFilterListed, {7}, true}};
    m.groups = {{"Outer", {wordOf(qelx_test::KindBody, 0), wordOf(qelx_test::KindGroup, 1)}, true},
                {"Inner", {wordOf(qelx_test::KindFace, 7)}, false}};
    // Through the document's text, as the verbs read it.
    TestModel read = qelx_formats::readNeutralText(qelx_formats::writeNeutralText(m), "features.json");
    QELXVelmDocument target;
    std::string failure;
    ASSERT_TRUE(xvelm::prepare_import_target(target, read.xType, failure)) << failure;
    xvelm::SwitchesForRun carried;
    xvelm::carry_attributes(carried);
    xvelm::ImportCounts counts;
    ASSERT_TRUE(xvelm::import_model(std::move(read), target, counts, failure)) << failure;
    std::vector<std::string> found = dftest::describeFeatures(target);
    std::sort(found.begin(), found.end());
    const std::vector<std::string> expected = {
        "group {block {pin side } }",
        "layer filter All type 0 {layer4 layer7 }",
        "layer filter Metal type 1 current {layer7 }",
        "layer4 Glass",
        "layer7 Steel",
    };
    EXPECT_EQ(found, expected);
}

TEST_F(ImportVerb, WhatARoadKeptForHealingIsImportedAndTold)
{
    // A sheet whose loop lists three of its four coedges is closed, imported
    // and healed, and said, where a warning of what a road lost (the face
    // without geometry above) fails the run. The loop is closed across the
    // gap by an edge known only within the gap, wider than a file carries:
    // healing's verdict says so, naming the body and the edge.
    const ImportScratch dir("xvelm_import_kept");
    TestModel m = TestModel::planeFace();
    m.loops[0].coedges.pop_back();
    const std::string in = dir / "model.json", out = dir / "model.vlt";
    writeText(in, qelx_formats::writeNeutralText(m));
    const ImportRun run = runImport(in, out);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = messages(run.err);
    ASSERT_EQ(lines.size(), 2u) << run.err;
    // The face named as every failure names it, not by its identifier.
    EXPECT_NE(lines[0].find("warning: " + in + ": body 0, face 0: loop 1 is open"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("warning: " + in + ": healed body 0 of 1 is not sound: a file cannot carry it as it is "
                            "(known only within 1 at edge "),
              std::string::npos)
        << lines[1];
    EXPECT_TRUE(fs::exists(out));
}

// A warning of what a road kept names the source's face as every failure
// does ("body 1, face 2", counting from 0 among the body's faces), not by its
// identifier, whichever body and face it is: three sheet bodies of one, two
// and three square faces (each in a shell of its own, as the trim road takes
// them), one loop of each face in turn short of a coedge.
TEST_F(ImportVerb, WarningsNameTheFaceByItsBodyAndPlace)
{
    const ImportScratch dir("xvelm_import_places");
    TestModel sound;
    std::vector<std::vector<int>> faces(3);
    for (std::size_t b = 0; b < faces.size(); ++b) {
        int shell = -1;
        const int body = sound.addSheetBody(shell);
        for (std::size_t k = 0; k <= b; ++k) {
            if (k > 0) {
                sound.shells.emplace_back();
                shell = static_cast<int>(sound.shells.size()) - 1;
                sound.bodies[static_cast<std::size_t>(body)].shells2D.push_back(shell);
            }
            const double x = 2.0 * static_cast<double>(k), z = 3.0 * static_cast<double>(b);
            const int plane = sound.addPlane({x, 0, z}, {1, 0, 0}, {0, 0, 1});
            const int p = sound.addVertex({x, 0, z}), q = sound.addVertex({x + 1, 0, z}),
                      r = sound.addVertex({x + 1, 1, z}), s = sound.addVertex({x, 1, z});
            faces[b].push_back(sound.addPolygonFace(shell, plane, {{p, q, r, s}}));
        }
    }
    for (std::size_t body = 0; body < faces.size(); ++body)
        for (std::size_t face = 0; face < faces[body].size(); ++face) {
            const std::string name = "body " + std::to_string(body) + ", face " + std::to_string(face);
            SCOPED_TRACE(name);
            TestModel m = sound;
            m.loops[static_cast<std::size_t>(m.faces[static_cast<std::size_t>(faces[body][face])].loops[0])]
                .coedges.pop_back();
            const std::string in = dir / "model.json", out = dir / "model.vlt";
            writeText(in, qelx_formats::writeNeutralText(m));
            const ImportRun run = runImport(in, out);
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_NE(run.err.find("warning: " + in + ": " + name + ": loop 1 is open"), std::string::npos) << run.err;
            EXPECT_EQ(run.err.find("BRep face"), std::string::npos) << run.err;
            fs::remove(out);
        }
}
