// The toolbox's geometry repairs: B-spline forms, curve self-intersections and
// irregularities, and spline surfaces extended over their pcurves.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "model/kernel_call_bracket.hxx"
#include "repair/post_process_support.hxx"
#include "repair/post_process_util.hxx"
#include "support/geometry_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/check.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/math.hxx"
#include "velm/options.hxx"
#include "velm/surface_build.hxx"
#include "velm/topology_edit.hxx"

namespace {

using namespace post_process_test;

// ---- fault editors ----

// The spline sheet whose surface says it closes in u though its seam is open.
BODY* sheetFlaggedClosedInU()
{
    BODY* b = testkit::make_spline_sheet();
    auto& sp = static_cast<spline&>(faces(b)[0]->geometry()->equation_for_update());
    bs3_surface s = bs3_surface_copy(sp.sur());
    bs3_surface_set_closed_u(s);
    sp.set_sur(s);
    return b;
}

// The spline sheet with an edge curve flagged closed though its ends are apart.
BODY* sheetWithCurveFlaggedClosed()
{
    BODY* b = testkit::make_spline_sheet();
    auto& ic = static_cast<intcurve&>(edges(b)[1]->geometry()->equation_for_update());
    bs3_curve c = bs3_curve_copy(ic.cur());
    bs3_curve_set_closed(c);
    ic.set_cur(c);
    return b;
}

// A sheet on the periodic hexagonal tube: closed round v, loops of one closed edge each.
BODY* periodicTube()
{
    bs3_surface s = testkit::make_tube_bs3_surface(true);
    const spline sp(s);
    bs3_surface_delete(s);
    FACE* face = make_face_spline(sp);
    BODY* b = nullptr;
    EXPECT_TRUE(api_mk_by_faces(nullptr, 1, &face, b).ok());
    return b;
}

TEST_F(PostProcess, SurfaceFlaggedClosedOverAnOpenSeamBecomesOpen)
{
    const std::string clean = testkit::body_text(keep(testkit::make_spline_sheet()));
    BODY* b = keep(sheetFlaggedClosedInU());
    EXPECT_NE(findings(b), "");
    Ve_PostProcessUtil(view(b)).fixSurfaceForms();
    EXPECT_EQ(findings(b), "");
    EXPECT_EQ(testkit::body_text(b), clean);
}

TEST_F(PostProcess, CurveFlaggedClosedWithItsEndsApartBecomesOpen)
{
    const std::string clean = testkit::body_text(keep(testkit::make_spline_sheet()));
    BODY* b = keep(sheetWithCurveFlaggedClosed());
    EXPECT_NE(findings(b), "");
    Ve_PostProcessUtil(view(b)).fixCurveForms();
    EXPECT_EQ(findings(b), "");
    EXPECT_EQ(testkit::body_text(b), clean);
}

// Its control net wraps round, so its first and last rows differ: still periodic.
TEST_F(PostProcess, PeriodicSurfaceKeepsItsForms)
{
    BODY* b = keep(periodicTube());
    ASSERT_EQ(findings(b), "");
    const std::string before = testkit::body_text(b);
    Ve_PostProcessUtil tool(view(b));
    tool.fixSurfaceForms();
    tool.fixCurveForms();
    tool.MakeCurvesClosed();
    EXPECT_EQ(testkit::body_text(b), before);
    EXPECT_TRUE(bs3_surface_periodic_v(static_cast<const spline&>(faces(b)[0]->geometry()->equation()).sur()));
}

TEST_F(PostProcess, FormFixesFailingAtAnyKernelCallLeaveTheModelRepairedOrAsItWas)
{
    for (auto [name, build, step] :
         {std::tuple{"fixSurfaceForms", &sheetFlaggedClosedInU, +[](Ve_PostProcessUtil& t) { t.fixSurfaceForms(); }},
          std::tuple{"fixCurveForms", &sheetWithCurveFlaggedClosed, +[](Ve_PostProcessUtil& t) { t.fixCurveForms(); }}}) {
        SCOPED_TRACE(name);
        testkit::sweep_kernel_calls(build, [&](BODY* b) {
            velmInnerCall([&] {
                Ve_PostProcessUtil tool(view(b));
                step(tool);
            });
        });
    }
}

} // namespace

namespace {

// A free square sheet of side 10 in the z = 0 plane, one face of four edges, one coedge each.
BODY* square()
{
    FACE* face = nullptr;
    EXPECT_TRUE(api_face_plane(QELposition(), 10.0, 10.0, nullptr, face).ok());
    BODY* b = nullptr;
    EXPECT_TRUE(api_mk_by_faces(nullptr, 1, &face, b).ok());
    return b;
}

// The square with one side replaced by a cubic that makes a small loop halfway.
BODY* squareWithLoopingSide()
{
    BODY* b = square();
    EDGE* e = edges(b)[0];
    const QELinterval r = edge_curve_range(e);
    const curve& old = e->geometry()->equation();
    const QELposition a = old.eval_position(r.start_pt()), z = old.eval_position(r.end_pt());
    const QELvector d = (z - a) / distance(a, z);
    const QELvector n(-d.y(), d.x(), 0.0);
    const QELposition m = a + (z - a) * 0.5;
    bs3_curve c = cubicThrough({a, a + (z - a) * 0.3, m + d * 1.5 + n * 0.8, m - d * 1.5 + n * 0.8, z - (z - a) * 0.3, z});
    bs3_curve_reparam(r.start_pt(), r.end_pt(), c);
    replaceEdgeCurve(e, intcurve(c));
    return b;
}

// The same side, its curve running against the edge (a reversed intcurve
// under a reversed edge), so that the coedge runs against the curve.
BODY* squareWithLoopingReversedSide()
{
    BODY* b = squareWithLoopingSide();
    EDGE* e = edges(b)[0];
    const QELinterval r = e->param_range();
    intcurve backwards(static_cast<const intcurve&>(e->geometry()->equation()));
    backwards.negate();
    e->set_sense(REVERSED);
    e->set_param_range(&r);
    replaceEdgeCurve(e, backwards);
    return b;
}

TEST_F(PostProcess, LoopOfAFaceEdgeRunningAgainstItsCurveIsCutOutWithAPcurveTheCoedgesWay)
{
    BODY* b = keep(squareWithLoopingReversedSide());
    ASSERT_EQ(edges(b)[0]->sense(), REVERSED);
    EXPECT_NE(findings(b), "");
    EXPECT_TRUE(Ve_PostProcessUtil(view(b)).fixCurveSelfInterxn());
    EXPECT_EQ(findings(b), "");
}

TEST_F(PostProcess, LoopOfAFaceEdgeIsCutOut)
{
    BODY* b = keep(squareWithLoopingSide());
    EDGE* e = edges(b)[0];
    {
        cc_intersection* x = bs3_curve_self_int(static_cast<const intcurve&>(e->geometry()->equation()).cur());
        ASSERT_NE(x, nullptr);
        delete_cc_intersections(x);
    }
    EXPECT_NE(findings(b), "");
    const double before = area(b);
    EXPECT_TRUE(Ve_PostProcessUtil(view(b)).fixCurveSelfInterxn());
    EXPECT_EQ(findings(b), "");
    cc_intersection* x = bs3_curve_self_int(static_cast<const intcurve&>(edges(b)[0]->geometry()->equation()).cur());
    EXPECT_EQ(x, nullptr);
    delete_cc_intersections(x);
    // The loop enclosed little: the face keeps its area but for that.
    EXPECT_NEAR(area(b), before, 0.05 * before);
}

TEST_F(PostProcess, StitchedFacesStopTheFaceEdgeCurveRepairs)
{
    BODY* b = keep(testkit::make_plane_box(10, 20, 30));
    const std::string before = testkit::body_text(b);
    Ve_PostProcessUtil tool(view(b));
    EXPECT_FALSE(tool.fixCurveSelfInterxn());
    EXPECT_FALSE(tool.fixCurveIrregularity());
    EXPECT_EQ(testkit::body_text(b), before);
}

// A cubic that loops in its middle, on a wire edge over its first fifth only.
BODY* wireBeforeItsLoop()
{
    const QELinterval first(0.0, 0.6);
    return wireOn(cubicThrough({{0, 0, 0}, {3, 0, 0}, {6.5, 0.8, 0}, {3.5, 0.8, 0}, {7, 0, 0}, {10, 0, 0}}), &first);
}

// A cubic with a cusp halfway (its speed vanishes there), ends pointing different ways.
BODY* wireWithCusp()
{
    return wireOn(cubicThrough({{0, 0, 0}, {10, 10, 0}, {0, 10, 0}, {10, 0, 0}}));
}

// The square with one side on a cubic with a cusp halfway.
BODY* squareWithCuspSide()
{
    BODY* b = square();
    EDGE* e = edges(b)[0];
    const QELinterval r = edge_curve_range(e);
    const curve& old = e->geometry()->equation();
    const QELposition a = old.eval_position(r.start_pt()), z = old.eval_position(r.end_pt());
    const QELvector along = z - a;
    const QELvector across(along.y(), -along.x(), 0.0);
    bs3_curve c = cubicThrough({a, a + along + across, a + across, z});
    bs3_curve_reparam(r.start_pt(), r.end_pt(), c);
    // No fit passes the cusp within tolerance; on a plane the control points
    // mapped to parameters give the exact pcurve.
    const surface& plane = faces(b)[0]->geometry()->equation();
    int n = 0, nk = 0;
    QELposition* pts = nullptr;
    double* knots = nullptr;
    bs3_curve_control_points(c, n, pts);
    bs3_curve_knots(c, nk, knots);
    for (int i = 0; i < n; ++i) {
        const QELpar_pos uv = plane.param(pts[i]);
        pts[i] = QELposition(uv.u, uv.v, 0.0);
    }
    bs2_curve p = bs2_curve_from_ctrlpts(3, 0, 0, 0, n, pts, nullptr, QELresabs, nk, knots, bs3_curve_knottol());
    delete[] pts;
    delete[] knots;
    replaceEdgeCurve(e, intcurve(c));
    COEDGE* co = e->coedge();
    if (co->sense() != e->sense())
        bs2_curve_reverse(p);
    co->set_geometry(new PCURVE(pcurve(p, 0.0, plane)));
    return b;
}

// A wire whose whole curve loops.
BODY* loopingWire()
{
    return wireOn(cubicThrough({{0, 0, 0}, {3, 0, 0}, {6.5, 0.8, 0}, {3.5, 0.8, 0}, {7, 0, 0}, {10, 0, 0}}));
}

TEST_F(PostProcess, IrregularFaceEdgeIsReinterpolatedWithItsPcurve)
{
    BODY* b = keep(squareWithCuspSide());
    EXPECT_NE(findings(b), "");
    EXPECT_TRUE(Ve_PostProcessUtil(view(b)).fixCurveIrregularity());
    EXPECT_EQ(findings(b), "");
    EXPECT_NE(edges(b)[0]->coedge()->geometry(), nullptr);
}

TEST_F(PostProcess, LeftOverLoopingWireIsRebuiltOnAGrid)
{
    BODY* b = keep(loopingWire());
    EXPECT_NE(findings(b), "");
    EXPECT_TRUE(Ve_PostProcessUtil(view(b)).fixLeftOverCurveSelfInt());
    EXPECT_EQ(findings(b), "");
    const EDGE* e = edges(b)[0];
    EXPECT_TRUE(bs3_curve_range(static_cast<const intcurve&>(e->geometry()->equation()).cur()) == e->param_range());
}

TEST_F(PostProcess, LeftOverIrregularWireIsRebuiltOnAGrid)
{
    BODY* b = keep(wireWithCusp());
    EXPECT_NE(findings(b), "");
    EXPECT_TRUE(Ve_PostProcessUtil(view(b)).fixLeftOverCurveIrreg());
    EXPECT_EQ(findings(b), "");
}

TEST_F(PostProcess, WireCurveLoopingOutsideItsEdgeIsCutToTheEdge)
{
    BODY* b = keep(wireBeforeItsLoop());
    EXPECT_NE(findings(b), "");
    EXPECT_TRUE(Ve_PostProcessUtil(view(b)).fixfreeCurveSelfInterxn());
    EXPECT_EQ(findings(b), "");
    const EDGE* e = edges(b)[0];
    EXPECT_TRUE(bs3_curve_range(static_cast<const intcurve&>(e->geometry()->equation()).cur()) == e->param_range());
}

// A face side on the looping cubic cut at its crossing: the side ends (or
// starts) where the curve passed before (after), so the crossing lies at an
// end of the edge's part of the curve. The sheet lies below the side, away
// from the loop.
BODY* sheetWithSideEndingAtItsCrossing(bool atEnd)
{
    bs3_curve c = cubicThrough({{0, 0, 0}, {3, 0, 0}, {6.5, 0.8, 0}, {3.5, 0.8, 0}, {7, 0, 0}, {10, 0, 0}});
    cc_intersection* x = bs3_curve_self_int(c);
    EXPECT_NE(x, nullptr);
    const QELinterval whole = bs3_curve_range(c);
    const QELinterval part = !x ? whole : atEnd ? QELinterval(whole.start_pt(), x->param2)
                                                : QELinterval(x->param1, whole.end_pt());
    delete_cc_intersections(x);
    const intcurve ic(c);
    const QELposition p = ic.eval_position(part.start_pt()), q = ic.eval_position(part.end_pt());
    BODY* b = testkit::make_polygon_sheet({{p.x(), p.y()}, {p.x(), -3.0}, {q.x(), -3.0}, {q.x(), q.y()}});
    for (EDGE* e : edges(b)) {
        const bool along = distance(e->start_pos(), p) < 1e-9 && distance(e->end_pos(), q) < 1e-9;
        const bool against = distance(e->start_pos(), q) < 1e-9 && distance(e->end_pos(), p) < 1e-9;
        if (!along && !against)
            continue;
        if (against) {
            VERTEX* v = e->start();
            e->set_start(e->end());
            e->set_end(v);
            e->coedge()->set_sense(e->coedge()->sense() == FORWARD ? REVERSED : FORWARD);
        }
        e->set_sense(FORWARD);
        e->set_param_range(&part);
        replaceEdgeCurve(e, ic);
    }
    return b;
}

// A crossing at an end of the edge's part leaves no loop to cut out between
// two pieces: the side is fitted again between its vertices instead, and
// the repair says it succeeded.
TEST_F(PostProcess, ACrossingAtAnEndOfTheEdgeIsRefittedNotCutOut)
{
    for (const bool atEnd : {true, false}) {
        SCOPED_TRACE(atEnd ? "crossing at the edge's end" : "crossing at the edge's start");
        BODY* b = keep(sheetWithSideEndingAtItsCrossing(atEnd));
        ASSERT_EQ(faces(b).size(), 1u);
        std::vector<QELposition> ends;
        for (EDGE* e : edges(b))
            for (const QELposition& at : {e->start_pos(), e->end_pos()})
                ends.push_back(at);
        EXPECT_TRUE(Ve_PostProcessUtil(view(b)).fixCurveSelfInterxn());
        std::size_t k = 0;
        for (EDGE* e : edges(b)) {
            ASSERT_NE(e->geometry(), nullptr);
            const QELinterval r = edge_curve_range(e);
            EXPECT_LT(distance(e->geometry()->equation().eval_position(r.start_pt()), ends[k++]), 1e-6);
            EXPECT_LT(distance(e->geometry()->equation().eval_position(r.end_pt()), ends[k++]), 1e-6);
            if (e->geometry()->equation().type() == 11) {
                EXPECT_NE(e->coedge()->geometry(), nullptr) << "the fitted side keeps a pcurve";
            }
        }
    }
}

TEST_F(PostProcess, IrregularWireCurveIsReinterpolatedKeepingBothEndDirections)
{
    BODY* b = keep(wireWithCusp());
    EXPECT_NE(findings(b), "");
    const EDGE* e = edges(b)[0];
    const QELvector endDir = bs3_curve_end_tangent(static_cast<const intcurve&>(e->geometry()->equation()).cur());
    EXPECT_TRUE(Ve_PostProcessUtil(view(b)).fixfreeCurveIrregularity());
    EXPECT_EQ(findings(b), "");
    bs3_curve fresh = static_cast<const intcurve&>(edges(b)[0]->geometry()->equation()).cur();
    EXPECT_NEAR((bs3_curve_end_tangent(fresh) - endDir).len(), 0.0, 1e-6);
    EXPECT_TRUE(bs3_curve_range(fresh) == edges(b)[0]->param_range());
}

// A wire edge over part of the B-spline, given in the B-spline's parameters:
// under an intcurve of either direction and an edge of either sense.
BODY* wireOverPart(bs3_curve c, const QELinterval& part, bool negated, sense_type sense)
{
    intcurve ic(c);
    if (negated)
        ic.negate();
    const QELinterval onCurve = negated ? -part : part;
    const QELinterval range = sense == FORWARD ? onCurve : -onCurve;
    const QELposition a = ic.eval_position(sense == FORWARD ? onCurve.start_pt() : onCurve.end_pt());
    const QELposition z = ic.eval_position(sense == FORWARD ? onCurve.end_pt() : onCurve.start_pt());
    EDGE* e = new EDGE(new VERTEX(new APOINT(a)), new VERTEX(new APOINT(z)), make_curve(ic), sense,
                       EDGE_cvty_unknown, &range);
    BODY* b = nullptr;
    EXPECT_TRUE(api_make_ewire(1, &e, b).ok());
    return b;
}

// The wire curve repairs rebuild only the part of the curve an edge uses: its
// vertices stay where they were, on the new curve's ends, for parts at either
// end and in the middle, curves of either direction and edges of either sense.
TEST_F(PostProcess, WireCurveRepairsRebuildOnlyThePartTheEdgeUses)
{
    using Step = bool (*)(Ve_PostProcessUtil&);
    const struct {
        const char* name;
        bs3_curve (*curve)();
        Step step;
    } members[] = {
        {"fixfreeCurveIrregularity", [] { return cubicThrough({{0, 0, 0}, {10, 10, 0}, {0, 10, 0}, {10, 0, 0}}); },
         [](Ve_PostProcessUtil& t) { return t.fixfreeCurveIrregularity(); }},
        {"fixLeftOverCurveIrreg", [] { return cubicThrough({{0, 0, 0}, {10, 10, 0}, {0, 10, 0}, {10, 0, 0}}); },
         [](Ve_PostProcessUtil& t) { return t.fixLeftOverCurveIrreg(); }},
        {"fixLeftOverCurveSelfInt",
         [] { return cubicThrough({{0, 0, 0}, {3, 0, 0}, {6.5, 0.8, 0}, {3.5, 0.8, 0}, {7, 0, 0}, {10, 0, 0}}); },
         [](Ve_PostProcessUtil& t) { return t.fixLeftOverCurveSelfInt(); }},
    };
    // Shares of the curve's range; each holds the fault (a cusp at one half,
    // a loop in the middle third).
    const std::pair<double, double> parts[] = {{0.0, 0.8}, {0.2, 1.0}, {0.1, 0.9}};
    for (const auto& m : members)
        for (const auto& [from, to] : parts)
            for (bool negated : {false, true})
                for (sense_type sense : {FORWARD, REVERSED}) {
                    SCOPED_TRACE(std::string(m.name) + " over " + std::to_string(from) + ".." + std::to_string(to) +
                                 (negated ? " negated" : "") + (sense == REVERSED ? " reversed" : ""));
                    bs3_curve c = m.curve();
                    const QELinterval whole = bs3_curve_range(c);
                    const QELinterval part(whole.start_pt() + from * whole.length(),
                                           whole.start_pt() + to * whole.length());
                    BODY* b = keep(wireOverPart(c, part, negated, sense));
                    EXPECT_NE(findings(b), "");
                    EDGE* e = edges(b)[0];
                    const QELposition start = e->start()->geometry()->coords();
                    const QELposition end = e->end()->geometry()->coords();
                    // The curve's directions where the edge starts and ends.
                    auto directions = [](const EDGE* edge) {
                        const curve& cu = edge->geometry()->equation();
                        const QELinterval r = edge_curve_range(edge);
                        QELposition p;
                        QELvector d0, d1;
                        cu.eval(r.start_pt(), p, &d0);
                        cu.eval(r.end_pt(), p, &d1);
                        return std::pair{normalise(d0), normalise(d1)};
                    };
                    const auto [was0, was1] = directions(e);
                    Ve_PostProcessUtil tool(view(b));
                    EXPECT_TRUE(m.step(tool));
                    e = edges(b)[0];
                    EXPECT_EQ(findings(b), "");
                    EXPECT_LT(vertex_deviation(e->start()), QELresabs);
                    EXPECT_LT(vertex_deviation(e->end()), QELresabs);
                    EXPECT_LT(distance(e->start_pos(), start), QELresabs);
                    EXPECT_LT(distance(e->end_pos(), end), QELresabs);
                    // A re-interpolation keeps the directions the edge had at its ends.
                    if (m.step == members[0].step) {
                        const auto [now0, now1] = directions(e);
                        EXPECT_LT((now0 - was0).len(), 1e-6);
                        EXPECT_LT((now1 - was1).len(), 1e-6);
                    }
                }
}

TEST_F(PostProcess, CurveRepairsFailingAtAnyKernelCallLeaveTheModelRepairedOrAsItWas)
{
    for (auto [name, build, step] :
         {std::tuple{"fixCurveSelfInterxn", &squareWithLoopingSide, +[](Ve_PostProcessUtil& t) { t.fixCurveSelfInterxn(); }},
          std::tuple{"fixfreeCurveSelfInterxn", &wireBeforeItsLoop, +[](Ve_PostProcessUtil& t) { t.fixfreeCurveSelfInterxn(); }},
          std::tuple{"fixfreeCurveIrregularity", &wireWithCusp, +[](Ve_PostProcessUtil& t) { t.fixfreeCurveIrregularity(); }},
          std::tuple{"fixCurveIrregularity", &squareWithCuspSide, +[](Ve_PostProcessUtil& t) { t.fixCurveIrregularity(); }},
          std::tuple{"fixLeftOverCurveSelfInt", &loopingWire, +[](Ve_PostProcessUtil& t) { t.fixLeftOverCurveSelfInt(); }},
          std::tuple{"fixLeftOverCurveIrreg", &wireWithCusp, +[](Ve_PostProcessUtil& t) { t.fixLeftOverCurveIrreg(); }}}) {
        SCOPED_TRACE(name);
        testkit::sweep_kernel_calls(build, [&](BODY* b) {
            velmInnerCall([&] {
                Ve_PostProcessUtil tool(view(b));
                step(tool);
            });
        });
    }
}

} // namespace

namespace {

// The B-spline of a spline extended by the kernel to the box (caller deletes).
bs3_surface extendedTo(bs3_surface s, const QELpar_box& box)
{
    spline sp(s);
    extension_info u, v;
    extend_surface(sp, box, 1, u, v);
    return bs3_surface_copy(sp.sur());
}

bs3_surface subsetTo(bs3_surface s, double lo, double hi)
{
    return bs3_surface_subset(s, QELpar_box(QELinterval(lo, hi), QELinterval(0.0, 1.0)));
}

// The sheet over [0, 1] x [0, 1] of the test surface cut to u in [0, 0.8]
// and extended back by the kernel: what the repair below gives back.
bs3_surface extendedSheetSurface()
{
    bs3_surface base = testkit::make_test_bs3_surface();
    bs3_surface cut = subsetTo(base, 0.0, 0.8);
    bs3_surface whole = extendedTo(cut, QELpar_box(QELinterval(0.0, 1.0), QELinterval(0.0, 1.0)));
    bs3_surface_delete(base);
    bs3_surface_delete(cut);
    return whole;
}

// A sheet whose surface stops short of its pcurves: the face runs over
// [0, 1] x [0, 1], its surface only over [0, 0.8] in u.
BODY* sheetCutShort()
{
    BODY* b = testkit::make_spline_sheet(extendedSheetSurface(), false);
    auto& sp = static_cast<spline&>(faces(b)[0]->geometry()->equation_for_update());
    sp.set_sur(subsetTo(sp.sur(), 0.0, 0.8));
    return b;
}

TEST_F(PostProcess, SplineSurfaceIsExtendedOverItsPcurves)
{
    const double clean = area(keep(testkit::make_spline_sheet(extendedSheetSurface(), false)));
    BODY* b = keep(sheetCutShort());
    EXPECT_NE(findings(b), "");
    Ve_PostProcessUtil(view(b)).extendSplineSurf(faces(b)[0]);
    EXPECT_EQ(findings(b), "");
    EXPECT_NEAR(area(b), clean, 1e-3 * clean);
    const QELpar_box range = faces(b)[0]->geometry()->equation().param_range();
    EXPECT_LE(range.u_range().start_pt(), 0.0);
    EXPECT_GE(range.u_range().end_pt(), 1.0);
}

// The pcurves' B-splines moved in across the side the surface was cut back
// from, each pcurve's offset taking them back to where they ran: the surface
// is extended all the same, the offsets counted on every side.
TEST_F(PostProcess, PcurvesHeldOutByTheirOffsetsHaveTheSurfaceExtendedToo)
{
    const struct {
        const char* name;
        QELpar_box kept;
        QELpar_vec in; // the B-splines' move inwards; the offsets undo it
    } sides[] = {
        {"low u", QELpar_box(QELinterval(0.2, 1.0), QELinterval(0.0, 1.0)), QELpar_vec(0.3, 0.0)},
        {"high u", QELpar_box(QELinterval(0.0, 0.8), QELinterval(0.0, 1.0)), QELpar_vec(-0.3, 0.0)},
        {"low v", QELpar_box(QELinterval(0.0, 1.0), QELinterval(0.2, 1.0)), QELpar_vec(0.0, 0.3)},
        {"high v", QELpar_box(QELinterval(0.0, 1.0), QELinterval(0.0, 0.8)), QELpar_vec(0.0, -0.3)},
    };
    for (const auto& side : sides) {
        SCOPED_TRACE(side.name);
        BODY* b = keep(testkit::make_spline_sheet());
        FACE* f = faces(b)[0];
        auto& sp = static_cast<spline&>(f->geometry()->equation_for_update());
        sp.set_sur(bs3_surface_subset(sp.sur(), side.kept));
        for (COEDGE* c : coedges(f)) {
            pcurve def = c->geometry()->def();
            const QELpar_vec offset = def.offset();
            bs2_curve_par_trans(def.cur(), QELpar_transf(1.0, 1.0, side.in.du, side.in.dv));
            def.set_offset(QELpar_vec(offset.du - side.in.du, offset.dv - side.in.dv));
            c->geometry()->set_def(def);
        }
        Ve_PostProcessUtil(view(b)).extendSplineSurf(f);
        const QELpar_box range = f->geometry()->equation().param_range();
        EXPECT_LE(range.u_range().start_pt(), 1e-9);
        EXPECT_GE(range.u_range().end_pt(), 1.0 - 1e-9);
        EXPECT_LE(range.v_range().start_pt(), 1e-9);
        EXPECT_GE(range.v_range().end_pt(), 1.0 - 1e-9);
    }
}

// The surface's range has the size of the pcurves' box but lies beside it.
TEST_F(PostProcess, ShiftedSurfaceRangeOfTheSameSizeIsExtendedToo)
{
    BODY* b = keep(testkit::make_spline_sheet());
    auto& sp = static_cast<spline&>(faces(b)[0]->geometry()->equation_for_update());
    bs3_surface longer = extendedTo(sp.sur(), QELpar_box(QELinterval(0.0, 1.2), QELinterval(0.0, 1.0)));
    sp.set_sur(subsetTo(longer, 0.2, 1.2));
    bs3_surface_delete(longer);
    ASSERT_NE(findings(b), "");
    Ve_PostProcessUtil(view(b)).extendSplineSurf(faces(b)[0]);
    EXPECT_LE(faces(b)[0]->geometry()->equation().param_range().u_range().start_pt(), 0.0);
}

TEST_F(PostProcess, SurfaceIsExtendedToCoverOneCoedgePoint)
{
    BODY* b = keep(sheetCutShort());
    FACE* f = faces(b)[0];
    COEDGE* beyond = nullptr;
    for (COEDGE* c = f->loop()->start(); !beyond || c != f->loop()->start(); c = c->next()) {
        const QELinterval r = c->param_range();
        if (c->geometry()->def().eval_position(r.mid_pt()).u > 0.9)
            beyond = c;
        if (c->next() == f->loop()->start())
            break;
    }
    ASSERT_NE(beyond, nullptr);
    Ve_PostProcessUtil(view(b)).extendSplineSurf(f, beyond, beyond->param_range().mid_pt());
    // The point at u = 1 gets a margin of 1 % of its coordinate.
    EXPECT_NEAR(f->geometry()->equation().param_range().u_range().end_pt(), 1.01, 1e-9);
}

TEST_F(PostProcess, WholeBodyExtensionCoversThePcurves)
{
    BODY* b = keep(sheetCutShort());
    Ve_PostProcessUtil(view(b)).extendSplineSurf(false);
    EXPECT_EQ(findings(b), "");
    EXPECT_GE(faces(b)[0]->geometry()->equation().param_range().u_range().end_pt(), 1.0);
}

// Each pass widens the box by a twentieth of u and a fiftieth of v on both
// sides; the passes are bounded.
TEST_F(PostProcess, IteratedExtensionWidensTheBoxPassByPass)
{
    BODY* b = keep(sheetCutShort());
    Ve_PostProcessUtil(view(b)).extendSplineSurf(true);
    const QELpar_box r = faces(b)[0]->geometry()->equation().param_range();
    EXPECT_NEAR(r.u_range().start_pt(), -r.u_range().end_pt() + 1.0, 1e-9);
    EXPECT_LE(r.u_range().start_pt(), -0.05 + 1e-9);
    EXPECT_LE(r.v_range().start_pt(), -0.02 + 1e-9);
    // The first widening changes how far the edges stray; after it they
    // stray by the same amount, and the passes go on until that has repeated
    // four times: five widenings, each by a twentieth of the box's u.
    EXPECT_NEAR(r.u_range().start_pt(), -0.5 * (std::pow(1.1, 5) - 1.0), 1e-6);
    EXPECT_GE(r.u_range().start_pt(), -std::pow(1.1, 25));
}

TEST_F(PostProcess, IteratedExtensionStopsAtOnceWhenTheEdgesLieOnTheSurface)
{
    BODY* b = keep(testkit::make_spline_sheet());
    const std::string before = testkit::body_text(b);
    Ve_PostProcessUtil(view(b)).extendSplineSurf(true);
    EXPECT_EQ(testkit::body_text(b), before);
}

// A triangle on a flat spline over [0, 1] x [0, 1] whose corner (1.003,
// 0.5) lies past the surface's u end: the edge into that corner leaves the
// surface only at its end, and the edge out of it is back over the surface
// half a percent along. The iterated extension still reaches the corner.
TEST_F(PostProcess, IteratedExtensionReachesAnEdgeLeavingTheSurfaceOnlyAtItsEnd)
{
    QELposition flat[16];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            flat[i * 4 + j] = QELposition(i / 3.0, j / 3.0, 0);
    const double knots[] = {0, 0, 0, 0, 1, 1, 1, 1};
    bs3_surface net = bs3_surface_from_ctrlpts(3, 0, 0, 0, 4, 3, 0, 0, 0, 4, flat, nullptr, QELresabs, 8, knots, 8,
                                               knots, 1e-10);
    BODY* b = keep(testkit::make_polygon_sheet({{0, 0}, {1.003, 0.5}, {0, 1}}, {}));
    FACE* f = faces(b)[0];
    f->set_geometry(make_surface(spline(net)));
    bs3_surface_delete(net);
    // Straight pcurves, u = x and v = y as on the surface, past its end too.
    COEDGE* c = f->loop()->start();
    do {
        const QELposition s = c->start_pos(), e = c->end_pos();
        const pcurve line(testkit::linear_bs2(QELpar_pos(s.x(), s.y()), QELpar_pos(e.x(), e.y()), c->param_range()), 0.0,
                          f->geometry()->equation());
        c->set_geometry(new PCURVE(line));
        c = c->next();
    } while (c != f->loop()->start());
    ASSERT_NEAR(f->geometry()->equation().param_range().u_range().end_pt(), 1.0, 1e-12);
    Ve_PostProcessUtil(view(b)).extendSplineSurf(true);
    EXPECT_GE(f->geometry()->equation().param_range().u_range().end_pt(), 1.003);
}

TEST_F(PostProcess, SplineExtensionFailingAtAnyKernelCallLeavesTheModelRepairedOrAsItWas)
{
    testkit::sweep_kernel_calls(&sheetCutShort, [&](BODY* b) {
        velmInnerCall([&] {
            Ve_PostProcessUtil tool(view(b));
            tool.extendSplineSurf(nthFace(b, 0));
        });
    });
    testkit::sweep_kernel_calls(&sheetCutShort, [&](BODY* b) {
        velmInnerCall([&] { Ve_PostProcessUtil(view(b)).extendSplineSurf(false); });
    });
    testkit::sweep_kernel_calls(&sheetCutShort, [&](BODY* b) {
        velmInnerCall([&] { Ve_PostProcessUtil(view(b)).extendSplineSurf(true); });
    });
    testkit::sweep_kernel_calls(&sheetCutShort, [&](BODY* b) {
        velmInnerCall([&] {
            FACE* f = nthFace(b, 0);
            if (f)
                Ve_PostProcessUtil(view(b)).extendSplineSurf(f, f->loop()->start(), 0.5);
        });
    });
}

} // namespace

namespace {

// A bicubic sheet whose u = 0 side collapses to one point that the surface
// does not mark as a pole (the kernel's surface check: status 8).
BODY* sheetWithUnmarkedPole()
{
    QELposition pts[16];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            pts[i * 4 + j] = i == 0 ? QELposition(0, 4.5, 0) : QELposition(i * 3.0, j * 3.0, i == 2 && j == 1 ? 1.0 : 0.0);
    const double knots[8] = {0, 0, 0, 0, 1, 1, 1, 1};
    bs3_surface s =
        bs3_surface_from_ctrlpts(3, 0, 0, 0, 4, 3, 0, 0, 0, 4, pts, nullptr, QELresabs, 8, knots, 8, knots, QELresnor);
    FACE* face = make_face_spline(spline(s));
    bs3_surface_delete(s);
    BODY* b = nullptr;
    EXPECT_TRUE(api_mk_by_faces(nullptr, 1, &face, b).ok());
    return b;
}

int surfaceStatus(BODY* b)
{
    check_fix none, result;
    check_status_list* found = d3_sf_check(const_cast<surface&>(faces(b)[0]->geometry()->equation()), none, result, nullptr);
    const int status = found ? found->status() : -1;
    delete found;
    return status;
}

TEST_F(PostProcess, SurfaceWithAnUnmarkedPoleIsResurfacedAndNewPcurveKept)
{
    BODY* b = keep(sheetWithUnmarkedPole());
    ASSERT_EQ(surfaceStatus(b), status_singular);
    const double before = area(b);
    find_option("new_pcurve")->set(1);
    qelx_test::EventRecorder events;
    Ve_PostProcessUtil(view(b)).resurfaceWithOldPCurves();
    EXPECT_EQ(surfaceStatus(b), -1);
    EXPECT_EQ(findings(b), "");
    EXPECT_NEAR(area(b), before, 1e-6 * before);
    EXPECT_EQ(find_option("new_pcurve")->count(), 1);
    EXPECT_EQ(events.count("StartTask"), 1);
    EXPECT_EQ(events.count("EndTask"), 1);
}

TEST_F(PostProcess, ResurfacingFailingAtAnyKernelCallLeavesTheModelRepairedOrAsItWasAndNewPcurveAlone)
{
    testkit::sweep_kernel_calls(&sheetWithUnmarkedPole, [&](BODY* b) {
        find_option("new_pcurve")->set(0);
        velmInnerCall([&] { Ve_PostProcessUtil(view(b)).resurfaceWithOldPCurves(); });
        EXPECT_EQ(find_option("new_pcurve")->count(), 0);
    });
}

} // namespace

namespace {

// The periodic tube whose surface says it is open round v.
BODY* periodicTubeFlaggedOpen()
{
    BODY* b = periodicTube();
    auto& sp = static_cast<spline&>(faces(b)[0]->geometry()->equation_for_update());
    bs3_surface s = bs3_surface_copy(sp.sur());
    bs3_surface_set_open_v(s);
    sp.set_sur(s);
    return b;
}

TEST_F(PostProcess, SurfaceWhoseSeamMatchesBecomesPeriodicAgain)
{
    const std::string clean = testkit::body_text(keep(periodicTube()));
    BODY* b = keep(periodicTubeFlaggedOpen());
    Ve_PostProcessUtil(view(b)).fixSurfaceForms();
    EXPECT_EQ(testkit::body_text(b), clean);
}

// A sheet on the square tube (closed round v): two loops of one closed edge
// each. One of those edges' curve is flagged open with its last control
// point 5e-5 away from its first; `turned`, the curve runs against the edge.
BODY* squareTubeWithOpenRing(bool turned)
{
    bs3_surface s = testkit::make_tube_bs3_surface(false);
    FACE* face = make_face_spline(spline(s));
    bs3_surface_delete(s);
    BODY* b = nullptr;
    EXPECT_TRUE(api_mk_by_faces(nullptr, 1, &face, b).ok());
    for (EDGE* e : edges(b)) {
        if (!e->closed() || e->geometry()->equation().type() != 11)
            continue;
        auto& ic = static_cast<intcurve&>(e->geometry()->equation_for_update());
        bs3_curve c = bs3_curve_copy(ic.cur());
        int n = 0;
        QELposition* pts = nullptr;
        bs3_curve_control_points(c, n, pts);
        bs3_curve_set_ctrlpt(c, n - 1, pts[n - 1] + QELvector(5e-5, 0, 0), 1.0);
        delete[] pts;
        bs3_curve_set_open(c);
        ic.set_cur(c);
        if (turned) {
            // The same edge over the curve run the other way.
            const QELinterval r = e->param_range();
            ic.negate();
            e->set_sense(e->sense() == FORWARD ? REVERSED : FORWARD);
            e->set_param_range(&r);
        }
        break;
    }
    return b;
}

TEST_F(PostProcess, NearlyClosedEdgeCurveIsClosed)
{
    for (const bool turned : {false, true}) {
        SCOPED_TRACE(turned ? "curve against its edge" : "curve along its edge");
        BODY* b = keep(squareTubeWithOpenRing(turned));
        EXPECT_NE(findings(b), "");
        Ve_PostProcessUtil(view(b)).MakeCurvesClosed();
        EXPECT_EQ(findings(b), "");
        for (EDGE* e : edges(b))
            if (e->closed() && e->geometry()->equation().type() == 11) {
                const auto& ic = static_cast<const intcurve&>(e->geometry()->equation());
                EXPECT_TRUE(bs3_curve_closed(ic.cur()));
                EXPECT_EQ(ic.reversed(), turned && e->sense() == REVERSED);
            }
    }
}

// Trimming an edge's intcurve to the edge keeps the edge where it was,
// whichever way the curve runs.
TEST_F(PostProcess, AnIntcurveTrimmedToItsEdgeKeepsTheEdgesPoints)
{
    for (const bool turned : {false, true}) {
        SCOPED_TRACE(turned ? "curve against its edge" : "curve along its edge");
        intcurve ic(cubicThrough({{0, 0, 0}, {3, 1, 0}, {6, -1, 0}, {9, 0, 0}, {12, 2, 0}}));
        const QELinterval part(0.5, 1.5); // the curve runs over [0, 2]
        if (turned)
            ic.negate();
        const double sign = turned ? -1.0 : 1.0;
        auto* e = new EDGE(new VERTEX(new APOINT(ic.eval_position(sign * part.start_pt()))),
                           new VERTEX(new APOINT(ic.eval_position(sign * part.end_pt()))), make_curve(ic),
                           turned ? REVERSED : FORWARD, EDGE_cvty_unknown, &part);
        BODY* b = nullptr;
        ASSERT_TRUE(api_make_ewire(1, &e, b).ok());
        keep(b);
        std::vector<QELposition> before;
        for (const double f : {0.0, 0.3, 1.0})
            before.push_back(ic.eval_position(sign * part.interpolate(f)));
        trimEdgeIntcurveToRange(e);
        const auto& trimmed = static_cast<const intcurve&>(e->geometry()->equation());
        EXPECT_NEAR(bs3_curve_range(trimmed.cur()).length(), part.length(), 1e-9);
        const QELinterval range = e->param_range();
        const double s = e->sense() == REVERSED ? -1.0 : 1.0;
        for (int k = 0; k < 3; ++k)
            EXPECT_LT(distance(trimmed.eval_position(s * range.interpolate(std::array{0.0, 0.3, 1.0}[k])), before[k]), 1e-9)
                << "at " << k;
        EXPECT_EQ(findings(b), "");
    }
}

// The spline sheet, scaled by the factor, with every pcurve running against
// its coedge.
BODY* sheetWithBackwardPcurves(double factor = 1.0)
{
    BODY* b = testkit::make_spline_sheet();
    if (factor != 1.0) {
        EXPECT_TRUE(api_apply_transf(b, scale_transf(factor)).ok());
        EXPECT_TRUE(api_change_body_trans(b).ok());
    }
    const surface& srf = faces(b)[0]->geometry()->equation();
    ENTITY_LIST coedges;
    api_get_coedges(b, coedges);
    for (int i = 0; i < coedges.count(); ++i) {
        auto* c = static_cast<COEDGE*>(coedges[i]);
        const QELinterval r = c->param_range();
        const QELpar_pos from = c->geometry()->def().eval_position(r.start_pt());
        const QELpar_pos to = c->geometry()->def().eval_position(r.end_pt());
        c->set_geometry(new PCURVE(pcurve(testkit::linear_bs2(to, from, r), 0.0, srf)));
    }
    return b;
}

// Whatever its size: a face of area below one unit is as wrong backwards.
TEST_F(PostProcess, SplineFaceWithANegativeAreaGetsFreshPcurves)
{
    const double cleanArea = area(keep(testkit::make_spline_sheet()));
    for (const double factor : {1.0, 0.01}) {
        SCOPED_TRACE(factor);
        BODY* b = keep(sheetWithBackwardPcurves(factor));
        const double expected = cleanArea * factor * factor;
        EXPECT_LT(area(b), 0.0);
        EXPECT_NE(findings(b), "");
        EXPECT_TRUE(Ve_PostProcessUtil(view(b)).CorrectFaceAreaProblem());
        EXPECT_EQ(findings(b), "");
        EXPECT_NEAR(area(b), expected, 1e-6 * expected);
    }
}

TEST_F(PostProcess, FormAndAreaRepairsFailingAtAnyKernelCallLeaveTheModelRepairedOrAsItWas)
{
    for (auto [name, build, step] :
         {std::tuple{"MakeCurvesClosed", +[] { return squareTubeWithOpenRing(false); }, +[](Ve_PostProcessUtil& t) { t.MakeCurvesClosed(); }},
          std::tuple{"CorrectFaceAreaProblem", +[] { return sheetWithBackwardPcurves(); },
                     +[](Ve_PostProcessUtil& t) { t.CorrectFaceAreaProblem(); }}}) {
        SCOPED_TRACE(name);
        testkit::sweep_kernel_calls(build, [&](BODY* b) {
            velmInnerCall([&] {
                Ve_PostProcessUtil tool(view(b));
                step(tool);
            });
        });
    }
}

} // namespace

namespace {

// A sheet on a tube of degree one round v, four units long, through the
// ring of points (first and last the same).
BODY* ringTubeSheet(const std::vector<QELposition>& ring)
{
    std::vector<QELposition> pts;
    for (double z : {0.0, 4.0})
        for (const QELposition& p : ring)
            pts.emplace_back(p.x(), p.y(), z);
    const double uknots[4] = {0, 0, 1, 1};
    std::vector<double> vknots{0.0};
    for (std::size_t i = 0; i < ring.size(); ++i)
        vknots.push_back(double(i));
    vknots.push_back(double(ring.size() - 1));
    bs3_surface s = bs3_surface_from_ctrlpts(1, 0, 0, 0, 2, 1, 0, 1, 0, int(ring.size()), pts.data(), nullptr, QELresabs,
                                             4, uknots, int(vknots.size()), vknots.data(), QELresnor);
    EXPECT_NE(s, nullptr);
    FACE* face = make_face_spline(spline(s));
    bs3_surface_delete(s);
    BODY* b = nullptr;
    EXPECT_TRUE(api_mk_by_faces(nullptr, 1, &face, b).ok());
    return b;
}

// Square rings round the z axis whose seam lies at the middle of a side (its
// tangents alike), a quarter of the way along one (alike in direction, 0.75
// and 1.25 long) and at a corner (turned a right angle apart).
const std::vector<QELposition> kRingSeamMidSide = {{0, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}, {-1, -1, 0}, {0, -1, 0}};
const std::vector<QELposition> kRingSeamAQuarterAlong = {{0.25, -1, 0}, {1, -1, 0}, {1, 1, 0},
                                                         {-1, 1, 0},    {-1, -1, 0}, {0.25, -1, 0}};
const std::vector<QELposition> kRingSeamAtACorner = {{1, -1, 0}, {1, 1, 0}, {-1, 1, 0}, {-1, -1, 0}, {1, -1, 0}};

} // namespace

// A tube of degree one round v whose seam lies part of the way along one
// side of its square: the tangents across the seam point the same way but
// are 0.75 and 1.25 long, so the surface is closed round v and not periodic,
// and the form repair leaves it so.
TEST_F(PostProcess, ASeamWhoseTangentsDifferInLengthStaysClosedAndNotPeriodic)
{
    BODY* b = keep(ringTubeSheet(kRingSeamAQuarterAlong));
    Ve_PostProcessUtil(view(b)).fixSurfaceForms();
    const bs3_surface after = static_cast<const spline&>(faces(b)[0]->geometry()->equation()).sur();
    EXPECT_NE(bs3_surface_closed_v(after), 0);
    EXPECT_FALSE(bs3_surface_periodic_v(after));
}

// The seam at a corner: tangents alike in length but turned apart. The
// surface is closed round v and not periodic.
TEST_F(PostProcess, ASeamWhoseTangentsTurnApartStaysClosedAndNotPeriodic)
{
    BODY* b = keep(ringTubeSheet(kRingSeamAtACorner));
    Ve_PostProcessUtil(view(b)).fixSurfaceForms();
    const bs3_surface after = static_cast<const spline&>(faces(b)[0]->geometry()->equation()).sur();
    EXPECT_NE(bs3_surface_closed_v(after), 0);
    EXPECT_FALSE(bs3_surface_periodic_v(after));
}

// The ring edges of the tube's sheet, their curves flagged open, are flagged
// closed again, and periodic only when their tangents at the ends agree in
// direction and length.
TEST_F(PostProcess, AClosedCurveIsPeriodicOnlyWhereItsEndTangentsAgree)
{
    const struct {
        const char* name;
        const std::vector<QELposition>* ring;
        bool periodic;
    } cases[] = {
        {"seam at the middle of a side", &kRingSeamMidSide, true},
        {"seam a quarter along a side", &kRingSeamAQuarterAlong, false},
        {"seam at a corner", &kRingSeamAtACorner, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BODY* b = keep(ringTubeSheet(*c.ring));
        std::vector<EDGE*> rings;
        for (EDGE* e : edges(b)) {
            if (!e->closed() || e->geometry()->equation().type() != 11)
                continue;
            auto& ic = static_cast<intcurve&>(e->geometry()->equation_for_update());
            bs3_curve open = bs3_curve_copy(ic.cur());
            bs3_curve_set_open(open);
            ic.set_cur(open);
            rings.push_back(e);
        }
        ASSERT_EQ(rings.size(), 2u);
        Ve_PostProcessUtil(view(b)).fixCurveForms();
        for (const EDGE* e : rings) {
            const bs3_curve after = static_cast<const intcurve&>(e->geometry()->equation()).cur();
            EXPECT_NE(bs3_curve_closed(after), 0);
            EXPECT_EQ(bs3_curve_periodic(after) != 0, c.periodic);
        }
    }
}

// The spline sheet over [0, 1] x [0, 1] whose surface is cut back from each
// side in turn to 0.2 or 0.8: the repair asked to cover a point of the
// coedge running along that side extends the surface past the point by a
// hundredth of its coordinate on that side alone.
TEST_F(PostProcess, ASurfaceIsExtendedToACoedgePointPastAnyOfItsFourSides)
{
    const struct {
        const char* name;
        QELpar_box kept;
        bool inU, high;
        double reached;
    } sides[] = {
        {"low u", QELpar_box(QELinterval(0.2, 1.0), QELinterval(0.0, 1.0)), true, false, 0.0},
        {"high u", QELpar_box(QELinterval(0.0, 0.8), QELinterval(0.0, 1.0)), true, true, 1.01},
        {"low v", QELpar_box(QELinterval(0.0, 1.0), QELinterval(0.2, 1.0)), false, false, 0.0},
        {"high v", QELpar_box(QELinterval(0.0, 1.0), QELinterval(0.0, 0.8)), false, true, 1.01},
    };
    for (const auto& side : sides) {
        SCOPED_TRACE(side.name);
        BODY* b = keep(testkit::make_spline_sheet());
        FACE* f = faces(b)[0];
        auto& sp = static_cast<spline&>(f->geometry()->equation_for_update());
        sp.set_sur(bs3_surface_subset(sp.sur(), side.kept));
        COEDGE* beyond = nullptr;
        for (COEDGE* c : coedges(f)) {
            const QELpar_pos mid = c->geometry()->def().eval_position(c->param_range().mid_pt());
            const double along = side.inU ? mid.u : mid.v;
            const QELinterval kept = side.inU ? side.kept.u_range() : side.kept.v_range();
            if (side.high ? along > kept.end_pt() + 0.1 : along < kept.start_pt() - 0.1)
                beyond = c;
        }
        ASSERT_NE(beyond, nullptr);
        Ve_PostProcessUtil(view(b)).extendSplineSurf(f, beyond, beyond->param_range().mid_pt());
        const QELpar_box range = f->geometry()->equation().param_range();
        const QELinterval u = range.u_range(), v = range.v_range();
        const QELinterval keptU = side.kept.u_range(), keptV = side.kept.v_range();
        EXPECT_NEAR(u.start_pt(), side.inU && !side.high ? side.reached : keptU.start_pt(), 1e-9);
        EXPECT_NEAR(u.end_pt(), side.inU && side.high ? side.reached : keptU.end_pt(), 1e-9);
        EXPECT_NEAR(v.start_pt(), !side.inU && !side.high ? side.reached : keptV.start_pt(), 1e-9);
        EXPECT_NEAR(v.end_pt(), !side.inU && side.high ? side.reached : keptV.end_pt(), 1e-9);
    }
}
