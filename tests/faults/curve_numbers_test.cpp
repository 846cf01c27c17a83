// Whatever save file `xvelm export` takes, the neutral document it writes is
// one the neutral reader takes: a number of a curve record beyond any model
// is refused by the restore, naming a record, or makes a document that reads
// back. A line's parameter scale of -1e308 restored (its edge's ends at
// infinity passed every measure), and the document the export wrote of it
// was refused by the reader ("/curves/0: a number beyond any model").
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../../tools/xvelm/export_verb.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_formats/neutral_document.hxx"
#include "support/in_turn.hxx"
#include "support/save_file_words.hxx"

namespace {

namespace fs = std::filesystem;

std::string wholeText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Exported {
    int status = -1;
    std::string err;
};

Exported exportText(const std::string& text, const fs::path& in, const fs::path& out)
{
    std::ofstream(in, std::ios::binary) << text;
    std::unique_ptr<FILE, int (*)(FILE*)> o(std::tmpfile(), &std::fclose);
    std::unique_ptr<FILE, int (*)(FILE*)> e(std::tmpfile(), &std::fclose);
    Exported run;
    run.status = xvelm::exportNeutral(in.c_str(), out.c_str(), o.get(), e.get());
    std::rewind(e.get());
    for (int c; (c = std::fgetc(e.get())) != EOF;)
        run.err.push_back(static_cast<char>(c));
    return run;
}

} // namespace

// Every number of every line and ellipse record of the shipped example
// (point, direction, scale, ratio, offset, the curve's limits) set in turn to
// -1e308, 1e300, 2e10 and 0. In turn: one record and value per field and class.
TEST(CurveNumbers, EveryNumberOfACurveBeyondAnyModelIsRefusedOrExportedReadably)
{
    qelx_test::resetFramework();
    const fs::path folder = fs::path(::testing::TempDir()) / ("xvelm_curve_numbers_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const fs::path in = folder / "damaged.vlt", out = folder / "damaged.json";
    const testkit::SaveFileWords example =
        testkit::SaveFileWords::parse(wholeText(fs::path(XVELM_EXAMPLES_DIR) / "shapes.vlt"));
    const char* const classes[] = {"straight", "ellipse"};
    const double values[] = {-1e308, 1e300, 2e10, 0.0};
    int refused = 0, written = 0;
    for (std::size_t k = 0; k < 2; ++k) {
        std::vector<int> records;
        for (int r = example.find(classes[k]); r >= 0; r = example.find(classes[k], r))
            records.push_back(r);
        ASSERT_FALSE(records.empty()) << classes[k];
        // The numbers follow "<class> 2 curve 1 $<attribute> 0", up to "#".
        const std::size_t first = 7, last = example.records[static_cast<std::size_t>(records[0])].size() - 1;
        for (std::size_t field = first; field < last; ++field) {
            const std::size_t members = records.size() * std::size(values);
            for (std::size_t m = 0; m < members; ++m) {
                if (!in_turn::taken(k * 64 + field, m, members))
                    continue;
                const int r = records[m / std::size(values)];
                const double value = values[m % std::size(values)];
                testkit::SaveFileWords damaged = example;
                std::ostringstream number;
                number.precision(17);
                number << value;
                damaged.records[static_cast<std::size_t>(r)][field] = number.str();
                const std::string what = std::string(classes[k]) + " record " + std::to_string(r) + ", field " +
                                         std::to_string(field) + " = " + number.str();
                const Exported run = exportText(damaged.text(), in, out);
                if (run.status != 0) {
                    ++refused;
                    EXPECT_EQ(run.status, 1) << what;
                    EXPECT_NE(run.err.find("save file damaged: record "), std::string::npos) << what << ": " << run.err;
                    EXPECT_FALSE(fs::exists(out)) << what;
                    continue;
                }
                ++written;
                qelx_test::TestModel model;
                std::string error;
                EXPECT_EQ(qelx_formats::readNeutralDocument(out.string(), model, error), 0u) << what << ": " << error;
                fs::remove(out);
            }
        }
    }
    EXPECT_GT(refused, 0);
    fs::remove_all(folder);
}
