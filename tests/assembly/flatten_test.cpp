// A whole assembly flattened: one definition placed many times, a nested
// sub-assembly placed twice, a mirrored instance, per-instance names, colours
// and visibility.
#include "assembly_test_support.hxx"


#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <string>

using namespace asmtest;
using qelx_test::TestPlacement;

namespace {

constexpr double kDx = 4.0, kDy = 2.0, kDz = 1.0;

// The brick's box after the placements, innermost first (points are rows: p M + t).
Box placedBrick(const std::vector<TestPlacement>& chain)
{
    Box b{{1e300, 1e300, 1e300}, {-1e300, -1e300, -1e300}};
    for (int corner = 0; corner < 8; ++corner) {
        double p[3] = {corner & 1 ? kDx : 0.0, corner & 2 ? kDy : 0.0, corner & 4 ? kDz : 0.0};
        for (const TestPlacement& m : chain) {
            double q[3];
            for (int j = 0; j < 3; ++j)
                q[j] = p[0] * m[0 + j] + p[1] * m[3 + j] + p[2] * m[6 + j] + m[9 + j];
            std::copy(q, q + 3, p);
        }
        for (int j = 0; j < 3; ++j) {
            b.low[j] = std::min(b.low[j], p[j]);
            b.high[j] = std::max(b.high[j], p[j]);
        }
    }
    return b;
}

struct Scene {
    TestAssembly assembly;
    int brick = -1, pair = -1;
    // Expected box and name of every body of the result.
    std::vector<std::pair<std::string, Box>> expected;
};

Scene scene()
{
    Scene s;
    TestAssembly& a = s.assembly;
    s.brick = a.addPart("brick", TestModel::block(kDx, kDy, kDz));
    s.pair = a.addAssembly("pair");
    const TestPlacement innerA = qelx_test::placementTranslation(0, 0, 0);
    const TestPlacement innerB = qelx_test::placementTurnZ(0.5, 1, 3, 0);
    const int a1 = a.place(s.pair, s.brick, "inner-a", innerA);
    const int a2 = a.place(s.pair, s.brick, "inner-b", innerB);
    a.instances[static_cast<std::size_t>(a1)].color = std::array<double, 4>{0.0, 1.0, 0.0, 1.0};
    a.instances[static_cast<std::size_t>(a2)].color = std::array<double, 4>{0.0, 0.0, 1.0, 1.0};

    const TestPlacement p1 = qelx_test::placementTranslation(0, 0, 0);
    const TestPlacement p2 = qelx_test::placementTurnZ(M_PI / 2, 20, 0, 0);
    const TestPlacement p3 = qelx_test::placementMirrorX(-5, 1, 0);
    const TestPlacement s1 = qelx_test::placementTranslation(0, 0, 5);
    const TestPlacement s2 = qelx_test::placementTurnZ(-0.3, 7, -4, 10);
    const int r1 = a.place(-1, s.brick, "brick-1", p1);
    const int r2 = a.place(-1, s.brick, "brick-2", p2);
    const int r3 = a.place(-1, s.brick, "mirror", p3);
    a.place(-1, s.pair, "sub-1", s1);
    const int r5 = a.place(-1, s.pair, "sub-2", s2);
    a.instances[static_cast<std::size_t>(r1)].color = std::array<double, 4>{-0.2, 0.5, 1.7, 1.0};
    a.instances[static_cast<std::size_t>(r2)].show = false;
    a.instances[static_cast<std::size_t>(r3)].color = std::array<double, 4>{1.0, 0.0, 0.0, 1.0};
    a.instances[static_cast<std::size_t>(r5)].color = std::array<double, 4>{1.0, 1.0, 0.0, 1.0};

    s.expected = {{"brick-1", placedBrick({p1})},        {"brick-2", placedBrick({p2})},
                  {"mirror", placedBrick({p3})},         {"sub-1", placedBrick({innerA, s1})},
                  {"sub-1", placedBrick({innerB, s1})}, {"sub-2", placedBrick({innerA, s2})},
                  {"sub-2", placedBrick({innerB, s2})}};
    return s;
}

std::array<double, 3> colourOf(ENTITY* e)
{
    auto* rgb = static_cast<ATTRIB_RGB*>(find_attrib(e, ATTRIB_ST_TYPE, ATTRIB_RGB_TYPE));
    return rgb ? std::array<double, 3>{rgb->red(), rgb->green(), rgb->blue()} : std::array<double, 3>{-1, -1, -1};
}

class FlattenTest : public AssemblyTest {};

} // namespace

TEST_F(FlattenTest, EveryInstanceIsOneBodyAtItsPlacementAndEachDefinitionIsConvertedOnce)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("TransferAttribute"));
    Scene s = scene();
    AssemblyRun run(s.assembly);
    ASSERT_EQ(run.run(), QELI_OK);

    const std::vector<BODY*> bodies = run.bodies();
    ASSERT_EQ(bodies.size(), s.expected.size());
    // Each expected placement met by exactly one body of that name.
    std::vector<bool> used(bodies.size(), false);
    for (const auto& [name, box] : s.expected) {
        int found = -1;
        for (std::size_t i = 0; i < bodies.size(); ++i)
            if (!used[i] && nameOf(bodies[i]) == name && sameBox(boxOf(bodies[i]), box))
                found = static_cast<int>(i);
        ASSERT_GE(found, 0) << name << " has no body at its placement";
        used[static_cast<std::size_t>(found)] = true;
    }
    // Converted once each: the brick's part document was loaded once, and
    // every further use of a definition came from the cache.
    EXPECT_EQ(run.source().loads(s.brick), 1);
    EXPECT_EQ(Ve_PartDocumentCache::Insertions(), 2);
    EXPECT_EQ(Ve_PartDocumentCache::Hits(), 5);
    EXPECT_EQ(run.source().openDefinitionDocuments(), 0);
    EXPECT_EQ(run.importer().GetNumberOfPlacedRoots(), 5);
    for (BODY* b : bodies) {
        // Every placement is baked into the geometry.
        EXPECT_EQ(b->transform(), nullptr) << nameOf(b);
        std::string report;
        EXPECT_TRUE(velm_test_check_model(b, &report)) << nameOf(b) << ": " << report;
    }
}

TEST_F(FlattenTest, MirroredInstanceStaysOutwardFacing)
{
    Scene s = scene();
    AssemblyRun run(s.assembly);
    ASSERT_EQ(run.run(), QELI_OK);
    BODY* mirrored = nullptr;
    BODY* plain = nullptr;
    for (BODY* b : run.bodies()) {
        if (nameOf(b) == "mirror")
            mirrored = b;
        if (nameOf(b) == "brick-1")
            plain = b;
    }
    ASSERT_TRUE(mirrored && plain);
    // The mirror of x in [0, 4] is x in [-4, 0], moved by -5: the middle is (-7, 2, 0.5).
    EXPECT_EQ(containment(mirrored, -7.0, 2.0, 0.5), 1);
    EXPECT_EQ(containment(mirrored, -3.0, 2.0, 0.5), -1);
    EXPECT_EQ(containment(plain, 2.0, 1.0, 0.5), 1);
    // Outward faces give the body a positive area sum for every face's own sense.
    ENTITY_LIST faces;
    api_get_faces(mirrored, faces);
    for (int i = 0; i < faces.count(); ++i) {
        double area = 0.0, accuracy = 0.0;
        ASSERT_TRUE(api_ent_area(faces[i], 1e-6, area, accuracy).ok());
        EXPECT_GT(area, 0.0);
    }
}

TEST_F(FlattenTest, NamesColoursAndVisibilityFollowTheInstance)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("TransferAttribute"));
    Scene s = scene();
    AssemblyRun run(s.assembly);
    ASSERT_EQ(run.run(), QELI_OK);
    std::map<std::string, std::vector<BODY*>> byName;
    for (BODY* b : run.bodies())
        byName[nameOf(b)].push_back(b);
    // The source colour (-0.2, 0.5, 1.7) clamped.
    EXPECT_EQ(colourOf(byName["brick-1"][0]), (std::array<double, 3>{0.0, 0.5, 1.0}));
    EXPECT_EQ(colourOf(byName["mirror"][0]), (std::array<double, 3>{1.0, 0.0, 0.0}));
    int shown = 1;
    EXPECT_TRUE(Ve_AttribTransfer::GetIntegerAttrib(byName["brick-2"][0], Ve_AttribTransfer::ShowName, shown));
    EXPECT_EQ(shown, 0);
    EXPECT_FALSE(Ve_AttribTransfer::IsAttribPresent(byName["brick-1"][0], Ve_AttribTransfer::ShowName));
    // Inside the sub-assembly each brick keeps its inner colour unless the
    // outer instance has one of its own.
    ASSERT_EQ(byName["sub-1"].size(), 2u);
    std::vector<std::array<double, 3>> inner;
    for (BODY* b : byName["sub-1"])
        inner.push_back(colourOf(b));
    std::sort(inner.begin(), inner.end());
    EXPECT_EQ(inner, (std::vector<std::array<double, 3>>{{0, 0, 1}, {0, 1, 0}}));
    for (BODY* b : byName["sub-2"])
        EXPECT_EQ(colourOf(b), (std::array<double, 3>{1.0, 1.0, 0.0}));
    // Bodies placed through an assembly instance say so.
    int isAssembly = 0;
    EXPECT_TRUE(Ve_AttribTransfer::GetIntegerAttrib(byName["sub-2"][0], Ve_AttribTransfer::InstanceAssemblyName,
                                                    isAssembly));
    EXPECT_EQ(isAssembly, 1);
}

TEST_F(FlattenTest, WithoutTransferAttributeNoColourOrVisibilityIsWritten)
{
    Scene s = scene();
    AssemblyRun run(s.assembly);
    ASSERT_EQ(run.run(), QELI_OK);
    for (BODY* b : run.bodies()) {
        EXPECT_EQ(colourOf(b)[0], -1.0) << nameOf(b);
        EXPECT_FALSE(Ve_AttribTransfer::IsAttribPresent(b, Ve_AttribTransfer::ShowName));
    }
}

TEST_F(FlattenTest, InstanceAliasesReachEveryPlacedEntityThatNamesItsSource)
{
    qelx_test::OptionScope options;
    options.on(QELXOptionName::XVelm_UseAttributeImporter);
    TestAssembly a;
    const int brick = a.addPart("brick", TestModel::block(1, 1, 1));
    const int named = a.place(-1, brick, "named", qelx_test::placementTranslation(0, 0, 0));
    a.place(-1, brick, "plain", qelx_test::placementTranslation(3, 0, 0));
    // An instance that refers to another carries its definition's aliases.
    const int referring = a.place(-1, brick, "referring", qelx_test::placementTranslation(6, 0, 0));
    a.instances[static_cast<std::size_t>(referring)].reference = named;
    a.instances[static_cast<std::size_t>(named)].aliases = {"pump A", "", "P-1"};
    a.definitions[static_cast<std::size_t>(brick)].aliases = {"D-7"};
    AssemblyRun run(std::move(a));
    ASSERT_EQ(run.run(), QELI_OK);
    ASSERT_EQ(run.bodies().size(), 3u);
    for (BODY* b : run.bodies()) {
        // The body and each of its faces carry the instance's non-empty aliases.
        ENTITY_LIST faces;
        api_get_faces(b, faces);
        faces.add(b);
        for (int i = 0; i < faces.count(); ++i) {
            std::vector<std::string> aliases;
            for (ATTRIB* at = find_attrib(faces[i], ATTRIB_GENERIC_TYPE, -1); at;
                 at = find_next_attrib(at, ATTRIB_GENERIC_TYPE, -1)) {
                auto* text = dynamic_cast<ATTRIB_GEN_STRING*>(at);
                if (text && std::string(text->name()) == "ATTRIB_XVELM_ALIAS")
                    aliases.emplace_back(text->value());
            }
            std::sort(aliases.begin(), aliases.end());
            if (nameOf(b) == "named")
                EXPECT_EQ(aliases, (std::vector<std::string>{"P-1", "pump A"})) << faces[i]->type_name();
            else if (nameOf(b) == "referring")
                EXPECT_EQ(aliases, (std::vector<std::string>{"D-7"})) << faces[i]->type_name();
            else
                EXPECT_TRUE(aliases.empty());
        }
    }
}

// A pin placed as it is and mirrored with a translation: each placed body
// holds the points its placement carries the pin's axis to and not those
// just outside its side, and measures the pin's volume, its faces' areas
// positive (a mirror the placement did not say it was turned the curved
// side inside out).
TEST_F(FlattenTest, AMirroredPlacementWithATranslationKeepsACurvedPartSolid)
{
    TestAssembly a;
    const int pin = a.addPart("pin", TestModel::cylinder(0.5, 2.0));
    a.place(-1, pin, "plain", qelx_test::placementTranslation(3, 1, 0));
    a.place(-1, pin, "mirrored", qelx_test::placementMirrorX(-6, 2, 1));
    AssemblyRun run(a);
    ASSERT_EQ(run.run(), QELI_OK);
    std::map<std::string, BODY*> byName;
    for (BODY* b : run.bodies())
        byName[nameOf(b)] = b;
    ASSERT_EQ(byName.size(), 2u);
    // The axis's middle, and a point a little beyond the side, where each placing puts them.
    const std::map<std::string, std::array<double, 3>> middles = {{"plain", {3, 1, 1}}, {"mirrored", {-6, 2, 2}}};
    for (const auto& [name, at] : middles) {
        SCOPED_TRACE(name);
        BODY* body = byName[name];
        ASSERT_NE(body, nullptr);
        EXPECT_EQ(containment(body, at[0], at[1], at[2]), 1);
        EXPECT_EQ(containment(body, at[0] + 0.6, at[1], at[2]), -1);
        EXPECT_EQ(containment(body, at[0], at[1] - 0.6, at[2]), -1);
        double volume = 0.0, accuracy = 0.0;
        ASSERT_TRUE(api_body_volume(body, 1e-6, volume, accuracy).ok());
        EXPECT_NEAR(volume, M_PI * 0.25 * 2.0, 1e-4);
        ENTITY_LIST faces;
        api_get_faces(body, faces);
        for (int i = 0; i < faces.count(); ++i) {
            double area = 0.0;
            ASSERT_TRUE(api_ent_area(faces[i], 1e-6, area, accuracy).ok());
            EXPECT_GT(area, 0.0);
        }
    }
}
