// Persistent entities at their edges: roll-backs of their changes, links of
// the wrong class, lists holding what they should not, husk values out of
// range and markers merged from owners that stay.
#include "persist/analytic_surface_attribute.hxx"
#include "persist/brep_attrib_transfer.hxx"
#include "persist/tarvo_marker_attributes.hxx"
#include "persist/ve_assem_delete_mgr.hxx"
#include "persist_test_support.hxx"
#include "support/model_builders.hxx"
#include "velm/bb.hxx"
#include "velm/errors.hxx"
#include "velm/topology_api.hxx"

using namespace persist_test;

namespace {

class PersistEdges : public PersistTest {};

const outcome refusal(qelvelm_api_errmod.message_code(VELM_API_FAILED));

int integerNamed(ENTITY* e, const char* name)
{
    ATTRIB_GEN_NAME* found = nullptr;
    if (!api_find_named_attribute(e, name, found).ok() || !found)
        return -1000;
    auto* value = dynamic_cast<ATTRIB_GEN_INTEGER*>(found);
    return value ? value->value() : -2000;
}

}  // namespace

// A rolled-back frame takes back a new part list and a dropped surface use.
TEST_F(PersistEdges, RollBacksTakeBackLinksAndSurfaceUses)
{
    auto* assembly = new VE_ASSEMBLY(nullptr, nullptr, QELtransf());
    api_bb_begin(true);
    assembly->appendPart(new VE_PART(nullptr, QELtransf()));
    EXPECT_NE(assembly->getPartList(), nullptr);
    api_bb_end(refusal, true, false);
    EXPECT_EQ(assembly->getPartList(), nullptr);
    Ve_AssemDeleteMgr(assembly).loseAssem();

    BODY* owner = new BODY();
    auto* surface = new SURFACE();
    surface->add();
    auto* held = new ATTRIB_ANALYT_SURF(owner, surface);
    EXPECT_EQ(surface->use_count(), 2);
    api_bb_begin(true);
    held->lose();
    EXPECT_EQ(surface->use_count(), 1);
    api_bb_end(refusal, true, false);
    EXPECT_EQ(surface->use_count(), 2);
    EXPECT_EQ(held->surface(), surface);
    api_del_entity(owner);
    surface->remove();
}

// A placement set again changes the entity's own transform; nothing is left over.
TEST_F(PersistEdges, PlacementSetAgainChangesItsOwnTransform)
{
    auto* assembly = new VE_ASSEMBLY(nullptr, nullptr, QELtransf());
    auto* part = new VE_PART(new BODY(), translate_transf(QELvector(1, 0, 0)));
    assembly->appendPart(part);
    TRANSFORM* own = part->getTransform();
    part->setTransformation(translate_transf(QELvector(0, 2, 0)));
    EXPECT_EQ(part->getTransform(), own);
    EXPECT_EQ(part->getTransformation().translation().y(), 2.0);
    Ve_AssemDeleteMgr(assembly).loseAssem();
}

// A part list holding a formation: the formation is not taken for a part, so
// neither it nor its assembly is deleted as one.
TEST_F(PersistEdges, AFormationInAPartListIsNotTakenForAPart)
{
    auto* sub = new VE_ASSEMBLY(nullptr, nullptr, QELtransf());
    auto* stray = new VE_FORMATION(sub, QELtransf());
    auto* assembly = new VE_ASSEMBLY(nullptr, nullptr, QELtransf());
    assembly->appendPart(reinterpret_cast<VE_PART*>(stray));
    Ve_AssemDeleteMgr(assembly).loseAssem();
    EXPECT_TRUE(velm_is_live_entity(stray));
    EXPECT_TRUE(velm_is_live_entity(sub));
    Ve_AssemDeleteMgr(sub).loseAssem();
    api_del_entity(stray->getTransform());
    stray->ENTITY::lose();
}

// A part whose body link names an entity of another class is refused on restore.
TEST_F(PersistEdges, PartLinkedToAFaceIsRefused)
{
    BODY* box = testkit::make_box();
    auto* assembly = new VE_ASSEMBLY(nullptr, nullptr, QELtransf());
    assembly->appendPart(new VE_PART(box, QELtransf()));
    ENTITY_LIST list;
    list.add(box);
    list.add(assembly);
    const std::string text = saveText(list);
    Ve_AssemDeleteMgr(assembly).loseAssem();
    const std::size_t at = text.find("ve_part 1");
    ASSERT_NE(at, std::string::npos);
    const std::size_t face = text.find(" face ");
    ASSERT_NE(face, std::string::npos);
    const int faceRecord = std::stoi(text.substr(text.rfind("\n-", face) + 2));
    std::string damaged = text;
    const std::size_t body = text.find('$', text.find('$', at) + 1);
    damaged.replace(body, text.find(' ', body) - body, "$" + std::to_string(faceRecord));
    ENTITY_LIST restored;
    EXPECT_FALSE(restoreText(damaged, restored).ok());
    EXPECT_EQ(restored.iteration_count(), 0);
}

// A multi-valued layer husk keeps what it stores: a file counting more layers
// than it holds is read as the layers it holds; kinds compare too.
TEST_F(PersistEdges, LayerHusksCountWhatTheyHoldAndCompareTheirKind)
{
    BODY* owner = new BODY();
    int layers[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    auto* husk = new ATTRIB_DOVA_IGES_LAYER(owner);
    husk->set_mult_layer(10, layers);
    std::string text;
    ENTITY* restored = roundTrip(owner, &text, " 10 1 1 2 3", " 12 1 1 2 3");
    ASSERT_NE(restored, nullptr);
    auto* back = static_cast<ATTRIB_DOVA_IGES_LAYER*>(find_attrib(restored, ATTRIB_DOVA_IGES_TYPE));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->get_layer_size(), 10);
    api_del_entity(restored);

    ATTRIB_DOVA_IGES_LAYER single(nullptr), multiple(nullptr);
    single.set_single_layer(3);
    int three[3] = {0, 0, 0};
    multiple.set_mult_layer(3, three);
    EXPECT_FALSE(single == multiple);
    api_del_entity(owner);
}

// Line weights are truncated toward zero; below -1 they are no weight.
TEST_F(PersistEdges, LineWeightsBelowMinusOneAreNoWeight)
{
    for (const auto& [weight, expected] : {std::pair{-5.0, -1000}, std::pair{-0.5, 0}, std::pair{2.7, 2}}) {
        SCOPED_TRACE(weight);
        BODY* b = new BODY();
        (new ATTRIB_DOVA_IGES_LINEWEIGHT(b))->set_line_weight(weight);
        QELXHashList<ATTRIB*> lose;
        QELXVelmBRepAttribTransfer::transferOldIgesHuskLineWeights(b, lose);
        EXPECT_EQ(integerNamed(b, "ATTRIB_XVELM_LINEWEIGHT"), expected);
        api_del_entity(b);
    }
}

// A marker moves onto the survivor of a merge only when its owner goes.
TEST_F(PersistEdges, MarkersMoveOnlyFromOwnersThatGo)
{
    const Gk_Marker m("kept");
    for (int ownerDeleted : {0, 1}) {
        SCOPED_TRACE(ownerDeleted);
        BODY* from = new BODY();
        BODY* to = new BODY();
        AttDV_Mark::setMark(from, m);
        find_attrib(from, ATTRIB_TARVO_GEOMETRIC_TYPE, AttDV_Tarvo_TYPE, AttDV_Mark_TYPE)->merge_owner(to, ownerDeleted);
        EXPECT_EQ(AttDV_Mark::testMark(to, m), ownerDeleted);
        EXPECT_EQ(AttDV_Mark::testMark(from, m), 1 - ownerDeleted);
        api_del_entity(from);
        api_del_entity(to);
    }
}
