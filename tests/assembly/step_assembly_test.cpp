// A STEP file's product structure flattened into the kernel: one placed body
// per leaf instance, and the volume Open CASCADE measures of the file.
#include "assembly_test_support.hxx"

#include "qelx_formats/cad_file.hxx"
#include "qelx_formats/exchange_leak_suppressions.hxx"
#include "qelx_formats/step_assembly.hxx"
#include "support/holder_assembly.hxx"
#include "../../tools/xvelm/assembly_import.hxx"
#include "../../tools/xvelm/convert_verb.hxx"

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <filesystem>
#include <unistd.h>

using namespace asmtest;

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
    const holdertest::Holder h = holdertest::addHolder(
        a, {qelx_test::placementTranslation(1.5, 1.5, 1), qelx_test::placementTurnZ(0.4, 4.5, 1.5, 1)});
    a.place(-1, h.holder, "holder-1", qelx_test::placementTranslation(0, 0, 0));
    a.place(-1, h.holder, "holder-2", qelx_test::placementTurnZ(M_PI / 3, 20, 5, -2));
    a.place(-1, h.pin, "loose pin", qelx_test::placementTranslation(-5, 0, 0));
    TempStep file;
    std::string error;
    ASSERT_EQ(qelx_formats::writeStepAssembly(a, file.path(), error), QELI_OK) << error;
    int peerSolids = 0;
    double peerVolume = 0.0;
    ASSERT_EQ(qelx_formats::measureStepSolids(file.path(), peerSolids, peerVolume, error), QELI_OK) << error;
    ASSERT_EQ(peerSolids, 7);

    TestAssembly read;
    ASSERT_EQ(qelx_formats::readStepAssembly(file.path(), read, error), QELI_OK) << error;
    // Shared products stay one definition each: the parts and the holder (the
    // top product's components are the roots).
    EXPECT_EQ(read.definitions.size(), 3u);
    EXPECT_EQ(read.roots.size(), 3u);
    AssemblyRun run(std::move(read));
    ASSERT_EQ(run.run(), QELI_OK);
    const std::vector<BODY*> bodies = run.bodies();
    EXPECT_EQ(bodies.size(), static_cast<std::size_t>(peerSolids));
    double volume = 0.0;
    for (BODY* b : bodies)
        volume += kernelVolume(b);
    EXPECT_NEAR(volume, peerVolume, 1e-4 * peerVolume);
    // Each definition converted once.
    EXPECT_EQ(Ve_PartDocumentCache::Insertions(), 3);
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
    EXPECT_TRUE(qelx_formats::placesProducts(read));
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
    EXPECT_FALSE(qelx_formats::placesProducts(single));
    ASSERT_EQ(single.roots.size(), 1u);
}

namespace {

// A target whose entity list cannot be read back: the importer places its
// bodies, but the commit's healing of the whole assembly has no list to heal.
class ListlessDocument : public QELXVelmDocument {
public:
    void* GetNativeData(const QELXString& typeName) override
    {
        return typeName.equals(QELXString("ENTITY_LIST")) ? nullptr : QELXVelmDocument::GetNativeData(typeName);
    }
};

} // namespace

// A commit that fails fails the driver's assembly road, as a failed import
// does (it was reported as a success with every body counted).
TEST_F(StepAssemblyTest, TheDriversAssemblyRoadFailsWhenTheCommitFails)
{
    TestAssembly a;
    const int pin = a.addPart("pin", TestModel::cylinder(0.5, 2));
    a.place(-1, pin, "left", qelx_test::placementTranslation(0, 0, 0));
    a.place(-1, pin, "right", qelx_test::placementTurnZ(1.0, 3, 0, 0));
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("HealAssemBodiesAfterCompleteTranslation"));
    ListlessDocument target;
    target.SetUnit(QELX_UNIT_MILLIMETER);
    xvelm::ImportCounts counts;
    std::string failure;
    EXPECT_FALSE(xvelm::import_assembly(std::move(a), target, counts, failure, std::string()));
    EXPECT_EQ(failure, "the bodies could not be committed (result 0x1000001)");
}

// The driver reads a STEP file once for either road: what it reads is what
// the assembly reader or the plain reader reads of the file alone.
TEST_F(StepAssemblyTest, OneReadOfAFileGivesWhatEitherReaderGives)
{
    TestAssembly a;
    const int holder = holdertest::addHolder(a, {qelx_test::placementTurnZ(0.7, 1.5, 1.5, 1)}, true).holder;
    a.place(-1, holder, "holder-1", qelx_test::placementTranslation(0, 0, 0));
    a.place(-1, holder, "holder-2", qelx_test::placementTurnZ(2.0, 20, -3, 4));
    TempStep file;
    std::string error;
    ASSERT_EQ(qelx_formats::writeStepAssembly(a, file.path(), error), QELI_OK) << error;

    TestAssembly alone;
    ASSERT_EQ(qelx_formats::readStepAssembly(file.path(), alone, error), QELI_OK) << error;
    TestModel flat;
    ASSERT_EQ(qelx_formats::readCadFile(file.path(), flat, error), QELI_OK) << error;
    TestModel model = TestModel::block(1, 1, 1); // untouched by an assembly
    TestAssembly once;
    bool isAssembly = false;
    int faces = -1;
    ASSERT_EQ(qelx_formats::readStepFile(file.path(), model, once, isAssembly, faces, error), QELI_OK) << error;
    EXPECT_TRUE(isAssembly);
    EXPECT_EQ(faces, static_cast<int>(flat.faces.size()));
    EXPECT_EQ(model.faces.size(), 6u);
    ASSERT_EQ(once.definitions.size(), alone.definitions.size());
    for (std::size_t d = 0; d < once.definitions.size(); ++d) {
        SCOPED_TRACE(d);
        const qelx_test::TestDefinition &x = once.definitions[d], &y = alone.definitions[d];
        EXPECT_EQ(x.name, y.name);
        EXPECT_EQ(x.assembly, y.assembly);
        EXPECT_EQ(x.children, y.children);
        EXPECT_EQ(x.part.faces.size(), y.part.faces.size());
        EXPECT_EQ(x.part.edges.size(), y.part.edges.size());
        EXPECT_EQ(x.part.attributes.size(), y.part.attributes.size());
        for (const auto& [word, attributes] : y.part.attributes) {
            const auto it = x.part.attributes.find(word);
            ASSERT_NE(it, x.part.attributes.end());
            EXPECT_EQ(it->second.color, attributes.color);
            EXPECT_EQ(it->second.layer, attributes.layer);
        }
        EXPECT_EQ(x.part.layers.size(), y.part.layers.size());
    }
    ASSERT_EQ(once.instances.size(), alone.instances.size());
    for (std::size_t i = 0; i < once.instances.size(); ++i) {
        EXPECT_EQ(once.instances[i].name, alone.instances[i].name);
        EXPECT_EQ(once.instances[i].definition, alone.instances[i].definition);
        EXPECT_EQ(once.instances[i].placement, alone.instances[i].placement);
    }
    EXPECT_EQ(once.roots, alone.roots);

    // One part alone: the plain reader's model, the assembly untouched.
    TestModel block = TestModel::block(1, 2, 3);
    block.attributes[qelx_test::wordOf(qelx_test::KindFace, 3)].color = std::array<double, 4>{0.0, 1.0, 0.0, 0.0};
    ASSERT_EQ(qelx_formats::writeCadFile(block, file.path(), error), QELI_OK) << error;
    ASSERT_EQ(qelx_formats::readCadFile(file.path(), flat, error), QELI_OK) << error;
    TestModel single;
    const std::size_t definitions = once.definitions.size();
    ASSERT_EQ(qelx_formats::readStepFile(file.path(), single, once, isAssembly, faces, error), QELI_OK) << error;
    EXPECT_FALSE(isAssembly);
    EXPECT_EQ(once.definitions.size(), definitions);
    EXPECT_EQ(faces, 6);
    EXPECT_EQ(single.xType, "XStep");
    EXPECT_EQ(single.faces.size(), flat.faces.size());
    EXPECT_EQ(single.coedges.size(), flat.coedges.size());
    EXPECT_EQ(single.surfaces.size(), flat.surfaces.size());
    ASSERT_EQ(single.attributes.size(), flat.attributes.size());
    for (const auto& [word, attributes] : flat.attributes)
        EXPECT_EQ(single.attributes[word].color, attributes.color);

    // A damaged file is refused as the plain reader refuses it.
    if (std::FILE* f = std::fopen(file.path().c_str(), "w")) {
        std::fputs("ISO-10303-21;\nnot a step file\n", f);
        std::fclose(f);
    }
    std::string plain;
    EXPECT_EQ(qelx_formats::readCadFile(file.path(), flat, plain), QELI_FAIL);
    EXPECT_EQ(qelx_formats::readStepFile(file.path(), single, once, isAssembly, faces, error), QELI_FAIL);
    EXPECT_EQ(error, plain);
}

TEST_F(StepAssemblyTest, ConvertFlattensAStepAssemblyIntoTheKernel)
{
    TestAssembly a;
    const int holder = holdertest::addHolder(a, {qelx_test::placementTranslation(1.5, 1.5, 1)}).holder;
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
    // Placed as instances: the bodies say so (named after the top-level instances).
    EXPECT_NE(text.find("ATTRIB_XVELM_INSTANCE_ASSEMBLY"), std::string::npos);
}

namespace {

// The colour the model gives the entity, or none.
std::optional<std::array<double, 4>> colourOf(const TestModel& m, qelx_test::EntityKind kind, int index)
{
    const auto it = m.attributes.find(qelx_test::wordOf(kind, index));
    return it == m.attributes.end() ? std::nullopt : it->second.color;
}

bool mirrors(const qelx_test::TestPlacement& p)
{
    return p[0] * (p[4] * p[8] - p[5] * p[7]) - p[1] * (p[3] * p[8] - p[5] * p[6]) +
               p[2] * (p[3] * p[7] - p[4] * p[6]) <
           0.0;
}

std::string layerNameOf(const TestModel& m, qelx_test::EntityKind kind, int index)
{
    const auto it = m.attributes.find(qelx_test::wordOf(kind, index));
    if (it == m.attributes.end() || !it->second.layer)
        return "";
    const auto layer = m.layers.find(*it->second.layer);
    return layer == m.layers.end() ? "?" : layer->second.name;
}

// A plate (blue, on layer "Plates", one face red, named "top" and on layer
// "Marked") and a pin (green, on layer "Pins") in a holder; the holder placed
// turned and mirrored, one of its pins in yellow of its own.
TestAssembly colouredHolders()
{
    TestAssembly a;
    const int holder = holdertest::addHolder(a,
                                             {qelx_test::placementTranslation(1.5, 1.5, 1),
                                              qelx_test::placementTurnZ(0.4, 4.5, 1.5, 1)},
                                             true)
                           .holder;
    a.place(-1, holder, "turned", qelx_test::placementTurnZ(M_PI / 3, 20, 5, -2));
    a.place(-1, holder, "mirrored", qelx_test::placementMirrorX(-10, 0, 0));
    return a;
}

} // namespace

// Names, colours and layers of a STEP assembly reach the flattened bodies and
// faces and go back out in STEP: the product's colour and layer on each body,
// an instance's own colour over it, a face's colour, layer and name on that face,
// through a turned and a mirrored placement of the holder.
TEST_F(StepAssemblyTest, ColoursNamesAndLayersOfTheProductsReachTheFlattenedBodies)
{
    TempStep file;
    std::string error;
    ASSERT_EQ(qelx_formats::writeStepAssembly(colouredHolders(), file.path(), error), QELI_OK) << error;
    int peerSolids = 0;
    double peerVolume = 0.0;
    ASSERT_EQ(qelx_formats::measureStepSolids(file.path(), peerSolids, peerVolume, error), QELI_OK) << error;
    ASSERT_EQ(peerSolids, 6);
    const std::string out = file.path() + ".out.step";
    std::unique_ptr<FILE, int (*)(FILE*)> said(std::tmpfile(), &std::fclose);
    std::unique_ptr<FILE, int (*)(FILE*)> err(std::tmpfile(), &std::fclose);
    ASSERT_EQ(xvelm::convert(file.path().c_str(), out.c_str(), nullptr, said.get(), err.get()), 0);
    TestModel back;
    const QELIResult read = qelx_formats::readCadFile(out, back, error);
    int solids = 0;
    double volume = 0.0;
    const QELIResult measured = qelx_formats::measureStepSolids(out, solids, volume, error);
    std::remove(out.c_str());
    ASSERT_EQ(read, QELI_OK) << error;
    ASSERT_EQ(measured, QELI_OK) << error;
    // The mirrored bodies still face outwards: the peer's volume of the whole.
    EXPECT_EQ(solids, 6);
    EXPECT_NEAR(volume, peerVolume, 1e-6 * peerVolume);
    ASSERT_EQ(back.bodies.size(), 6u);
    std::map<std::string, int> bodies; // "name colour layer" of each body
    for (int b = 0; b < 6; ++b) {
        const auto it = back.attributes.find(qelx_test::wordOf(qelx_test::KindBody, b));
        ASSERT_NE(it, back.attributes.end()) << "body " << b;
        const std::optional<std::array<double, 4>> c = colourOf(back, qelx_test::KindBody, b);
        ASSERT_TRUE(c.has_value()) << "body " << b;
        const std::string colour = (*c)[0] > 0.95 ? "yellow" : (*c)[2] > 0.7 ? "blue" : (*c)[1] > 0.6 ? "green" : "?";
        ++bodies[it->second.name.value_or("") + " " + colour + " " + layerNameOf(back, qelx_test::KindBody, b)];
    }
    // Each body is named after the top-level instance that places it.
    EXPECT_EQ(bodies, (std::map<std::string, int>{{"mirrored blue Plates", 1},
                                                  {"mirrored green Pins", 1},
                                                  {"mirrored yellow Pins", 1},
                                                  {"turned blue Plates", 1},
                                                  {"turned green Pins", 1},
                                                  {"turned yellow Pins", 1}}));
    int red = 0;
    for (int f = 0; f < static_cast<int>(back.faces.size()); ++f)
        if (const auto c = colourOf(back, qelx_test::KindFace, f); c && (*c)[0] > 0.85 && (*c)[1] < 0.2) {
            ++red;
            EXPECT_EQ(layerNameOf(back, qelx_test::KindFace, f), "Marked");
            const auto it = back.attributes.find(qelx_test::wordOf(qelx_test::KindFace, f));
            EXPECT_EQ(it->second.name.value_or(""), "top");
        }
    EXPECT_EQ(red, 2);
}

// The mirrored holder is written as a mirrored copy of each of its products,
// placed rigidly: read back, the copies are products of their own, their
// instances' colours kept, and the layers numbered once across the file.
TEST_F(StepAssemblyTest, AMirroredInstanceIsWrittenAsAMirroredCopyOfItsProducts)
{
    TempStep file;
    std::string error;
    ASSERT_EQ(qelx_formats::writeStepAssembly(colouredHolders(), file.path(), error), QELI_OK) << error;
    TestAssembly read;
    ASSERT_EQ(qelx_formats::readStepAssembly(file.path(), read, error), QELI_OK) << error;
    // The holder, plate and pin, each with its mirrored copy.
    EXPECT_EQ(read.definitions.size(), 6u);
    std::map<std::string, int> layers;
    int yellow = 0;
    for (const qelx_test::TestInstance& i : read.instances) {
        EXPECT_FALSE(mirrors(i.placement)) << i.name;
        yellow += i.color && (*i.color)[0] > 0.95;
    }
    EXPECT_EQ(yellow, 2);
    for (const qelx_test::TestDefinition& d : read.definitions)
        for (const auto& [number, layer] : d.part.layers)
            EXPECT_EQ(layers.emplace(layer.name, number).first->second, number) << layer.name;
    EXPECT_EQ(layers, (std::map<std::string, int>{{"Plates", 1}, {"Marked", 2}, {"Pins", 3}}));
}

// A part body the road refuses is named by its product and by its place in
// that part, as the driver names a place in a single part ("body 0, face
// 4"), never by the identifier every part's source numbers alike; a place
// found after the product's conversion names no product.
TEST_F(StepAssemblyTest, TheDriversAssemblyRoadNamesARefusedBodyByItsProduct)
{
    const struct {
        const char* what;
        std::function<void(TestModel&)> spoil;
        const char* failure;
    } cases[] = {
        {"a face without surface", [](TestModel& m) { m.faces[4].surface = -1; },
         "part of it could not be imported: product \"broken.part\": body 0, face 4: not imported, it has no surface"},
        {"a face of the second body without surface", [](TestModel& m) { m.faces[7].surface = -1; },
         "part of it could not be imported: product \"broken.part\": body 1, face 1: not imported, it has no surface"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestModel broken = TestModel::block(1, 2, 3);
        broken.append(TestModel::cylinder(1.0, 2.0));
        c.spoil(broken);
        TestAssembly a;
        const int sound = a.addPart("sound", TestModel::block(1, 1, 1));
        const int bad = a.addPart("broken", std::move(broken));
        a.place(-1, sound, "sound-1", qelx_test::placementTranslation(0, 0, 0));
        a.place(-1, bad, "broken-1", qelx_test::placementTranslation(5, 0, 0));
        QELXVelmDocument target;
        target.SetUnit(QELX_UNIT_MILLIMETER);
        xvelm::ImportCounts counts;
        std::string failure;
        EXPECT_FALSE(xvelm::import_assembly(std::move(a), target, counts, failure, std::string()));
        EXPECT_EQ(failure.rfind(c.failure, 0), 0u) << failure;
    }
}
