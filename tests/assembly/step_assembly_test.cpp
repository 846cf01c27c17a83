// A STEP file's product structure flattened into the kernel: one placed body
// per leaf instance, and the volume Open CASCADE measures of the file.
#include "assembly_test_support.hxx"

#include "qelx_formats/cad_file.hxx"
#include "qelx_formats/step_assembly.hxx"
#include "../../tools/xvelm/assembly_import.hxx"
#include "../../tools/xvelm/convert_verb.hxx"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

using namespace asmtest;

// Open CASCADE's data exchange registers its editors and STEP writer tables in
// statics of its own once per process and never frees them; in this program
// (which reaches them only through the file-format library) the leak check
// at exit counts them. Nothing of ours is allocated through these libraries.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libTKernel.so\nleak:libTKXSBase.so\nleak:libTKSTEP.so\nleak:libTKXDESTEP.so\n";
}

namespace {

class StepAssemblyTest : public AssemblyTest {};

// A unique file name in the temporary folder, removed with the object.
class TempStep {
public:
    TempStep()
        : m_path((std::filesystem::temp_directory_path() /
                  ("xvelm-assembly-" + std::to_string(::getpid()) + ".step")).string())
    {
    }
    ~TempStep() { std::remove(m_path.c_str()); }
    TempStep(const TempStep&) = delete;
    TempStep& operator=(const TempStep&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

double kernelVolume(BODY* body)
{
    double volume = 0.0, accuracy = 0.0;
    EXPECT_TRUE(api_body_volume(body, 1e-6, volume, accuracy).ok());
    return volume;
}

} // namespace

TEST_F(StepAssemblyTest, FlattenedFileHasOneBodyPerLeafInstanceAndThePeersVolume)
{
    // A holder of a plate and two pins, placed twice and turned, and one pin
    // on its own: seven leaf instances of two shared parts.
    TestAssembly a;
    const int plate = a.addPart("plate", TestModel::block(6, 3, 1));
    const int pin = a.addPart("pin", TestModel::cylinder(0.5, 2));
    const int holder = a.addAssembly("holder");
    a.place(holder, plate, "plate", qelx_test::placementTranslation(0, 0, 0));
    a.place(holder, pin, "pin-a", qelx_test::placementTranslation(1.5, 1.5, 1));
    a.place(holder, pin, "pin-b", qelx_test::placementTurnZ(0.4, 4.5, 1.5, 1));
    a.place(-1, holder, "holder-1", qelx_test::placementTranslation(0, 0, 0));
    a.place(-1, holder, "holder-2", qelx_test::placementTurnZ(M_PI / 3, 20, 5, -2));
    a.place(-1, pin, "loose pin", qelx_test::placementTranslation(-5, 0, 0));
    TempStep file;
    std::string error;
    ASSERT_EQ(qelx_formats::writeStepAssembly(a, file.path(), error), QELI_OK) << error;
    int peerSolids = 0;
    double peerVolume = 0.0;
    ASSERT_EQ(qelx_formats::measureStepSolids(file.path(), peerSolids, peerVolume, error), QELI_OK) << error;
    ASSERT_EQ(peerSolids, 7);

    TestAssembly read;
    ASSERT_EQ(qelx_formats::readStepAssembly(file.path(), read, error), QELI_OK) << error;
    // Shared products stay one definition each: the parts, the holder and the top product.
    EXPECT_EQ(read.definitions.size(), 4u);
    AssemblyRun run(std::move(read));
    ASSERT_EQ(run.run(), QELI_OK);
    const std::vector<BODY*> bodies = run.bodies();
    EXPECT_EQ(bodies.size(), static_cast<std::size_t>(peerSolids));
    double volume = 0.0;
    for (BODY* b : bodies)
        volume += kernelVolume(b);
    EXPECT_NEAR(volume, peerVolume, 1e-4 * peerVolume);
    // Each definition converted once.
    EXPECT_EQ(Ve_PartDocumentCache::Insertions(), 4);
}

TEST_F(StepAssemblyTest, FilesThatAreNotStepAssembliesAreRefusedNamingTheFile)
{
    TestAssembly read;
    read.addPart("kept", TestModel());
    std::string error;
    EXPECT_NE(qelx_formats::readStepAssembly("/nonexistent/a.step", read, error), QELI_OK);
    EXPECT_NE(error.find("/nonexistent/a.step"), std::string::npos);
    TempStep file;
    {
        std::FILE* f = std::fopen(file.path().c_str(), "w");
        ASSERT_TRUE(f);
        std::fputs("ISO-10303-21;\nnot a step file\n", f);
        std::fclose(f);
    }
    EXPECT_EQ(qelx_formats::readStepAssembly(file.path(), read, error), QELI_FAIL);
    EXPECT_NE(error.find(file.path()), std::string::npos);
    EXPECT_EQ(read.definitions.size(), 1u); // untouched
}

TEST_F(StepAssemblyTest, TheDriversAssemblyRoadFlattensAnAssemblyAndLeavesSinglePartsAlone)
{
    TestAssembly a;
    const int pin = a.addPart("pin", TestModel::cylinder(0.5, 2));
    const int pair = a.addAssembly("pair");
    a.place(pair, pin, "left", qelx_test::placementTranslation(0, 0, 0));
    a.place(pair, pin, "right", qelx_test::placementTurnZ(1.0, 3, 0, 0));
    a.place(-1, pair, "pair", qelx_test::placementTranslation(0, 0, 0));
    TempStep file;
    std::string error;
    ASSERT_EQ(qelx_formats::writeStepAssembly(a, file.path(), error), QELI_OK) << error;
    TestAssembly read;
    ASSERT_EQ(qelx_formats::readStepAssembly(file.path(), read, error), QELI_OK) << error;
    EXPECT_TRUE(xvelm::places_products(read));
    {
        QELXVelmDocument target;
        target.SetUnit(QELX_UNIT_MILLIMETER);
        xvelm::ImportCounts counts;
        std::string failure;
        ASSERT_TRUE(xvelm::import_assembly(std::move(read), target, counts, failure, std::string())) << failure;
        EXPECT_EQ(counts.bodies, 2);
        EXPECT_EQ(counts.faces, 6);
    }
    // One part alone is no assembly: the driver's plain road reads it.
    ASSERT_EQ(qelx_formats::writeCadFile(TestModel::block(1, 2, 3), file.path(), error), QELI_OK) << error;
    TestAssembly single;
    ASSERT_EQ(qelx_formats::readStepAssembly(file.path(), single, error), QELI_OK) << error;
    EXPECT_FALSE(xvelm::places_products(single));
    ASSERT_EQ(single.roots.size(), 1u);
}

TEST_F(StepAssemblyTest, ConvertFlattensAStepAssemblyIntoTheKernel)
{
    TestAssembly a;
    const int plate = a.addPart("plate", TestModel::block(6, 3, 1));
    const int pin = a.addPart("pin", TestModel::cylinder(0.5, 2));
    const int holder = a.addAssembly("holder");
    a.place(holder, plate, "plate", qelx_test::placementTranslation(0, 0, 0));
    a.place(holder, pin, "pin", qelx_test::placementTranslation(1.5, 1.5, 1));
    a.place(-1, holder, "holder-1", qelx_test::placementTranslation(0, 0, 0));
    a.place(-1, holder, "holder-2", qelx_test::placementTurnZ(1.0, 20, 0, 0));
    TempStep file;
    std::string error;
    ASSERT_EQ(qelx_formats::writeStepAssembly(a, file.path(), error), QELI_OK) << error;
    const std::string saved = file.path() + ".vlt";
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::tmpfile(), &std::fclose);
    std::unique_ptr<FILE, int (*)(FILE*)> err(std::tmpfile(), &std::fclose);
    const int status = xvelm::convert(file.path().c_str(), saved.c_str(), "off", out.get(), err.get());
    std::rewind(out.get());
    char line[512] = {};
    const bool read = std::fgets(line, sizeof line, out.get()) != nullptr;
    std::string text;
    if (std::FILE* f = std::fopen(saved.c_str(), "r")) {
        for (int c; (c = std::fgetc(f)) != EOF;)
            text.push_back(static_cast<char>(c));
        std::fclose(f);
    }
    std::remove(saved.c_str());
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(read);
    // Two plates and two pins: one body per leaf instance, the faces the file places.
    EXPECT_NE(std::string(line).find(": 4 bodies, 18 faces (18 in the source)"), std::string::npos) << line;
    // Placed as instances: the bodies say so (named after the file's top product).
    EXPECT_NE(text.find("ATTRIB_XVELM_INSTANCE_ASSEMBLY"), std::string::npos);
}
