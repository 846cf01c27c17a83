// A STEP file's product structure through the assembly writer and reader:
// what each instance places, where it places it and what it is called.
#include "../support/in_turn.hxx"
#include "qelx/test_assembly.hxx"
#include "qelx/test_model.hxx"
#include "qelx_formats/step_assembly.hxx"
#include "uncarried_colours.hxx"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using qelx_test::TestAssembly;
using qelx_test::TestModel;
using qelx_test::TestPlacement;
using Point = std::array<long long, 3>; // in millionths, rounded

// `inner` first, then `outer`.
TestPlacement composed(const TestPlacement& outer, const TestPlacement& inner)
{
    TestPlacement c{};
    for (int row = 0; row < 4; ++row)
        for (int j = 0; j < 3; ++j) {
            double sum = row == 3 ? outer[static_cast<std::size_t>(9 + j)] : 0.0;
            for (int k = 0; k < 3; ++k)
                sum += inner[static_cast<std::size_t>(3 * row + k)] * outer[static_cast<std::size_t>(3 * k + j)];
            c[static_cast<std::size_t>(3 * row + j)] = sum;
        }
    return c;
}

// An instance's name, its product's where it has none of its own.
std::string nameOf(const TestAssembly& a, int instance)
{
    const qelx_test::TestInstance& i = a.instances.at(static_cast<std::size_t>(instance));
    return i.name.empty() ? a.definitions.at(static_cast<std::size_t>(i.definition)).name : i.name;
}

// Each leaf instance's points where the assembly places them, the leaf
// named by the root instance above it: one sorted list a leaf, the lists
// sorted (the reader may list products in another order).
std::vector<std::pair<std::string, std::vector<Point>>> placedLeaves(const TestAssembly& a)
{
    std::vector<std::pair<std::string, std::vector<Point>>> leaves;
    const std::function<void(int, const TestPlacement&, const std::string&)> walk =
        [&](int instance, const TestPlacement& outer, const std::string& root) {
            const qelx_test::TestInstance& i = a.instances.at(static_cast<std::size_t>(instance));
            const TestPlacement here = composed(outer, i.placement);
            const qelx_test::TestDefinition& d = a.definitions.at(static_cast<std::size_t>(i.definition));
            if (d.assembly) {
                for (int child : d.children)
                    walk(child, here, root);
                return;
            }
            std::vector<Point> points;
            for (const qelx_test::TestVertex& v : d.part.vertices) {
                const qelx_test::Vec3& p = d.part.points.at(static_cast<std::size_t>(v.point));
                Point q{};
                for (int j = 0; j < 3; ++j)
                    q[static_cast<std::size_t>(j)] = std::llround(
                        1e6 * (p[0] * here[static_cast<std::size_t>(j)] + p[1] * here[static_cast<std::size_t>(3 + j)] +
                               p[2] * here[static_cast<std::size_t>(6 + j)] + here[static_cast<std::size_t>(9 + j)]));
                points.push_back(q);
            }
            std::sort(points.begin(), points.end());
            leaves.emplace_back(root, std::move(points));
        };
    for (int r : a.roots)
        walk(r, qelx_test::placementTranslation(0, 0, 0), nameOf(a, r));
    std::sort(leaves.begin(), leaves.end());
    return leaves;
}

// How many instances carry each name.
std::map<std::string, int> instanceNames(const TestAssembly& a)
{
    std::map<std::string, int> names;
    for (const qelx_test::TestInstance& i : a.instances)
        ++names[i.name];
    return names;
}

// A turn of `angle` about the axis through the origin along (1, 1, 1), then the translation.
TestPlacement turnedAboutDiagonal(double angle, double x, double y, double z)
{
    const double c = std::cos(angle), s = std::sin(angle), k = (1.0 - c) / 3.0, w = s / std::sqrt(3.0);
    // Row i is the image of axis i.
    return {c + k, k + w, k - w, k - w, c + k, k + w, k + w, k - w, c + k, x, y, z};
}

TestPlacement mirroredInX(TestPlacement p)
{
    for (int i = 0; i < 4; ++i)
        p[static_cast<std::size_t>(3 * i)] = -p[static_cast<std::size_t>(3 * i)];
    return p;
}

} // namespace

// A part placed twice in one assembly and again at the top, instances named
// and unnamed, an assembly placed mirrored with a translation (its parts'
// own placements translated too) and a part placed mirrored and turned: read
// back, every leaf's points are where the assembly put them, a product
// placed several times is one product (a mirrored placing one mirrored copy
// more), an instance keeps its own name over its product's and an unnamed
// one takes its product's.
TEST(StepProducts, InstancesComeBackWhereTheyWereNamedAsTheyWereAndSharedProductsOnce)
{
    TestAssembly a;
    const int block = a.addPart("block", TestModel::block(2, 3, 4));
    const int pin = a.addPart("pin", TestModel::cylinder(0.5, 2));
    const int pair = a.addAssembly("pair");
    a.place(pair, block, "left", qelx_test::placementTranslation(1, 2, 3));
    a.place(pair, block, "", turnedAboutDiagonal(0.9, 7, -1, 2));
    a.place(pair, pin, "", qelx_test::placementTranslation(-3, 0.5, 6));
    for (const bool mirrored : {false, true})
        for (const bool turned : {false, true}) {
            SCOPED_TRACE(std::string(mirrored ? "mirrored" : "as it is") + (turned ? ", turned" : ""));
            TestAssembly written = a;
            TestPlacement outer = turned ? turnedAboutDiagonal(2.1, 30, -12, 5) : qelx_test::placementTranslation(30, -12, 5);
            if (mirrored)
                outer = mirroredInX(outer);
            written.place(-1, pair, "pair-1", outer);
            written.place(-1, pair, "", qelx_test::placementTranslation(-40, 8, 1));
            written.place(-1, pin, "loose pin", mirroredInX(turnedAboutDiagonal(-0.6, 5, 50, -7)));
            const std::string path = (std::filesystem::temp_directory_path() /
                                      ("step_products_" + std::to_string(::getpid()) + ".step"))
                                         .string();
            std::string error;
            ASSERT_EQ(qelx_formats::writeStepAssembly(written, path, error), QELI_OK) << error;
            TestAssembly read;
            QELIResult result = qelx_formats::readStepAssembly(path, read, error);
            // The same file with the block's unnamed occurrences given neither
            // a name nor an identifier, as another writer may leave them.
            std::string text;
            {
                std::ifstream in(path, std::ios::binary);
                text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            }
            const std::regex blockUse("NEXT_ASSEMBLY_USAGE_OCCURRENCE\\('[^']*','block',");
            const std::ptrdiff_t blanked = std::distance(std::sregex_iterator(text.begin(), text.end(), blockUse),
                                                         std::sregex_iterator());
            std::ofstream(path, std::ios::binary | std::ios::trunc)
                << std::regex_replace(text, blockUse, "NEXT_ASSEMBLY_USAGE_OCCURRENCE('','',");
            TestAssembly anonymous;
            const QELIResult anonymousResult = qelx_formats::readStepAssembly(path, anonymous, error);
            std::filesystem::remove(path);
            ASSERT_EQ(result, QELI_OK) << error;
            ASSERT_EQ(anonymousResult, QELI_OK) << error;
            EXPECT_EQ(blanked, mirrored ? 2 : 1);
            EXPECT_EQ(instanceNames(anonymous), instanceNames(read));
            EXPECT_EQ(placedLeaves(read), placedLeaves(written));
            // The pair, block and pin, and the mirrored copies a mirroring placement makes.
            EXPECT_EQ(read.definitions.size(), mirrored ? 6u : 4u);
            EXPECT_EQ(read.roots.size(), 3u);
            // The pair's own instances once a product of it.
            const int copies = mirrored ? 2 : 1;
            const std::map<std::string, int> names = {{"block", copies}, {"left", copies}, {"loose pin", 1},
                                                      {"pair", 1},       {"pair-1", 1},    {"pin", copies}};
            EXPECT_EQ(instanceNames(read), names);
        }
}

// Colours given to instances (of a part, of an assembly, one of two uses
// of a product) come back on those instances alone, and the instances
// without one come back without one.
TEST(StepProducts, InstanceColoursComeBackOnTheirOwnInstances)
{
    TestAssembly a;
    const int block = a.addPart("block", TestModel::block(2, 3, 4));
    const int pair = a.addAssembly("pair");
    const int red = a.place(pair, block, "red block", qelx_test::placementTranslation(1, 2, 3));
    a.place(pair, block, "plain block", qelx_test::placementTranslation(9, 2, 3));
    const int blue = a.place(-1, pair, "blue pair", qelx_test::placementTranslation(0, 20, 0));
    a.place(-1, pair, "plain pair", qelx_test::placementTranslation(0, -20, 0));
    a.instances[static_cast<std::size_t>(red)].color = std::array<double, 4>{1.0, 0.0, 0.0, 0.0};
    a.instances[static_cast<std::size_t>(blue)].color = std::array<double, 4>{0.0, 0.0, 1.0, 0.0};
    const std::string path =
        (std::filesystem::temp_directory_path() / ("step_colours_" + std::to_string(::getpid()) + ".step")).string();
    std::string error;
    ASSERT_EQ(qelx_formats::writeStepAssembly(a, path, error), QELI_OK) << error;
    TestAssembly read;
    ASSERT_EQ(qelx_formats::readStepAssembly(path, read, error), QELI_OK) << error;
    std::filesystem::remove(path);
    std::map<std::string, std::string> colours;
    for (const qelx_test::TestInstance& i : read.instances) {
        std::string rgb = "none";
        if (i.color)
            rgb = std::to_string(std::lround((*i.color)[0] * 100)) + " " + std::to_string(std::lround((*i.color)[1] * 100)) +
                  " " + std::to_string(std::lround((*i.color)[2] * 100));
        colours[i.name] = rgb;
    }
    const std::map<std::string, std::string> expected = {
        {"red block", "100 0 0"}, {"plain block", "none"}, {"blue pair", "0 0 100"}, {"plain pair", "none"}};
    EXPECT_EQ(colours, expected);
}

// An instance's colour a file cannot carry (red, green or blue outside 0 to
// 1, or no number) is refused naming the instance, as a body's or face's
// is, whether the instance places a part or an assembly; nothing is written.
TEST(StepProducts, AnInstanceColourOutsideZeroToOneIsRefusedNamingTheInstance)
{
    const auto values = uncarried_colours::values();
    TestAssembly a;
    const int block = a.addPart("block", TestModel::block(2, 3, 4));
    const int pair = a.addAssembly("pair");
    a.place(pair, block, "", qelx_test::placementTranslation(1, 2, 3));
    const int leaf = a.place(pair, block, "second block", qelx_test::placementTranslation(9, 2, 3));
    const int top = a.place(-1, pair, "", qelx_test::placementTranslation(0, 20, 0));
    const struct {
        int instance;
        std::string place;
    } instances[] = {{leaf, "instance " + std::to_string(leaf) + " \"second block\""},
                     {top, "instance " + std::to_string(top)}};
    const std::string path =
        (std::filesystem::temp_directory_path() / ("step_bad_colours_" + std::to_string(::getpid()) + ".step")).string();
    std::size_t group = 0;
    for (const auto& instance : instances)
        for (const auto& v : values) {
            for (std::size_t component = 0; component < 3; ++component) {
                if (!in_turn::taken(group, component, 3))
                    continue;
                SCOPED_TRACE(instance.place + ", component " + std::to_string(component) + " " + v.written);
                TestAssembly written = a;
                std::array<double, 4> colour{0.25, 0.5, 0.75, 0.0};
                colour[component] = v.value;
                written.instances[static_cast<std::size_t>(instance.instance)].color = colour;
                std::string shown[3] = {"0.25", "0.5", "0.75"};
                shown[component] = v.written;
                std::string error;
                EXPECT_NE(qelx_formats::writeStepAssembly(written, path, error), QELI_OK);
                EXPECT_EQ(error, path + ": the assembly could not be written: " + instance.place + ": its colour (" +
                                     shown[0] + ", " + shown[1] + ", " + shown[2] +
                                     ") is none a file carries: red, green and blue each run from 0 to 1");
                EXPECT_FALSE(std::filesystem::exists(path));
                std::filesystem::remove(path);
            }
            ++group;
        }
}
