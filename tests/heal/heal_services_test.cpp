// Loose kernel topology made into bodies, and the choice of the export
// preprocessing recipe.
#include <gtest/gtest.h>

#include <string>

#include "heal/body_processor.hxx"
#include "heal/preprocess_utils.hxx"
#include "model/document.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/model_builders.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/lists.hxx"
#include "velm/surface_build.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace {

class HealServices : public testkit::ConnectorTest {};

BODY* kernelOf(Ve_BodyTag* view) { return reinterpret_cast<BODY*>(view); }

// A wire body of one edge from a vertex back to it, without a curve.
void expectPointBody(BODY* body, const QELposition& at)
{
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(testkit::model_problems(body), "");
    ASSERT_EQ(testkit::count_edges(body), 1);
    ENTITY_LIST edges;
    api_get_edges(body, edges);
    const EDGE* edge = static_cast<const EDGE*>(edges[0]);
    EXPECT_EQ(edge->start(), edge->end());
    EXPECT_EQ(edge->geometry(), nullptr);
    EXPECT_EQ(edge->sense(), FORWARD);
    EXPECT_LT(distance(edge->start()->geometry()->coords(), at), 1e-12);
    EXPECT_TRUE(reinterpret_cast<Ve_BodyTag*>(body)->isVertexBody());
}

} // namespace

TEST_F(HealServices, EachLooseKindBecomesItsBodyInListOrder)
{
    BODY* box = testkit::make_box();
    BODY* wires = testkit::make_wire_body(2);
    WIRE* wire = wires->wire();
    wires->set_wire(nullptr);
    wire->set_body(nullptr);
    api_del_entity(wires);
    FACE* face = nullptr;
    ASSERT_TRUE(api_face_plane(QELposition(0, 0, 5), 2.0, 3.0, nullptr, face).ok());
    const QELinterval range(0.0, 2.0);
    auto* edge = new EDGE(new VERTEX(new APOINT(0.0, 0.0, 9.0)), new VERTEX(new APOINT(2.0, 0.0, 9.0)),
                          new STRAIGHT(straight(QELposition(0.0, 0.0, 9.0), QELunit_vector(1.0, 0.0, 0.0))),
                          FORWARD, EDGE_cvty_unknown, &range);
    auto* vertex = new VERTEX(new APOINT(1.0, 2.0, 3.0));
    auto* point = new APOINT(4.0, 5.0, 6.0);
    ENTITY_LIST loose;
    for (ENTITY* e : {static_cast<ENTITY*>(box), static_cast<ENTITY*>(face), static_cast<ENTITY*>(wire),
                      static_cast<ENTITY*>(vertex), static_cast<ENTITY*>(point)})
        loose.add(e);
    QELXDynamicArray<Ve_BodyTag*>* bodies = Ve_BodyProcessor::getBodiesFromEntity(loose);
    ASSERT_EQ(bodies->Count(), 5);
    EXPECT_EQ(kernelOf((*bodies)[0]), box);
    EXPECT_EQ(kernelOf((*bodies)[1])->lump()->shell()->face(), face);
    EXPECT_EQ(kernelOf((*bodies)[2])->wire(), wire);
    expectPointBody(kernelOf((*bodies)[3]), QELposition(1.0, 2.0, 3.0));
    expectPointBody(kernelOf((*bodies)[4]), QELposition(4.0, 5.0, 6.0));
    for (Ve_BodyTag* b : *bodies)
        api_del_entity(kernelOf(b));
    delete bodies;

    // A loose edge becomes a wire body of its own.
    Ve_BodyTag* fromEdge = Ve_BodyProcessor::bodyFromEntity(edge);
    ASSERT_NE(fromEdge, nullptr);
    EXPECT_EQ(testkit::model_problems(kernelOf(fromEdge)), "");
    EXPECT_EQ(kernelOf(fromEdge)->wire()->coedge()->edge(), edge);
    api_del_entity(kernelOf(fromEdge));
}

TEST_F(HealServices, RefusedConversionsGiveNothingAndNullSlotsAreSkipped)
{
    // The kernel refusing the sheet or the wire of a loose face or vertex:
    // no body, nothing made is left behind.
    FACE* face = nullptr;
    ASSERT_TRUE(api_face_plane(QELposition(0, 0, 5), 2.0, 3.0, nullptr, face).ok());
    velm_test_fail_next("api_mk_by_faces", qelvelm_api_errmod.message_code(VELM_API_FAILED));
    EXPECT_EQ(Ve_BodyProcessor::bodyFromEntity(face), nullptr);
    auto* vertex = new VERTEX(new APOINT(1.0, 2.0, 3.0));
    const long before = velm_live_object_count();
    velm_test_fail_next("api_make_ewire", qelvelm_api_errmod.message_code(VELM_API_FAILED));
    EXPECT_EQ(Ve_BodyProcessor::bodyFromEntity(vertex), nullptr);
    EXPECT_EQ(velm_live_object_count(), before);

    ENTITY_LIST list;
    list.add(face);
    list.add(vertex);
    velm_test_fail_next("api_mk_by_faces", qelvelm_api_errmod.message_code(VELM_API_FAILED));
    QELXDynamicArray<Ve_BodyTag*>* bodies = Ve_BodyProcessor::getBodiesFromEntity(list);
    ASSERT_EQ(bodies->Count(), 1);
    ASSERT_NE((*bodies)[0], nullptr);
    expectPointBody(kernelOf((*bodies)[0]), QELposition(1.0, 2.0, 3.0));
    api_del_entity(kernelOf((*bodies)[0]));
    delete bodies;
    EXPECT_EQ(Ve_BodyProcessor::bodyFromEntity(nullptr), nullptr);
    api_del_entity(face);
}

TEST_F(HealServices, TheFirstSwitchOnChoosesTheRecipeAndMarksTheDocument)
{
    const char* switches[] = {"PreprocessBodyPreProcessV4",   "PreprocessBodyPreProcessV5",
                              "PreprocessBodyPreProcessStep", "PreprocessBodyPreProcessVda",
                              "PreprocessBodyPreProcessIges", "PreprocessBodyPreProcessGeneric",
                              "PreprocessBodyPreProcessIdeas"};
    {
        Ve_DocumentTag document;
        EXPECT_EQ(QELXPreprocessVelmUtils::activeRecipe(), -1);
        QELXPreprocessVelmUtils::preProcessBodies(&document);
        EXPECT_FALSE(document.IsPreprocessDone());
    }
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(switches[i]);
        qelx_test::OptionScope options;
        options.on(Ve_OptionDoc::keyOf(switches[i]));
        if (i + 1 < 7)
            options.on(Ve_OptionDoc::keyOf(switches[6]));
        EXPECT_EQ(QELXPreprocessVelmUtils::activeRecipe(), i);
        Ve_DocumentTag document;
        QELXPreprocessVelmUtils::preProcessBodies(&document);
        EXPECT_TRUE(document.IsPreprocessDone());
    }
    QELXPreprocessVelmUtils::preProcessBodies(nullptr);
}
