// Failure injection over the export road as the driver runs it: a save file
// with every kind of body, attributes, a group and an assembly goes through
// `xvelm export` while one kernel call (or, separately, one allocation) fails
// in turn. Every run ends without a crash and with nothing alive; a run that
// answers 0 wrote exactly the clean run's document, and any other run left
// no document and no temporary file behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../../tools/xvelm/export_verb.hxx"
#include "persist/persistent_class.hxx"
#include "persist/ve_assem_delete_mgr.hxx"
#include "persist/ve_part.hxx"
#include "qelx/qelx_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/groups.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"

namespace {

namespace fs = std::filesystem;

// Per process: CTest runs test programs side by side.
const fs::path folder = fs::path(::testing::TempDir()) / ("xvelm_export_sweep_" + std::to_string(::getpid()));

// The document's text, byte for byte.
std::string readWhole(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Solids of exact geometry, a B-spline sheet, a wire and a lone point, a
// name, a colour, a group and an assembly placing the cylinder.
std::string modelFile()
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
    const std::string path = (folder / "model.vlt").string();
    FILE* fp = std::fopen(path.c_str(), "w");
    EXPECT_TRUE(api_save_entity_list(fp, 1, list).ok());
    std::fclose(fp);
    Ve_AssemDeleteMgr tree(assembly);
    tree.loseAssem();
    list.remove(assembly);
    list.remove(cylinder); // went with the assembly
    api_del_entity_list(list);
    return path;
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

// Where the live kernel objects made while sites were recorded were made.
std::string madeAtInExport()
{
    std::vector<std::pair<const char*, int>> where;
    velm_live_objects(where);
    std::string text;
    for (const auto& [file, line] : where)
        text += std::string(" ") + (file ? file : "?") + ":" + std::to_string(line);
    return text;
}

struct ExportRun {
    int status = -1;
    std::string err;
};

ExportRun exportOnce(const std::string& in, const std::string& out)
{
    std::unique_ptr<FILE, int (*)(FILE*)> o(std::tmpfile(), &std::fclose);
    std::unique_ptr<FILE, int (*)(FILE*)> e(std::tmpfile(), &std::fclose);
    ExportRun run;
    run.status = xvelm::exportNeutral(in.c_str(), out.c_str(), o.get(), e.get());
    std::rewind(e.get());
    for (int c; (c = std::fgetc(e.get())) != EOF;)
        run.err.push_back(static_cast<char>(c));
    return run;
}

class ExportSweep : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(folder);
        qelx_test::resetFramework();
        velm_test_reset();
        in = modelFile();
        out = (folder / "out.json").string();
        const ExportRun run = exportOnce(in, out);
        ASSERT_EQ(run.status, 0) << run.err;
        clean = readWhole(out);
        fs::remove(out);
    }
    void TearDown() override
    {
        qelx_test::resetFramework();
        velm_test_reset();
        fs::remove_all(folder);
    }

    // False once the injection no longer fires: the export is shorter than asked.
    bool runOnce(void (*arm)(long), long n, const char* what)
    {
        qelx_test::resetFramework();
        velm_test_reset();
        // Sites of what the export makes, so that a leak says where it was made.
        velm_test_record_object_sites(true);
        const long objects = velm_live_object_count();
        arm(n);
        const ExportRun run = exportOnce(in, out);
        const bool fired = !velm_test_injection_pending();
        const std::string where = std::string(what) + " " + std::to_string(n) + " (" +
                                  velm_test_last_injected_call() + "): " + run.err;
        velm_test_reset();
        if (!fired)
            return false;
        EXPECT_EQ(velm_live_object_count(), objects) << where << "kernel objects left alive:" << madeAtInExport();
        if (run.status == 0) {
            EXPECT_EQ(firstDifference(readWhole(out), clean), "") << where << "a different document without a failure";
        } else {
            EXPECT_EQ(run.status, 1) << where;
            EXPECT_FALSE(fs::exists(out)) << where << "a document from a failed run";
            EXPECT_NE(run.err.find("xvelm: "), std::string::npos) << where;
        }
        int files = 0;
        for (const auto& entry : fs::directory_iterator(folder))
            files += entry.path() != fs::path(in) && entry.path() != fs::path(out);
        EXPECT_EQ(files, 0) << where << "a temporary file left";
        fs::remove(out);
        ++(run.status == 0 ? succeeded : failed);
        return true;
    }

    std::string in, out, clean;
    int succeeded = 0, failed = 0;
};

void failCallInExport(long n) { velm_test_fail_call("*", n, qelvelm_api_errmod.message_code(VELM_API_FAILED)); }
void failAllocationInExport(long n) { velm_test_fail_alloc_after(n); }

TEST_F(ExportSweep, EveryKernelCallFailingInTurn)
{
    long n = 1;
    while (runOnce(failCallInExport, n, "kernel call"))
        ++n;
    testkit::report_sweep("kernel calls", n - 1, n - 1);
    EXPECT_GT(n, 100);
    // Some calls may fail without harm (a query retried, a cache refilled), most may not.
    EXPECT_GT(failed, 0);
}

// About every third allocation, in steps of 2, 3 and 4 in turn, so that
// neighbours all get their turn somewhere along the export.
// Every one when a whole sweep is asked for (XVELM_SWEEP_RUNS).
TEST_F(ExportSweep, AllocationsFailingInTurn)
{
    long n = 1;
    int runs = 0;
    while (runOnce(failAllocationInExport, n, "allocation")) {
        ++runs;
        n += testkit::whole_sweep_asked() ? 1 : 2 + runs % 3;
    }
    testkit::report_sweep("allocations", runs, n - 1);
    EXPECT_GT(runs, 50);
    EXPECT_GT(failed, 0);
}

} // namespace
