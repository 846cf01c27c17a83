// Instance placement: the transform drawn from the source's matrix and scale,
// copies while a definition is used again and take-over on its last use,
// units, refused placements and the product-data callback.
#include "assembly_test_support.hxx"
#include "docfeature_support.hxx"

#include "model/kernel_functions.hxx"
#include "support/geometry_builders.hxx"
#include "velm/entity.hxx"
#include "velm/errors.hxx"

#include <algorithm>

using namespace asmtest;
using qelx_test::TestPlacement;

namespace {

class PlacementTest : public AssemblyTest {};

// A unit brick (definition 0) and a pair of bricks (definition 1); no roots yet.
TestAssembly brickAndPair()
{
    TestAssembly a;
    const int brick = a.addPart("brick", TestModel::block(1, 1, 1));
    const int pair = a.addAssembly("pair");
    a.place(pair, brick, "in-1", qelx_test::placementTranslation(0, 0, 0));
    a.place(pair, brick, "in-2", qelx_test::placementTranslation(0, 2, 0));
    return a;
}

QELtransf transformOf(const TestPlacement& p, double scale, double unitScale = 1.0)
{
    QELtransf t;
    EXPECT_TRUE(QELXFlatVelmAssemblyImporter::InstanceTransform(p.data(), scale, unitScale, t));
    return t;
}

} // namespace

TEST_F(PlacementTest, ScaleIsDrawnOutOfTheMatrix)
{
    // Determinant 8: the matrix halves and the scale doubles.
    const TestPlacement twice = {0, 2, 0, -2, 0, 0, 0, 0, 2, 1, 2, 3};
    const QELtransf t = transformOf(twice, 1.0);
    EXPECT_NEAR(t.scaling(), 2.0, 1e-12);
    EXPECT_NEAR(t.affine().element(0, 1), 1.0, 1e-12);
    EXPECT_NEAR(t.affine().determinant(), 1.0, 1e-12);
    EXPECT_FALSE(t.reflect());
    // A negative source scale: the matrix is divided by -2, the scale stays 2,
    // and the divided matrix, now a reflection, says so.
    const QELtransf n = transformOf(twice, -1.0);
    EXPECT_NEAR(n.scaling(), 2.0, 1e-12);
    EXPECT_NEAR(n.affine().element(0, 1), -1.0, 1e-12);
    EXPECT_TRUE(n.reflect());
    // Within 1e-14 of a unit determinant the matrix is used as it comes.
    TestPlacement almost = qelx_test::placementTurnZ(0.3, 0, 0, 0);
    const QELtransf a = transformOf(almost, 3.0);
    EXPECT_EQ(a.scaling(), 3.0);
    EXPECT_EQ(a.affine().element(0, 0), almost[0]);
    // Translations are in source units, turned into target units.
    const QELtransf u = transformOf(qelx_test::placementTranslation(1, 2, 3), 1.0, 25.4);
    EXPECT_NEAR(u.translation().z(), 76.2, 1e-12);
}

TEST_F(PlacementTest, SingularOrUnreadablePlacementsAreRefused)
{
    const TestPlacement flat = {1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    const TestPlacement zero = {};
    const TestPlacement plain = qelx_test::placementTranslation(0, 0, 0);
    TestPlacement nan = plain, far = plain, badAxis = plain;
    nan[10] = std::nan("");
    far[9] = HUGE_VAL;
    badAxis[4] = std::nan("");
    const double inf = HUGE_VAL, notANumber = std::nan("");
    const struct {
        const char* what;
        TestPlacement placement;
        double scale, unitScale;
    } refused[] = {
        {"a flat matrix", flat, 1.0, 1.0},
        {"a zero matrix", zero, 1.0, 1.0},
        {"a translation that is no number", nan, 1.0, 1.0},
        {"an infinite translation", far, 1.0, 1.0},
        {"an axis that is no number", badAxis, 1.0, 1.0},
        {"a scale of zero", plain, 0.0, 1.0},
        {"a scale that is no number", plain, notANumber, 1.0},
        {"an infinite scale", plain, inf, 1.0},
        {"a unit scale that is no number", plain, 1.0, notANumber},
        {"an infinite unit scale", plain, 1.0, inf},
    };
    for (const auto& r : refused) {
        QELtransf t;
        EXPECT_FALSE(QELXFlatVelmAssemblyImporter::InstanceTransform(r.placement.data(), r.scale, r.unitScale, t))
            << r.what;
    }
}

TEST_F(PlacementTest, SingularInstanceIsLeftOutAndTheOthersArePlaced)
{
    // The flat instance first, or last (its definition's last use, whose
    // bodies would otherwise be handed over squashed, and whose document
    // then deletes what it still holds: never the layer the good one took).
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("TransferLayer"));
    for (const bool last : {false, true}) {
        TestAssembly a;
        TestModel block = TestModel::block(1, 1, 1);
        block.attributes[qelx_test::wordOf(qelx_test::KindBody, 0)].layer = 7;
        block.layers[7] = qelx_test::TestLayer{"seven", {0, 0, 0, 0}, true};
        const int brick = a.addPart("brick", std::move(block));
        const TestPlacement flat = {1, 0, 0, 0, 1, 0, 0, 0, 0, 5, 0, 0};
        if (!last)
            a.place(-1, brick, "flat", flat);
        a.place(-1, brick, "good", qelx_test::placementTranslation(0, 0, 0));
        if (last)
            a.place(-1, brick, "flat", flat);
        AssemblyRun run(std::move(a));
        run.run();
        const std::vector<BODY*> bodies = run.bodies();
        ASSERT_EQ(bodies.size(), 1u) << last;
        EXPECT_EQ(nameOf(bodies[0]), "good");
        EXPECT_TRUE(sameBox(boxOf(bodies[0]), Box{{0, 0, 0}, {1, 1, 1}}));
        std::vector<ENTITY*> layers;
        for (ENTITY* e : run.entities()) {
            bool layer = false;
            if (is_QELGROUP(e) && Ve_AttribTransfer::isLayer(e, layer) && layer)
                layers.push_back(e);
        }
        ASSERT_EQ(layers.size(), 1u) << last;
        EXPECT_TRUE(static_cast<QELGROUP*>(layers[0])->is_member(bodies[0])) << last;
        // The document of the refused use kept nothing the result holds.
        EXPECT_EQ(run.importer().GetLayers().count(), 1) << last;
        // Nor does it take the layer with it when it goes with the importer.
        run.releaseImporter();
        ASSERT_TRUE(velm_is_live_entity(layers[0])) << last;
        EXPECT_TRUE(static_cast<QELGROUP*>(layers[0])->is_member(bodies[0])) << last;
    }
}

TEST_F(PlacementTest, EarlierUsesCopyAndTheLastUseTakesTheDefinitionOver)
{
    TestAssembly a = brickAndPair();
    const int brick = 0, pair = 1;
    for (int i = 0; i < 3; ++i)
        a.place(-1, brick, "root-" + std::to_string(i), qelx_test::placementTranslation(2.0 * i, 0, 5));
    // The pair twice inside a quad placed once: the pair's bricks count once.
    const int quad = a.addAssembly("quad");
    a.place(quad, pair, "pair-1", qelx_test::placementTranslation(10, 0, 0));
    a.place(quad, pair, "pair-2", qelx_test::placementTranslation(20, 0, 0));
    a.place(-1, quad, "quad", qelx_test::placementTranslation(0, 0, 0));
    AssemblyRun run(std::move(a));
    velm_test_record_calls(true);
    ASSERT_EQ(run.run(), QELI_OK);
    const long copies = velm_test_call_count("api_copy_body");
    velm_test_record_calls(false);
    // Brick: five uses, four copies; pair: two uses of two bodies, one copy
    // each; quad: one use, taken over.
    EXPECT_EQ(copies, 4 + 2);
    EXPECT_EQ(run.bodies().size(), 7u);
    EXPECT_EQ(run.source().loads(brick), 1);
}

TEST_F(PlacementTest, SourceUnitsScaleThePartsAndTheirPlacements)
{
    TestAssembly a;
    a.unit = QELX_UNIT_INCH;
    TestModel part = TestModel::block(1, 1, 1);
    part.unit = QELX_UNIT_INCH;
    const int brick = a.addPart("brick", std::move(part));
    a.place(-1, brick, "b", qelx_test::placementTranslation(1, 0, 0));
    AssemblyRun run(std::move(a));
    ASSERT_EQ(run.run(), QELI_OK);
    ASSERT_EQ(run.bodies().size(), 1u);
    EXPECT_TRUE(sameBox(boxOf(run.bodies()[0]), Box{{25.4, 0, 0}, {50.8, 25.4, 25.4}}, 1e-6));
}

namespace {

std::vector<std::string>& callbackCalls()
{
    static std::vector<std::string> calls;
    return calls;
}
// "<first or third text>:<bodies>:<flag>" per call.
void recordProductData(ENTITY_LIST* list, const char* first, const char* second, const char* third, bool flag)
{
    EXPECT_EQ(second, nullptr);
    const char* name = first ? first : third ? third : "?";
    callbackCalls().push_back(std::string(name) + ":" + std::to_string(list ? list->iteration_count() : -1) +
                              (flag ? "A" : "P"));
}

} // namespace

TEST_F(PlacementTest, ProductDataCallbackHearsOfEveryInstance)
{
    TestAssembly a = brickAndPair();
    const int brick = 0, pair = 1;
    a.place(-1, brick, "single", qelx_test::placementTranslation(5, 0, 0));
    a.place(-1, pair, "both", qelx_test::placementTranslation(10, 0, 0));
    AssemblyRun run(std::move(a));
    callbackCalls().clear();
    QELXVelmSetProductDataCallback(recordProductData);
    const QELIResult result = run.run(false);
    QELXVelmSetProductDataCallback(nullptr);
    ASSERT_EQ(result, QELI_OK);
    // Each instance as it is placed (the name third), and the pair's document
    // once built (its definition name first).
    EXPECT_EQ(callbackCalls(),
              (std::vector<std::string>{"single:1P", "in-1:1P", "in-2:1P", "pair:2A", "both:2A"}));
}

TEST_F(PlacementTest, CopiesJoinTheLayerOfTheirDefinitionInsteadOfDuplicatingIt)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("TransferLayer"));
    TestAssembly a = brickAndPair();
    TestModel& part = a.definitions[0].part;
    part.attributes[qelx_test::wordOf(qelx_test::KindBody, 0)].layer = 7;
    part.layers[7] = qelx_test::TestLayer{"seven", {0, 0, 0, 0}, true};
    a.place(-1, 0, "single", qelx_test::placementTranslation(5, 0, 0));
    a.place(-1, 1, "pair-1", qelx_test::placementTranslation(10, 0, 0));
    a.place(-1, 1, "pair-2", qelx_test::placementTranslation(20, 0, 0));
    AssemblyRun run(std::move(a));
    ASSERT_EQ(run.run(), QELI_OK);
    std::vector<QELGROUP*> layers;
    for (ENTITY* e : run.entities()) {
        bool layer = false;
        if (is_QELGROUP(e) && Ve_AttribTransfer::isLayer(e, layer) && layer)
            layers.push_back(static_cast<QELGROUP*>(e));
    }
    // One layer 7 holding every placed body; no duplicate left anywhere.
    ASSERT_EQ(layers.size(), 1u);
    int number = -1;
    EXPECT_TRUE(Ve_AttribTransfer::getID(layers[0], number));
    EXPECT_EQ(number, 7);
    const std::vector<BODY*> bodies = run.bodies();
    ASSERT_EQ(bodies.size(), 5u);
    for (BODY* b : bodies) {
        EXPECT_TRUE(layers[0]->is_member(b)) << nameOf(b);
        ENTITY_LIST groups;
        api_ct_return_groups(b, groups);
        EXPECT_EQ(groups.iteration_count(), 1) << nameOf(b);
    }
}

TEST_F(PlacementTest, FreePointsAndCoordinateSystemsAreCopiedOrTakenOverAndMoved)
{
    TestAssembly a = brickAndPair();
    // Turned a quarter about z (x to y, y to -x), then moved by (10, 0, 0).
    const int instance = a.place(-1, 0, "p1", qelx_test::placementTurnZ(M_PI / 2, 10, 0, 0));
    AssemblyRun run(std::move(a));
    QELXTypedHandle<QELXVelmDocument> definition(new QELXVelmDocument());
    VERTEX* point = VELM_NEW VERTEX(VELM_NEW APOINT(1, 2, 3));
    WCS* frame = VELM_NEW WCS(QELposition(1, 0, 0), QELunit_vector(1, 0, 0), QELunit_vector(0, 1, 0));
    ENTITY_LIST content;
    content.add(point);
    content.add(frame);
    definition->AppendNativeEntityList(content);
    const QELXDocumentHandle handle(definition.get());
    // Copied as placed through an assembly instance, taken over as through a part's.
    const auto expectPlaced = [&](ENTITY_LIST& placed, bool copies) {
        ASSERT_EQ(placed.iteration_count(), 2);
        auto* v = static_cast<VERTEX*>(placed[0]);
        auto* w = static_cast<WCS*>(placed[1]);
        ASSERT_TRUE(is_VERTEX(v) && is_WCS(w));
        EXPECT_EQ(v != point, copies);
        EXPECT_EQ(w != frame, copies);
        const QELposition p = v->geometry()->coords();
        EXPECT_NEAR(p.x(), 8.0, 1e-12);
        EXPECT_NEAR(p.y(), 1.0, 1e-12);
        EXPECT_NEAR(p.z(), 3.0, 1e-12);
        EXPECT_NEAR(w->to_model().translation().x(), 10.0, 1e-12);
        EXPECT_NEAR(w->to_model().translation().y(), 1.0, 1e-12);
        EXPECT_EQ(nameOf(v), "p1");
        EXPECT_EQ(nameOf(w), "p1");
        for (ENTITY* e : {static_cast<ENTITY*>(v), static_cast<ENTITY*>(w)}) {
            int throughAssembly = -1;
            EXPECT_TRUE(Ve_AttribTransfer::GetIntegerAttrib(e, Ve_AttribTransfer::InstanceAssemblyName, throughAssembly));
            EXPECT_EQ(throughAssembly, copies ? 1 : 0) << e->type_name();
        }
    };
    ENTITY_LIST copied;
    ASSERT_EQ(run.importer().PlaceInstance(handle, run.source().instanceId(instance), &run.source(), true,
                                           QELXMorph3D(), copied, true),
              QELI_OK);
    expectPlaced(copied, true);
    EXPECT_EQ(definition->GetNativeEntityList()->iteration_count(), 2);
    // The last use moves the document's own entities out of it.
    ENTITY_LIST taken;
    ASSERT_EQ(run.importer().PlaceInstance(handle, run.source().instanceId(instance), &run.source(), false,
                                           QELXMorph3D(), taken, false),
              QELI_OK);
    expectPlaced(taken, false);
    EXPECT_EQ(definition->GetNativeEntityList()->iteration_count(), 0);
    api_del_entity_list(copied);
    api_del_entity_list(taken);
}

// An instance places every entity of its definition but the selection sets,
// which go to the assembly's own list instead: whether the use copies or
// takes over, and whatever else the definition holds. A definition of
// selection sets alone places nothing.
TEST_F(PlacementTest, ADefinitionsSelectionSetsAreNotPlacedAsItsEntities)
{
    struct Case {
        const char* name;
        bool body, point, layer;
    };
    const Case cases[] = {
        {"a body, a point and a layer", true, true, true},
        {"a point", false, true, false},
        {"selection sets alone", false, false, false},
    };
    for (const Case& c : cases)
        for (const bool keep : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (keep ? ", copied" : ", taken over"));
            const long live = velm_live_object_count();
            {
            // An importer of its own: it keeps the sets it met, which this case deletes.
            TestAssembly a = brickAndPair();
            const int instance = a.place(-1, 0, "p1", qelx_test::placementTranslation(10, 0, 0));
            AssemblyRun run(std::move(a));
            QELXTypedHandle<QELXVelmDocument> definition(new QELXVelmDocument());
            ENTITY_LIST content;
            if (c.body)
                content.add(testkit::make_plane_box(1, 1, 1));
            if (c.point)
                content.add(VELM_NEW VERTEX(VELM_NEW APOINT(1, 2, 3)));
            definition->AppendNativeEntityList(content);
            std::vector<ENTITY*> members;
            for (int i = 0; i < content.count(); ++i)
                members.push_back(content[i]);
            std::vector<QELGROUP*> sets = {dftest::newSelectionSet(*definition, "Set", false, members),
                                           dftest::newSelectionSet(*definition, "Empty", true, {})};
            if (c.layer)
                dftest::newLayer(*definition, 3, "three");
            const int listed = definition->GetNativeEntityList()->iteration_count();
            const QELXDocumentHandle handle(definition.get());
            ENTITY_LIST placed;
            ASSERT_EQ(run.importer().PlaceInstance(handle, run.source().instanceId(instance), &run.source(), keep,
                                                   QELXMorph3D(), placed, false),
                      QELI_OK);
            int setsPlaced = 0;
            for (int i = 0; i < placed.count(); ++i) {
                bool set = false;
                if (ENTITY* e = placed[i]; e && is_QELGROUP(e) && Ve_AttribTransfer::isSelectionSet(e, set) && set)
                    ++setsPlaced;
            }
            EXPECT_EQ(setsPlaced, 0);
            EXPECT_EQ(placed.iteration_count(), listed - 2);
            // The groups the importer took and what was placed are the
            // caller's now (with a use that copies, the copies: the document
            // keeps its own).
            for (QELGROUP* set : sets)
                api_del_entity(set);
            for (int i = 0; i < placed.count(); ++i)
                if (ENTITY* e = placed[i]; e && std::find(sets.begin(), sets.end(), e) == sets.end() &&
                                           (!keep || is_QELGROUP(e) || is_BODY(e) || is_VERTEX(e)))
                    api_del_entity(e);
            }
            EXPECT_EQ(velm_live_object_count(), live);
        }
}

// An entity the kernel will not place (a placing call fails) is left out of
// what the instance places and the instance is named in a warning; the copy
// made for it is gone, the definition keeps its own where it was, the rest
// is placed, and a last use's document still deletes what it kept.
TEST_F(PlacementTest, AnEntityTheKernelWillNotPlaceIsLeftOutAndSaidSo)
{
    struct Case {
        const char* name;
        bool body, keep;
        const char* failing;
    };
    const Case cases[] = {
        {"a body copied", true, true, "api_apply_transf"},
        {"a body copied, its transform not baked in", true, true, "api_change_body_trans"},
        {"a body taken over", true, false, "api_apply_transf"},
        {"a point copied", false, true, "api_apply_transf"},
        {"a point taken over", false, false, "api_apply_transf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const long live = velm_live_object_count();
        {
            TestAssembly a = brickAndPair();
            const int instance = a.place(-1, 0, "p1", qelx_test::placementTranslation(10, 0, 0));
            AssemblyRun run(std::move(a));
            QELXTypedHandle<QELXVelmDocument> definition(new QELXVelmDocument());
            ENTITY* own = c.body ? static_cast<ENTITY*>(testkit::make_plane_box(1, 2, 3))
                                 : static_cast<ENTITY*>(VELM_NEW VERTEX(VELM_NEW APOINT(1, 2, 3)));
            const Box before = boxOf(own);
            ENTITY_LIST content;
            content.add(own);
            content.add(VELM_NEW WCS(QELposition(1, 0, 0), QELunit_vector(1, 0, 0), QELunit_vector(0, 1, 0)));
            definition->AppendNativeEntityList(content);
            // As the walk hands a definition over on its last use.
            if (!c.keep)
                definition->HoldContent(false);
            const QELXDocumentHandle handle(definition.get());
            qelx_test::EventRecorder events;
            velm_test_fail_call(c.failing, 1, qelvelm_api_errmod.message_code(VELM_API_FAILED));
            ENTITY_LIST placed;
            run.importer().PlaceInstance(handle, run.source().instanceId(instance), &run.source(), c.keep,
                                         QELXMorph3D(), placed, false);
            EXPECT_FALSE(velm_test_injection_pending());
            ASSERT_EQ(placed.iteration_count(), 1);
            EXPECT_TRUE(is_WCS(placed[0]));
            EXPECT_EQ(events.names("Warning"), std::vector<std::string>{"instance p1: an entity could not be placed"});
            EXPECT_GE(definition->GetNativeEntityList()->lookup(own), 0);
            EXPECT_TRUE(sameBox(boxOf(own), before));
            api_del_entity(placed[0]);
        }
        EXPECT_EQ(velm_live_object_count(), live) << "left behind";
    }
}
