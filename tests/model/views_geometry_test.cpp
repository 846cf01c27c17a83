// The view members that ask the kernel's geometry: loop classification, the
// apex test of conical faces, boxes, spans, distances, transforms and the
// manifold classification.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "model/entity_views.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_options.hxx"
#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/build.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"

namespace {

template <class View, class Kernel>
View* as(Kernel* e)
{
    return reinterpret_cast<View*>(e);
}

FACE* onlyFace(BODY* sheet)
{
    return sheet->lump()->shell()->face();
}

int apiFailure()
{
    return qelvelm_api_errmod.message_code(VELM_API_FAILED);
}

// A loop of one coedge on the circle of the centre, axis and major axis:
// counter-clockwise seen from where the axis points.
LOOP* circleLoop(const QELposition& centre, const QELunit_vector& axis, const QELvector& major)
{
    auto* v = new VERTEX(new APOINT(centre + major));
    const QELinterval turn(0.0, 2.0 * std::numbers::pi);
    auto* circle = new ELLIPSE(ellipse(centre, axis, major, 1.0));
    auto* c = new COEDGE(new EDGE(v, v, circle, FORWARD, EDGE_cvty_unknown, &turn), FORWARD);
    c->set_next(c);
    c->set_previous(c);
    return new LOOP(c);
}

// A patch of the cylinder about +z of the radius: angles -a .. a, heights
// z0 .. z1, running counter-clockwise seen from outside.
LOOP* cylinderPatch(double radius, double a, double z0, double z1)
{
    const auto at = [&](double t, double z) { return new VERTEX(new APOINT(radius * std::cos(t), radius * std::sin(t), z)); };
    VERTEX* corner[4] = {at(-a, z0), at(a, z0), at(a, z1), at(-a, z1)};
    const QELinterval arcRange(-a, a);
    const QELinterval lineRange(0.0, z1 - z0);
    const auto arc = [&](VERTEX* from, VERTEX* to, double z) {
        auto* circle = new ELLIPSE(ellipse(QELposition(0, 0, z), QELunit_vector(0, 0, 1), QELvector(radius, 0, 0), 1.0));
        return new EDGE(from, to, circle, FORWARD, EDGE_cvty_unknown, &arcRange);
    };
    const auto line = [&](VERTEX* from, VERTEX* to) {
        auto* straightUp = new STRAIGHT(straight(from->geometry()->coords(), QELunit_vector(0, 0, 1)));
        return new EDGE(from, to, straightUp, FORWARD, EDGE_cvty_unknown, &lineRange);
    };
    COEDGE* ring[4] = {new COEDGE(arc(corner[0], corner[1], z0), FORWARD), new COEDGE(line(corner[1], corner[2]), FORWARD),
                       new COEDGE(arc(corner[3], corner[2], z1), REVERSED), new COEDGE(line(corner[0], corner[3]), REVERSED)};
    for (int k = 0; k < 4; ++k) {
        ring[k]->set_next(ring[(k + 1) % 4]);
        ring[(k + 1) % 4]->set_previous(ring[k]);
    }
    return new LOOP(ring[0]);
}

// A sheet of one face on the surface with the periphery and, reversed into a
// hole, the second loop.
BODY* faceWithHole(SURFACE* surface, LOOP* periphery, LOOP* hole)
{
    as<Ve_LoopTag>(hole)->reverse();
    periphery->set_next(hole);
    return new BODY(new LUMP(new SHELL(new FACE(periphery, nullptr, surface, FORWARD))));
}

void expectPeripheryThenHole(BODY* sheet)
{
    Ve_FaceTag* f = as<Ve_FaceTag>(onlyFace(sheet));
    ASSERT_EQ(f->getNumberOfLoops(), 2);
    EXPECT_TRUE(f->getLoopAt(0)->isOuterLoop());
    EXPECT_FALSE(f->getLoopAt(1)->isOuterLoop());
}

TEST(LoopClassification, PlanarPeripheryAndHole)
{
    BODY* sheet = testkit::make_square_with_hole();
    FACE* face = onlyFace(sheet);
    Ve_FaceTag* f = as<Ve_FaceTag>(face);
    ASSERT_EQ(f->getNumberOfLoops(), 2);
    EXPECT_TRUE(f->getLoopAt(0)->isOuterLoop());
    EXPECT_FALSE(f->getLoopAt(1)->isOuterLoop());
    // The hole made the first loop: still told apart by the kernel.
    LOOP* hole = face->loop()->next();
    face->loop()->set_next(nullptr);
    hole->set_next(face->loop());
    face->set_loop(hole);
    EXPECT_FALSE(as<Ve_LoopTag>(hole)->isOuterLoop());
    EXPECT_TRUE(as<Ve_LoopTag>(hole->next())->isOuterLoop());
    api_del_entity(sheet);
}

TEST(LoopClassification, FailedLoopTypeIsNotOuter)
{
    BODY* sheet = testkit::make_square_with_hole();
    Ve_LoopTag* outer = as<Ve_FaceTag>(onlyFace(sheet))->getLoopAt(0);
    velm_test_fail_next("api_loop_type", apiFailure());
    EXPECT_FALSE(outer->isOuterLoop());
    velm_test_reset();
    EXPECT_TRUE(outer->isOuterLoop());
    api_del_entity(sheet);
}

TEST(LoopClassification, CylindricalPatchWithAHole)
{
    const cone cylinder(QELposition(), QELunit_vector(0, 0, 1), QELvector(5, 0, 0), 1.0, 0.0, 1.0, 0.0);
    BODY* sheet = faceWithHole(new CONE(cylinder), cylinderPatch(5.0, 1.0, 0.0, 6.0), cylinderPatch(5.0, 0.3, 2.0, 4.0));
    expectPeripheryThenHole(sheet);
    api_del_entity(sheet);
}

TEST(LoopClassification, SphericalCapWithAHole)
{
    // Caps about +x: the circles where x = 2 and x = 3 on the sphere of radius 4.
    const QELunit_vector x(1, 0, 0);
    BODY* sheet = faceWithHole(new SPHERE(sphere(QELposition(), 4.0)),
                               circleLoop(QELposition(2, 0, 0), x, QELvector(0, std::sqrt(12.0), 0)),
                               circleLoop(QELposition(3, 0, 0), x, QELvector(0, std::sqrt(7.0), 0)));
    expectPeripheryThenHole(sheet);
    api_del_entity(sheet);
}

TEST(LoopClassification, SeparationLoopsAreNotPeripheries)
{
    // Both circles of a cylinder band go round the axis: neither is an outer periphery.
    BODY* band = testkit::make_cylinder_band();
    Ve_FaceTag* f = as<Ve_FaceTag>(onlyFace(band));
    ASSERT_EQ(f->getNumberOfLoops(), 2);
    EXPECT_FALSE(f->getLoopAt(0)->isOuterLoop());
    EXPECT_FALSE(f->getLoopAt(1)->isOuterLoop());
    // Loops of one coedge with a curve, on a cylinder: not degenerate.
    EXPECT_FALSE(f->getLoopAt(0)->isDegenerate());
    api_del_entity(band);
}

TEST(ConicalApex, CapTowardsTheApexNeedsALoopThere)
{
    BODY* cap = testkit::make_cone_cap();
    FACE* face = onlyFace(cap);
    Ve_FaceTag* f = as<Ve_FaceTag>(face);
    EXPECT_TRUE(f->NeedsLoopAtConicalFaceApex());
    // The face's own box is back as its bound.
    ASSERT_NE(face->bound(), nullptr);
    const QELposition apex = static_cast<const CONE*>(face->geometry())->equation().get_apex();
    EXPECT_FALSE(*face->bound() >> apex);
    // A face whose box already holds the apex is answered from the box and left as it is.
    face->set_bound(new QELbox(*face->bound() | QELbox(apex)));
    EXPECT_FALSE(f->NeedsLoopAtConicalFaceApex());
    ASSERT_NE(face->bound(), nullptr);
    EXPECT_TRUE(*face->bound() >> apex);
    // Reversed, the face keeps the other side of the circle: the apex is outside.
    face->set_bound(nullptr);
    as<Ve_LoopTag>(face->loop())->reverse();
    EXPECT_FALSE(f->NeedsLoopAtConicalFaceApex());
    api_del_entity(cap);
}

TEST(ConicalApex, NotForCylindersOrEvenSeparations)
{
    BODY* band = testkit::make_cylinder_band();
    EXPECT_FALSE(as<Ve_FaceTag>(onlyFace(band))->NeedsLoopAtConicalFaceApex());
    api_del_entity(band);

    // A frustum: two circles round the axis.
    BODY* cap = testkit::make_cone_cap();
    FACE* face = onlyFace(cap);
    const cone& c = static_cast<const CONE*>(face->geometry())->equation();
    const double z = 2.0;
    const double r = 5.0 * (1.0 - z / c.get_apex().z());
    auto* v = new VERTEX(new APOINT(-r, 0.0, z));
    const QELinterval turn(-std::numbers::pi, std::numbers::pi);
    auto* circle = new ELLIPSE(ellipse(QELposition(0, 0, z), QELunit_vector(0, 0, 1), QELvector(r, 0, 0), 1.0));
    auto* top = new COEDGE(new EDGE(v, v, circle, FORWARD, EDGE_cvty_unknown, &turn), REVERSED);
    top->set_next(top);
    top->set_previous(top);
    auto* loop = new LOOP(top);
    loop->set_face(face);
    face->loop()->set_next(loop);
    EXPECT_FALSE(as<Ve_FaceTag>(face)->NeedsLoopAtConicalFaceApex());
    api_del_entity(cap);
}

TEST(FaceGeometry, DistanceAndFootOnAPlane)
{
    BODY* box = testkit::make_plane_box(10, 20, 30);
    // The kernel's first face is the bottom one, in z = 0.
    Ve_FaceTag* bottom = as<Ve_FaceTag>(box->lump()->shell()->face());
    QELXPoint2D foot;
    const double d = bottom->getDistance(QELXPoint3D(3, 4, -2), nullptr, &foot);
    EXPECT_NEAR(d, 2.0, 1e-9);
    QELXPoint3D back = QELXPoint3D(3, 4, 0);
    EXPECT_NEAR(bottom->getDistance(back), 0.0, 1e-9);
    const SURFACE* plane = box->lump()->shell()->face()->geometry();
    EXPECT_TRUE(same_point(plane->equation().eval_position(QELpar_pos(foot.u(), foot.v())), QELposition(3, 4, 0)));
    api_del_entity(box);
}

TEST(FaceGeometry, SpanOfPlanarAndSphericalFaces)
{
    BODY* sheet = testkit::make_square_with_hole();
    const Gk_Span square = as<Ve_FaceTag>(onlyFace(sheet))->getSpan();
    EXPECT_TRUE(square.u().isFinite());
    EXPECT_NEAR(square.u().low(), 0.0, 1e-9);
    EXPECT_NEAR(square.u().high(), 10.0, 1e-9);
    EXPECT_NEAR(square.v().high(), 10.0, 1e-9);
    api_del_entity(sheet);

    BODY* cap = testkit::make_hemisphere(4.0);
    const Gk_Span dome = as<Ve_FaceTag>(onlyFace(cap))->getSpan();
    EXPECT_TRUE(dome.u().isFinite());
    EXPECT_TRUE(dome.v().isFinite());
    EXPECT_GT(dome.v().length(), 6.0);
    // Without the face's box the surface's whole range stands in.
    velm_test_fail_next("sg_get_face_par_box", apiFailure());
    const Gk_Span whole = as<Ve_FaceTag>(onlyFace(cap))->getSpan();
    velm_test_reset();
    const QELpar_box range = onlyFace(cap)->geometry()->equation().param_range(nullptr);
    EXPECT_EQ(whole.u().endCondition(), 3);
    EXPECT_DOUBLE_EQ(whole.u().low(), range.u_range().start_pt());
    EXPECT_DOUBLE_EQ(whole.u().high(), range.u_range().end_pt());
    EXPECT_DOUBLE_EQ(whole.v().low(), range.v_range().start_pt());
    EXPECT_DOUBLE_EQ(whole.v().high(), range.v_range().end_pt());
    EXPECT_LT(dome.u().length(), whole.u().length());
    api_del_entity(cap);

    // Without a surface: the default span.
    BODY* bare = testkit::make_box();
    FACE* face = bare->lump()->shell()->face();
    face->set_geometry(nullptr);
    const Gk_Span none = as<Ve_FaceTag>(face)->getSpan();
    EXPECT_EQ(none.u().endCondition(), Gk_Span().u().endCondition());
    api_del_entity(bare);
}

TEST(FaceGeometry, TrimOnlyUnderTheOption)
{
    BODY* box = testkit::make_plane_box();
    FACE* face = box->lump()->shell()->face();
    SURFACE* before = face->geometry();
    Gk_OptionDoc::removeOption(Gk_ROString(QELXOptionName::XVelm_TrimFace));
    EXPECT_FALSE(as<Ve_FaceTag>(face)->trim());
    EXPECT_EQ(face->geometry(), before);
    Gk_OptionDoc::setOption(Gk_ROString(QELXOptionName::XVelm_TrimFace), QELXValue(true));
    EXPECT_TRUE(as<Ve_FaceTag>(face)->trim());
    Gk_OptionDoc::removeOption(Gk_ROString(QELXOptionName::XVelm_TrimFace));
    api_del_entity(box);
}

TEST(FaceGeometry, SimplifyKeepsAnAlreadySimplePcurve)
{
    BODY* box = testkit::make_plane_box();
    COEDGE* c = box->lump()->shell()->face()->loop()->start();
    ASSERT_NE(c->geometry(), nullptr);
    const PCURVE* before = c->geometry();
    EXPECT_FALSE(as<Ve_CoedgeTag>(c)->simplifyPCurve(1e-6));
    EXPECT_EQ(c->geometry(), before);
    c->set_geometry(nullptr);
    EXPECT_FALSE(as<Ve_CoedgeTag>(c)->simplifyPCurve(1e-6));
    api_del_entity(box);
}

TEST(LumpSolid, WholeBodyDecides)
{
    BODY* box = testkit::make_plane_box();
    EXPECT_TRUE(as<Ve_LumpTag>(box->lump())->isSolid());
    BODY* sheet = testkit::make_square_with_hole();
    EXPECT_FALSE(as<Ve_LumpTag>(sheet->lump())->isSolid());
    BODY* two = testkit::make_two_shell_body(QELposition(20, 0, 0));
    EXPECT_TRUE(as<Ve_LumpTag>(two->lump())->isSolid());
    for (BODY* b : {box, sheet, two})
        api_del_entity(b);
}

TEST(BodyBox, KernelBoxOrTheZeroBoxOnFailure)
{
    BODY* box = testkit::make_plane_box(10, 20, 30);
    QELXBox3D b;
    EXPECT_EQ(as<Ve_BodyTag>(box)->GetBoundingBox(b), QELI_OK);
    EXPECT_NEAR(b.low().x(), 0.0, 1e-6);
    EXPECT_NEAR(b.high().y(), 20.0, 1e-6);
    EXPECT_NEAR(b.high().z(), 30.0, 1e-6);

    Gk_ErrMgr::clearAssertions();
    velm_test_fail_next("api_get_entity_box", apiFailure());
    EXPECT_EQ(as<Ve_BodyTag>(box)->GetBoundingBox(b), QELI_FAIL);
    EXPECT_EQ(b.high().z(), 0.0);
    EXPECT_TRUE(Gk_ErrMgr::assertions().empty());

    // The entity form reports the failure too, and asserts.
    FACE* face = box->lump()->shell()->face();
    QELXBox3D fb;
    EXPECT_EQ(as<Ve_FaceTag>(face)->GetBoundingBox(fb), QELI_OK);
    EXPECT_NEAR(fb.high().x(), 10.0, 1e-6);
    velm_test_fail_next("api_get_entity_box", apiFailure());
    EXPECT_EQ(as<Ve_EntityTag>(face)->GetBoundingBox(fb), QELI_FAIL);
    EXPECT_EQ(fb.high().x(), 0.0);
    EXPECT_EQ(Gk_ErrMgr::assertions().size(), 1u);
    Gk_ErrMgr::clearAssertions();
    velm_test_reset();
    api_del_entity(box);
}

TEST(BodyTransform, MorphMovesTheGeometryAndLeavesNoTransform)
{
    BODY* box = testkit::make_plane_box(10, 20, 30);
    Ve_BodyTag* b = as<Ve_BodyTag>(box);
    b->apply(QELXMorph3D(QELXAffine(), QELXPoint3D(5, 0, 0), 1.0));
    EXPECT_EQ(box->transform(), nullptr);
    QELXBox3D moved;
    ASSERT_EQ(b->GetBoundingBox(moved), QELI_OK);
    EXPECT_NEAR(moved.low().x(), 5.0, 1e-6);
    EXPECT_NEAR(moved.high().x(), 15.0, 1e-6);

    ASSERT_TRUE(api_apply_transf(box, translate_transf(QELvector(0, 0, 1))).ok());
    ASSERT_NE(box->transform(), nullptr);
    b->applyTrans();
    EXPECT_EQ(box->transform(), nullptr);
    const VERTEX* v = box->lump()->shell()->face()->loop()->start()->start();
    EXPECT_GE(v->geometry()->coords().z(), 1.0 - 1e-9);
    EXPECT_EQ(testkit::model_problems(box), "");
    api_del_entity(box);
}

TEST(Manifold, BoxIsManifoldAndAFailureReadsSo)
{
    BODY* box = testkit::make_plane_box();
    EXPECT_EQ(as<Ve_BodyTag>(box)->isNonManifold(), Ve_BodyTag::Manifold);
    velm_test_fail_next("api_manifold_class", apiFailure());
    EXPECT_EQ(as<Ve_BodyTag>(box)->isNonManifold(), Ve_BodyTag::Manifold);
    velm_test_reset();
    api_del_entity(box);
}

TEST(Manifold, EdgeOfThreeFacesIsNonManifold)
{
    // Two sheets welded along one edge, plus a third face on it: the edge
    // carries three coedges.
    BODY* sheet = testkit::make_sheet(2, 1);
    SHELL* shell = sheet->lump()->shell();
    FACE* left = shell->face();
    EDGE* middle = nullptr;
    for (COEDGE* c = left->loop()->start();; c = c->next())
        if (c->partner()) {
            middle = c->edge();
            break;
        }
    ASSERT_NE(middle, nullptr);
    BODY* extra = testkit::make_sheet(1, 1);
    FACE* fin = extra->lump()->shell()->face();
    // The fin's first coedge joins the middle edge's partner ring.
    COEDGE* joining = fin->loop()->start();
    EDGE* old = joining->edge();
    joining->set_edge(middle);
    joining->set_partner(middle->coedge());
    COEDGE* last = middle->coedge();
    while (last->partner() != middle->coedge())
        last = last->partner();
    last->set_partner(joining);
    EXPECT_EQ(as<Ve_EdgeTag>(middle)->getNumberOfCoedges(), 3);
    // The fin moves into the sheet's shell.
    extra->lump()->shell()->set_face(nullptr);
    fin->set_shell(shell);
    fin->set_next(left->next());
    left->set_next(fin);
    EXPECT_EQ(as<Ve_BodyTag>(sheet)->isNonManifold(), Ve_BodyTag::NonManifoldEdges);
    // Back as it was before both are deleted.
    left->set_next(fin->next());
    fin->set_next(nullptr);
    fin->set_shell(extra->lump()->shell());
    extra->lump()->shell()->set_face(fin);
    last->set_partner(middle->coedge());
    joining->set_partner(nullptr);
    joining->set_edge(old);
    api_del_entity(extra);
    api_del_entity(sheet);
}

} // namespace
