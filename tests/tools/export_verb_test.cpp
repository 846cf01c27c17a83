// `xvelm export`: a kernel save file to a neutral document, progress on the
// error stream, a summary, and no output at all when the run fails.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "../../tools/xvelm/export_verb.hxx"
#include "persist/persistent_class.hxx"
#include "persist/ve_assem_delete_mgr.hxx"
#include "persist/ve_part.hxx"
#include "qelx/qelx_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/same_text.hxx"
#include "velm/build.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/groups.hxx"
#include "velm/memory.hxx"
#include "velm/surface_build.hxx"
#include "velm/testkit.hxx"

namespace {

struct ExportRun {
    int status = -1;
    std::string out, err;
};

ExportRun runExport(const std::string& in, const std::string& out)
{
    std::unique_ptr<FILE, int (*)(FILE*)> o(std::tmpfile(), &std::fclose);
    std::unique_ptr<FILE, int (*)(FILE*)> e(std::tmpfile(), &std::fclose);
    ExportRun run;
    run.status = xvelm::exportNeutral(in.c_str(), out.c_str(), o.get(), e.get());
    auto read = [](FILE* f) {
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

std::string saved(const std::string& name)
{
    const std::string path = ::testing::TempDir() + std::to_string(::getpid()) + "_" + name;
    ENTITY_LIST model;
    model.add(testkit::make_plane_box(1, 2, 3));
    model.add(testkit::make_cylinder(2, 5));
    FILE* fp = std::fopen(path.c_str(), "w");
    EXPECT_TRUE(api_save_entity_list(fp, 1, model).ok());
    std::fclose(fp);
    api_del_entity_list(model);
    return path;
}

// Every file of the folder whose name starts with the text.
int filesStartingWith(const std::string& folder, const std::string& start)
{
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        n += entry.path().filename().string().rfind(start, 0) == 0;
    return n;
}

std::string wholeFile(const std::string& path);

} // namespace

TEST(ExportVerb, WritesTheNeutralDocumentAndSummarises)
{
    qelx_test::resetFramework();
    const long live = velm_live_object_count();
    const std::string in = saved("xvelm_export_in.vlt");
    const std::string out = ::testing::TempDir() + "xvelm_export_out_" + std::to_string(::getpid()) + ".json";
    const ExportRun run = runExport(in, out);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("2 bodies, 9 faces, 15 edges"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("Bodies"), std::string::npos) << "stage events shown: " << run.err;
    qelx_test::TestModel model;
    std::string error;
    ASSERT_EQ(qelx_formats::readNeutralDocument(out, model, error), 0u) << error;
    EXPECT_EQ(model.bodies.size(), 2u);
    EXPECT_EQ(model.faces.size(), 9u);
    EXPECT_EQ(velm_live_object_count(), live);
    std::remove(in.c_str());
    std::remove(out.c_str());
}

// Bodies placed by their transforms (turned, mirrored) are exported where
// they stand: every vertex of the document is a corner of the placed box.
TEST(ExportVerb, BodiesPlacedByTransformsAreExportedWhereTheyStand)
{
    for (const testkit::KernelFrame& frame : testkit::kernel_frames()) {
        SCOPED_TRACE(frame.name);
        const std::string in = ::testing::TempDir() + "xvelm_export_placed_" + std::to_string(::getpid()) + ".vlt";
        const std::string out = ::testing::TempDir() + "xvelm_export_placed_" + std::to_string(::getpid()) + ".json";
        BODY* box = testkit::make_plane_box(1, 2, 3);
        std::vector<QELposition> corners;
        for (double x : {0.0, 1.0})
            for (double y : {0.0, 2.0})
                for (double z : {0.0, 3.0})
                    corners.push_back(QELposition(x, y, z) * frame.transform);
        ASSERT_TRUE(api_apply_transf(box, frame.transform).ok());
        ENTITY_LIST model;
        model.add(box);
        FILE* fp = std::fopen(in.c_str(), "w");
        ASSERT_TRUE(api_save_entity_list(fp, 1, model).ok());
        std::fclose(fp);
        api_del_entity_list(model);
        const ExportRun run = runExport(in, out);
        ASSERT_EQ(run.status, 0) << run.err;
        qelx_test::TestModel doc;
        std::string error;
        ASSERT_EQ(qelx_formats::readNeutralDocument(out, doc, error), 0u) << error;
        ASSERT_EQ(doc.vertices.size(), 8u);
        for (const qelx_test::TestVertex& v : doc.vertices) {
            const qelx_test::Vec3& p = doc.points.at(static_cast<std::size_t>(v.point));
            EXPECT_TRUE(std::any_of(corners.begin(), corners.end(), [&](const QELposition& c) {
                return std::hypot(p[0] - c.x(), p[1] - c.y(), p[2] - c.z()) < 1e-9;
            })) << p[0] << " " << p[1] << " " << p[2];
        }
        std::remove(in.c_str());
        std::remove(out.c_str());
    }
}

// Two runs over one file write the same bytes, however the kernel's objects
// lie in memory: a vertex's edges come out in the order they are met.
TEST(ExportVerb, TwoRunsWriteTheSameDocument)
{
    qelx_test::resetFramework();
    const std::string in = saved("xvelm_export_twice.vlt");
    const std::string first = ::testing::TempDir() + "xvelm_export_first_" + std::to_string(::getpid()) + ".json";
    const std::string second = ::testing::TempDir() + "xvelm_export_second_" + std::to_string(::getpid()) + ".json";
    ASSERT_EQ(runExport(in, first).status, 0);
    // Live objects between the runs put the second restore elsewhere in memory.
    ENTITY_LIST spacers;
    for (int i = 0; i < 7; ++i)
        spacers.add(testkit::make_plane_box(1.0 + i, 1, 1));
    ASSERT_EQ(runExport(in, second).status, 0);
    api_del_entity_list(spacers);
    const std::string text = wholeFile(first);
    EXPECT_NE(text.find("\"edges\":["), std::string::npos);
    EXPECT_EQ(text, wholeFile(second));
    for (const std::string& path : {in, first, second})
        std::remove(path.c_str());
}

TEST(ExportVerb, AFailedRunLeavesNoFileBehind)
{
    qelx_test::resetFramework();
    const std::string folder = ::testing::TempDir() + "xvelm_export_failed_" + std::to_string(::getpid());
    std::filesystem::create_directories(folder);
    const std::string in = saved("xvelm_export_damaged.vlt");
    std::ifstream whole(in);
    std::stringstream text;
    text << whole.rdbuf();
    std::ofstream(in) << text.str().substr(0, text.str().size() / 2);
    for (const std::string& source : {in, folder + "/missing.vlt"}) {
        const ExportRun run = runExport(source, folder + "/out.json");
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(source), std::string::npos) << run.err;
    }
    // A target that cannot be written: the exporter ran, nothing stays.
    const std::string good = saved("xvelm_export_good.vlt");
    const ExportRun run = runExport(good, folder + "/no/such/folder/out.json");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(filesStartingWith(folder, "out"), 0);
    std::filesystem::remove_all(folder);
    std::remove(in.c_str());
    std::remove(good.c_str());
}

namespace {

namespace fs = std::filesystem;

// A folder of this process's own, removed with everything in it.
struct Scratch {
    explicit Scratch(const std::string& name)
        : path(fs::path(::testing::TempDir()) / (name + "_" + std::to_string(::getpid())))
    {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Scratch() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    // Names in the folder other than those given.
    std::vector<std::string> others(std::initializer_list<std::string> known) const
    {
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(path)) {
            const std::string name = entry.path().filename().string();
            if (std::find(known.begin(), known.end(), name) == known.end())
                left.push_back(name);
        }
        return left;
    }
    fs::path path;
};

std::string wholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The driver program itself, through the shell: `setup` runs first (a limit, a redirection).
ExportRun driverRun(const std::string& shell)
{
    const std::string err = ::testing::TempDir() + "xvelm_export_err_" + std::to_string(::getpid());
    const int raw = std::system(("(" + shell + ") 2>'" + err + "'").c_str());
    ExportRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.err = wholeFile(err);
    std::remove(err.c_str());
    return run;
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

} // namespace

// An output that is the input, by any name, or that is not a regular file,
// is refused before any work and left as it was; a link to a regular file
// is written through; a long legal name fits; nothing temporary stays.
TEST(ExportVerb, NeverHarmsAFile)
{
    qelx_test::resetFramework();
    const Scratch dir("xvelm_export_targets");
    const std::string in = saved("xvelm_export_targets.vlt");
    const std::string model = dir / "model.vlt";
    fs::copy_file(in, model);
    const std::string text = wholeFile(model);
    fs::create_hard_link(model, dir / "hard.vlt");
    fs::create_symlink(model, dir / "soft.vlt");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    // A device node of our own (where the system lets us make one): never /dev/null itself.
    const bool device = ::mknod((dir / "null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    std::ofstream(dir / "target.json") << "old";
    fs::create_symlink(dir / "target.json", dir / "link.json");
    fs::create_symlink(dir / "nowhere.json", dir / "dangling.json");
    const std::string longName(245, 'n');
    const struct {
        std::string out;
        int status;
        const char* said;
    } cases[] = {
        {model, 1, "is the input file"},
        {dir / "hard.vlt", 1, "is the input file"},
        {dir / "soft.vlt", 1, "is the input file"},
        {dir / "fifo", 1, "is a FIFO, not a regular file"},
        {device ? dir / "null" : dir / "fifo", 1, "not a regular file"},
        {dir / "dangling.json", 1, "symbolic link to nothing"},
        {dir / "link.json", 0, ""},
        {dir / (longName + ".json"), 0, ""},
    };
    for (const auto& c : cases) {
        const ExportRun run = runExport(model, c.out);
        EXPECT_EQ(run.status, c.status) << c.out << "\n" << run.err;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << c.out << "\n" << run.err;
        EXPECT_EQ(wholeFile(model), text) << c.out << ": the input was changed";
    }
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));
    if (device) {
        EXPECT_TRUE(fs::is_character_file(dir / "null"));
    }
    EXPECT_TRUE(fs::is_symlink(dir / "link.json"));
    EXPECT_EQ(wholeFile(dir / "target.json").rfind("{", 0), 0u) << "written through the link";
    EXPECT_TRUE(fs::is_regular_file(dir / (longName + ".json")));
    EXPECT_EQ(dir.others({"model.vlt", "hard.vlt", "soft.vlt", "fifo", "null", "target.json", "link.json",
                          "dangling.json", longName + ".json"}),
              std::vector<std::string>());
    std::remove(in.c_str());
}

// Control bytes in a path never reach the terminal raw, and the damage of a
// file is named with its record as `info` names it.
TEST(ExportVerb, MessagesEscapePathsAndNameTheDamage)
{
    qelx_test::resetFramework();
    const Scratch dir("xvelm_export_messages");
    const std::string in = saved("xvelm_export_messages.vlt");
    const ExportRun missing = runExport(in, dir / "no\x1b[31m/out.json");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no\\x1b[31m/out.json"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.err.find('\x1b'), std::string::npos);
    std::string text = wholeFile(in);
    const std::size_t coedge = text.find(" coedge ");
    ASSERT_NE(coedge, std::string::npos);
    std::ofstream(dir / "bad\avlt", std::ios::binary) << text.substr(0, coedge) + " coedge 1 $x" + text.substr(coedge + 8);
    const ExportRun damaged = runExport(dir / "bad\avlt", dir / "out.json");
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.err.find("bad\\x07vlt: save file damaged: record "), std::string::npos) << damaged.err;
    EXPECT_EQ(damaged.err.find('\a'), std::string::npos);
    std::remove(in.c_str());
}

// Every write is checked: a full or closed standard output and a file-size
// limit fail the run (exit 1, one line), with no temporary file left and no
// output either (the verb failed), for export, convert and import alike.
TEST(ExportVerb, EveryWriteIsChecked)
{
    qelx_test::resetFramework();
    const Scratch dir("xvelm_export_writes");
    const std::string in = saved("xvelm_export_writes.vlt");
    const std::string driver = quoted(XVELM_DRIVER) + " export " + quoted(in) + " ";
    const std::string document = in + ".json";
    ASSERT_EQ(driverRun(driver + quoted(document)).status, 0);
    const std::string convert = quoted(XVELM_DRIVER) + " convert " + quoted(in) + " ";
    const std::string import = quoted(XVELM_DRIVER) + " import " + quoted(document) + " ";
    const struct {
        std::string shell;
        const char* said;
    } cases[] = {
        {driver + quoted(dir / "full.json") + " >/dev/full", "the output could not be written"},
        {driver + quoted(dir / "closed.json") + " >&-", "the output could not be written"},
        {"ulimit -f 1; " + driver + quoted(dir / "big.json") + " >/dev/null", "File too large"},
        {convert + quoted(dir / "full.step") + " >/dev/full", "the output could not be written"},
        {convert + quoted(dir / "full.vlt") + " >/dev/full", "the output could not be written"},
        {convert + quoted(dir / "closed.brep") + " >&-", "the output could not be written"},
        {"ulimit -f 8; " + convert + quoted(dir / "big.vlt") + " >/dev/null", "File too large"},
        {import + quoted(dir / "full.vlt") + " >/dev/full", "the output could not be written"},
        {"ulimit -f 8; " + import + quoted(dir / "big.vlt") + " >/dev/null", "File too large"},
        {quoted(XVELM_DRIVER) + " info " + quoted(in) + " >/dev/full", "the output could not be written"},
        {quoted(XVELM_DRIVER) + " --help >/dev/full", "the output could not be written"},
    };
    for (const auto& c : cases) {
        const ExportRun run = driverRun(c.shell);
        EXPECT_EQ(run.status, 1) << c.shell << "\n" << run.err;
        EXPECT_NE(run.err.find(c.said), std::string::npos) << c.shell << "\n" << run.err;
        EXPECT_EQ(dir.others({}), std::vector<std::string>()) << c.shell;
    }
    std::remove(document.c_str());
    std::remove(in.c_str());
}

// A kernel failure or running out of memory during the walk ends the run
// with exit 1, one line, no document and nothing alive.
TEST(ExportVerb, AFailureDuringTheWalkIsSeenAndLeavesNothing)
{
    qelx_test::resetFramework();
    const Scratch dir("xvelm_export_walk");
    const std::string in = dir / "named.vlt";
    {
        BODY* box = testkit::make_plane_box(1, 2, 3);
        api_add_generic_named_attribute(box, "ATTRIB_XVELM_NAME", "box");
        ENTITY_LIST list;
        list.add(box);
        FILE* fp = std::fopen(in.c_str(), "w");
        ASSERT_TRUE(api_save_entity_list(fp, 1, list).ok());
        std::fclose(fp);
        api_del_entity(box);
    }
    const std::string out = dir / "out.json";
    velm_test_reset();
    const long objects = velm_live_object_count();
    // The body's name cannot be read: the document would lose it.
    velm_test_fail_call("api_find_named_attribute", 2, qelvelm_api_errmod.message_code(VELM_API_FAILED));
    ExportRun run = runExport(in, out);
    velm_test_reset();
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("data was lost"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(velm_live_object_count(), objects);
    // Memory running out at some point of the walk, wherever that falls.
    bool outOfMemory = false;
    for (long n = 1; n < 5000 && !outOfMemory; n += 7) {
        qelx_test::resetFramework();
        velm_test_fail_alloc_after(n);
        run = runExport(in, out);
        const bool fired = !velm_test_injection_pending();
        velm_test_reset();
        if (!fired)
            break;
        outOfMemory = run.err.find("out of memory") != std::string::npos;
        EXPECT_EQ(run.status, 1) << n << ": " << run.err;
        EXPECT_FALSE(fs::exists(out)) << n;
        EXPECT_EQ(velm_live_object_count(), objects) << n;
    }
    EXPECT_TRUE(outOfMemory);
    EXPECT_EQ(dir.others({"named.vlt"}), std::vector<std::string>());
}

// Files whose top-level entity is an assembly, a group or a collection: what
// those hold is deleted with them, whatever the kernel's own deletion does;
// an assembly's bodies are not exported, and the run says so.
TEST(ExportVerb, AssembliesGroupsAndCollectionsLeaveNothingAlive)
{
    qelx_test::resetFramework();
    registerPersistentClasses();
    const Scratch dir("xvelm_export_holders");
    auto* assembly = new VE_ASSEMBLY(nullptr, nullptr, QELtransf());
    assembly->appendPart(new VE_PART(testkit::make_cylinder(1.0, 2.0), QELtransf()));
    auto* group = new QELGROUP;
    BODY* grouped = testkit::make_plane_box(1, 1, 1);
    ASSERT_TRUE(api_ct_add_to_group(grouped, group).ok());
    ENTITY_LIST members;
    BODY* collected = testkit::make_plane_box(2, 2, 2);
    members.add(collected);
    auto* collection = new QELCOLLECTION;
    ASSERT_TRUE(api_add_to_collection(members, collection).ok());
    const struct {
        const char* name;
        ENTITY* top;
    } files[] = {{"assembly.vlt", assembly}, {"group.vlt", group}, {"collection.vlt", collection}};
    for (const auto& f : files) {
        ENTITY_LIST list;
        list.add(f.top);
        FILE* fp = std::fopen((dir / f.name).c_str(), "w");
        ASSERT_TRUE(api_save_entity_list(fp, 1, list).ok());
        std::fclose(fp);
    }
    Ve_AssemDeleteMgr tree(assembly);
    tree.loseAssem();
    api_del_entity(grouped);
    api_del_entity(collected);
    for (ENTITY* holder : {static_cast<ENTITY*>(group), static_cast<ENTITY*>(collection)})
        if (velm_is_live_entity(holder))
            api_del_entity(holder);
    const long objects = velm_live_object_count();
    for (const auto& f : files) {
        // The kernel's deletion failing too changes nothing.
        for (const char* failing : {"", "api_del_entity_list", "api_del_entity"}) {
            velm_test_reset();
            if (*failing)
                velm_test_fail_call(failing, 1, qelvelm_api_errmod.message_code(VELM_API_FAILED));
            const ExportRun run = runExport(dir / f.name, dir / "out.json");
            velm_test_reset();
            // The walk does not reach what assemblies place: that is said,
            // not passed off as an export of no bodies.
            const bool placed = std::string(f.name) == "assembly.vlt";
            EXPECT_EQ(run.status, placed ? 1 : 0) << f.name << " " << failing << "\n" << run.err;
            if (placed) {
                EXPECT_NE(run.err.find("1 body is placed by assemblies, which the B-rep export does not carry; no "
                                       "document written"),
                          std::string::npos)
                    << run.err;
                EXPECT_FALSE(fs::exists(dir / "out.json"));
            }
            EXPECT_EQ(velm_live_object_count(), objects) << f.name << " " << failing << ": left alive";
            fs::remove(dir / "out.json");
        }
    }
}

// A model whose tables outgrow what the document keeps in memory: the driver's
// document, written while the walk goes and joined from temporary tables, is
// byte for byte the whole text of the same file's walked model.
TEST(ExportVerb, ADocumentWhoseTablesSpillIsTheWalkedModelsText)
{
    qelx_test::resetFramework();
    const long live = velm_live_object_count();
    const std::string in = ::testing::TempDir() + "xvelm_export_spill_" + std::to_string(::getpid()) + ".vlt";
    {
        ENTITY_LIST model;
        model.add(testkit::make_sheet(56, 56));
        model.add(testkit::make_wire_body(40, true));
        FILE* fp = std::fopen(in.c_str(), "w");
        ASSERT_TRUE(api_save_entity_list(fp, 1, model).ok());
        std::fclose(fp);
        api_del_entity_list(model);
    }
    const std::string out = ::testing::TempDir() + "xvelm_export_spill_" + std::to_string(::getpid()) + ".json";
    const ExportRun run = runExport(in, out);
    ASSERT_EQ(run.status, 0) << run.err;
    std::string whole;
    {
        xvelm::restored_model model;
        ASSERT_TRUE(xvelm::restore_file(in.c_str(), model.top, model.every, stderr));
        qelx_test::TestModel walked;
        xvelm::ExportCounts counts;
        std::string failure;
        ASSERT_TRUE(xvelm::walk_document(model.top, walked, counts, failure)) << failure;
        EXPECT_EQ(walked.faces.size(), 56u * 56u);
        whole = qelx_formats::writeNeutralText(walked);
    }
    // The coedge table alone is past a megabyte, so it went through a file.
    const std::size_t coedges = whole.find("\"coedges\":[\n");
    ASSERT_NE(coedges, std::string::npos);
    EXPECT_GT(whole.find("\n]", coedges) - coedges, std::size_t(1) << 20);
    EXPECT_TRUE(testkit::same_text(wholeFile(out), whole));
    EXPECT_EQ(velm_live_object_count(), live);
    std::remove(in.c_str());
    std::remove(out.c_str());
}

// A save file's transform that flattens space (a singular matrix, no scale)
// or reaches beyond any model (a scale or move past 1e10) is refused as the
// file is read, naming the record; it was read, and the export wrote a
// flattened box, or one whose overflowed coordinates a document cannot
// hold, as a success. Turned, mirrored and scaled ones place the box.
TEST(ExportVerb, TransformsThatFlattenOrOverflowAreRefusedAsTheFileIsRead)
{
    qelx_test::resetFramework();
    const Scratch dir("xvelm_export_transforms");
    const std::string example = wholeFile(std::string(XVELM_EXAMPLES_DIR) + "/shapes.vlt");
    // The example's first body (a box of 10 by 20 by 30 from the origin)
    // placed by a transform record of its own, the file's last.
    const auto placed = [&](const std::array<double, 9>& rows, const std::array<double, 3>& move, double scale) {
        std::string text = example;
        const std::string header = "VELM-TEXT 2000 211 7", body = "-0 body 1 $7 0 $8 $-1 $-1 #",
                          last = "-210 point 1 $-1 0 0 9 0 #\n";
        for (const std::string* s : {&header, &body, &last})
            EXPECT_NE(text.find(*s), std::string::npos) << *s;
        text.replace(text.find(header), header.size(), "VELM-TEXT 2000 212 7");
        text.replace(text.find(body), body.size(), "-0 body 1 $7 0 $8 $-1 $211 #");
        std::ostringstream record;
        record.precision(17);
        record << "-211 transform 1 $-1 0";
        for (double x : rows)
            record << " " << x;
        for (double x : move)
            record << " " << x;
        record << " " << scale << " 1 0 0 #\n";
        text.insert(text.find(last) + last.size(), record.str());
        return text;
    };
    const std::array<double, 9> same = {1, 0, 0, 0, 1, 0, 0, 0, 1}, mirror = {-1, 0, 0, 0, 1, 0, 0, 0, 1},
                                quarter = {0, 1, 0, -1, 0, 0, 0, 0, 1}, flat = {1, 0, 0, 0, 1, 0, 0, 0, 0};
    struct Case {
        const char* what;
        std::string text;
        const char* refusal; // null: placed
        std::array<double, 3> farCorner{}; // where (10, 20, 30) is placed
    };
    const Case cases[] = {
        {"scaled near the largest real", placed(same, {0, 0, 0}, 1e308), "a transform beyond any model"},
        {"of no scale", placed(same, {0, 0, 0}, 0.0), "a transform that flattens space"},
        {"a singular matrix", placed(flat, {0, 0, 0}, 1.0), "a transform that flattens space"},
        {"a matrix beyond any model", placed({1e300, 0, 0, 0, 1e-300, 0, 0, 0, 1}, {0, 0, 0}, 1.0),
         "a transform beyond any model"},
        {"moved beyond any model", placed(same, {1e300, 0, 0}, 1.0), "a transform beyond any model"},
        {"mirrored and scaled", placed(mirror, {0, 0, 0}, 2.0), nullptr, {-20, 40, 60}},
        {"turned, scaled and moved", placed(quarter, {1, 2, 3}, 0.5), nullptr, {-9, 7, 18}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string in = dir / "placed.vlt", out = dir / "placed.json";
        std::ofstream(in, std::ios::binary) << c.text;
        const ExportRun run = runExport(in, out);
        if (c.refusal) {
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.err.find("xvelm: " + in + ": save file damaged: record 211 (transform)"), std::string::npos)
                << run.err;
            EXPECT_NE(run.err.find(c.refusal), std::string::npos) << run.err;
            EXPECT_FALSE(std::filesystem::exists(out));
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.err;
        qelx_test::TestModel doc;
        std::string error;
        ASSERT_EQ(qelx_formats::readNeutralDocument(out, doc, error), 0u) << error;
        EXPECT_TRUE(std::any_of(doc.points.begin(), doc.points.end(), [&](const qelx_test::Vec3& p) {
            return std::hypot(p[0] - c.farCorner[0], p[1] - c.farCorner[1], p[2] - c.farCorner[2]) < 1e-9;
        }));
        std::filesystem::remove(out);
    }
}

// Top-level entities that are no bodies (a loose face, a loose edge, a free
// point) are made into bodies for the export: whether the run succeeds or a
// kernel call fails at any step of it, the bodies made go with the model.
TEST(ExportVerb, BodiesMadeOfLooseEntitiesLeaveNothingAlive)
{
    qelx_test::resetFramework();
    const Scratch dir("xvelm_export_loose");
    const QELinterval range(0.0, 2.0);
    struct Loose {
        const char* name;
        ENTITY* top;
    };
    FACE* face = nullptr;
    ASSERT_TRUE(api_face_plane(QELposition(0, 0, 5), 2.0, 3.0, nullptr, face).ok());
    const Loose files[] = {
        {"point.vlt", new APOINT(4.0, 5.0, 6.0)},
        {"face.vlt", face},
        {"edge.vlt", new EDGE(new VERTEX(new APOINT(0.0, 0.0, 9.0)), new VERTEX(new APOINT(2.0, 0.0, 9.0)),
                              new STRAIGHT(straight(QELposition(0.0, 0.0, 9.0), QELunit_vector(1.0, 0.0, 0.0))),
                              FORWARD, EDGE_cvty_unknown, &range)},
    };
    for (const Loose& f : files) {
        ENTITY_LIST list;
        list.add(testkit::make_plane_box(1, 2, 3));
        list.add(f.top);
        FILE* fp = std::fopen((dir / f.name).c_str(), "w");
        ASSERT_TRUE(api_save_entity_list(fp, 1, list).ok());
        std::fclose(fp);
        api_del_entity(list[0]);
        api_del_entity(f.top);
    }
    velm_test_reset();
    const long objects = velm_live_object_count();
    for (const Loose& f : files) {
        SCOPED_TRACE(f.name);
        velm_test_record_calls(true);
        ExportRun run = runExport(dir / f.name, dir / "out.json");
        std::vector<std::string> calls;
        for (const std::string& entry : velm_test_call_log())
            if (entry.rfind("api_bb", 0) != 0)
                calls.push_back(entry.substr(0, entry.find('(')));
        velm_test_reset();
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("2 bodies"), std::string::npos) << run.out;
        EXPECT_EQ(velm_live_object_count(), objects) << "left alive by a run that succeeded";
        fs::remove(dir / "out.json");
        // The first call of each kernel function the run makes failing.
        std::map<std::string, int> seen;
        for (const std::string& call : calls) {
            const int nth = ++seen[call];
            if (nth > 1)
                continue;
            velm_test_fail_call(call.c_str(), nth, qelvelm_api_errmod.message_code(VELM_API_FAILED));
            run = runExport(dir / f.name, dir / "out.json");
            velm_test_reset();
            EXPECT_EQ(velm_live_object_count(), objects) << call << " #" << nth << " failing: left alive\n" << run.err;
            EXPECT_EQ(run.status == 0, fs::exists(dir / "out.json")) << call << " #" << nth;
            fs::remove(dir / "out.json");
        }
    }
}
