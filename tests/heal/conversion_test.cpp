// B-spline conversion of bodies and the periodic face split.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "heal/periodic_split.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/loop_builders.hxx"
#include "support/model_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/errors.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/insanity.hxx"
#include "velm/query.hxx"
#include "velm/tolerant.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/surface_build.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace {

class Conversion : public testkit::ConnectorTest {};

Ve_BodyTag* convTag(BODY* b) { return reinterpret_cast<Ve_BodyTag*>(b); }

// Faces whose surface is a spline with some weight off 1.
int rationalFaces(BODY* b)
{
    ENTITY_LIST faces;
    api_get_faces(b, faces);
    int n = 0;
    for (int i = 0; i < faces.count(); ++i) {
        const SURFACE* s = static_cast<FACE*>(faces[i])->geometry();
        const auto* spl = s ? dynamic_cast<const spline*>(&s->equation()) : nullptr;
        if (!spl)
            continue;
        bs3_surface bs = spl->sur(-1.0);
        n += bs3_surface_rational_u(bs) || bs3_surface_rational_v(bs) ? 1 : 0;
    }
    return n;
}

// A body of one face on a whole sphere, without loops.
BODY* loopless_sphere()
{
    sphere ball(QELposition(1.0, 2.0, 3.0), 4.0);
    auto* face = new FACE(nullptr, nullptr, make_surface(ball), FORWARD);
    return new BODY(new LUMP(new SHELL(face)));
}

// A sheet of one face round the whole of a periodic tube: two separation loops.
BODY* wholeTube(bool periodic = true)
{
    bs3_surface bs = testkit::make_tube_bs3_surface(periodic);
    const spline tube(bs);
    bs3_surface_delete(bs);
    FACE* faces[1] = {make_face_spline(tube)};
    BODY* b = nullptr;
    api_mk_by_faces(nullptr, 1, faces, b);
    return b;
}

// A cylinder of radius 1 (the spline fits stay small) in the frame, with the
// edge round its top handed out before the frame moved it.
BODY* framedCylinder(const QELtransf& frame, EDGE** top = nullptr)
{
    BODY* b = testkit::make_cylinder(1.0, 1.6);
    ENTITY_LIST edges;
    api_get_edges(b, edges);
    for (int i = 0; i < edges.count() && top; ++i) {
        auto* e = static_cast<EDGE*>(edges[i]);
        if (e->start() == e->end() && e->start()->geometry()->coords().z() > 1.0)
            *top = e;
    }
    if (!frame.identity()) {
        api_apply_transf(b, frame);
        api_change_body_trans(b, nullptr);
    }
    return b;
}

// The kernel's face-loop counts, face by face.
std::vector<std::array<int, 5>> loopCounts(BODY* b)
{
    std::vector<std::array<int, 5>> out;
    for (FACE* f : testkit::faces_of(b)) {
        std::array<int, 5> c{};
        api_check_face_loops(f, c.data());
        out.push_back(c);
    }
    return out;
}

std::vector<EDGE*> edgesOf(BODY* b)
{
    ENTITY_LIST edges;
    api_get_edges(b, edges);
    std::vector<EDGE*> out;
    for (int i = 0; i < edges.count(); ++i)
        out.push_back(static_cast<EDGE*>(edges[i]));
    return out;
}

// The edge keeps its points and range, its curve turned round and its sense
// reversed; its coedges lose their pcurves.
void turnEdgeAgainstItsCurve(EDGE* e)
{
    const QELinterval r = e->param_range();
    std::unique_ptr<curve> back(e->geometry()->equation().make_copy());
    back->negate();
    e->set_geometry(make_curve(*back));
    e->set_sense(e->sense() == FORWARD ? REVERSED : FORWARD);
    e->set_param_range(&r);
    ENTITY_LIST coedges;
    api_get_coedges(e, coedges);
    for (int i = 0; i < coedges.count(); ++i)
        static_cast<COEDGE*>(coedges[i])->set_geometry(nullptr);
}

COEDGE* coedgeOnFace(EDGE* edge, const FACE* face)
{
    ENTITY_LIST coedges;
    api_get_coedges(edge, coedges);
    for (int i = 0; i < coedges.count(); ++i) {
        auto* c = static_cast<COEDGE*>(coedges[i]);
        if (c->loop() && c->loop()->face() == face)
            return c;
    }
    return nullptr;
}

// How far the coedge's pcurve, on its face's surface at the middle of its
// range, lies from the edge curve.
double pcurveOffEdge(const COEDGE* c)
{
    const pcurve p = c->geometry()->def();
    const QELposition on = c->loop()->face()->geometry()->equation().eval_position(
        p.eval_position(c->param_range().mid_pt()));
    QELposition foot;
    QELvector tangent;
    c->edge()->geometry()->equation().point_perp(on, foot, tangent);
    return (foot - on).len();
}

} // namespace

TEST_F(Conversion, ALooplessFaceOnAClosedSurfaceIsKeptWhenItsSurfaceIsRefitted)
{
    BODY* b = loopless_sphere();
    ENTITY* out = nullptr;
    ASSERT_TRUE(api_convert_to_spline(b, out).ok());
    ASSERT_EQ(rationalFaces(b), 1);
    convTag(b)->replaceRationalSurf();
    EXPECT_EQ(testkit::count_faces(b), 1);
    EXPECT_EQ(rationalFaces(b), 0);
    EXPECT_EQ(testkit::model_problems(b), "");
    api_del_entity(b);
}

// A face over part of its spline surface: the conversion cuts the surface
// down to the face unless UseSurfaceLimits asks for surfaces as they came;
// the face itself is the same either way.
TEST_F(Conversion, SurfacesAreTrimmedToTheirFacesUnlessTheirLimitsAreToBeUsed)
{
    for (const bool limits : {false, true}) {
        SCOPED_TRACE(limits ? "UseSurfaceLimits" : "trimmed");
        qelx_test::OptionScope scope;
        if (limits)
            scope.on(Ve_OptionDoc::keyOf("UseSurfaceLimits"));
        BODY* sheet = testkit::make_iso_rect_sheet(testkit::test_spline(), {testkit::rect(0.2, 0.6, 0.3, 0.8, true)});
        const double area = testkit::body_area(sheet);
        EXPECT_EQ(convTag(sheet)->bspline(false, false), convTag(sheet));
        ASSERT_EQ(testkit::count_faces(sheet), 1);
        const FACE* face = sheet->lump()->shell()->face();
        const QELpar_box range = face->geometry()->equation().param_range();
        EXPECT_NEAR(range.u_range().length(), limits ? 1.0 : 0.4, 0.02);
        EXPECT_NEAR(range.v_range().length(), limits ? 1.0 : 0.5, 0.02);
        EXPECT_NEAR(testkit::body_area(sheet), area, 1e-6 * area);
        EXPECT_EQ(testkit::model_problems(sheet), "");
        api_del_entity(sheet);
    }
}

TEST_F(Conversion, RationalSurfacesStayOnlyWhenAskedAndNotForced)
{
    m_options.on(Ve_OptionDoc::keyOf("SplineAsRational"));
    m_options.on(Ve_OptionDoc::keyOf("UseSurfaceLimits"));
    for (const bool force : {false, true}) {
        BODY* b = testkit::make_cylinder();
        const int faces = testkit::count_faces(b);
        qelx_test::EventRecorder events;
        EXPECT_EQ(convTag(b)->bspline(false, force), convTag(b));
        const std::vector<std::string> expected = {"+PreprocessBsplineConvStart", "-PreprocessBsplineConvEnd"};
        std::vector<std::string> trace = testkit::task_trace(events.records());
        ASSERT_GE(trace.size(), 2u);
        EXPECT_EQ(trace.front(), expected.front());
        EXPECT_EQ(trace.back(), expected.back());
        EXPECT_EQ(testkit::count_faces(b), faces);
        if (force)
            EXPECT_EQ(rationalFaces(b), 0);
        else
            EXPECT_GT(rationalFaces(b), 0);
        EXPECT_EQ(testkit::model_problems(b), "") << force;
        api_del_entity(b);
    }
}

// A tube periodic round v, and one only closed round v (its seam a corner of
// its square): each is split so that no face wraps. (The kernel stand-in
// splits spline faces at a parameter only in the frame they were made in.)
TEST_F(Conversion, AClosedSplineFaceIsSplitSoThatNoFaceWraps)
{
    m_options.on(Ve_OptionDoc::keyOf("SplitPeriodicPreProcess"));
    for (const bool periodic : {true, false}) {
        SCOPED_TRACE(periodic ? "periodic" : "closed, not periodic");
        BODY* b = wholeTube(periodic);
        const double area = testkit::body_area(b);
        qelx_test::EventRecorder events;
        convTag(b)->splitPeriodics();
        EXPECT_EQ(testkit::task_trace(events.records()).front(), "+PreprocessSplitPeriodicStart");
        EXPECT_EQ(testkit::task_trace(events.records()).back(), "-PreprocessSplitPeriodicEnd");
        EXPECT_GT(testkit::count_faces(b), 1);
        EXPECT_NEAR(testkit::body_area(b), area, 1e-6 * area);
        EXPECT_EQ(testkit::model_problems(b), "");
        api_del_entity(b);
    }
}

// The pre-export split leaves no closed edge in a loop, whatever frame the
// body is in, the body as sound and as large as it was: a cylinder's rims
// (edges of one vertex on the circles its periodic faces are cut along), and
// a round hole in a plane, which no periodic face's cut reaches.
TEST_F(Conversion, ThePeriodicSplitLeavesNoClosedEdgeInALoopInEveryFrame)
{
    m_options.on(Ve_OptionDoc::keyOf("SplitPeriodicPreProcess"));
    struct Model {
        const char* name;
        BODY* (*make)(const QELtransf&);
        int closed;
    };
    const Model models[] = {
        {"cylinder", [](const QELtransf& frame) { return framedCylinder(frame); }, 2},
        {"plate with a round hole",
         [](const QELtransf& frame) {
             BODY* b = testkit::make_square_with_round_hole();
             if (!frame.identity()) {
                 api_apply_transf(b, frame);
                 api_change_body_trans(b, nullptr);
             }
             return b;
         },
         1},
    };
    for (const Model& model : models)
        for (const QELtransf& frame : testkit::heal_frames()) {
            SCOPED_TRACE(std::string(model.name) + (frame.identity() ? ", identity" : ", framed"));
            BODY* b = model.make(frame);
            ASSERT_EQ(testkit::model_problems(b), "");
            const double area = testkit::body_area(b);
            int closed = 0;
            for (EDGE* e : edgesOf(b))
                closed += e->start() == e->end() ? 1 : 0;
            ASSERT_EQ(closed, model.closed);
            convTag(b)->splitPeriodics();
            for (EDGE* e : edgesOf(b))
                EXPECT_NE(e->start(), e->end()) << "a closed edge left in a loop";
            EXPECT_NEAR(testkit::body_area(b), area, 1e-6 * area);
            EXPECT_EQ(testkit::model_problems(b), "");
            api_del_entity(b);
        }
}

TEST_F(Conversion, EachSplitThatFailsIsDroppedAloneAndTheSheetStaysSound)
{
    // The seam and the split run in brackets of their own: a failure in one
    // undoes that one only.
    const auto area = [](BODY* b) { return ent_area_prop(b, 1e-6).area(); };
    double whole = 0.0;
    {
        BODY* b = wholeTube();
        whole = area(b);
        api_del_entity(b);
    }
    long n = 1;
    for (;; ++n) {
        BODY* b = wholeTube();
        velm_test_fail_call("*", n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
        ENTITY_LIST faces;
        api_get_faces(b, faces);
        if (faces.count() > 0)
            splitFaceAtMidParameter(static_cast<FACE*>(faces[0]), false);
        const bool injected = !velm_test_injection_pending();
        velm_test_reset();
        EXPECT_EQ(testkit::model_problems(b), "") << "failure at call " << n;
        EXPECT_NEAR(area(b), whole, 1e-5 * whole) << "failure at call " << n;
        api_del_entity(b);
        if (!injected)
            break;
    }
    EXPECT_GT(n, 2);
}

TEST_F(Conversion, ThePreExportSplitOnlyFiresItsEventsWhenSwitchedOff)
{
    BODY* b = testkit::make_spline_sheet(testkit::make_tube_bs3_surface(true), false);
    const std::string before = testkit::body_text(b);
    qelx_test::EventRecorder events;
    convTag(b)->splitPeriodics();
    EXPECT_EQ(testkit::task_trace(events.records()),
              (std::vector<std::string>{"+PreprocessSplitPeriodicStart", "-PreprocessSplitPeriodicEnd"}));
    EXPECT_EQ(testkit::body_text(b), before);
    api_del_entity(b);
}

// Without the periodic split a seamed face keeps its seam: converted, its
// loops must be what they were, and every coedge its pcurve, in a mirrored
// frame too, whichever way the spline is made, kept rational or refitted.
TEST_F(Conversion, ASeamedCylinderConvertsSoundWithoutThePeriodicSplitInEveryFrame)
{
    for (const bool rational : {true, false})
    for (const bool scaled : {false, true})
        for (const QELtransf& frame : testkit::heal_frames()) {
            SCOPED_TRACE(std::string(scaled ? "scaled box" : "kernel conversion") + (rational ? ", rational" : ", refitted") +
                         (frame.identity() ? "" : " (framed)"));
            qelx_test::OptionScope scope;
            if (rational)
                scope.on(Ve_OptionDoc::keyOf("SplineAsRational"));
            if (scaled)
                scope.on(Ve_OptionDoc::keyOf("ScaleBndBoxCnvrtToSpline"));
            BODY* b = framedCylinder(frame);
            const std::vector<std::array<int, 5>> before = loopCounts(b);
            convTag(b)->bspline(false, false);
            EXPECT_EQ(testkit::check_findings(b), "");
            EXPECT_EQ(loopCounts(b), before);
            for (FACE* f : testkit::faces_of(b)) {
                EXPECT_EQ(f->geometry()->equation().type(), 10);
                // The circles cross the knot lines of the wall's spline, yet
                // every coedge has its pcurve, on the edge.
                ENTITY_LIST coedges;
                api_get_coedges(f, coedges);
                for (int i = 0; i < coedges.count(); ++i) {
                    auto* c = static_cast<COEDGE*>(coedges[i]);
                    if (!c->edge()->geometry())
                        continue;
                    EXPECT_NE(c->geometry(), nullptr) << "a coedge without its pcurve";
                    if (c->geometry()) {
                        EXPECT_LT(pcurveOffEdge(c), 1e-6);
                    }
                }
            }
            api_del_entity(b);
        }
}

// The scaled-box conversion puts a face's spline in parameters of its own:
// a tolerant coedge's pcurve on a plane is carried over through the map, on
// any other surface it is fitted again to the coedge's own curve.
TEST_F(Conversion, TolerantCoedgesAreCarriedOverToTheNewSurfaceInEveryFrame)
{
    on("ScaleBndBoxCnvrtToSpline");
    on("SplineAsRational");
    const double lift = 2e-4;
    for (const bool turned : {false, true})
    for (const QELtransf& frame : testkit::heal_frames()) {
        SCOPED_TRACE(std::string(frame.identity() ? "identity" : "framed") + (turned ? ", edge against its curve" : ""));
        EDGE* top = nullptr;
        BODY* b = framedCylinder(frame, &top);
        ASSERT_NE(top, nullptr);
        if (turned) {
            // The same circle run the other way under a reversed edge: each
            // coedge then meets the edge with the other sense.
            turnEdgeAgainstItsCurve(top);
        }
        sg_add_pcurves_to_entity(b); // the roof's coedge too, so that its pcurve is carried
        TEDGE* tolerant = nullptr;
        ASSERT_TRUE(api_replace_edge_with_tedge(top, tolerant).ok());
        tolerant->set_tolerance(1e-3);
        TVERTEX* corner = nullptr;
        ASSERT_TRUE(api_replace_vertex_with_tvertex(tolerant->start(), corner).ok());
        corner->set_tolerance(1e-3);
        FACE* wall = nullptr;
        FACE* roof = nullptr;
        for (FACE* f : testkit::faces_of(b))
            if (coedgeOnFace(tolerant, f))
                (f->geometry()->equation().type() == 1 ? roof : wall) = f;
        ASSERT_TRUE(wall && roof);
        // The wall's coedge runs along a curve of its own, a little above the
        // edge, against the edge's direction as the coedge does.
        TCOEDGE* own = testkit::make_coedge_tolerant(coedgeOnFace(tolerant, wall));
        TCOEDGE* roofCoedge = testkit::make_coedge_tolerant(coedgeOnFace(tolerant, roof));
        // The roof's pcurve given as the same curve reversed and shifted back
        // by an offset, as a file may give it: both are carried over too.
        {
            const pcurve& was = roofCoedge->geometry()->def();
            const QELpar_vec offset(0.5, -0.25);
            bs2_curve turned = bs2_curve_copy(was.cur());
            bs2_curve_reverse(turned);
            bs2_curve_par_trans(turned, QELpar_transf(1.0, 1.0, -offset.du, -offset.dv));
            pcurve same(turned, was.fitol(), was.surface());
            same.negate();
            same.set_offset(offset);
            roofCoedge->set_geometry(new PCURVE(same));
        }
        ASSERT_LT(pcurveOffEdge(roofCoedge), 1e-6);
        ASSERT_EQ(testkit::model_problems(b), "");
        const QELvector up = QELvector(0, 0, 1) * frame;
        std::unique_ptr<curve> lifted(tolerant->geometry()->equation().make_copy());
        *lifted *= translate_transf(up * lift);
        if (own->sense() != tolerant->sense())
            lifted->negate();
        own->set_3D_curve(make_curve(*lifted));
        own->set_param_range(own->sense() == FORWARD ? tolerant->param_range() : -tolerant->param_range());

        convTag(b)->bspline(false, false);
        EXPECT_EQ(testkit::check_findings(b), "");
        COEDGE* onWall = coedgeOnFace(tolerant, wall);
        COEDGE* onRoof = coedgeOnFace(tolerant, roof);
        ASSERT_TRUE(onWall && onRoof && onWall->geometry() && onRoof->geometry());
        EXPECT_EQ(static_cast<TCOEDGE*>(onWall)->get_3D_curve(), nullptr);
        EXPECT_NEAR(pcurveOffEdge(onWall), lift, 2e-5) << "the wall's pcurve follows the coedge's own curve";
        EXPECT_LT(pcurveOffEdge(onRoof), 1e-6) << "the roof's pcurve follows the edge";
        api_del_entity(b);
    }
}

// Farthest end of the coedge's pcurve, on its face's surface, from the
// vertex it should reach.
double pcurveEndsOffVertices(const COEDGE* c)
{
    const pcurve p = c->geometry()->def();
    const surface& srf = c->loop()->face()->geometry()->equation();
    const QELinterval r = c->param_range();
    return std::max(distance(srf.eval_position(p.eval_position(r.start_pt())), c->start()->geometry()->coords()),
                    distance(srf.eval_position(p.eval_position(r.end_pt())), c->end()->geometry()->coords()));
}

// Arcs of a circle under edges that run either way along their curves are
// limited to the arc each edge uses by the scaled-box conversion, and a
// tolerant coedge on such an arc gets its pcurve over its own arc: the sheet
// stays sound in every frame and every pcurve runs between its vertices.
TEST_F(Conversion, ArcEdgesRunningAgainstTheirCirclesAreLimitedToTheirOwnArcs)
{
    on("ScaleBndBoxCnvrtToSpline");
    on("SplineAsRational");
    // A third of the cylinder's wall, and two thirds of it, past the end of
    // the circles' parameter range: two arcs and two lines each.
    for (const double angle : {2.0, 4.0})
    for (const bool tolerant : {false, true})
        for (const bool turned : {false, true})
            for (const QELtransf& frame : testkit::heal_frames()) {
                SCOPED_TRACE(std::string(frame.identity() ? "identity" : "framed") + (turned ? ", arcs turned" : "") +
                             (tolerant ? ", tolerant arcs" : "") + (angle > 3.0 ? ", two thirds" : ", a third"));
                BODY* b = testkit::make_iso_rect_sheet(testkit::test_cylinder(), {testkit::rect(0, 1, 0.5, 0.5 + angle, false)});
                if (turned)
                    for (EDGE* e : edgesOf(b))
                        if (e->geometry()->equation().periodic())
                            turnEdgeAgainstItsCurve(e);
                sg_add_pcurves_to_entity(b);
                if (tolerant)
                    for (EDGE* e : edgesOf(b)) {
                        if (!e->geometry()->equation().periodic())
                            continue;
                        TEDGE* t = nullptr;
                        ASSERT_TRUE(api_replace_edge_with_tedge(e, t).ok());
                        testkit::make_coedge_tolerant(t->coedge());
                    }
                if (!frame.identity()) {
                    api_apply_transf(b, frame);
                    api_change_body_trans(b, nullptr);
                }
                ASSERT_EQ(testkit::check_findings(b), "");
                const double area = testkit::body_area(b);
                convTag(b)->bspline(false, false);
                EXPECT_EQ(testkit::faces_of(b).front()->geometry()->equation().type(), 10);
                EXPECT_EQ(testkit::check_findings(b), "");
                EXPECT_NEAR(testkit::body_area(b), area, 1e-4 * area);
                for (EDGE* e : edgesOf(b)) {
                    // The curve is limited round the arc the edge uses, or,
                    // periodic (a tolerant edge keeps its circle), holds the
                    // third within its own range; it reaches its vertices at
                    // the range's ends.
                    const curve& c = e->geometry()->equation();
                    const QELinterval own = e->sense() == REVERSED ? -e->param_range() : e->param_range();
                    const QELinterval limits = c.param_range();
                    if (!c.periodic() || angle < 3.0) {
                        EXPECT_GE(own.start_pt(), limits.start_pt() - 1e-9);
                        EXPECT_LE(own.end_pt(), limits.end_pt() + 1e-9);
                    }
                    const double sign = e->sense() == REVERSED ? -1.0 : 1.0;
                    const QELinterval r = e->param_range();
                    EXPECT_LT(distance(c.eval_position(sign * r.start_pt()), e->start()->geometry()->coords()), 1e-6);
                    EXPECT_LT(distance(c.eval_position(sign * r.end_pt()), e->end()->geometry()->coords()), 1e-6);
                }
                ENTITY_LIST coedges;
                api_get_coedges(b, coedges);
                for (int i = 0; i < coedges.count(); ++i) {
                    auto* c = static_cast<COEDGE*>(coedges[i]);
                    ASSERT_NE(c->geometry(), nullptr);
                    EXPECT_LT(pcurveEndsOffVertices(c), 1e-5) << (is_TCOEDGE(c) ? "tolerant" : "exact");
                }
                api_del_entity(b);
            }
}

// With ChkForSmallEdges on, the split of a periodic spline face at the
// middle of its v range is refused where the line would pass a vertex closer
// than 1e-4 without meeting it, or run along an edge; a vertex 5e-4 off the
// line is far enough. Without the option the near split is made.
TEST_F(Conversion, ThePeriodicSplitKeepsClearOfVerticesAndEdgesNearItsLine)
{
    bs3_surface bs = testkit::make_tube_bs3_surface(true);
    const spline tube(bs);
    bs3_surface_delete(bs);
    const double mid = tube.param_range().v_range().mid_pt();
    // The v parameter's length on the tube near the line, to place a side a
    // given distance from it.
    const double perUnit =
        distance(tube.eval_position(QELpar_pos(0.5, mid)), tube.eval_position(QELpar_pos(0.5, mid + 1e-3))) / 1e-3;
    const struct {
        const char* name;
        double off;
        bool check;
        int faces;
    } cases[] = {
        {"a side 5e-4 from the line", 5e-4, true, 2},
        {"a side 5e-5 from the line", 5e-5, true, 1},
        {"a side 5e-5 from the line, unchecked", 5e-5, false, 2},
        {"a side along the line", 2e-9, true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qelx_test::OptionScope scope;
        if (c.check)
            scope.on(Ve_OptionDoc::keyOf("ChkForSmallEdges"));
        BODY* b = testkit::make_iso_rect_sheet(tube, {testkit::rect(0.2, 0.8, mid - 1.0, mid + c.off / perUnit, true)});
        splitFaceAtMidParameter(testkit::faces_of(b).front(), false);
        EXPECT_EQ(testkit::count_faces(b), c.faces);
        EXPECT_EQ(testkit::model_problems(b), "");
        api_del_entity(b);
    }
}

// A tolerant coedge's plane pcurve that something else still holds is not
// rewritten in place for the new spline: the coedge gets a pcurve of its
// own, and the held one keeps its definition.
TEST_F(Conversion, AHeldPlanePcurveOfATolerantCoedgeIsLeftToItsHolder)
{
    on("ScaleBndBoxCnvrtToSpline");
    on("SplineAsRational");
    BODY* b = testkit::make_iso_rect_sheet(testkit::test_plane(), {testkit::rect(1, 3, 2, 5, true)});
    EDGE* edge = edgesOf(b).front();
    TEDGE* tolerant = nullptr;
    ASSERT_TRUE(api_replace_edge_with_tedge(edge, tolerant).ok());
    TCOEDGE* coedge = testkit::make_coedge_tolerant(tolerant->coedge());
    PCURVE* held = coedge->geometry();
    ASSERT_NE(held, nullptr);
    held->add();
    const QELinterval range = coedge->param_range();
    const QELpar_pos before = held->def().eval_position(range.mid_pt());
    convTag(b)->bspline(false, false);
    EXPECT_EQ(testkit::faces_of(b).front()->geometry()->equation().type(), 10);
    EXPECT_NE(coedge->geometry(), held);
    const QELpar_pos after = held->def().eval_position(range.mid_pt());
    EXPECT_EQ(after.u, before.u);
    EXPECT_EQ(after.v, before.v);
    held->remove();
    api_del_entity(b);
}

// A face across the seam of a periodic spline, short of a whole period: the
// split at the middle of the range misses it, the split at the range's end
// cuts it at the seam into one face either side, keeping its area; a face
// that does not reach the seam stays whole.
TEST_F(Conversion, AFaceAcrossTheSeamOfAPeriodicSplineIsSplitAtTheSeam)
{
    bs3_surface bs = testkit::make_tube_bs3_surface(true);
    const spline tube(bs);
    bs3_surface_delete(bs);
    ASSERT_TRUE(tube.periodic_v());
    const QELinterval v = tube.param_range().v_range();
    const struct {
        const char* name;
        double v0, v1;
        int faces;
    } cases[] = {
        {"across the seam", v.end_pt() - 0.5, v.end_pt() + 0.7, 2},
        {"short of the seam and the middle", v.start_pt() + 0.5, v.start_pt() + 2.0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BODY* b = testkit::make_iso_rect_sheet(tube, {testkit::rect(0.2, 0.8, c.v0, c.v1, true)});
        ASSERT_EQ(testkit::model_problems(b), "");
        const double area = testkit::body_area(b);
        splitFaceAtMidParameter(testkit::faces_of(b).front(), false);
        EXPECT_EQ(testkit::count_faces(b), c.faces);
        EXPECT_EQ(testkit::model_problems(b), "");
        EXPECT_NEAR(testkit::body_area(b), area, 1e-6 * area);
        api_del_entity(b);
    }
}

// Only a spline with a weight off 1 is refitted without its weights: a
// polynomial spline, or one flagged rational whose weights are all 1, is left
// as it is.
TEST_F(Conversion, TheRationalRefitLeavesSplinesOfUnitWeightsAlone)
{
    for (const bool flagged : {false, true}) {
        SCOPED_TRACE(flagged ? "flagged rational, weights 1" : "polynomial");
        bs3_surface bs = testkit::make_test_bs3_surface();
        if (flagged) {
            int dim = 0, ratU = 0, ratV = 0, formU = 0, formV = 0, poleU = 0, poleV = 0, nu = 0, nv = 0, du = 0, dv = 0;
            int nku = 0, nkv = 0;
            QELposition* pts = nullptr;
            double *weights = nullptr, *ku = nullptr, *kv = nullptr;
            bs3_surface_to_array(bs, dim, ratU, ratV, formU, formV, poleU, poleV, nu, nv, pts, weights, du, nku, ku, dv,
                                 nkv, kv);
            const std::vector<double> ones(static_cast<std::size_t>(nu * nv), 1.0);
            bs3_surface_delete(bs);
            bs = bs3_surface_from_ctrlpts(du, 1, formU, poleU, nu, dv, 1, formV, poleV, nv, pts, ones.data(), QELresabs,
                                          nku, ku, nkv, kv, QELresnor);
            delete[] pts;
            delete[] weights;
            delete[] ku;
            delete[] kv;
            ASSERT_NE(bs, nullptr);
            ASSERT_TRUE(bs3_surface_rational_u(bs));
        }
        BODY* b = testkit::make_spline_sheet(bs, false);
        const std::string before = testkit::body_text(b);
        convTag(b)->replaceRationalSurf();
        EXPECT_TRUE(testkit::body_text(b) == before) << "the face's spline was refitted";
        api_del_entity(b);
    }
}

// A disk of the plane z = 0 cut by a chord only a little short of its whole
// circle: its arc stops less than a thousandth of the period short of the
// circle's, yet it is an arc, and the scaled-box conversion limits its curve
// to the arc the edge uses, as any other; the sheet stays sound.
TEST_F(Conversion, AnArcAlmostItsWholeCircleIsLimitedToItsArc)
{
    on("ScaleBndBoxCnvrtToSpline");
    on("SplineAsRational");
    for (const double gap : {5e-4, 0.5}) {
        SCOPED_TRACE("short by " + std::to_string(gap));
        const ellipse circle(QELposition(), QELunit_vector(0.0, 0.0, 1.0), QELvector(5.0, 0.0, 0.0), 1.0);
        const QELinterval along(-testkit::kPi + 0.5 * gap, testkit::kPi - 0.5 * gap);
        auto* a = new VERTEX(new APOINT(circle.eval_position(along.start_pt())));
        auto* z = new VERTEX(new APOINT(circle.eval_position(along.end_pt())));
        EDGE* arc = new EDGE(a, z, new ELLIPSE(circle), FORWARD, EDGE_cvty_unknown, &along);
        const QELposition from = z->geometry()->coords(), to = a->geometry()->coords();
        const QELinterval chordRange(0.0, distance(from, to));
        EDGE* chord = new EDGE(z, a, new STRAIGHT(straight(from, QELunit_vector(to - from))), FORWARD, EDGE_cvty_unknown,
                               &chordRange);
        a->add_edge(arc);
        a->add_edge(chord);
        z->add_edge(arc);
        z->add_edge(chord);
        auto* c1 = new COEDGE(arc, FORWARD, nullptr, nullptr);
        auto* c2 = new COEDGE(chord, FORWARD, nullptr, nullptr);
        c1->set_next(c2);
        c2->set_previous(c1);
        c2->set_next(c1);
        c1->set_previous(c2);
        auto* face = new FACE(new LOOP(c1, nullptr), nullptr, new PLANE(plane(QELposition(), QELunit_vector(0.0, 0.0, 1.0))),
                              FORWARD);
        BODY* b = new BODY(new LUMP(new SHELL(face, nullptr), nullptr));
        sg_add_pcurves_to_entity(b);
        ASSERT_EQ(testkit::check_findings(b), "");
        const double area = testkit::body_area(b);
        convTag(b)->bspline(false, false);
        EXPECT_EQ(testkit::check_findings(b), "");
        EXPECT_NEAR(testkit::body_area(b), area, 1e-4 * area);
        int arcs = 0;
        for (EDGE* e : edgesOf(b)) {
            const curve& c = e->geometry()->equation();
            if (c.type() != 2)
                continue;
            ++arcs;
            EXPECT_FALSE(c.periodic());
            EXPECT_NEAR(c.param_range().start_pt(), along.start_pt(), 1e-9);
            EXPECT_NEAR(c.param_range().end_pt(), along.end_pt(), 1e-9);
        }
        EXPECT_EQ(arcs, 1);
        ENTITY_LIST coedges;
        api_get_coedges(b, coedges);
        for (int i = 0; i < coedges.count(); ++i) {
            auto* co = static_cast<COEDGE*>(coedges[i]);
            ASSERT_NE(co->geometry(), nullptr);
            EXPECT_LT(pcurveEndsOffVertices(co), 1e-5);
        }
        api_del_entity(b);
    }
}

// A quarter sphere whose boundary runs over a pole in one edge: the periodic
// split cuts that edge at the pole, above the equator or below it.
TEST_F(Conversion, AnEdgeOverASpheresPoleIsSplitThere)
{
    m_options.on(Ve_OptionDoc::keyOf("SplitPeriodicPreProcess"));
    for (const bool above : {true, false}) {
        SCOPED_TRACE(above ? "north pole" : "south pole");
        BODY* b = testkit::make_quarter_sphere(above, false);
        ASSERT_EQ(testkit::count_vertices(b), 2);
        const double area = testkit::body_area(b);
        convTag(b)->splitPeriodics();
        const QELposition pole(0, 0, above ? 4.0 : -4.0);
        int atPole = 0;
        ENTITY_LIST vertices;
        api_get_vertices(b, vertices);
        for (int i = 0; i < vertices.count(); ++i)
            atPole += distance(static_cast<VERTEX*>(vertices[i])->geometry()->coords(), pole) < 1e-9 ? 1 : 0;
        EXPECT_EQ(atPole, 1);
        EXPECT_NEAR(testkit::body_area(b), area, 1e-6 * area);
        EXPECT_EQ(testkit::model_problems(b), "");
        api_del_entity(b);
    }
}
