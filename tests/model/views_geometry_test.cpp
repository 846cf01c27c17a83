// The view members that ask the kernel's geometry: loop classification, the
// apex test of conical faces, boxes, spans, distances, transforms and the
// manifold classification.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "model_test_support.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_options.hxx"
#include "support/geometry_builders.hxx"
#include "support/query_builders.hxx"
#include "velm/build.hxx"
#include "velm/query.hxx"

namespace {

// A loop of one coedge on the circle of the centre, axis and major axis:
// counter-clockwise seen from where the axis points, starting at the
// parameter `from` (0 or -pi).
LOOP* circleLoop(const QELposition& centre, const QELunit_vector& axis, const QELvector& major, double from = 0.0,
                 sense_type sense = FORWARD)
{
    auto* v = new VERTEX(new APOINT(centre + (from == 0.0 ? major : -major)));
    const QELinterval turn(from, from + 2.0 * std::numbers::pi);
    auto* circle = new ELLIPSE(ellipse(centre, axis, major, 1.0));
    auto* c = new COEDGE(new EDGE(v, v, circle, FORWARD, EDGE_cvty_unknown, &turn), sense);
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

} // namespace

TEST(LoopClassification, PeripheryAndHoleOnPlaneCylinderAndSphereInEitherOrder)
{
    const cone cylinder(QELposition(), QELunit_vector(0, 0, 1), QELvector(5, 0, 0), 1.0, 0.0, 1.0, 0.0);
    // Caps about +x: the circles where x = 2 and x = 3 on the sphere of radius 4.
    const QELunit_vector x(1, 0, 0);
    BODY* sheets[] = {testkit::make_square_with_hole(),
                      faceWithHole(new CONE(cylinder), cylinderPatch(5.0, 1.0, 0.0, 6.0), cylinderPatch(5.0, 0.3, 2.0, 4.0)),
                      faceWithHole(new SPHERE(sphere(QELposition(), 4.0)),
                                   circleLoop(QELposition(2, 0, 0), x, QELvector(0, std::sqrt(12.0), 0)),
                                   circleLoop(QELposition(3, 0, 0), x, QELvector(0, std::sqrt(7.0), 0)))};
    for (BODY* sheet : sheets) {
        FACE* face = firstFace(sheet);
        ASSERT_EQ(as<Ve_FaceTag>(face)->getNumberOfLoops(), 2);
        LOOP* outer = face->loop();
        LOOP* hole = outer->next();
        EXPECT_TRUE(as<Ve_LoopTag>(outer)->isOuterLoop());
        EXPECT_FALSE(as<Ve_LoopTag>(hole)->isOuterLoop());
        // The hole made the first loop: still told apart by the kernel.
        outer->set_next(nullptr);
        hole->set_next(outer);
        face->set_loop(hole);
        EXPECT_FALSE(as<Ve_LoopTag>(hole)->isOuterLoop());
        EXPECT_TRUE(as<Ve_LoopTag>(outer)->isOuterLoop());
    }
    // A failed loop type or placement is not outer, and is reported as a failure.
    Ve_LoopTag* outer = as<Ve_LoopTag>(firstFace(sheets[0])->loop()->next());
    for (const char* call : {"api_loop_type", "api_loop_external"}) {
        Gk_ErrMgr::clearAssertions();
        velm_test_fail_next(call, apiFailure());
        EXPECT_FALSE(outer->isOuterLoop()) << call;
        EXPECT_EQ(Gk_ErrMgr::assertions().size(), 1u) << call;
        velm_test_reset();
    }
    Gk_ErrMgr::clearAssertions();
    EXPECT_TRUE(outer->isOuterLoop());
    EXPECT_TRUE(Gk_ErrMgr::assertions().empty());
    for (BODY* sheet : sheets)
        api_del_entity(sheet);
}

TEST(LoopClassification, SeparationLoopsAreNotPeripheries)
{
    // Both circles of a cylinder band go round the axis: neither is an outer periphery.
    const Owned band{testkit::make_cylinder_band()};
    Ve_FaceTag* f = as<Ve_FaceTag>(firstFace(band));
    ASSERT_EQ(f->getNumberOfLoops(), 2);
    EXPECT_FALSE(f->getLoopAt(0)->isOuterLoop());
    EXPECT_FALSE(f->getLoopAt(1)->isOuterLoop());
    // Loops of one coedge with a curve, on a cylinder: not degenerate.
    EXPECT_FALSE(f->getLoopAt(0)->isDegenerate());
    EXPECT_FALSE(f->NeedsLoopAtConicalFaceApex()); // nor an apex to close
}

TEST(ConicalApex, CapTowardsTheApexNeedsALoopThere)
{
    const Owned cap{testkit::make_cone_cap()};
    FACE* face = firstFace(cap);
    Ve_FaceTag* f = as<Ve_FaceTag>(face);
    EXPECT_TRUE(f->NeedsLoopAtConicalFaceApex());
    // A loop the kernel could not type: no loop asked for, and the failure reported.
    Gk_ErrMgr::clearAssertions();
    velm_test_fail_next("api_loop_type", apiFailure());
    EXPECT_FALSE(f->NeedsLoopAtConicalFaceApex());
    EXPECT_EQ(Gk_ErrMgr::assertions().size(), 1u);
    velm_test_reset();
    Gk_ErrMgr::clearAssertions();
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
    as<Ve_LoopTag>(face->loop())->reverse();
    face->set_bound(nullptr);

    // A frustum: a second circle round the axis makes an even separation.
    const double z = 2.0;
    const double r = 5.0 * (1.0 - z / apex.z());
    LOOP* top = circleLoop(QELposition(0, 0, z), QELunit_vector(0, 0, 1), QELvector(r, 0, 0), -std::numbers::pi, REVERSED);
    top->set_face(face);
    face->loop()->set_next(top);
    EXPECT_FALSE(f->NeedsLoopAtConicalFaceApex());
}

TEST(Distance, FootOnAPlaneAndNoDistanceWithoutGeometry)
{
    const Owned box{testkit::make_plane_box(10, 20, 30)};
    FACE* face = firstFace(box); // the bottom one, in z = 0
    Ve_FaceTag* bottom = as<Ve_FaceTag>(face);
    QELXPoint2D foot;
    EXPECT_NEAR(bottom->getDistance(QELXPoint3D(3, 4, -2), nullptr, &foot), 2.0, 1e-9);
    EXPECT_NEAR(bottom->getDistance(QELXPoint3D(3, 4, 0)), 0.0, 1e-9);
    EXPECT_TRUE(same_point(face->geometry()->equation().eval_position(QELpar_pos(foot.u(), foot.v())),
                           QELposition(3, 4, 0)));

    // A bare surface: nothing to project on.
    const Owned bare{testkit::make_box()};
    face = firstFace(bare);
    face->set_geometry(new SURFACE);
    foot = QELXPoint2D(7.0, 8.0);
    EXPECT_EQ(as<Ve_FaceTag>(face)->getDistance(QELXPoint3D(1, 1, 1), nullptr, &foot), Ve_FaceTag::NoDistance);
    face->set_geometry(nullptr);
    EXPECT_EQ(as<Ve_FaceTag>(face)->getDistance(QELXPoint3D(1, 1, 1), nullptr, &foot), Ve_FaceTag::NoDistance);
    EXPECT_EQ(foot.u(), 7.0);
    EXPECT_EQ(foot.v(), 8.0);

    // An edge's distance is to its whole curve, beyond the edge's end too.
    EDGE* onLine = new EDGE(new VERTEX(new APOINT(0, 0, 0)), new VERTEX(new APOINT(1, 0, 0)),
                            new STRAIGHT(straight(QELposition(0, 0, 0), QELunit_vector(1, 0, 0))), FORWARD);
    EXPECT_NEAR(as<Ve_EdgeTag>(onLine)->getDistance(QELXPoint3D(5, 3, 4)), 5.0, 1e-9);
    EDGE* curveless = new EDGE(new VERTEX(new APOINT(0, 0, 0)), new VERTEX(new APOINT(1, 0, 0)), nullptr, FORWARD);
    EXPECT_EQ(as<Ve_EdgeTag>(curveless)->getDistance(QELXPoint3D(0, 0, 0)), Ve_EdgeTag::NoDistance);
    curveless->set_geometry(new CURVE);
    EXPECT_EQ(as<Ve_EdgeTag>(curveless)->getDistance(QELXPoint3D(0, 0, 0)), Ve_EdgeTag::NoDistance);
    api_del_entity(onLine);
    api_del_entity(curveless);
}

TEST(FaceGeometry, SpanFromTheFaceBoxOrTheSurfaceRange)
{
    const Owned sheet{testkit::make_square_with_hole()};
    const Gk_Span square = as<Ve_FaceTag>(firstFace(sheet))->getSpan();
    EXPECT_TRUE(square.u().isFinite());
    EXPECT_NEAR(square.u().low(), 0.0, 1e-9);
    EXPECT_NEAR(square.u().high(), 10.0, 1e-9);
    EXPECT_NEAR(square.v().high(), 10.0, 1e-9);

    const Owned cap{testkit::make_hemisphere(4.0)};
    const Gk_Span dome = as<Ve_FaceTag>(firstFace(cap))->getSpan();
    EXPECT_TRUE(dome.u().isFinite());
    EXPECT_TRUE(dome.v().isFinite());
    EXPECT_GT(dome.v().length(), 6.0);
    // Without the face's box the surface's whole range stands in.
    velm_test_fail_next("sg_get_face_par_box", apiFailure());
    const Gk_Span whole = as<Ve_FaceTag>(firstFace(cap))->getSpan();
    velm_test_reset();
    const QELpar_box range = firstFace(cap)->geometry()->equation().param_range(nullptr);
    EXPECT_EQ(whole.u().endCondition(), 3);
    EXPECT_DOUBLE_EQ(whole.u().low(), range.u_range().start_pt());
    EXPECT_DOUBLE_EQ(whole.u().high(), range.u_range().end_pt());
    EXPECT_DOUBLE_EQ(whole.v().low(), range.v_range().start_pt());
    EXPECT_DOUBLE_EQ(whole.v().high(), range.v_range().end_pt());
    EXPECT_LT(dome.u().length(), whole.u().length());

    // Without a surface: the default span.
    const Owned bare{testkit::make_box()};
    firstFace(bare)->set_geometry(nullptr);
    EXPECT_EQ(as<Ve_FaceTag>(firstFace(bare))->getSpan().u().endCondition(), Gk_Span().u().endCondition());
}

TEST(FaceGeometry, TrimOnlyUnderTheOptionAndSimplifyKeepsASimplePcurve)
{
    const Owned box{testkit::make_plane_box()};
    FACE* face = firstFace(box);
    SURFACE* before = face->geometry();
    Gk_OptionDoc::removeOption(Gk_ROString(QELXOptionName::XVelm_TrimFace));
    EXPECT_FALSE(as<Ve_FaceTag>(face)->trim());
    EXPECT_EQ(face->geometry(), before);
    Gk_OptionDoc::setOption(Gk_ROString(QELXOptionName::XVelm_TrimFace), QELXValue(true));
    EXPECT_TRUE(as<Ve_FaceTag>(face)->trim());
    Gk_OptionDoc::removeOption(Gk_ROString(QELXOptionName::XVelm_TrimFace));

    COEDGE* c = face->loop()->start();
    const PCURVE* pcurve = c->geometry();
    ASSERT_NE(pcurve, nullptr);
    EXPECT_FALSE(as<Ve_CoedgeTag>(c)->simplifyPCurve(1e-6));
    EXPECT_EQ(c->geometry(), pcurve);
    c->set_geometry(nullptr);
    EXPECT_FALSE(as<Ve_CoedgeTag>(c)->simplifyPCurve(1e-6));
}

TEST(LumpSolid, WholeBodyDecides)
{
    const Owned box{testkit::make_plane_box()}, sheet{testkit::make_square_with_hole()},
        two{testkit::make_two_shell_body(QELposition(20, 0, 0))};
    EXPECT_TRUE(as<Ve_LumpTag>(box->lump())->isSolid());
    EXPECT_FALSE(as<Ve_LumpTag>(sheet->lump())->isSolid());
    EXPECT_TRUE(as<Ve_LumpTag>(two->lump())->isSolid());
}

TEST(BodyBox, KernelBoxOrTheZeroBoxOnFailure)
{
    const Owned box{testkit::make_plane_box(10, 20, 30)};
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
    FACE* face = firstFace(box);
    QELXBox3D fb;
    EXPECT_EQ(as<Ve_FaceTag>(face)->GetBoundingBox(fb), QELI_OK);
    EXPECT_NEAR(fb.high().x(), 10.0, 1e-6);
    velm_test_fail_next("api_get_entity_box", apiFailure());
    EXPECT_EQ(as<Ve_EntityTag>(face)->GetBoundingBox(fb), QELI_FAIL);
    EXPECT_EQ(fb.high().x(), 0.0);
    EXPECT_EQ(Gk_ErrMgr::assertions().size(), 1u);
    Gk_ErrMgr::clearAssertions();
    velm_test_reset();
}

TEST(BodyTransform, MorphMovesTheGeometryAndLeavesNoTransform)
{
    const Owned box{testkit::make_plane_box(10, 20, 30)};
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
    EXPECT_GE(firstFace(box)->loop()->start()->start()->geometry()->coords().z(), 1.0 - 1e-9);
    EXPECT_EQ(testkit::model_problems(box), "");
}

TEST(Manifold, BoxIsManifoldEvenOnFailureAndAnEdgeOfThreeFacesIsNot)
{
    const Owned box{testkit::make_plane_box()};
    EXPECT_EQ(as<Ve_BodyTag>(box)->isNonManifold(), Ve_BodyTag::Manifold);
    velm_test_fail_next("api_manifold_class", apiFailure());
    EXPECT_EQ(as<Ve_BodyTag>(box)->isNonManifold(), Ve_BodyTag::Manifold);
    velm_test_reset();

    // Two sheets welded along one edge, plus a third face on it: the edge
    // carries three coedges.
    const Owned sheet{testkit::make_sheet(2, 1)};
    SHELL* shell = sheet->lump()->shell();
    FACE* left = shell->face();
    EDGE* middle = nullptr;
    for (COEDGE* c = left->loop()->start(); !middle; c = c->next())
        if (c->partner())
            middle = c->edge();
    const Owned extra{testkit::make_sheet(1, 1)};
    FACE* fin = firstFace(extra);
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
}
