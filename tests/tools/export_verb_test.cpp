// `xvelm export`: a kernel save file to a neutral document, progress on the
// error stream, a summary, and no output at all when the run fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "../../tools/xvelm/export_verb.hxx"
#include "qelx/qelx_test.hxx"
#include "support/geometry_builders.hxx"

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
    const std::string path = ::testing::TempDir() + name;
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

} // namespace

TEST(ExportVerb, WritesTheNeutralDocumentAndSummarises)
{
    qelx_test::resetFramework();
    const long live = velm_live_object_count();
    const std::string in = saved("xvelm_export_in.vlt");
    const std::string out = ::testing::TempDir() + "xvelm_export_out.json";
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

TEST(ExportVerb, AFailedRunLeavesNoFileBehind)
{
    qelx_test::resetFramework();
    const std::string folder = ::testing::TempDir() + "xvelm_export_failed";
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
