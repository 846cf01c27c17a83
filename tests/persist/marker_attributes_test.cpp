#include "persist/analytic_surface_attribute.hxx"
#include "persist/brep_attrib_transfer.hxx"
#include "persist/tarvo_marker_attributes.hxx"
#include "persist_test_support.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "support/model_builders.hxx"

using namespace persist_test;

namespace {

int markCount(ENTITY* e)
{
    return attribCount(e, ATTRIB_TARVO_GEOMETRIC_TYPE, AttDV_Tarvo_TYPE, AttDV_Mark_TYPE);
}

class Markers : public PersistTest {
protected:
    void TearDown() override
    {
        for (ENTITY* e : owners)
            api_del_entity(e);
        PersistTest::TearDown();
    }
    BODY* body()
    {
        owners.push_back(new BODY());
        return static_cast<BODY*>(owners.back());
    }
    std::vector<ENTITY*> owners;
};

}  // namespace

TEST_F(Markers, MarkAndPointerSetTestDelete)
{
    BODY* e = body();
    const Gk_Marker seen("seen"), m("ptr");
    AttDV_Mark::setMark(e, seen);
    AttDV_Mark::setMark(e, seen);
    EXPECT_EQ(markCount(e), 1);
    EXPECT_EQ(AttDV_Mark::testMark(e, seen), 1);
    EXPECT_EQ(AttDV_Mark::testMark(e, Gk_Marker("other")), 0);
    AttDV_Mark::deleteMark(e, seen);
    EXPECT_EQ(AttDV_Mark::testMark(e, seen), 0);
    EXPECT_EQ(AttDV_Mark::testMark(nullptr, seen), 0);
    AttDV_Mark::setMark(nullptr, seen);

    // A pointer is set once; a null one removes the mark.
    int p1 = 0, p2 = 0;
    AttDV_Mark::setPtr(e, m, nullptr);
    EXPECT_EQ(markCount(e), 0);
    AttDV_Mark::setPtr(e, m, &p1);
    AttDV_Mark::setPtr(e, m, &p2);
    EXPECT_EQ(AttDV_Mark::getPtr(e, m), &p1);
    AttDV_Mark::setPtr(e, m, nullptr);
    EXPECT_EQ(markCount(e), 0);
    EXPECT_EQ(AttDV_Mark::getPtr(e, m), nullptr);
}

TEST_F(Markers, SplitCopiesWithoutPointerAndMergeMovesOnlyMissingMarks)
{
    BODY* original = body();
    BODY* piece = body();
    int data = 0;
    AttDV_Mark::setPtr(original, Gk_Marker("cut"), &data);
    split_attrib(original, piece);
    EXPECT_EQ(AttDV_Mark::testMark(piece, Gk_Marker("cut")), 1);
    EXPECT_EQ(AttDV_Mark::getPtr(piece, Gk_Marker("cut")), nullptr);
    EXPECT_EQ(AttDV_Mark::getPtr(original, Gk_Marker("cut")), &data);

    // The mark moves only when the owner goes and the survivor has none.
    BODY* lost = body();
    AttDV_Mark::setMark(lost, Gk_Marker("cut"));
    AttDV_Mark::setMark(lost, Gk_Marker("only-lost"));
    merge_attrib(original, lost);
    EXPECT_EQ(markCount(original), 2);
    EXPECT_EQ(AttDV_Mark::testMark(original, Gk_Marker("only-lost")), 1);
    // Flag 0: the owner stays, so does its mark.
    auto* mark = static_cast<AttDV_Mark*>(find_attrib(lost, ATTRIB_TARVO_GEOMETRIC_TYPE));
    ASSERT_NE(mark, nullptr);
    mark->merge_owner(piece, 0);
    EXPECT_EQ(mark->entity(), lost);
}

TEST_F(Markers, KernelCopiesCarryEmptyMarkersAndOwnSurfaceTransformsLeaveMarks)
{
    BODY* box = testkit::make_box();
    owners.push_back(box);
    AttDV_Mark::setPtr(box, Gk_Marker("copied"), this);
    auto* surface = new SURFACE();
    surface->add();
    new ATTRIB_ANALYT_SURF(box, surface);
    BODY* copy = nullptr;
    ASSERT_TRUE(api_copy_body(box, copy).ok());
    EXPECT_EQ(markCount(copy), 1);
    EXPECT_EQ(AttDV_Mark::testMark(copy, Gk_Marker()), 1);
    EXPECT_EQ(AttDV_Mark::getPtr(copy, Gk_Marker()), nullptr);
    ENTITY* copied = nullptr;
    ASSERT_TRUE(QELXVelmBRepAttribTransfer::getAnalyticSurface(copy, copied));
    ASSERT_NE(copied, nullptr);
    EXPECT_NE(copied, surface);
    EXPECT_EQ(copied->use_count(), 1);
    EXPECT_EQ(surface->use_count(), 2);
    api_del_entity(copy);
    trans_attrib(box, translate_transf(QELvector(1, 0, 0)));
    EXPECT_EQ(AttDV_Mark::getPtr(box, Gk_Marker("copied")), this);
    owners.pop_back();
    api_del_entity(box);
    EXPECT_EQ(surface->use_count(), 1);
    surface->remove();
}

TEST_F(Markers, AnalyticSurfaceUseCountFollowsItsHolders)
{
    BODY* face_owner = body();
    auto* surface = new SURFACE();
    surface->add();  // the test's own use
    EXPECT_FALSE(QELXVelmBRepAttribTransfer::setAnalyticSurface(nullptr, surface));
    EXPECT_EQ(surface->use_count(), 1);
    ASSERT_TRUE(QELXVelmBRepAttribTransfer::setAnalyticSurface(face_owner, surface));
    EXPECT_EQ(surface->use_count(), 2);
    ENTITY* found = nullptr;
    ASSERT_TRUE(QELXVelmBRepAttribTransfer::getAnalyticSurface(face_owner, found));
    EXPECT_EQ(found, surface);

    // A split gives the new piece its own copy of the surface, with one use.
    BODY* piece = body();
    split_attrib(face_owner, piece);
    ENTITY* piece_surface = nullptr;
    ASSERT_TRUE(QELXVelmBRepAttribTransfer::getAnalyticSurface(piece, piece_surface));
    ASSERT_NE(piece_surface, nullptr);
    EXPECT_NE(piece_surface, surface);
    EXPECT_EQ(piece_surface->use_count(), 1);
    EXPECT_EQ(surface->use_count(), 2);

    // A transform leaves the surface and its count alone.
    trans_attrib(face_owner, translate_transf(QELvector(0, 0, 1)));
    EXPECT_EQ(surface->use_count(), 2);

    // Losing the holder gives its use back, once.
    find_attrib(face_owner, restore_def::find("Attrib_Analytic_Srf")->type_number())->lose();
    EXPECT_EQ(surface->use_count(), 1);
    EXPECT_FALSE(QELXVelmBRepAttribTransfer::getAnalyticSurface(face_owner, found));
    EXPECT_EQ(found, nullptr);
    surface->remove();
}

TEST_F(Markers, FreeEntityAndIdentifierMarks)
{
    BODY* b = body();
    EXPECT_FALSE(QELXVelmBRepAttribTransfer::IsFreeSurface(b));
    QELXVelmBRepAttribTransfer::SetFreeSurface(b);
    EXPECT_TRUE(QELXVelmBRepAttribTransfer::IsFreeSurface(b));
    EXPECT_FALSE(QELXVelmBRepAttribTransfer::IsFreePoint(b));
    ATTRIB_GEN_NAME* mark = nullptr;
    api_find_named_attribute(b, "QELATRIB_FREE_SURFACE", mark);
    ASSERT_NE(mark, nullptr);
    EXPECT_EQ(mark->split_owner_action(), split_copy);
    // Any value counts as the mark.
    api_add_generic_named_attribute(b, "QELATRIB_FREE_CURVE", 0);
    EXPECT_TRUE(QELXVelmBRepAttribTransfer::IsFreeCurve(b));

    QELXString empty;
    EXPECT_TRUE(QELXVelmBRepAttribTransfer::SetMDIIndentifier(b, empty));
    EXPECT_FALSE(Ve_AttribTransfer::IsAttribPresent(b, "MDI"));
    QELXString pset("P12");
    EXPECT_TRUE(QELXVelmBRepAttribTransfer::SetPSETIndentifier(b, pset));
    api_find_named_attribute(b, "PSET", mark);
    ASSERT_NE(mark, nullptr);
    EXPECT_EQ(mark->value_text(), "P12");

    // Nothing to mark: no attribute made on nothing (the fixture counts them).
    EXPECT_TRUE(QELXVelmBRepAttribTransfer::SetPSETIndentifier(nullptr, pset));
    EXPECT_FALSE(QELXVelmBRepAttribTransfer::SetPlaneUnboundedness(nullptr));
}

TEST_F(Markers, UnboundedPlaneNeedsOneFaceAndValueOne)
{
    auto facesOf = [this](BODY* b) {
        owners.push_back(b);
        ENTITY_LIST faces;
        api_get_faces(b, faces);
        return faces;
    };
    BODY* sheet = testkit::make_sheet(1, 1);
    ENTITY_LIST faces = facesOf(sheet);
    ASSERT_EQ(faces.iteration_count(), 1);
    EXPECT_FALSE(QELXVelmBRepAttribTransfer::GetPlaneUnboundedness(sheet));
    ASSERT_TRUE(QELXVelmBRepAttribTransfer::SetPlaneUnboundedness(faces[0]));
    EXPECT_TRUE(QELXVelmBRepAttribTransfer::GetPlaneUnboundedness(sheet));
    EXPECT_TRUE(QELXVelmBRepAttribTransfer::GetPlaneUnboundedness(faces[0]));

    BODY* two = testkit::make_two_lump_body();
    ENTITY_LIST all = facesOf(two);
    for (int i = 0; i < all.count(); ++i)
        QELXVelmBRepAttribTransfer::SetPlaneUnboundedness(all[i]);
    EXPECT_FALSE(QELXVelmBRepAttribTransfer::GetPlaneUnboundedness(two));

    // A body whose first shell holds one marked face is no body of one face
    // when another shell, of its lump or of a second lump, holds a face too.
    for (const bool secondLump : {false, true}) {
        SCOPED_TRACE(secondLump ? "a second lump of one face" : "a second shell of one face");
        BODY* first = testkit::make_sheet(1, 1);
        BODY* second = testkit::make_sheet(1, 1);
        owners.push_back(second);
        LUMP* lump = second->lump();
        if (secondLump) {
            second->set_lump(nullptr);
            first->lump()->set_next(lump);
            lump->set_body(first);
        } else {
            SHELL* shell = lump->shell();
            lump->set_shell(nullptr);
            first->lump()->shell()->set_next(shell);
            shell->set_lump(first->lump());
        }
        ENTITY_LIST marked = facesOf(first);
        ASSERT_EQ(marked.iteration_count(), 2);
        for (int i = 0; i < marked.count(); ++i)
            QELXVelmBRepAttribTransfer::SetPlaneUnboundedness(marked[i]);
        EXPECT_FALSE(QELXVelmBRepAttribTransfer::GetPlaneUnboundedness(first));
    }

    ENTITY* zero = facesOf(testkit::make_sheet(1, 1))[0];
    api_add_generic_named_attribute(zero, "QELATTRIB_UNBOUNDED_PLANE", 0);
    EXPECT_FALSE(QELXVelmBRepAttribTransfer::GetPlaneUnboundedness(zero));
    EXPECT_FALSE(QELXVelmBRepAttribTransfer::GetPlaneUnboundedness(nullptr));
}
