// Failure injection over the driver's verbs as it runs them: `xvelm export`
// of a save file with every kind of body, attributes, a group and an
// assembly; `xvelm import` of that model as a neutral document, and of a
// document whose block carries names, colours, layers and nested groups;
// `xvelm roundtrip` and `xvelm info` of the save file; `xvelm export`,
// `convert` and `roundtrip` of a save file of loose entities beside a box
// (a free point, a vertex, an edge and a face). One kernel call (or,
// separately, one allocation) fails in turn. Every run ends without a crash
// and with nothing alive; a run that answers 0 printed and wrote exactly
// what the clean run did (a healing verb may write a sound model short of the
// clean one only with a warning naming what the failure stopped), and any
// other run answers 1 with one line naming what failed, leaving no output
// file and no temporary file behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../../tools/xvelm/convert_verb.hxx"
#include "../../tools/xvelm/export_verb.hxx"
#include "../../tools/xvelm/import_verb.hxx"
#include "../../tools/xvelm/info.hxx"
#include "../../tools/xvelm/roundtrip_verb.hxx"
#include "persist/persistent_class.hxx"
#include "persist/ve_assem_delete_mgr.hxx"
#include "persist/ve_part.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_formats/neutral_document.hxx"
#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/connector_test.hxx"
#include "support/repair_sweep.hxx"
#include "velm/groups.hxx"
#include "velm/memory.hxx"
#include "velm/surface_build.hxx"
#include "velm/testkit.hxx"

namespace {

namespace fs = std::filesystem;

// Per process: CTest runs test programs side by side.
const fs::path folder = fs::path(::testing::TempDir()) / ("xvelm_verb_sweep_" + std::to_string(::getpid()));

// The file's text, byte for byte ("" when there is none).
std::string readWhole(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// What two runs may differ in and still have done the same: a save file's
// date of saving (its second line) and its entity numbers (after each
// record's first $), and the seconds a summary line gives.
std::string sameRunText(const std::string& text, bool saveFile)
{
    std::istringstream lines(text);
    std::string plain;
    static const std::regex seconds("in [0-9]+\\.[0-9]+ s");
    int n = 0;
    for (std::string line; std::getline(lines, line); ++n) {
        if (saveFile && n == 1)
            continue;
        if (saveFile) {
            const std::size_t attribute = line.find('$');
            const std::size_t number = attribute == std::string::npos ? attribute : line.find(' ', attribute);
            const std::size_t after = number == std::string::npos ? number : line.find(' ', number + 1);
            if (after != std::string::npos)
                line.replace(number + 1, after - number - 1, "#");
        }
        plain += std::regex_replace(line, seconds, "in # s") + '\n';
    }
    return plain;
}

// The warning lines of `err` that `cleanErr` does not hold, "" when none.
std::string newWarnings(const std::string& err, const std::string& cleanErr)
{
    std::istringstream lines(err);
    std::string fresh;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("xvelm: warning: ", 0) == 0 && cleanErr.find(line) == std::string::npos)
            fresh += line + '\n';
    return fresh;
}

// A save file's records as a healing that a failure stopped may leave them:
// every record's kind in order, attributes, groups and collections whole; the
// numbers of geometry and topology (which the healing settles) left out.
std::string recordKinds(const std::string& saveText)
{
    std::istringstream lines(saveText);
    std::string kinds;
    int n = 0;
    for (std::string line; std::getline(lines, line); ++n) {
        const bool whole = n < 2 || line.find(" attrib ") != std::string::npos ||
                           line.find("group") != std::string::npos || line.find("collection") != std::string::npos;
        const std::size_t first = line.find(' ');
        const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        kinds += (whole ? line : line.substr(0, second)) + '\n';
    }
    return kinds;
}

// "" when equal, else the first line that differs in each.
std::string firstDifference(const std::string& a, const std::string& b)
{
    std::istringstream x(a), y(b);
    std::string p, q;
    for (int line = 1;; ++line) {
        const bool more = static_cast<bool>(std::getline(x, p)), moreToo = static_cast<bool>(std::getline(y, q));
        if (!more && !moreToo)
            return "";
        if (p != q || more != moreToo)
            return "line " + std::to_string(line) + ": " + p.substr(0, 200) + "\n  clean: " + q.substr(0, 200);
    }
}

// Solids of exact geometry, a B-spline sheet, a wire and a lone point, a
// name, a colour, a group and an assembly placing the cylinder.
void writeEveryKind(const std::string& path)
{
    registerPersistentClasses();
    BODY* box = testkit::make_plane_box(4.0, 5.0, 6.0);
    api_add_generic_named_attribute(box, "ATTRIB_XVELM_NAME", "box");
    FACE* top = box->lump()->shell()->face();
    new ATTRIB_RGB(top->next(), 0.0, 1.0, 0.0);
    auto* group = new QELGROUP;
    api_ct_add_to_group(top, group);
    // An assembly leaf placing a body of the top level: the walk reaches the
    // body as a solid, and the assembly is deleted with the rest.
    BODY* cylinder = testkit::make_cylinder(2.0, 3.0);
    auto* assembly = new VE_ASSEMBLY(nullptr, nullptr, QELtransf());
    assembly->appendPart(new VE_PART(cylinder, QELtransf()));
    ENTITY_LIST list;
    for (ENTITY* e : {static_cast<ENTITY*>(box), static_cast<ENTITY*>(cylinder),
                      static_cast<ENTITY*>(testkit::make_hemisphere(2.0)),
                      static_cast<ENTITY*>(testkit::make_spline_sheet()),
                      static_cast<ENTITY*>(testkit::make_wire_body(2, false)),
                      static_cast<ENTITY*>(testkit::make_vertex_body(QELposition(1, 2, 3))),
                      static_cast<ENTITY*>(group), static_cast<ENTITY*>(assembly)})
        list.add(e);
    FILE* fp = std::fopen(path.c_str(), "w");
    EXPECT_TRUE(api_save_entity_list(fp, 1, list).ok());
    std::fclose(fp);
    Ve_AssemDeleteMgr tree(assembly);
    tree.loseAssem();
    list.remove(assembly);
    list.remove(cylinder); // went with the assembly
    api_del_entity_list(list);
}

// A box beside top-level entities that are no bodies: a free point, a
// loose vertex, a loose straight edge and a loose plane face, each of which
// the export makes into a body of its own.
void writeLooseEntities(const std::string& path)
{
    const QELinterval range(0.0, 2.0);
    FACE* face = nullptr;
    ASSERT_TRUE(api_face_plane(QELposition(0, 0, 9), 2.0, 3.0, nullptr, face).ok());
    ENTITY_LIST list;
    for (ENTITY* e : {static_cast<ENTITY*>(testkit::make_plane_box(4.0, 5.0, 6.0)),
                      static_cast<ENTITY*>(new APOINT(7.0, 8.0, 9.0)),
                      static_cast<ENTITY*>(new VERTEX(new APOINT(-1.0, -2.0, -3.0))),
                      static_cast<ENTITY*>(new EDGE(new VERTEX(new APOINT(0.0, 7.0, 0.0)),
                                                    new VERTEX(new APOINT(2.0, 7.0, 0.0)),
                                                    new STRAIGHT(straight(QELposition(0.0, 7.0, 0.0),
                                                                          QELunit_vector(1.0, 0.0, 0.0))),
                                                    FORWARD, EDGE_cvty_unknown, &range)),
                      static_cast<ENTITY*>(face)})
        list.add(e);
    FILE* fp = std::fopen(path.c_str(), "w");
    EXPECT_TRUE(api_save_entity_list(fp, 1, list).ok());
    std::fclose(fp);
    for (int i = 0; i < list.count(); ++i)
        api_del_entity(list[i]);
}

// A block named and coloured, on a layer, one face red, named and on a
// layer of its own, the block and a face in a group nested in another, and
// an edge in a group: what the import hands to layers, groups and
// attributes.
void writeAttributedBlock(const std::string& path)
{
    using namespace qelx_test;
    TestModel m = TestModel::block(3, 2, 1);
    m.layers[4] = TestLayer{"Plates", {0, 0, 1, 1}, true};
    m.layers[7] = TestLayer{"Marked", {1, 0, 0, 1}, false};
    TestAttributes& body = m.attributes[wordOf(KindBody, 0)];
    body.name = "block";
    body.color = std::array<double, 4>{0.2, 0.4, 0.8, 0.0};
    body.layer = 4;
    TestAttributes& face = m.attributes[wordOf(KindFace, 1)];
    face.name = "top";
    face.color = std::array<double, 4>{0.9, 0.1, 0.1, 0.0};
    face.layer = 7;
    m.groups.push_back({"edges", {wordOf(KindEdge, 0)}});
    m.groups.push_back({"outer", {wordOf(KindGroup, 2), wordOf(KindBody, 0)}});
    m.groups.push_back({"inner", {wordOf(KindFace, 2)}, false});
    std::string error;
    EXPECT_EQ(qelx_formats::writeNeutralDocument(m, path, error), QELI_OK) << error;
}

// What the strict checker finds in the bodies of a save file, restored.
std::string restoredProblems(const std::string& path)
{
    xvelm::restored_model model;
    std::unique_ptr<FILE, int (*)(FILE*)> e(std::tmpfile(), &std::fclose);
    if (!xvelm::restore_file(path.c_str(), model.top, model.every, e.get()))
        return "the file does not restore";
    std::string problems;
    for (int i = 0; i < model.top.count(); ++i)
        if (is_BODY(model.top[i]))
            problems += testkit::model_problems(model.top[i]);
    return problems;
}

// The verb as the driver calls it: input, output (for verbs that write one), streams.
using Verb = std::function<int(const char* in, const char* out, FILE* o, FILE* e)>;

struct VerbCase {
    std::string name;
    Verb run;
    // "every-kind.vlt"; "shapes.vlt", the example of every kind of body the
    // import takes (no lone point, no assembly), or its export "shapes.json";
    // "attributed.json"; "loose.vlt"
    const char* input;
    const char* output; // "" for a verb that writes no file
    long ciRuns;        // sampled runs in an ordinary test run; 0: every call, and every third allocation
    // The verb heals what it imports: a failure inside one body's healing
    // stops it there (sound, its records as the clean run's, their numbers
    // as the healing got them), as conversions absorb it.
    bool heals = false;
    // Kernel functions every call of which fails in turn, in every run: where
    // a failure was once passed over (a summary's count, an attribute, a
    // layer or a group the kernel refused), which the samples may miss.
    std::vector<const char*> everyCallOf = {};
    // Sources (as allocations are tracked: a pair's name, a kernel source
    // file) every allocation of which fails in turn, in every run: where a
    // failed allocation was once passed over (a wire edge never made, a
    // body's link to its source, a box the tolerancing needed).
    std::vector<const char*> everyAllocationOf = {};
};

std::ostream& operator<<(std::ostream& out, const VerbCase& c)
{
    return out << c.name;
}

std::vector<VerbCase> verbCases()
{
    const Verb exportVerb = [](const char* in, const char* out, FILE* o, FILE* e) {
        return xvelm::exportNeutral(in, out, o, e);
    };
    const Verb importVerb = [](const char* in, const char* out, FILE* o, FILE* e) {
        return xvelm::importNeutral(in, out, o, e);
    };
    const Verb roundtripVerb = [](const char* in, const char*, FILE* o, FILE* e) { return xvelm::roundtrip(in, o, e); };
    const Verb infoVerb = [](const char* in, const char*, FILE* o, FILE* e) { return xvelm::info(in, o, e); };
    const Verb convertVerb = [](const char* in, const char* out, FILE* o, FILE* e) {
        return xvelm::convert(in, out, nullptr, o, e);
    };
    return {
        {"export", exportVerb, "every-kind.vlt", "out.json", 32, false, {"api_get_faces", "api_get_edges"}},
        {"import", importVerb, "shapes.json", "out.vlt", 16, true, {"api_get_edges"},
         {"QELXVelmWEdgePair", "QELXVelmWVertexPair", "QELXVelmBRepImporter", "bspline_ops"}},
        {"import_attributed", importVerb, "attributed.json", "out.vlt", 16, true,
         {"Ve_AttribTransfer::setColor", "api_add_generic_named_attribute", "api_ct_add_to_group",
          "api_add_to_collection"}},
        {"roundtrip", roundtripVerb, "shapes.vlt", "", 16, true,
         {"api_get_wires", "api_find_named_attribute", "api_ct_return_groups"}},
        {"info", infoVerb, "every-kind.vlt", "", 16},
        // The bodies the export makes of loose entities go on every way out.
        {"export_loose", exportVerb, "loose.vlt", "out.json", 16, false, {"api_make_ewire", "api_mk_by_faces"}},
        {"convert_loose", convertVerb, "loose.vlt", "out.json", 16, false, {"api_make_ewire", "api_mk_by_faces"}},
        {"roundtrip_loose", roundtripVerb, "loose.vlt", "", 16},
    };
}

struct VerbRun {
    int status = -1;
    std::string out, err;
};

std::string streamText(FILE* f)
{
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;)
        text.push_back(static_cast<char>(c));
    return text;
}

// The last line of a stream's text.
std::string lastLineOf(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    const auto at = text.find_last_of('\n');
    return at == std::string::npos ? text : text.substr(at + 1);
}

class VerbSweep : public ::testing::TestWithParam<VerbCase> {
protected:
    void SetUp() override
    {
        fs::create_directories(folder);
        qelx_test::resetFramework();
        velm_test_reset();
        const std::string input = GetParam().input;
        const fs::path shapes = fs::path(XVELM_EXAMPLES_DIR) / "shapes.vlt";
        if (input == "every-kind.vlt") {
            writeEveryKind((folder / input).string());
        } else if (input == "loose.vlt") {
            writeLooseEntities((folder / input).string());
        } else if (input == "shapes.vlt") {
            fs::copy_file(shapes, folder / input);
        } else if (input == "shapes.json") {
            std::unique_ptr<FILE, int (*)(FILE*)> o(std::tmpfile(), &std::fclose);
            ASSERT_EQ(xvelm::exportNeutral(shapes.c_str(), (folder / input).c_str(), o.get(), o.get()), 0);
        } else {
            writeAttributedBlock((folder / input).string());
        }
        in = (folder / input).string();
        out = *GetParam().output ? (folder / GetParam().output).string() : "";
        saveFile = out.size() > 4 && out.substr(out.size() - 4) == ".vlt";
        qelx_test::resetFramework();
        velm_test_reset();
        velm_test_record_calls(true);
        const long objects = velm_live_object_count();
        const VerbRun run = runVerb();
        callNames = velm_test_failable_calls();
        allocations = velm_test_allocation_count();
        velm_test_reset();
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(velm_live_object_count(), objects) << "kernel objects left alive by the clean run";
        clean = run;
        cleanOutput = out.empty() ? "" : sameRunText(readWhole(out), saveFile);
        if (!out.empty())
            fs::remove(out);
    }
    void TearDown() override
    {
        qelx_test::resetFramework();
        velm_test_reset();
        fs::remove_all(folder);
    }

    VerbRun runVerb() const
    {
        std::unique_ptr<FILE, int (*)(FILE*)> o(std::tmpfile(), &std::fclose);
        std::unique_ptr<FILE, int (*)(FILE*)> e(std::tmpfile(), &std::fclose);
        VerbRun run;
        run.status = GetParam().run(in.c_str(), out.c_str(), o.get(), e.get());
        run.out = streamText(o.get());
        run.err = streamText(e.get());
        return run;
    }

    // False once the injection no longer fires: the verb is shorter than asked.
    bool runOnce(const std::function<void()>& arm, const std::string& what)
    {
        qelx_test::resetFramework();
        velm_test_reset();
        // Sites of what the verb makes, so that a leak says where it was made.
        velm_test_record_object_sites(true);
        const long objects = velm_live_object_count();
        arm();
        const VerbRun run = runVerb();
        const bool fired = !velm_test_injection_pending();
        const std::string hit = velm_test_last_injected_call();
        const std::string where = what + " (" + hit + "): " + run.err;
        velm_test_reset();
        set_global_error_info(nullptr);
        if (!fired) {
            if (!out.empty())
                fs::remove(out);
            return false;
        }
        EXPECT_EQ(velm_live_object_count(), objects) << where << "kernel objects left alive: " << testkit::live_object_sites();
        if (run.status == 0) {
            EXPECT_EQ(firstDifference(sameRunText(run.out, false), sameRunText(clean.out, false)), "")
                << where << "a different summary without a failure";
            const std::string written = out.empty() ? "" : sameRunText(readWhole(out), saveFile);
            if (GetParam().heals && written != cleanOutput) {
                // Sound, and with the clean run's records (the summary above says no
                // body, face or edge went) unless a warning names what the failure
                // stopped: a healing undone is told, never passed off as the clean result.
                EXPECT_EQ(restoredProblems(out), "") << where;
                if (newWarnings(run.err, clean.err).empty()) {
                    EXPECT_EQ(firstDifference(recordKinds(written), recordKinds(cleanOutput)), "")
                        << where << "a different model without a failure or a warning";
                }
                ++absorbed;
            } else {
                EXPECT_EQ(firstDifference(written, cleanOutput), "") << where << "a different file without a failure";
            }
            ++succeeded;
        } else {
            EXPECT_EQ(run.status, 1) << where;
            if (!out.empty()) {
                EXPECT_FALSE(fs::exists(out)) << where << "an output file from a failed run";
            }
            const std::string last = lastLineOf(run.err);
            EXPECT_EQ(last.rfind("xvelm: ", 0), 0u) << where << "the failure not told; printed: " << run.out;
            ++failed;
        }
        int files = 0;
        for (const auto& entry : fs::directory_iterator(folder))
            files += entry.path() != fs::path(in) && entry.path() != fs::path(out);
        EXPECT_EQ(files, 0) << where << "a temporary file left";
        if (!out.empty())
            fs::remove(out);
        return true;
    }

    // The sweep over the verb's calls or allocations.
    void sweep(bool calls)
    {
        const long ci = GetParam().ciRuns;
        const long count = calls ? static_cast<long>(callNames.size()) : allocations;
        std::vector<long> picked;
        if (ci == 0 || testkit::whole_sweep_asked()) {
            // Every call; allocations about every third, in steps of 2, 3 and 4 in
            // turn so that neighbours all get their turn (every one in a whole sweep).
            for (long n = 1, k = 0; n <= count; ++k)
                picked.push_back(n), n += calls || testkit::whole_sweep_asked() ? 1 : 2 + (k + 1) % 3;
        } else {
            picked = testkit::sampled_failures(count, ci, calls ? callNames : std::vector<std::string>());
        }
        long swept = 0, position = -1;
        for (long n : picked) {
            if (!testkit::in_sweep_shard(++position))
                continue;
            const auto arm = [&] {
                if (calls)
                    velm_test_fail_call("*", n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
                else
                    velm_test_fail_alloc(nullptr, n);
            };
            if (!runOnce(arm, (calls ? "call " : "allocation ") + std::to_string(n)))
                break;
            ++swept;
        }
        testkit::report_sweep(calls ? "kernel calls" : "allocations", swept, count);
        std::printf("[ covered  ] %d refused, %d absorbed by the healing\n", failed, absorbed);
        EXPECT_GT(swept, 0);
        // Some failures may pass without harm (a query retried, a cache refilled), most may not
        // (a shard of a whole sweep may hold none that fail).
        if (!std::getenv("XVELM_SWEEP_SHARD")) {
            EXPECT_GT(failed, 0);
        }
    }

    std::string in, out, cleanOutput;
    bool saveFile = false;
    VerbRun clean;
    std::vector<std::string> callNames;
    long allocations = 0;
    int succeeded = 0, failed = 0, absorbed = 0;
};

TEST_P(VerbSweep, EachKernelCallFailingInTurn)
{
    sweep(true);
}

TEST_P(VerbSweep, EachKernelAllocationFailingInTurn)
{
    sweep(false);
}

TEST_P(VerbSweep, EveryCallOfTheNamedFunctionsFailingInTurn)
{
    if (GetParam().everyCallOf.empty())
        GTEST_SKIP() << "no function named";
    for (const char* name : GetParam().everyCallOf) {
        SCOPED_TRACE(name);
        failed = 0;
        // Every call of it in a whole sweep; a seeded handful of them in an
        // ordinary run.
        const long calls = std::count(callNames.begin(), callNames.end(), std::string(name));
        EXPECT_GT(calls, 0) << "never called";
        const std::vector<long> picked =
            testkit::seeded_failures(calls, testkit::whole_sweep_asked() ? calls : 6, GetParam().name + "|" + name);
        for (long n : picked)
            EXPECT_TRUE(runOnce([&] { velm_test_fail_call(name, n, qelvelm_api_errmod.message_code(VELM_API_FAILED)); },
                                std::string(name) + " " + std::to_string(n)))
                << "fewer calls than undisturbed";
        EXPECT_GT(failed, 0);
    }
}

TEST_P(VerbSweep, EveryAllocationOfTheNamedSourcesFailingInTurn)
{
    if (GetParam().everyAllocationOf.empty())
        GTEST_SKIP() << "no source named";
    for (const char* source : GetParam().everyAllocationOf) {
        SCOPED_TRACE(source);
        failed = 0;
        // Every allocation from it in a whole sweep; in an ordinary run the
        // 1st, 2nd, 4th, 8th ... of them, so that its first and its later
        // ones all have a turn.
        long n = 1, made = 0;
        while (runOnce([&] { velm_test_fail_alloc(source, n); }, std::string(source) + " allocation " + std::to_string(n))) {
            ++made;
            n = testkit::whole_sweep_asked() ? n + 1 : 2 * n;
        }
        EXPECT_GT(made, 0) << "never allocated from";
        EXPECT_GT(failed, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Verbs, VerbSweep, ::testing::ValuesIn(verbCases()),
                         [](const ::testing::TestParamInfo<VerbCase>& info) { return info.param.name; });

} // namespace
