// Which STEP files read as assemblies: a file whose products are each placed
// once, at the top, is one model; a product placed twice, or an assembly that
// places products of its own, makes the file an assembly.
#include "qelx/test_assembly.hxx"
#include "qelx/test_model.hxx"
#include "qelx_formats/step_assembly.hxx"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>

namespace {

using qelx_test::TestAssembly;
using qelx_test::TestModel;

} // namespace

TEST(StepFileKinds, AFileIsAnAssemblyWhereAProductIsPlacedTwiceOrAnAssemblyPlacesProducts)
{
    struct Case {
        const char* what;
        std::function<void(TestAssembly&, int block, int pin)> place;
        bool assembly;
        int faces;
    };
    const Case cases[] = {
        {"two parts placed once each",
         [](TestAssembly& a, int block, int pin) {
             a.place(-1, block, "block-1", qelx_test::placementTranslation(0, 0, 0));
             a.place(-1, pin, "pin-1", qelx_test::placementTranslation(5, 0, 0));
         },
         false, 6 + 3},
        {"one part placed twice",
         [](TestAssembly& a, int block, int) {
             a.place(-1, block, "block-1", qelx_test::placementTranslation(0, 0, 0));
             a.place(-1, block, "block-2", qelx_test::placementTranslation(5, 0, 0));
         },
         true, 2 * 6},
        {"an assembly of two parts placed once",
         [](TestAssembly& a, int block, int pin) {
             const int pair = a.addAssembly("pair");
             a.place(pair, block, "block-1", qelx_test::placementTranslation(0, 0, 0));
             a.place(pair, pin, "pin-1", qelx_test::placementTranslation(5, 0, 0));
             a.place(-1, pair, "pair-1", qelx_test::placementTranslation(0, 0, 0));
         },
         true, 6 + 3},
    };
    const std::string path =
        (std::filesystem::temp_directory_path() / ("step_file_kinds_" + std::to_string(::getpid()) + ".step")).string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestAssembly a;
        const int block = a.addPart("block", TestModel::block(2, 3, 4));
        const int pin = a.addPart("pin", TestModel::cylinder(0.5, 2));
        c.place(a, block, pin);
        std::string error;
        ASSERT_EQ(qelx_formats::writeStepAssembly(a, path, error), QELI_OK) << error;
        TestModel model;
        TestAssembly read;
        bool isAssembly = !c.assembly;
        int faces = -1;
        const QELIResult result = qelx_formats::readStepFile(path, model, read, isAssembly, faces, error);
        std::filesystem::remove(path);
        ASSERT_EQ(result, QELI_OK) << error;
        EXPECT_EQ(isAssembly, c.assembly);
        EXPECT_EQ(faces, c.faces);
        if (c.assembly)
            EXPECT_EQ(read.roots.size(), a.roots.size());
        else
            EXPECT_EQ(model.faces.size(), static_cast<std::size_t>(c.faces));
    }
}
