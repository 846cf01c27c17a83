// Trimming segments: which of pcurve and 3-D curve survives a disagreement,
// pcurves stored against their coedges, the curve map and ownership, cuts at
// tangent breaks and 3-D curves lifted from pcurves.
#include "trim_test_support.hxx"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "model/entity_views.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "trim/jordon_cntl.hxx"
#include "trim/jordon_discontinuity.hxx"
#include "trim/trim_import_context.hxx"
#include "trim/trim_internal.hxx"
#include "velm/bspline.hxx"

using qelx_test::TestModel;

namespace {

// One source face's surface on a kernel face, and a trim context over it;
// segments are seeded from the face's coedges. Segments made here own their
// curves when the bench goes.
class SegmentBench {
public:
    SegmentBench(TestModel model, int face, const QELXMorph3D& morph = QELXMorph3D())
        : m_trim(std::move(model), morph)
    {
        m_face = VELM_NEW FACE(nullptr, nullptr, nullptr, FORWARD);
        Gk_SurfApproxInfoHandle approx;
        Gk_BiLinMap map;
        ve_view<Ve_FaceTag>(m_face)->addSurface(m_trim.id(qelx_test::KindFace, face), &m_trim.source(),
                                                 m_trim.context().GetMorph(), &approx, &map);
        int category = 2;
        m_trim.source().GetFaceCategory(m_trim.id(qelx_test::KindFace, face), category);
        m_context = std::make_unique<Ve_TrimImportContext>(reinterpret_cast<Ve_SurfaceTag*>(m_face->geometry()), map,
                                                           approx, &m_trim.context(), category == 0 || category == 1);
    }
    SegmentBench(const SegmentBench&) = delete;
    SegmentBench& operator=(const SegmentBench&) = delete;
    ~SegmentBench()
    {
        for (Ve_JordonCntlHandle& s : m_made)
            if (s.get())
                s->setOwner(true);
        m_made.clear();
        api_del_entity(m_face);
    }

    Ve_TrimImportContext* context() { return m_context.get(); }
    TestModel& model() { return m_trim.model(); }

    Ve_JordonCntlHandle seed(int coedge)
    {
        Ve_JordonCntlHandle s(new Ve_JordonCntl(m_context.get()));
        EXPECT_TRUE(s->seed(m_trim.id(qelx_test::KindCoedge, coedge), &m_trim.source()));
        m_made.push_back(s);
        return s;
    }
    std::vector<Ve_JordonCntlHandle> repair(const Ve_JordonCntlHandle& s)
    {
        std::vector<Ve_JordonCntlHandle> out;
        for (const Ve_JordonCntlHandle& piece : s->repair()) {
            out.push_back(piece);
            m_made.push_back(piece);
        }
        return out;
    }

private:
    trimtest::TrimSource m_trim;
    FACE* m_face = nullptr;
    std::unique_ptr<Ve_TrimImportContext> m_context;
    std::vector<Ve_JordonCntlHandle> m_made;
};

// The source coedge's point at the start or end of its domain.
QELXPoint3D sourcePoint(const TestModel& m, int coedge, bool atEnd)
{
    const qelx_test::TestCoedge& c = m.coedges[coedge];
    const double t = atEnd ? c.domain[1] : c.domain[0];
    return m.edgePoint(c.edge, c.sense ? t : -t);
}

// A context over a bare kernel plane z = 0, for segments built by hand.
struct PlaneContext {
    SURFACE* surface = make_surface(plane(QELposition(0, 0, 0), QELunit_vector(0, 0, 1)));
    Ve_TrimImportContext context;
    explicit PlaneContext(bool prefPCurve)
        : context(reinterpret_cast<Ve_SurfaceTag*>(surface), Gk_BiLinMap(), Gk_SurfApproxInfoHandle(), nullptr,
                  prefPCurve)
    {
    }
    ~PlaneContext() { surface->lose(); }
};

// A polyline of degree 1 through the points, parameter 0, 1, 2, ...
bs3_curve polyline3(const std::vector<QELposition>& pts)
{
    std::vector<double> knots{0.0};
    for (std::size_t i = 0; i < pts.size(); ++i)
        knots.push_back(static_cast<double>(i));
    knots.push_back(static_cast<double>(pts.size() - 1));
    return bs3_curve_from_ctrlpts(1, 0, 0, 0, static_cast<int>(pts.size()), pts.data(), nullptr, QELresabs,
                                  static_cast<int>(knots.size()), knots.data(), 1e-10);
}

// A segment on the context along a polyline, as 3-D curve or as pcurve.
Ve_JordonCntlHandle polylineSegment(PlaneContext& p, const std::vector<QELposition>& pts, bool asPCurve)
{
    Ve_JordonCntlHandle s(new Ve_JordonCntl(&p.context));
    bs3_curve bs3 = polyline3(pts);
    if (asPCurve) {
        int dim = 0, degree = 0, rational = 0, n = 0, nk = 0;
        QELposition* ctrl = nullptr;
        double* weights = nullptr;
        double* knots = nullptr;
        bs3_curve_to_array(bs3, dim, degree, rational, n, ctrl, weights, nk, knots);
        bs2_curve bs2 = bs2_curve_from_ctrlpts(degree, 0, 0, 0, n, ctrl, nullptr, QELresabs, nk, knots, 1e-10);
        delete[] ctrl;
        delete[] weights;
        delete[] knots;
        bs3_curve_delete(bs3);
        s->setPcur(reinterpret_cast<Ve_PCurveTag*>(
            VELM_NEW PCURVE(pcurve(bs2, QELresfit, p.surface->equation()))));
    } else {
        s->setCur(reinterpret_cast<Ve_CurveTag*>(make_curve(intcurve(bs3))));
    }
    s->setDomain(Gk_Domain(0.0, static_cast<double>(pts.size() - 1)));
    s->setOwner(true);
    return s;
}

// A corner turning by the angle (degrees) at parameter 1.
std::vector<QELposition> corner(double degrees)
{
    const double a = degrees * M_PI / 180.0;
    return {QELposition(0, 0, 0), QELposition(1, 0, 0), QELposition(1 + std::cos(a), std::sin(a), 0)};
}

} // namespace

class TrimSegment : public trimtest::TrimTest {};

TEST_F(TrimSegment, ADisagreementKeepsThePreferredDescription)
{
    struct Case {
        const char* what;
        int category;
        bool shift, backwards;
        bool pcurveKept, curveKept;
    };
    for (const Case& c : {Case{"agreeing", 2, false, false, true, true},
                          Case{"curve moved, pcurves preferred", 0, true, false, true, false},
                          Case{"curve moved, curves preferred", 2, true, false, false, true},
                          Case{"pcurve backwards, curves preferred", 2, false, true, false, true}}) {
        SCOPED_TRACE(c.what);
        TestModel model = TestModel::planeFace();
        const TestModel original = model;
        model.faces[0].category = c.category;
        if (c.shift)
            model.shiftCurve(model.edges[model.coedges[0].edge].curve, {0.0, 0.3, 0.0});
        if (c.backwards)
            model.reversePCurve(0);
        SegmentBench bench(model, 0);
        Ve_JordonCntlHandle s = bench.seed(0);
        ASSERT_TRUE(s->pcur() && s->cur());
        // By entity number: a curve made in place of a dropped one may take its address.
        const auto number = [](Ve_CurveTag* curve) {
            int id = 0;
            EXPECT_TRUE(api_get_entity_id(reinterpret_cast<ENTITY*>(curve), id).ok());
            return id;
        };
        const int seeded = number(s->cur());
        const std::vector<Ve_JordonCntlHandle> pieces = bench.repair(s);
        ASSERT_EQ(pieces.size(), 1u);
        EXPECT_EQ(s->pcur() != nullptr, c.pcurveKept);
        EXPECT_EQ(s->cur() && number(s->cur()) == seeded, c.curveKept);
        // A dropped 3-D curve comes back from the pcurve, through the source's points.
        ASSERT_NE(s->cur(), nullptr);
        const double off = c.shift && c.curveKept ? 0.3 : 0.0;
        EXPECT_NEAR(s->start(false).Distance(sourcePoint(original, 0, false)), off, 1e-6);
        EXPECT_NEAR(s->end(false).Distance(sourcePoint(original, 0, true)), off, 1e-6);
    }
}

TEST_F(TrimSegment, APcurveStoredAgainstItsCoedgeIsTurnedToRunWithIt)
{
    // Said so: the pcurve runs with the coedge. Wrongly said: the pcurve does
    // not reach over the coedge and is left out; the 3-D curve carries on.
    for (bool saysSo : {true, false}) {
        SCOPED_TRACE(saysSo ? "sense says so" : "sense wrong");
        TestModel model = TestModel::block(2, 3, 4);
        for (int c = 0; c < 4; ++c)
            saysSo ? model.turnPCurve(c) : model.flipPCurveSense(c);
        ASSERT_LT(model.maxGap(), saysSo ? 1e-9 : 1e300);
        SegmentBench bench(model, 0);
        for (int c = 0; c < 4; ++c) {
            Ve_JordonCntlHandle s = bench.seed(c);
            EXPECT_EQ(s->pcur() != nullptr, saysSo);
            ASSERT_NE(s->cur(), nullptr);
            for (bool atEnd : {false, true}) {
                const QELXPoint3D want = sourcePoint(bench.model(), c, atEnd);
                EXPECT_LT((atEnd ? s->end(true) : s->start(true)).Distance(want), 1e-9) << "coedge " << c;
            }
        }
    }
}

TEST_F(TrimSegment, ACurveLostInRepairLeavesTheEdgeMap)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("TransferAttribute"));
    TestModel model = TestModel::planeFace();
    model.faces[0].category = 0;
    model.shiftCurve(model.edges[model.coedges[0].edge].curve, {0.0, 0.0, 0.5});
    {
        SegmentBench bench(model, 0);
        Ve_JordonCntlHandle s = bench.seed(0);
        CURVE* seeded = reinterpret_cast<CURVE*>(s->cur());
        int seededNumber = 0;
        ASSERT_TRUE(api_get_entity_id(seeded, seededNumber).ok());
        QELXIdentifier edge;
        ASSERT_TRUE(Ve_TrimFaceCntl::_velmCurveSourceEdgeMap.Get(seeded, edge));
        EXPECT_EQ(edge.GetValue(), qelx_test::wordOf(qelx_test::KindEdge, model.coedges[0].edge));
        bench.repair(s);
        // The pcurve won; the lost curve's address may be reused by the next
        // curve made (it is, by the kernel's slabs), which must not inherit the
        // source edge.
        int number = 0;
        ASSERT_NE(s->cur(), nullptr);
        ASSERT_TRUE(api_get_entity_id(reinterpret_cast<CURVE*>(s->cur()), number).ok());
        EXPECT_NE(number, seededNumber);
        EXPECT_EQ(Ve_TrimFaceCntl::_velmCurveSourceEdgeMap.Count(), 0);
    }
    Ve_TrimFaceCntl::_velmCurveSourceEdgeMap.Clear();
}

TEST_F(TrimSegment, ACopyOfAnOwningSegmentDoesNotOwn)
{
    PlaneContext p(false);
    Ve_JordonCntlHandle owner = polylineSegment(p, corner(10), false);
    CURVE* curve = reinterpret_cast<CURVE*>(owner->cur());
    {
        Ve_JordonCntlHandle copy(new Ve_JordonCntl(*owner));
        EXPECT_FALSE(copy->isOwner());
        Ve_JordonCntlHandle assigned(new Ve_JordonCntl(&p.context));
        *assigned = *owner;
        EXPECT_FALSE(assigned->isOwner());
        EXPECT_EQ(assigned->cur(), owner->cur());
    }
    // Both copies gone, the curve is still the owner's to lose.
    EXPECT_TRUE(velm_is_live_entity(curve));
}

TEST_F(TrimSegment, AnUnboundedCurveIsMeasuredOverItsSegmentOnly)
{
    straight line(QELposition(0, 0, 0), QELunit_vector(1, 0, 0));
    // Shorter than 100 x QELresabs over the segment: not worth a check.
    EXPECT_FALSE(checkImportedCurve(line, Gk_Domain(0.0, 50.0 * QELresabs)));
    EXPECT_TRUE(checkImportedCurve(line, Gk_Domain(0.0, 1.0)));
}

TEST_F(TrimSegment, PcurveEndsNearASingularSideLandOnIt)
{
    const sphere ball(QELposition(0, 0, 0), 2.0);
    const double pole = M_PI / 2;
    const QELposition pts[3] = {QELposition(pole - 0.5 * QELresabs, 0.3, 0), QELposition(0.2, 0.3, 0),
                                QELposition(-pole + 20 * QELresabs, 0.3, 0)};
    const double knots[5] = {0, 0, 1, 2, 2};
    bs2_curve bs2 = bs2_curve_from_ctrlpts(1, 0, 0, 0, 3, pts, nullptr, QELresabs, 5, knots, 1e-10);
    snapPCurveEndsToPoles(bs2, ball);
    QELpar_pos first, last;
    bs2_curve_eval(0.0, bs2, first);
    bs2_curve_eval(2.0, bs2, last);
    EXPECT_EQ(first.u, pole);
    EXPECT_EQ(first.v, 0.3);
    // Farther than QELresabs from the other pole: left where it was.
    EXPECT_DOUBLE_EQ(last.u, -pole + 20 * QELresabs);
    bs2_curve_delete(bs2);
}

TEST_F(TrimSegment, CornersAreCutAndGentleBendsKept)
{
    for (bool asPCurve : {false, true})
        for (double degrees : {90.0, 20.0}) {
            SCOPED_TRACE(std::string(asPCurve ? "pcurve" : "3-D curve") + ", " + std::to_string(degrees));
            PlaneContext p(asPCurve);
            qelx_test::OptionScope options;
            options.on(Ve_OptionDoc::keyOf("SplitAtG1Disc"));
            Ve_JordonCntlHandle s = polylineSegment(p, corner(degrees), asPCurve);
            Ve_JordonDiscontinuity split(s, kTrimTangentBreakCosine);
            const QELXDynamicArray<double> breaks = asPCurve ? split.pcrvDiscontinuities() : split.crvDiscontinuities();
            const bool cut = degrees > 30.0;
            ASSERT_EQ(breaks.Count(), cut ? 1 : 0);
            QELXDynamicArray<Ve_JordonCntlHandle> pieces = split.splitNonG1();
            ASSERT_EQ(pieces.Count(), cut ? 2 : 1);
            EXPECT_EQ(pieces[pieces.Count() - 1].get(), s.get());
            if (cut) {
                EXPECT_DOUBLE_EQ(breaks[0], 1.0);
                EXPECT_DOUBLE_EQ(pieces[0]->getDomain().high(), 1.0);
                EXPECT_DOUBLE_EQ(s->getDomain().low(), 1.0);
                EXPECT_LT(pieces[0]->end(asPCurve).Distance(s->start(asPCurve)), 1e-9);
                pieces[0]->setOwner(true);
            }
        }
}

TEST_F(TrimSegment, PcurveBreaksFollowTheSwitchAndTheSegmentsParameter)
{
    for (bool splitOn : {false, true})
        for (bool reversed : {false, true}) {
            SCOPED_TRACE(std::string(splitOn ? "split on" : "split off") + (reversed ? ", reversed" : ""));
            qelx_test::OptionScope options;
            if (splitOn)
                options.on(Ve_OptionDoc::keyOf("SplitAtG1Disc"));
            PlaneContext p(true);
            Ve_JordonCntlHandle s = polylineSegment(p, {QELposition(0, 0, 0), QELposition(1, 0, 0),
                                                        QELposition(1, 1, 0), QELposition(2, 1, 0)},
                                                    true);
            s->setCur(reinterpret_cast<Ve_CurveTag*>(make_curve(straight(QELposition(0, 0, 0), QELunit_vector(1, 0, 0)))));
            if (reversed)
                s->reverse();
            Ve_JordonDiscontinuity split(s, kTrimTangentBreakCosine);
            const QELXDynamicArray<double> breaks = split.pcrvDiscontinuities();
            ASSERT_EQ(breaks.Count(), 2);
            EXPECT_DOUBLE_EQ(breaks[0], reversed ? -2.0 : 1.0);
            EXPECT_DOUBLE_EQ(breaks[1], reversed ? -1.0 : 2.0);
            QELXDynamicArray<Ve_JordonCntlHandle> pieces = split.splitNonG1();
            EXPECT_EQ(pieces.Count(), splitOn ? 3 : 1);
            // The 3-D curve goes either way: it is lifted from the pcurve again.
            EXPECT_EQ(s->cur(), nullptr);
            for (int i = 0; i + 1 < pieces.Count(); ++i) {
                EXPECT_LT(pieces[i]->end(true).Distance(pieces[i + 1]->start(true)), 1e-9);
                pieces[i]->setOwner(true);
            }
        }
}

TEST_F(TrimSegment, AnIsoPcurveBecomesTheSurfacesOwnLine)
{
    TestModel model = TestModel::nurbsSheet(5, 5);
    SegmentBench bench(model, 0);
    const surface& srf = reinterpret_cast<SURFACE*>(bench.context()->getSurface())->equation();
    // Along v = 0.4 from u = 0.2 to u = 0.9.
    const QELposition pts[2] = {QELposition(0.2, 0.4, 0), QELposition(0.9, 0.4, 0)};
    const double knots[4] = {0, 0, 1, 1};
    const pcurve pc(bs2_curve_from_ctrlpts(1, 0, 0, 0, 2, pts, nullptr, QELresabs, 4, knots, 1e-10), QELresfit, srf);
    bs3_curve iso = trimIsoCurveOfPCurve(pc);
    ASSERT_NE(iso, nullptr);
    EXPECT_GE(bs3_curve_degree(iso), 2);
    for (double t : {0.0, 0.3, 0.7, 1.0})
        EXPECT_LT(distance(bs3_curve_position(t, iso), srf.eval_position(QELpar_pos(0.2 + 0.7 * t, 0.4))), 1e-9);
    bs3_curve_delete(iso);
}

TEST_F(TrimSegment, AnIsoPcurveWhoseFirstControlPointsRepeatIsStillTheSurfacesLine)
{
    // The way an iso pcurve runs shows only at its third control point when
    // its first two are one: the surface's line runs that way all the same,
    // from the pcurve's start to its end, forwards or back, along u or v.
    TestModel model = TestModel::nurbsSheet(5, 5);
    SegmentBench bench(model, 0);
    const surface& srf = reinterpret_cast<SURFACE*>(bench.context()->getSurface())->equation();
    const double knots[6] = {0, 0, 0, 1, 1, 1};
    struct Case {
        const char* what;
        QELpar_pos from, to;
    };
    for (const Case& c : {Case{"along v", {0.3, 0.1}, {0.3, 0.9}}, Case{"back along v", {0.3, 0.9}, {0.3, 0.1}},
                          Case{"along u", {0.2, 0.6}, {0.8, 0.6}}, Case{"back along u", {0.8, 0.6}, {0.2, 0.6}}}) {
        SCOPED_TRACE(c.what);
        const QELposition pts[3] = {QELposition(c.from.u, c.from.v, 0), QELposition(c.from.u, c.from.v, 0),
                                    QELposition(c.to.u, c.to.v, 0)};
        const pcurve pc(bs2_curve_from_ctrlpts(2, 0, 0, 0, 3, pts, nullptr, QELresabs, 6, knots, 1e-10), QELresfit,
                        srf);
        bs3_curve iso = trimIsoCurveOfPCurve(pc);
        ASSERT_NE(iso, nullptr);
        EXPECT_LT(distance(bs3_curve_position(0.0, iso), srf.eval_position(c.from)), 1e-9);
        EXPECT_LT(distance(bs3_curve_position(1.0, iso), srf.eval_position(c.to)), 1e-9);
        bs3_curve_delete(iso);
    }
}

TEST_F(TrimSegment, AnIsoPcurveTooShortToCutIsNeverTheSurfacesWholeLine)
{
    // A line the kernel cannot cut to an iso pcurve's stretch (one shorter
    // than its knot tolerance) is the whole line still: one starting where
    // the pcurve starts, at the surface's side, must not stand for it. The
    // curve given, if any, runs along the pcurve's image its whole length,
    // for stretches from the uncuttable to half the surface, along u and v,
    // either way, from either side, in every frame, plain and rational.
    struct Case {
        const char* what;
        QELpar_pos from;
        double du, dv;
    };
    const Case cases[] = {{"along v from v = 0", {0.4, 0.0}, 0.0, 1.0},  {"back along v from v = 1", {0.4, 1.0}, 0.0, -1.0},
                          {"along u from u = 0", {0.0, 0.6}, 1.0, 0.0},  {"back along u from u = 1", {1.0, 0.6}, -1.0, 0.0},
                          {"along v inside", {0.7, 0.3}, 0.0, 1.0}};
    const double knots[4] = {0, 0, 1, 1};
    int made = 0;
    for (const bool rational : {false, true})
        for (const importtest::Frame& frame : stitchtest::allFrames()) {
            SegmentBench bench(TestModel::nurbsSheet(5, 5, rational), 0, frame.morph);
            const surface& srf = reinterpret_cast<SURFACE*>(bench.context()->getSurface())->equation();
            const QELpar_box box = srf.param_range();
            for (const Case& c : cases)
                for (const double length : {1e-11, 5e-11, 1e-6, 0.5}) {
                    SCOPED_TRACE(std::string(c.what) + ", " + frame.name + (rational ? ", rational" : "") +
                                 ", length " + std::to_string(length));
                    // The sheet's own parameters, whatever its range.
                    const auto at = [&](double u, double v) {
                        return QELpar_pos(box.u_range().start_pt() + u * box.u_range().length(),
                                          box.v_range().start_pt() + v * box.v_range().length());
                    };
                    const QELpar_pos a = at(c.from.u, c.from.v);
                    const QELpar_pos b = at(c.from.u + length * c.du, c.from.v + length * c.dv);
                    const QELposition pts[2] = {QELposition(a.u, a.v, 0), QELposition(b.u, b.v, 0)};
                    const pcurve pc(bs2_curve_from_ctrlpts(1, 0, 0, 0, 2, pts, nullptr, QELresabs, 4, knots, 1e-12),
                                    QELresfit, srf);
                    bs3_curve iso = trimIsoCurveOfPCurve(pc);
                    if (!iso)
                        continue;
                    ++made;
                    const QELinterval range = bs3_curve_range(iso);
                    for (double t : {0.0, 0.25, 0.5, 0.75, 1.0}) {
                        const QELposition on = bs3_curve_position(range.interpolate(t), iso);
                        const QELposition want = srf.eval_position(pc.eval_position(pc.param_range().interpolate(t)));
                        EXPECT_LT(distance(on, want), 1e-6) << "at " << t << " of the curve";
                    }
                    bs3_curve_delete(iso);
                }
        }
    // Every stretch the kernel can cut (half the surface, a millionth) gives its line.
    EXPECT_GE(made, 2 * 3 * 5 * 2);
}

TEST_F(TrimSegment, AnIsoPcurveOnABilinearPatchBecomesALineOfDegreeTwo)
{
    // A flat bilinear patch's own lines are straight, of degree one: raised
    // to degree two, the line still runs from the pcurve's start to its end,
    // along u or v, either way.
    TestModel m;
    int shell = -1;
    m.addSheetBody(shell);
    const int patch =
        m.addNurbsSurface(1, 1, 2, 2, {0, 0, 0, 0, 2, 0, 3, 0, 0, 3, 2, 0}, {0.0, 1.0}, {2, 2}, {0.0, 1.0}, {2, 2});
    SegmentBench bench(m, m.addFace(shell, patch));
    const surface& srf = reinterpret_cast<SURFACE*>(bench.context()->getSurface())->equation();
    const double knots[4] = {0, 0, 1, 1};
    struct Case {
        const char* what;
        QELpar_pos from, to;
    };
    for (const Case& c : {Case{"along u", {0.1, 0.4}, {0.9, 0.4}}, Case{"back along v", {0.3, 0.8}, {0.3, 0.2}}}) {
        SCOPED_TRACE(c.what);
        const QELposition pts[2] = {QELposition(c.from.u, c.from.v, 0), QELposition(c.to.u, c.to.v, 0)};
        const pcurve pc(bs2_curve_from_ctrlpts(1, 0, 0, 0, 2, pts, nullptr, QELresabs, 4, knots, 1e-10), QELresfit,
                        srf);
        bs3_curve iso = trimIsoCurveOfPCurve(pc);
        ASSERT_NE(iso, nullptr);
        EXPECT_GE(bs3_curve_degree(iso), 2);
        for (double t : {0.0, 0.25, 1.0})
            EXPECT_LT(distance(bs3_curve_position(t, iso), srf.eval_position(pc.eval_position(t))), 1e-9) << t;
        bs3_curve_delete(iso);
    }
}

TEST_F(TrimSegment, ASampledSpaceCurveLiesOnItsSurface)
{
    for (const char* kind : {"cylinder", "b-spline"}) {
        SCOPED_TRACE(kind);
        const bool cylinder = std::string(kind) == "cylinder";
        TestModel model = cylinder ? TestModel::cylinder(1.5, 2) : TestModel::nurbsSheet(5, 5);
        SegmentBench bench(model, 0);
        const surface& srf = reinterpret_cast<SURFACE*>(bench.context()->getSurface())->equation();
        // A diagonal: round the axis while climbing, or across the sheet.
        const QELpar_box box = srf.param_range();
        const double u0 = cylinder ? 0.2 : 0.1, u1 = cylinder ? 1.8 : 0.9;
        const double v0 = cylinder ? 0.3 : 0.1, v1 = cylinder ? 4.0 : 0.8;
        static_cast<void>(box);
        const QELposition pts[2] = {QELposition(u0, v0, 0), QELposition(u1, v1, 0)};
        const double knots[4] = {0, 0, 1, 1};
        const pcurve pc(bs2_curve_from_ctrlpts(1, 0, 0, 0, 2, pts, nullptr, QELresabs, 4, knots, 1e-10), QELresfit,
                        srf);
        std::unique_ptr<intcurve> lifted(trimSpaceCurveFromPCurve(pc));
        ASSERT_TRUE(lifted && lifted->cur_present());
        EXPECT_EQ(lifted->get_int_cur().id(), par_int_cur_id);
        for (int i = 0; i <= 20; ++i) {
            const double t = i / 20.0;
            EXPECT_LT(distance(lifted->eval_position(t), srf.eval_position(pc.eval_position(t))), QELresabs) << t;
        }
    }
}

namespace {

// A 2-D B-spline through the control points (u, v) with the full knot
// vector; rational when weights are given.
bs2_curve bs2Through(int degree, const std::vector<QELpar_pos>& uv, const std::vector<double>& knots,
                     const std::vector<double>& weights = {})
{
    std::vector<QELposition> pts;
    for (const QELpar_pos& p : uv)
        pts.emplace_back(p.u, p.v, 0.0);
    return bs2_curve_from_ctrlpts(degree, weights.empty() ? 0 : 1, 0, 0, static_cast<int>(pts.size()), pts.data(),
                                  weights.empty() ? nullptr : weights.data(), QELresabs, static_cast<int>(knots.size()),
                                  knots.data(), 1e-10);
}

// A segment on the context carrying only the pcurve, over its whole range,
// reversed (pcurve negated, domain negated) when asked.
Ve_JordonCntlHandle pcurveSegment(PlaneContext& p, bs2_curve bs2, bool reversed)
{
    Ve_JordonCntlHandle s(new Ve_JordonCntl(&p.context));
    const QELinterval r = bs2_curve_range(bs2);
    s->setPcur(reinterpret_cast<Ve_PCurveTag*>(VELM_NEW PCURVE(pcurve(bs2, QELresfit, p.surface->equation()))));
    s->setDomain(Gk_Domain(r.start_pt(), r.end_pt()));
    s->setOwner(true);
    if (reversed)
        s->reverse();
    return s;
}

// Quadratic: along +u to (1, 0), a corner, up +v to (1, 1), a corner, along
// +u to (2, 1); the corners at the double knots 1 and 2.
bs2_curve twoCornerQuadratic()
{
    return bs2Through(2, {{0, 0}, {0.5, 0}, {1, 0}, {1, 0.5}, {1, 1}, {1.5, 1}, {2, 1}},
                      {0, 0, 0, 1, 1, 2, 2, 3, 3, 3});
}

} // namespace

TEST_F(TrimSegment, ASegmentEndingOnACornerIsNotCutThere)
{
    // The corner of a polyline lies at 1; a segment over [0, 1] or [1, 2]
    // only touches it. Cutting there would leave a piece of no length.
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("SplitAtG1Disc"));
    for (bool asPCurve : {false, true})
        for (const Gk_Domain& domain : {Gk_Domain(0.0, 1.0), Gk_Domain(1.0, 2.0)}) {
            SCOPED_TRACE(std::string(asPCurve ? "pcurve" : "3-D curve") + " over " + std::to_string(domain.low()));
            PlaneContext p(asPCurve);
            Ve_JordonCntlHandle s = polylineSegment(p, corner(90), asPCurve);
            s->setDomain(domain);
            Ve_JordonDiscontinuity split(s, kTrimTangentBreakCosine);
            EXPECT_EQ((asPCurve ? split.pcrvDiscontinuities() : split.crvDiscontinuities()).Count(), 0);
            const QELXDynamicArray<Ve_JordonCntlHandle> pieces = split.splitNonG1();
            ASSERT_EQ(pieces.Count(), 1);
            EXPECT_EQ(s->getDomain().low(), domain.low());
            EXPECT_EQ(s->getDomain().high(), domain.high());
        }
    // The same on a curved pcurve, whose breaks are read another way.
    PlaneContext p(true);
    Ve_JordonCntlHandle s = pcurveSegment(p, twoCornerQuadratic(), false);
    s->setDomain(Gk_Domain(1.0, 2.0));
    Ve_JordonDiscontinuity split(s, kTrimTangentBreakCosine);
    EXPECT_EQ(split.pcrvDiscontinuities().Count(), 0);
}

TEST_F(TrimSegment, BreaksOfACurvedPcurveRiseInTheSegmentsParameterEitherWay)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("SplitAtG1Disc"));
    for (bool reversed : {false, true}) {
        SCOPED_TRACE(reversed ? "reversed" : "forward");
        PlaneContext p(true);
        Ve_JordonCntlHandle s = pcurveSegment(p, twoCornerQuadratic(), reversed);
        const QELXPoint3D from = s->start(true), to = s->end(true);
        Ve_JordonDiscontinuity split(s, kTrimTangentBreakCosine);
        const QELXDynamicArray<double> breaks = split.pcrvDiscontinuities();
        ASSERT_EQ(breaks.Count(), 2);
        EXPECT_NEAR(breaks[0], reversed ? -2.0 : 1.0, 1e-12);
        EXPECT_NEAR(breaks[1], reversed ? -1.0 : 2.0, 1e-12);
        QELXDynamicArray<Ve_JordonCntlHandle> pieces = split.splitNonG1();
        ASSERT_EQ(pieces.Count(), 3);
        // The pieces run on end to start from the segment's start to its end.
        EXPECT_LT(pieces[0]->start(true).Distance(from), 1e-9);
        EXPECT_LT(pieces[2]->end(true).Distance(to), 1e-9);
        for (int i = 0; i + 1 < pieces.Count(); ++i) {
            EXPECT_DOUBLE_EQ(pieces[i]->getDomain().high(), pieces[i + 1]->getDomain().low());
            EXPECT_LT(pieces[i]->end(true).Distance(pieces[i + 1]->start(true)), 1e-9);
            pieces[i]->setOwner(true);
        }
    }
}

TEST_F(TrimSegment, ACut3DSegmentKeepsNoPcurveOfTheWholeSegment)
{
    // Curves preferred: the pieces are cut from the 3-D curve, so a pcurve
    // that spanned the uncut segment cannot stay on the last piece (the
    // loop would fit it onto the piece's shorter range).
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("SplitAtG1Disc"));
    PlaneContext p(false);
    Ve_JordonCntlHandle s = polylineSegment(p, corner(90), false);
    Ve_JordonCntlHandle withPCurve = polylineSegment(p, corner(90), true);
    s->setPcur(withPCurve->pcur());
    withPCurve->setPcur(nullptr);
    Ve_JordonDiscontinuity split(s, kTrimTangentBreakCosine);
    QELXDynamicArray<Ve_JordonCntlHandle> pieces = split.splitNonG1();
    ASSERT_EQ(pieces.Count(), 2);
    EXPECT_EQ(s->pcur(), nullptr);
    EXPECT_LT(pieces[0]->end(false).Distance(s->start(false)), 1e-9);
    pieces[0]->setOwner(true);
}

TEST_F(TrimSegment, ALiftedPcurveRunsWithItsPcurveOverItsWholeRange)
{
    // Iso lines become the surface's own lines and other pcurves sampled
    // curves: either way the space curve at t is the pcurve's point at t on
    // the surface, over the pcurve's own range, reversed or not.
    TestModel model = TestModel::nurbsSheet(5, 5);
    SegmentBench bench(model, 0);
    const surface& srf = reinterpret_cast<SURFACE*>(bench.context()->getSurface())->equation();
    struct Case {
        const char* what;
        std::function<pcurve()> make;
        bool iso;
    };
    const std::vector<double> line{0, 0, 1, 1}, quadratic{0, 0, 0, 1, 1, 1};
    const std::vector<Case> cases{
        {"iso line along u", [&] { return pcurve(bs2Through(1, {{0.2, 0.4}, {0.9, 0.4}}, line), QELresfit, srf); },
         true},
        {"iso line running back along v",
         [&] { return pcurve(bs2Through(1, {{0.3, 0.9}, {0.3, 0.1}}, line), QELresfit, srf); }, true},
        {"iso line, pcurve reversed",
         [&] {
             pcurve pc(bs2Through(1, {{0.2, 0.4}, {0.9, 0.4}}, line), QELresfit, srf);
             pc.negate();
             return pc;
         },
         true},
        {"iso line with an offset",
         [&] {
             pcurve pc(bs2Through(1, {{0.2, 0.3}, {0.9, 0.3}}, line), QELresfit, srf);
             pc.set_offset(QELpar_vec(0.0, 0.25));
             return pc;
         },
         true},
        {"rational iso line whose weights vary",
         [&] {
             return pcurve(bs2Through(2, {{0.2, 0.4}, {0.5, 0.4}, {0.9, 0.4}}, quadratic, {1.0, 3.0, 1.0}),
                           QELresfit, srf);
         },
         false},
        {"rational iso line along v whose last weight differs",
         [&] {
             return pcurve(bs2Through(2, {{0.6, 0.1}, {0.6, 0.5}, {0.6, 0.8}}, quadratic, {1.0, 1.0, 2.5}),
                           QELresfit, srf);
         },
         false},
        {"diagonal, pcurve reversed",
         [&] {
             pcurve pc(bs2Through(1, {{0.1, 0.2}, {0.8, 0.9}}, line), QELresfit, srf);
             pc.negate();
             return pc;
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const pcurve pc = c.make();
        const QELinterval range = pc.param_range();
        // The surface's own line serves an iso pcurve only: one whose
        // weights vary runs along it at a speed of its own.
        bs3_curve iso = trimIsoCurveOfPCurve(pc);
        EXPECT_EQ(iso != nullptr, c.iso);
        if (iso)
            bs3_curve_delete(iso);
        std::unique_ptr<intcurve> lifted(trimSpaceCurveFromPCurve(pc));
        ASSERT_TRUE(lifted && lifted->cur_present());
        EXPECT_NEAR(lifted->param_range().start_pt(), range.start_pt(), 1e-12);
        EXPECT_NEAR(lifted->param_range().end_pt(), range.end_pt(), 1e-12);
        // The intcurve keeps the pcurve, running the same way.
        const pcurve kept(*lifted, 1);
        for (int i = 0; i <= 10; ++i) {
            const double t = range.start_pt() + range.length() * i / 10.0;
            const QELposition want = srf.eval_position(pc.eval_position(t));
            EXPECT_LT(distance(lifted->eval_position(t), want), QELresabs) << t;
            EXPECT_LT(distance(srf.eval_position(kept.eval_position(t)), want), QELresabs) << t;
        }
    }
}

TEST_F(TrimSegment, APcurveWithAShortSpanLiftsOverItsWholeRange)
{
    // A span whose image is shorter than QELresabs goes; its neighbour takes
    // its parameters, so the space curve still ends where the pcurve does.
    TestModel model = TestModel::nurbsSheet(5, 5);
    SegmentBench bench(model, 0);
    const surface& srf = reinterpret_cast<SURFACE*>(bench.context()->getSurface())->equation();
    const double tiny = 1e-9;
    // A polyline on a sphere with one span along the north pole (its image a
    // point, nothing to interpolate) is covered the same way.
    const sphere ball(QELposition(0, 0, 0), 2.0);
    const double pole = M_PI / 2;
    struct Case {
        const char* what;
        std::vector<QELpar_pos> uv;
        const surface* on = nullptr; // the sheet when null
    };
    // Two short spans in a row: the first has no long neighbour and stays,
    // the second goes to the long one after it.
    const std::vector<Case> cases{
        {"along the pole first", {{pole, 0.0}, {pole, 1.0}, {0.2, 1.0}}, &ball},
        {"along the pole last", {{0.2, 0.0}, {pole, 0.0}, {pole, 1.0}}, &ball},
        {"along the pole between", {{0.2, 0.0}, {pole, 0.0}, {pole, 1.0}, {0.2, 1.0}}, &ball},
        {"short span first", {{0.1, 0.1}, {0.1 + tiny, 0.1}, {0.8, 0.7}}},
        {"short span last", {{0.1, 0.1}, {0.8, 0.7}, {0.8 + tiny, 0.7}}},
        {"two short spans first", {{0.1, 0.1}, {0.1 + tiny, 0.1}, {0.1 + tiny, 0.1 + tiny}, {0.8, 0.7}}},
        {"two short spans last", {{0.1, 0.1}, {0.8, 0.7}, {0.8 + tiny, 0.7}, {0.8 + tiny, 0.7 + tiny}}},
        // A few resabs long: a piece of its own, whose end is the pcurve's.
        {"a span just longer than resabs last", {{0.1, 0.1}, {0.8, 0.7}, {0.8 + 5e3 * tiny, 0.7}}},
        // Every span shorter than resabs, the whole a little longer: no long
        // piece takes them over, so they stay, joined, and the curve is theirs.
        {"every span short", {{0.1, 0.1}, {0.1 + 400 * tiny, 0.1 + 300 * tiny}, {0.1 + 800 * tiny, 0.1 + 600 * tiny},
                              {0.1 + 1200 * tiny, 0.1 + 900 * tiny}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<double> knots{0};
        for (std::size_t i = 0; i < c.uv.size(); ++i)
            knots.push_back(static_cast<double>(i));
        const double end = static_cast<double>(c.uv.size() - 1);
        knots.push_back(end);
        const surface& on = c.on ? *c.on : srf;
        const pcurve pc(bs2Through(1, c.uv, knots), QELresfit, on);
        std::unique_ptr<intcurve> lifted(trimSpaceCurveFromPCurve(pc));
        ASSERT_TRUE(lifted && lifted->cur_present());
        EXPECT_NEAR(lifted->param_range().start_pt(), 0.0, 1e-12);
        EXPECT_NEAR(lifted->param_range().end_pt(), end, 1e-12);
        for (double t : {0.0, end})
            EXPECT_LT(distance(lifted->eval_position(t), on.eval_position(pc.eval_position(t))), QELresabs) << t;
    }
}

TEST_F(TrimSegment, AnIsoLineAcrossTheSeamIsTheSurfacesOwnLine)
{
    // Round a cylinder from before its seam to past it, either way round: the
    // exact arc (not the rest of the circle), from where the pcurve starts to
    // where it ends. The circle runs in its own parameter: the arc holds the
    // pcurve's points, not at the same parameters.
    TestModel model = TestModel::cylinder(1.5, 2);
    SegmentBench bench(model, 0);
    const surface& srf = reinterpret_cast<SURFACE*>(bench.context()->getSurface())->equation();
    const bool roundU = srf.periodic_u();
    ASSERT_TRUE(roundU || srf.periodic_v());
    const QELinterval round = roundU ? srf.param_range_u() : srf.param_range_v();
    const QELinterval along = roundU ? srf.param_range_v() : srf.param_range_u();
    const double height = along.finite() ? along.mid_pt() : 0.5;
    const double from = round.end_pt() - 1.0, to = round.end_pt() + 1.5;
    for (bool backwards : {false, true}) {
        SCOPED_TRACE(backwards ? "backwards" : "forwards");
        const double a = backwards ? to : from, b = backwards ? from : to;
        const QELpar_pos p0 = roundU ? QELpar_pos(a, height) : QELpar_pos(height, a);
        const QELpar_pos p1 = roundU ? QELpar_pos(b, height) : QELpar_pos(height, b);
        const pcurve pc(bs2Through(1, {p0, p1}, {0, 0, 1, 1}), QELresfit, srf);
        bs3_curve iso = trimIsoCurveOfPCurve(pc);
        ASSERT_NE(iso, nullptr);
        for (double t : {0.0, 1.0})
            EXPECT_LT(distance(bs3_curve_position(t, iso), srf.eval_position(pc.eval_position(t))), 1e-9) << t;
        for (int i = 1; i < 10; ++i) {
            const QELposition want = srf.eval_position(pc.eval_position(i / 10.0));
            EXPECT_LT(distance(bs3_curve_position(bs3_curve_invert(want, 1e-12, iso), iso), want), 1e-9) << i;
        }
        EXPECT_NEAR(bs3_curve_length(iso), 1.5 * 2.5, 1e-6);
        bs3_curve_delete(iso);
    }
}

TEST_F(TrimSegment, PcurveEndsNearEitherPoleLandOnItAndKeepTheirWeights)
{
    const sphere ball(QELposition(0, 0, 0), 2.0);
    const double pole = M_PI / 2;
    const QELposition pts[3] = {QELposition(pole - 0.5 * QELresabs, 0.3, 0), QELposition(0.2, 0.3, 0),
                                QELposition(-pole + 0.5 * QELresabs, 0.3, 0)};
    const double weights[3] = {2.0, 1.0, 3.0};
    const double knots[6] = {0, 0, 0, 1, 1, 1};
    bs2_curve bs2 = bs2_curve_from_ctrlpts(2, 1, 0, 0, 3, pts, weights, QELresabs, 6, knots, 1e-10);
    snapPCurveEndsToPoles(bs2, ball);
    int dim = 0, degree = 0, rational = 0, n = 0, nk = 0;
    QELposition* ctrl = nullptr;
    double* w = nullptr;
    double* k = nullptr;
    bs2_curve_to_array(bs2, dim, degree, rational, n, ctrl, w, nk, k);
    ASSERT_EQ(n, 3);
    EXPECT_EQ(ctrl[0].x(), pole);
    EXPECT_EQ(ctrl[2].x(), -pole);
    EXPECT_EQ(ctrl[1].x(), 0.2);
    ASSERT_TRUE(rational && w);
    EXPECT_EQ(w[0], 2.0);
    EXPECT_EQ(w[2], 3.0);
    delete[] ctrl;
    delete[] w;
    delete[] k;
    bs2_curve_delete(bs2);
}

TEST_F(TrimSegment, APcurveShortOfEitherEndOfItsDomainIsLeftOut)
{
    // The pcurve reaches the points of the coedge but over half its domain:
    // read over the domain it would run on past the edge. The 3-D curve
    // carries the segment alone.
    for (bool shortAtHigh : {true, false}) {
        SCOPED_TRACE(shortAtHigh ? "short at the high end" : "short at the low end");
        TestModel model = TestModel::planeFace();
        const int c = 0;
        qelx_test::TestNurbs& n = model.pcurves[model.coedges[c].pcurve].nurbs;
        const double low = model.coedges[c].domain[0], high = model.coedges[c].domain[1];
        ASSERT_EQ(n.knots.size(), 2u);
        n.knots = shortAtHigh ? std::vector<double>{low, 0.5 * (low + high)} : std::vector<double>{0.5 * (low + high), high};
        SegmentBench bench(model, 0);
        Ve_JordonCntlHandle s = bench.seed(c);
        EXPECT_EQ(s->pcur(), nullptr);
        ASSERT_NE(s->cur(), nullptr);
        EXPECT_LT(s->start(true).Distance(sourcePoint(model, c, false)), 1e-9);
        EXPECT_LT(s->end(true).Distance(sourcePoint(model, c, true)), 1e-9);
    }
}

TEST_F(TrimSegment, APeriodicPcurveIsReadAPeriodPastItsOwnRange)
{
    // The coedge's domain lies a whole period past the range of its periodic
    // pcurve, a closed polyline over [0, 4] whose first side is the coedge's
    // and whose last runs on into it (straight through its seam): read there
    // it runs along the coedge, so the segment keeps it, and the segment's
    // ends lie on the source's.
    TestModel model = TestModel::planeFace();
    const int c = 0;
    model.reparametriseCurve(model.edges[model.coedges[c].edge].curve, 1.0, -4.0);
    ASSERT_NEAR(model.coedges[c].domain[0], 4.0, 1e-12);
    ASSERT_NEAR(model.coedges[c].domain[1], 5.0, 1e-12);
    qelx_test::TestPCurve& p = model.pcurves[model.coedges[c].pcurve];
    const QELXPoint2D from = model.pcurvePoint(model.coedges[c].pcurve, 4.0), to = model.pcurvePoint(model.coedges[c].pcurve, 5.0);
    ASSERT_LT(from.Distance(QELXPoint2D(0, 0)), 1e-12);
    ASSERT_LT(to.Distance(QELXPoint2D(1, 0)), 1e-12);
    p.scale = 1.0;
    p.offset = 0.0;
    p.nurbs = qelx_test::TestNurbs();
    p.nurbs.degree = 1;
    p.nurbs.count = 5;
    p.nurbs.ctrl = {0, 0, 1, 0, 1, 1, -1, 0, 0, 0};
    p.nurbs.knots = {0, 1, 2, 3, 4};
    p.nurbs.mults = {2, 1, 1, 1, 2};
    p.nurbs.form = 2;
    ASSERT_LT(model.pcurvePoint(model.coedges[c].pcurve, 4.5).Distance(QELXPoint2D(0.5, 0)), 1e-12);
    SegmentBench bench(model, 0);
    Ve_JordonCntlHandle s = bench.seed(c);
    EXPECT_NE(s->pcur(), nullptr);
    ASSERT_NE(s->cur(), nullptr);
    EXPECT_LT(s->start(true).Distance(sourcePoint(model, c, false)), 1e-9);
    EXPECT_LT(s->end(true).Distance(sourcePoint(model, c, true)), 1e-9);
    EXPECT_LT(s->start(false).Distance(sourcePoint(model, c, false)), 1e-9);
    EXPECT_LT(s->end(false).Distance(sourcePoint(model, c, true)), 1e-9);
}

TEST_F(TrimSegment, APcurveFollowsItsCurveIntoTheCurvesOwnParameter)
{
    // The cylinder's top circle handed in a parameter that is not its angle
    // (scaled, shifted, and reversed): the segment runs in the curve's
    // parameter, and its pcurve is carried with it, slope and all.
    for (double scale : {0.5, -2.0}) {
        SCOPED_TRACE(scale);
        TestModel model = TestModel::cylinder(1.5, 2);
        const int face = 2;
        const int coedge = model.loops[model.faces[face].loops[0]].coedges[0];
        model.reparametriseCurve(model.edges[model.coedges[coedge].edge].curve, scale, 0.3);
        ASSERT_LT(model.maxGap(), 1e-9);
        SegmentBench bench(model, face);
        Ve_JordonCntlHandle s = bench.seed(coedge);
        ASSERT_TRUE(s->pcur() && s->cur());
        for (double f : {0.0, 0.25, 0.5, 0.75, 1.0}) {
            const double t = s->getDomain().locate(f);
            const QELposition onCurve = reinterpret_cast<CURVE*>(s->cur())->equation().eval_position(t);
            const QELXPoint3D byCurve(onCurve.x(), onCurve.y(), onCurve.z());
            const PCURVE* pc = reinterpret_cast<PCURVE*>(s->pcur());
            const QELposition byPCurve = reinterpret_cast<SURFACE*>(bench.context()->getSurface())
                                             ->equation()
                                             .eval_position(pc->def().eval_position(t));
            EXPECT_LT(byCurve.Distance(QELXPoint3D(byPCurve.x(), byPCurve.y(), byPCurve.z())), 1e-9) << f;
        }
        EXPECT_LT(s->start(true).Distance(sourcePoint(bench.model(), coedge, false)), 1e-9);
    }
}

// A coedge whose edge has no 3-D curve seeds a segment of its pcurve alone:
// read along its curve or through its pcurve, it gives the same points, the
// source's at its domain's ends, on every side of the face.
TEST_F(TrimSegment, ASegmentWithoutACurveReadsTheSameEitherWay)
{
    const TestModel original = TestModel::planeFace();
    TestModel model = original;
    model.faces[0].category = 0;
    for (const qelx_test::TestCoedge& c : original.coedges)
        model.dropCurve(c.edge);
    SegmentBench bench(model, 0);
    for (int c = 0; c < static_cast<int>(original.coedges.size()); ++c) {
        SCOPED_TRACE("coedge " + std::to_string(c));
        Ve_JordonCntlHandle s = bench.seed(c);
        ASSERT_NE(s->pcur(), nullptr);
        ASSERT_EQ(s->cur(), nullptr);
        EXPECT_LT(s->start(false).Distance(sourcePoint(original, c, false)), 1e-9);
        EXPECT_LT(s->end(false).Distance(sourcePoint(original, c, true)), 1e-9);
        EXPECT_LT(s->mid(false).Distance(s->mid(true)), 1e-12);
        EXPECT_GT(s->mid(false).Distance(s->start(false)), 1e-3);
    }
}

TEST_F(TrimSegment, ACurveLiftedFromALongerPcurveRunsOverItsSegmentOnly)
{
    // Pcurves preferred and no 3-D curve: the pcurve reaches a unit past
    // both ends of its coedge's domain, along the same line; the curve made
    // from it bounds the segment and no more.
    TestModel model = TestModel::planeFace();
    const TestModel original = model;
    model.faces[0].category = 0;
    const int c = 0;
    model.dropCurve(model.coedges[c].edge);
    qelx_test::TestNurbs& n = model.pcurves[model.coedges[c].pcurve].nurbs;
    ASSERT_EQ(n.ctrl.size(), 4u);
    const double t0 = n.knots.front(), t1 = n.knots.back();
    const double du = (n.ctrl[2] - n.ctrl[0]) / (t1 - t0), dv = (n.ctrl[3] - n.ctrl[1]) / (t1 - t0);
    n.ctrl = {n.ctrl[0] - du, n.ctrl[1] - dv, n.ctrl[2] + du, n.ctrl[3] + dv};
    n.knots = {t0 - 1.0, t1 + 1.0};
    SegmentBench bench(model, 0);
    Ve_JordonCntlHandle s = bench.seed(c);
    ASSERT_NE(s->pcur(), nullptr);
    ASSERT_EQ(s->cur(), nullptr);
    const std::vector<Ve_JordonCntlHandle> pieces = bench.repair(s);
    ASSERT_EQ(pieces.size(), 1u);
    ASSERT_NE(s->cur(), nullptr);
    const QELinterval range = reinterpret_cast<CURVE*>(s->cur())->equation().param_range();
    EXPECT_NEAR(range.start_pt(), s->getDomain().low(), 1e-12);
    EXPECT_NEAR(range.end_pt(), s->getDomain().high(), 1e-12);
    EXPECT_LT(s->start(false).Distance(sourcePoint(original, c, false)), 1e-9);
    EXPECT_LT(s->end(false).Distance(sourcePoint(original, c, true)), 1e-9);
}

TEST_F(TrimSegment, AClosedCurveWithCornersIsNotCutButStartsAtOne)
{
    // A closed periodic polyline round the unit square, starting halfway
    // along its bottom side: curves preferred, it stays one segment over the
    // whole square, from one of its corners (where its edge's vertex goes).
    PlaneContext p(false);
    bs3_curve square = polyline3({QELposition(0.5, 0, 0), QELposition(1, 0, 0), QELposition(1, 1, 0),
                                  QELposition(0, 1, 0), QELposition(0, 0, 0), QELposition(0.5, 0, 0)});
    bs3_curve_set_periodic(square);
    Ve_JordonCntlHandle s(new Ve_JordonCntl(&p.context));
    s->setCur(reinterpret_cast<Ve_CurveTag*>(make_curve(intcurve(square))));
    s->setDomain(Gk_Domain(0.0, 5.0));
    s->setOwner(true);
    ASSERT_TRUE(reinterpret_cast<CURVE*>(s->cur())->equation().periodic());
    Ve_JordonDiscontinuity split(s, kTrimTangentBreakCosine);
    EXPECT_EQ(split.crvDiscontinuities().Count(), 4);
    const QELXDynamicArray<Ve_JordonCntlHandle> pieces = split.splitNonG1();
    ASSERT_EQ(pieces.Count(), 1);
    EXPECT_NEAR(s->getDomain().length(), 5.0, 1e-12);
    const QELXPoint3D from = s->start(false);
    EXPECT_LT(from.Distance(s->end(false)), 1e-9);
    double nearest = 1e300;
    for (const QELXPoint3D& corner :
         {QELXPoint3D(1, 0, 0), QELXPoint3D(1, 1, 0), QELXPoint3D(0, 1, 0), QELXPoint3D(0, 0, 0)})
        nearest = std::min(nearest, from.Distance(corner));
    EXPECT_LT(nearest, 1e-9);
}

TEST_F(TrimSegment, APcurveCollapsedToAPointNeverWinsOverItsCurve)
{
    // Pcurves preferred, and the coedge's pcurve disagrees with its curve by
    // having shrunk to the start point: the curve stays (nothing could be
    // lifted from a point), running between the source's vertices.
    for (int category : {0, 2}) {
        SCOPED_TRACE(category == 0 ? "pcurves preferred" : "curves preferred");
        TestModel model = TestModel::planeFace();
        model.faces[0].category = category;
        const int c = 0;
        qelx_test::TestNurbs& n = model.pcurves[model.coedges[c].pcurve].nurbs;
        ASSERT_EQ(n.ctrl.size(), 4u);
        n.ctrl[2] = n.ctrl[0];
        n.ctrl[3] = n.ctrl[1];
        SegmentBench bench(model, 0);
        Ve_JordonCntlHandle s = bench.seed(c);
        ASSERT_TRUE(s->pcur() && s->cur());
        const std::vector<Ve_JordonCntlHandle> pieces = bench.repair(s);
        ASSERT_EQ(pieces.size(), 1u);
        ASSERT_NE(s->cur(), nullptr);
        EXPECT_LT(s->start(false).Distance(sourcePoint(model, c, false)), 1e-9);
        EXPECT_LT(s->end(false).Distance(sourcePoint(model, c, true)), 1e-9);
        // Whatever the segment keeps, the face made of it is sound.
        trimtest::TrimSource trim(model);
        FACE* face = trim.build(0);
        ASSERT_NE(face, nullptr);
        BODY* sheet = trim.sheet(face);
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(importtest::findingsOf(sheet), std::vector<std::string>{});
        EXPECT_NEAR(trimtest::areaOf(sheet), 1.0, 1e-6);
    }
}

TEST_F(TrimSegment, AKnotWhereACurvedPcurveJumpsOrChangesSpeedIsACutAndASmoothOneIsNot)
{
    // Quadratic pcurves over [0, 2] with their interior knot at 1. A jump
    // whose sides run on alike, and a speed that changes by less than the
    // kernel's own discontinuity test sees at that speed (the direction
    // kept), are cuts all the same; a knot the curve passes smoothly is not.
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("SplitAtG1Disc"));
    struct Case {
        const char* what;
        std::vector<QELpar_pos> uv;
        std::vector<double> knots;
        bool cut;
        bool jumps = false;
    };
    const std::vector<Case> cases{
        {"a jump at a knot of full multiplicity",
         {{0, 0}, {0.5, 0}, {1, 0}, {1, 0.1}, {1.5, 0.1}, {2, 0.1}},
         {0, 0, 0, 1, 1, 1, 2, 2, 2},
         true,
         true},
        {"the speed changes by a part in two million",
         {{0, 0}, {500, 0}, {1000, 0}, {1500.00025, 0}, {2000.0005, 0}},
         {0, 0, 0, 1, 1, 2, 2, 2},
         true},
        // Seen twice, as a turn and as a change of speed at the knot: one cut.
        {"a corner at a double knot, the speed changing there too",
         {{0, 0}, {0.5, 0}, {1, 0}, {1, 0.3}, {1, 0.6}},
         {0, 0, 0, 1, 1, 2, 2, 2},
         true},
        {"a double knot the curve runs through at one speed",
         {{0, 0}, {0.5, 0}, {1, 0}, {1.5, 0}, {2, 0.5}},
         {0, 0, 0, 1, 1, 2, 2, 2},
         false},
        {"a single knot", {{0, 0}, {0.5, 0}, {1.5, 0.5}, {2, 1}}, {0, 0, 0, 1, 2, 2, 2}, false},
    };
    for (const Case& c : cases)
        for (bool reversed : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (reversed ? ", reversed" : ""));
            PlaneContext p(true);
            Ve_JordonCntlHandle s = pcurveSegment(p, bs2Through(2, c.uv, c.knots), reversed);
            Ve_JordonDiscontinuity split(s, kTrimTangentBreakCosine);
            const QELXDynamicArray<double> breaks = split.pcrvDiscontinuities();
            ASSERT_EQ(breaks.Count(), c.cut ? 1 : 0);
            if (c.cut) {
                EXPECT_NEAR(breaks[0], reversed ? -1.0 : 1.0, 1e-12);
            }
            // The kernel cannot cut a B-spline where it jumps: only the
            // speed's cut is made here.
            if (c.jumps)
                continue;
            QELXDynamicArray<Ve_JordonCntlHandle> pieces = split.splitNonG1();
            ASSERT_EQ(pieces.Count(), c.cut ? 2 : 1);
            for (int i = 0; i + 1 < pieces.Count(); ++i)
                pieces[i]->setOwner(true);
        }
}

TEST_F(TrimSegment, OnlyPcurveEndsWithinResabsOfAPoleSnapOntoIt)
{
    // Either end of a pcurve on a sphere, near either pole (the ends of u) or
    // near the end of v (a seam, no pole): only an end within QELresabs of a
    // pole moves, onto it exactly; every other end stays where it was.
    const sphere ball(QELposition(0, 0, 0), 2.0);
    const QELinterval us = ball.param_range().u_range(), vs = ball.param_range().v_range();
    ASSERT_TRUE(us.finite() && vs.finite());
    ASSERT_TRUE(ball.singular_u(us.start_pt()) && ball.singular_u(us.end_pt()));
    ASSERT_FALSE(ball.singular_v(vs.end_pt()));
    struct Case {
        const char* what;
        QELpar_pos end;
        QELpar_pos want;
    };
    const double near = 0.5 * QELresabs, far = 20.0 * QELresabs, v = vs.mid_pt() + 0.3;
    const std::vector<Case> cases{
        {"near the high pole", {us.end_pt() - near, v}, {us.end_pt(), v}},
        {"near the low pole", {us.start_pt() + near, v}, {us.start_pt(), v}},
        {"farther from the high pole", {us.end_pt() - far, v}, {us.end_pt() - far, v}},
        {"farther from the low pole", {us.start_pt() + far, v}, {us.start_pt() + far, v}},
        {"near the end of v", {0.1, vs.end_pt() - near}, {0.1, vs.end_pt() - near}},
        {"near the start of v", {0.1, vs.start_pt() + near}, {0.1, vs.start_pt() + near}},
    };
    for (const Case& c : cases)
        for (bool atStart : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (atStart ? ", first point" : ", last point"));
            const QELpar_pos middle(0.2, v);
            std::vector<QELpar_pos> uv{c.end, middle, QELpar_pos(-0.1, v)};
            if (!atStart)
                std::reverse(uv.begin(), uv.end());
            bs2_curve bs2 = bs2Through(1, uv, {0, 0, 1, 2, 2});
            snapPCurveEndsToPoles(bs2, ball);
            QELpar_pos got;
            bs2_curve_eval(atStart ? 0.0 : 2.0, bs2, got);
            EXPECT_EQ(got.u, c.want.u);
            EXPECT_EQ(got.v, c.want.v);
            bs2_curve_delete(bs2);
        }
}

TEST_F(TrimSegment, PcurveEndsWithinResabsOfAPoleInVSnapOntoItToo)
{
    // A bilinear B-spline patch whose row at v = 1 is drawn to one point (a
    // triangle): the pole lies at the high end of v, none at v = 0 or at
    // either end of u. An end within QELresabs of it moves onto it; one as
    // near the low end of v stays.
    const QELposition apex(0.5, 1.0, 0.0);
    const QELposition pts[4] = {QELposition(0, 0, 0), apex, QELposition(1, 0, 0), apex};
    const double knots[4] = {0, 0, 1, 1};
    bs3_surface bs = bs3_surface_from_ctrlpts(1, 0, 0, 0, 2, 1, 0, 0, 0, 2, pts, nullptr, QELresabs, 4, knots, 4, knots,
                                              QELresnor);
    const spline patch(bs);
    bs3_surface_delete(bs);
    ASSERT_TRUE(patch.singular_v(1.0));
    ASSERT_FALSE(patch.singular_v(0.0) || patch.singular_u(0.0) || patch.singular_u(1.0));
    const double near = 0.5 * QELresabs;
    struct Case {
        const char* what;
        QELpar_pos end;
        QELpar_pos want;
    };
    const std::vector<Case> cases{
        {"near the pole at the high end of v", {0.3, 1.0 - near}, {0.3, 1.0}},
        {"near the low end of v", {0.3, near}, {0.3, near}},
        {"near the high end of u", {1.0 - near, 0.4}, {1.0 - near, 0.4}},
    };
    for (const Case& c : cases)
        for (bool atStart : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (atStart ? ", first point" : ", last point"));
            std::vector<QELpar_pos> uv{c.end, QELpar_pos(0.5, 0.5), QELpar_pos(0.4, 0.2)};
            if (!atStart)
                std::reverse(uv.begin(), uv.end());
            bs2_curve bs2 = bs2Through(1, uv, {0, 0, 1, 2, 2});
            snapPCurveEndsToPoles(bs2, patch);
            QELpar_pos got;
            bs2_curve_eval(atStart ? 0.0 : 2.0, bs2, got);
            EXPECT_EQ(got.u, c.want.u);
            EXPECT_EQ(got.v, c.want.v);
            bs2_curve_delete(bs2);
        }
}

TEST_F(TrimSegment, ACurveThatMeetsItsPcurveOnlyAtItsEndsDisagreesWithIt)
{
    // The edge's line bent gently at its middle (no corner to cut at): curve
    // and pcurve share their ends and nothing between. The preferred one
    // stays; the other goes (a curve comes back from the pcurve, straight).
    for (int category : {0, 2}) {
        SCOPED_TRACE(category == 0 ? "pcurves preferred" : "curves preferred");
        TestModel model = TestModel::planeFace();
        const TestModel original = model;
        model.faces[0].category = category;
        model.kinkCurve(model.edges[model.coedges[0].edge].curve, 0.05);
        SegmentBench bench(model, 0);
        Ve_JordonCntlHandle s = bench.seed(0);
        ASSERT_TRUE(s->pcur() && s->cur());
        const std::vector<Ve_JordonCntlHandle> pieces = bench.repair(s);
        ASSERT_EQ(pieces.size(), 1u);
        EXPECT_EQ(s->pcur() != nullptr, category == 0);
        ASSERT_NE(s->cur(), nullptr);
        const QELXPoint3D a = sourcePoint(original, 0, false), b = sourcePoint(original, 0, true);
        const QELXPoint3D straight = a + (b - a) * 0.5;
        if (category == 0)
            EXPECT_LT(s->mid(false).Distance(straight), 1e-9);
        else
            EXPECT_GT(s->mid(false).Distance(straight), 0.01);
    }
}

TEST_F(TrimSegment, APcurveStartingOnACreaseLiftsFromTheSideItRunsInto)
{
    // Two flat bilinear patches meeting at u = 0.5 at a right angle (the
    // second rises in z), or the same patches with u and v swapped (the
    // crease at v = 0.5). A pcurve from the crease into either patch, or
    // from either patch up to the crease, is a straight line on the surface:
    // the curve lifted from it lies on the surface all along, the crease's
    // end read from the patch the pcurve runs in.
    for (const bool creaseInV : {false, true}) {
        TestModel m;
        int shell = -1;
        m.addSheetBody(shell);
        const int patches =
            creaseInV ? m.addNurbsSurface(1, 1, 2, 3, {0, 0, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0, 1, 1, 0, 1, 1, 1},
                                          {0.0, 1.0}, {2, 2}, {0.0, 0.5, 1.0}, {2, 1, 2})
                      : m.addNurbsSurface(1, 1, 3, 2, {0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 1, 0, 1, 1, 1, 1},
                                          {0.0, 0.5, 1.0}, {2, 1, 2}, {0.0, 1.0}, {2, 2});
        const int face = m.addFace(shell, patches);
        SegmentBench bench(m, face);
        const surface& srf = reinterpret_cast<SURFACE*>(bench.context()->getSurface())->equation();
        int nu = 0, nv = 0;
        srf.all_discontinuities_u(nu, 1);
        srf.all_discontinuities_v(nv, 1);
        ASSERT_EQ(nu, creaseInV ? 0 : 1);
        ASSERT_EQ(nv, creaseInV ? 1 : 0);
        // (across the crease, along it), the crease at across = 0.5.
        const auto at = [&](double across, double along) {
            return creaseInV ? QELpar_pos(along, across) : QELpar_pos(across, along);
        };
        struct Case {
            const char* what;
            double fromAcross, fromAlong, toAcross, toAlong;
        };
        for (const Case& c : {Case{"from the crease up the second patch", 0.5, 0.1, 0.9, 0.8},
                              Case{"from the crease across the first patch", 0.5, 0.1, 0.1, 0.8},
                              Case{"up to the crease from the second patch", 0.9, 0.8, 0.5, 0.1},
                              Case{"up to the crease from the first patch", 0.1, 0.8, 0.5, 0.1}}) {
            SCOPED_TRACE(std::string(c.what) + (creaseInV ? ", crease in v" : ", crease in u"));
            const pcurve pc(bs2Through(1, {at(c.fromAcross, c.fromAlong), at(c.toAcross, c.toAlong)}, {0, 0, 1, 1}),
                            QELresfit, srf);
            std::unique_ptr<intcurve> lifted(trimSpaceCurveFromPCurve(pc));
            ASSERT_TRUE(lifted && lifted->cur_present());
            for (int i = 0; i <= 200; ++i) {
                const double t = i / 200.0;
                EXPECT_LT(distance(lifted->eval_position(t), srf.eval_position(pc.eval_position(t))), QELresabs)
                    << t;
            }
        }
    }
}

namespace {

// The largest distance from the lifted curve to the pcurve's points on the
// surface, and back from the curve's own points to a fine sampling of them:
// an arc that runs round the other way, or stops short, is far either way.
double liftGap(const curve& lifted, const pcurve& pc, const surface& srf)
{
    const QELinterval range = pc.param_range();
    std::vector<QELposition> image;
    for (int i = 0; i <= 400; ++i)
        image.push_back(srf.eval_position(pc.eval_position(range.start_pt() + range.length() * i / 400.0)));
    double worst = 0.0;
    for (std::size_t i = 0; i < image.size(); i += 20) {
        QELposition foot;
        lifted.point_perp(image[i], foot);
        worst = std::max(worst, distance(foot, image[i]));
    }
    const QELinterval own = lifted.param_range();
    for (int i = 0; i <= 20; ++i) {
        const QELposition at = lifted.eval_position(own.start_pt() + own.length() * i / 20.0);
        double nearest = INFINITY;
        for (std::size_t k = 0; k + 1 < image.size(); ++k) {
            const QELvector along = image[k + 1] - image[k];
            const double l2 = along % along;
            const double f = l2 > 0.0 ? std::clamp(((at - image[k]) % along) / l2, 0.0, 1.0) : 0.0;
            nearest = std::min(nearest, distance(at, image[k] + f * along));
        }
        worst = std::max(worst, nearest);
    }
    return worst;
}

} // namespace

TEST_F(TrimSegment, IsoPcurvesRoundASeamOrBackOnThemselvesLiftOntoTheirOwnStretch)
{
    // Iso pcurves the surface's own line may serve, or may not: a whole turn
    // started away from the seam, either way round; a pcurve whose control
    // points run on past its start before turning back, round a cylinder and
    // along a sphere's meridian. Whatever serves runs from the pcurve's start
    // to its end over the pcurve's points and no others.
    TestModel model = TestModel::cylinder(1.5, 2);
    SegmentBench bench(model, 0);
    const surface& cyl = reinterpret_cast<SURFACE*>(bench.context()->getSurface())->equation();
    const sphere ball(QELposition(0, 0, 0), 2.0);
    const bool roundU = cyl.periodic_u();
    const QELinterval round = roundU ? cyl.param_range_u() : cyl.param_range_v();
    const QELinterval along = roundU ? cyl.param_range_v() : cyl.param_range_u();
    const double height = along.finite() ? along.mid_pt() : 0.5;
    const auto onCylinder = [&](std::vector<double> rounds) {
        std::vector<QELpar_pos> uv;
        for (double w : rounds)
            uv.push_back(roundU ? QELpar_pos(w, height) : QELpar_pos(height, w));
        return uv;
    };
    const double w0 = round.start_pt() + 1.0, period = round.length();
    struct Case {
        const char* what;
        const surface& srf;
        std::vector<QELpar_pos> uv;
        bool reversed = false;
    };
    const std::vector<Case> cases{
        {"whole turn from inside the period", cyl, onCylinder({w0, w0 + period})},
        {"whole turn backwards", cyl, onCylinder({w0 + period, w0})},
        {"whole turn, pcurve reversed", cyl, onCylinder({w0, w0 + period}), true},
        {"round a cylinder, turning back", cyl, onCylinder({w0, w0 + 0.3, w0 - 0.8})},
        {"round a cylinder, turning back, reversed", cyl, onCylinder({w0, w0 + 0.3, w0 - 0.8}), true},
        {"along a meridian, turning back", ball, {{0.5, 0.3}, {0.7, 0.3}, {-0.3, 0.3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<double> knots = c.uv.size() == 2 ? std::vector<double>{0, 0, 1, 1}
                                                           : std::vector<double>{0, 0, 0, 1, 1, 1};
        pcurve pc(bs2Through(static_cast<int>(c.uv.size()) - 1, c.uv, knots), QELresfit, c.srf);
        if (c.reversed)
            pc.negate();
        const QELinterval range = pc.param_range();
        if (bs3_curve iso = trimIsoCurveOfPCurve(pc)) {
            const intcurve line(iso);
            for (double t : {range.start_pt(), range.end_pt()})
                EXPECT_LT(distance(bs3_curve_position(t, iso), c.srf.eval_position(pc.eval_position(t))), 1e-9) << t;
            EXPECT_LT(liftGap(line, pc, c.srf), 1e-4) << "the surface's line";
        }
        std::unique_ptr<intcurve> lifted(trimSpaceCurveFromPCurve(pc));
        ASSERT_TRUE(lifted && lifted->cur_present());
        for (double t : {range.start_pt(), range.end_pt()})
            EXPECT_LT(distance(lifted->eval_position(t), c.srf.eval_position(pc.eval_position(t))), QELresabs) << t;
        EXPECT_LT(liftGap(*lifted, pc, c.srf), 1e-4) << "the lifted curve";
    }
}

TEST_F(TrimSegment, AnIsoPcurveAtUnevenSpeedLiftsOntoACurveRunningWithIt)
{
    // An iso pcurve whose control points lie unevenly along its line (the
    // first two nearly one, say, as a reader leaves them) runs along the
    // surface's line at a speed of its own: the lifted curve is at each
    // parameter where the pcurve puts it, on a spline sheet, round a cylinder
    // (across its seam too) and along a sphere's meridians and parallels,
    // either way, reversed or not, of degree two and three.
    TestModel sheet = TestModel::nurbsSheet(5, 5);
    SegmentBench sheetBench(sheet, 0);
    const surface& nurbs = reinterpret_cast<SURFACE*>(sheetBench.context()->getSurface())->equation();
    TestModel tube = TestModel::cylinder(1.5, 2);
    SegmentBench tubeBench(tube, 0);
    const surface& cyl = reinterpret_cast<SURFACE*>(tubeBench.context()->getSurface())->equation();
    const sphere ball(QELposition(0, 0, 0), 2.0);
    const std::vector<const surface*> surfaces{&nurbs, &cyl, &ball};
    std::mt19937 random(20261209);
    int uneven = 0;
    for (int round = 0; round < 60; ++round) {
        const surface& srf = *surfaces[round % surfaces.size()];
        const bool alongV = random() % 2 == 0, reversed = random() % 3 == 0;
        const int degree = 2 + static_cast<int>(random() % 2);
        // Within the surface's box, a sphere's latitudes kept off its poles;
        // round a periodic direction the line may cross the seam.
        const auto inside = [&](const QELinterval& r, double at) {
            const QELinterval use = r.finite() ? r : QELinterval(-1.0, 1.0);
            const double margin = use.length() * 0.1;
            return use.start_pt() + margin + (use.length() - 2.0 * margin) * at;
        };
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        const QELinterval across = alongV ? srf.param_range_u() : srf.param_range_v();
        const QELinterval along = alongV ? srf.param_range_v() : srf.param_range_u();
        const double constant = inside(across, unit(random));
        const bool periodic = alongV ? srf.periodic_v() : srf.periodic_u();
        double from = inside(along, unit(random) * 0.3), to = inside(along, 0.7 + unit(random) * 0.3);
        if (periodic && round % 2 == 0)
            to = from + along.length() * (0.5 + 0.4 * unit(random));
        if (random() % 2 == 0)
            std::swap(from, to);
        // Control points along the line, the first spacing a tenth or a fiftieth of the rest.
        std::vector<double> steps{random() % 2 == 0 ? 0.02 : 0.1};
        for (int i = 1; i < degree; ++i)
            steps.push_back(0.5 + unit(random));
        double total = 0.0;
        for (double s : steps)
            total += s;
        std::vector<QELpar_pos> uv;
        double w = from;
        uv.push_back(alongV ? QELpar_pos(constant, w) : QELpar_pos(w, constant));
        for (double s : steps) {
            w += (to - from) * s / total;
            uv.push_back(alongV ? QELpar_pos(constant, w) : QELpar_pos(w, constant));
        }
        std::vector<double> knots(degree + 1, 0.0);
        knots.insert(knots.end(), degree + 1, 1.0);
        pcurve pc(bs2Through(degree, uv, knots), QELresfit, srf);
        if (reversed)
            pc.negate();
        SCOPED_TRACE(testing::Message() << "round " << round << (alongV ? " along v" : " along u") << " degree "
                                        << degree << (reversed ? " reversed" : "") << " from " << from << " to "
                                        << to);
        const QELinterval range = pc.param_range();
        std::unique_ptr<intcurve> lifted(trimSpaceCurveFromPCurve(pc));
        ASSERT_TRUE(lifted && lifted->cur_present());
        const pcurve kept(*lifted, 1);
        double worst = 0.0, speedSpread = 0.0;
        for (int i = 0; i <= 20; ++i) {
            const double t = range.start_pt() + range.length() * i / 20.0;
            const QELposition want = srf.eval_position(pc.eval_position(t));
            worst = std::max(worst, distance(lifted->eval_position(t), want));
            EXPECT_LT(distance(srf.eval_position(kept.eval_position(t)), want), QELresabs) << t;
            const QELpar_pos at = pc.eval_position(t);
            const double linear = from + (to - from) * (reversed ? 1.0 - i / 20.0 : i / 20.0);
            speedSpread = std::max(speedSpread, std::fabs((alongV ? at.v : at.u) - linear));
        }
        EXPECT_LT(worst, QELresabs);
        uneven += speedSpread > 1e-3;
    }
    // The rounds meet the uneven speeds they are about.
    EXPECT_GT(uneven, 40);
}

namespace {

// The kinds of pcurve a reader hands the lift without a 3-D curve.
enum class LiftKind { Iso, IsoFirstRepeated, IsoLastRepeated, RationalIso, AcrossTheSeam, EndsRepeated };

const char* liftKindName(LiftKind k)
{
    switch (k) {
    case LiftKind::Iso:
        return "iso";
    case LiftKind::IsoFirstRepeated:
        return "iso, first two control points one";
    case LiftKind::IsoLastRepeated:
        return "iso, last two control points one";
    case LiftKind::RationalIso:
        return "rational iso, weights varying";
    case LiftKind::AcrossTheSeam:
        return "iso across the seam";
    case LiftKind::EndsRepeated:
        return "diagonal, first and last control points repeated";
    }
    return "";
}

// A pcurve of the kind inside the surface's box (a tenth of each bounded
// direction kept clear, so a sphere's poles stay away), of degree one to
// three, its control points spaced unevenly; null when the surface has no
// seam for the kind to cross.
std::unique_ptr<pcurve> seededLiftPCurve(std::mt19937& random, const surface& srf, LiftKind kind)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto inside = [&](const QELinterval& r, double at) {
        const QELinterval use = r.finite() ? r : QELinterval(-1.0, 1.0);
        const double margin = use.length() * 0.1;
        return use.start_pt() + margin + (use.length() - 2.0 * margin) * at;
    };
    bool alongV = random() % 2 == 0;
    if (kind == LiftKind::AcrossTheSeam) {
        if (!srf.periodic_u() && !srf.periodic_v())
            return nullptr;
        alongV = srf.periodic_v();
    }
    const QELinterval across = alongV ? srf.param_range_u() : srf.param_range_v();
    const QELinterval along = alongV ? srf.param_range_v() : srf.param_range_u();
    const bool iso = kind != LiftKind::EndsRepeated;
    // Both ends repeated leave a step between them at degree three only.
    const int degree = kind == LiftKind::RationalIso    ? 2
                       : kind == LiftKind::Iso          ? 1 + static_cast<int>(random() % 3)
                       : kind == LiftKind::EndsRepeated ? 3
                                                        : 2 + static_cast<int>(random() % 2);
    double from = inside(along, unit(random) * 0.3), to = inside(along, 0.7 + unit(random) * 0.3);
    if (kind == LiftKind::AcrossTheSeam) {
        // From the last fifth of the period on past its end.
        from = along.start_pt() + along.length() * (0.8 + 0.15 * unit(random));
        to = from + along.length() * (0.3 + 0.5 * unit(random));
    }
    if (random() % 2 == 0)
        std::swap(from, to);
    const double c0 = inside(across, unit(random)), c1 = iso ? c0 : inside(across, unit(random));
    // Steps along the line, uneven; a repeated point is a step of nothing.
    std::vector<double> steps;
    for (int i = 0; i < degree; ++i)
        steps.push_back(0.3 + unit(random));
    if (kind == LiftKind::IsoFirstRepeated || kind == LiftKind::EndsRepeated)
        steps.front() = 0.0;
    if (kind == LiftKind::IsoLastRepeated || kind == LiftKind::EndsRepeated)
        steps.back() = 0.0;
    double total = 0.0;
    for (double s : steps)
        total += s;
    std::vector<QELpar_pos> uv;
    double f = 0.0;
    const auto at = [&](double w, double c) { return alongV ? QELpar_pos(c, w) : QELpar_pos(w, c); };
    uv.push_back(at(from, c0));
    for (double s : steps) {
        f += s / total;
        uv.push_back(at(from + (to - from) * f, c0 + (c1 - c0) * f));
    }
    std::vector<double> weights;
    if (kind == LiftKind::RationalIso)
        for (std::size_t i = 0; i < uv.size(); ++i)
            weights.push_back(i == 1 ? 2.0 + 2.0 * unit(random) : 1.0);
    std::vector<double> knots(degree + 1, 0.0);
    knots.insert(knots.end(), degree + 1, 1.0);
    auto pc = std::make_unique<pcurve>(bs2Through(degree, uv, knots, weights), QELresfit, srf);
    if (random() % 2 == 0)
        pc->negate();
    return pc;
}

// The surfaces iso pcurves lie on: a spline sheet, a cylinder, a sphere, a
// torus, a revolved spline (whose lines are exact) and offset splines, whose
// B-splines only approximate them; each in the frame given.
std::vector<std::pair<std::string, std::unique_ptr<surface>>> isoSurfaces(const surface& sheet, const surface& cyl,
                                                                          const QELtransf& frame)
{
    std::vector<std::pair<std::string, std::unique_ptr<surface>>> all;
    const auto add = [&](const char* name, const surface& s) {
        std::unique_ptr<surface> placed(s.make_copy());
        if (!frame.identity())
            *placed *= frame;
        all.emplace_back(name, std::move(placed));
    };
    add("spline sheet", sheet);
    add("cylinder", cyl);
    add("sphere", sphere(QELposition(1, 2, 3), 2.0));
    add("torus", torus(QELposition(0, 0, 1), QELunit_vector(0, 0, 1), 3.0, 1.0));
    const ellipse profile(QELposition(4, 0, 0), QELunit_vector(0, 1, 0), QELvector(1, 0, 0), 1.0, 0.0);
    const QELinterval arc(0.0, 1.5), turn(0.0, 3.0);
    add("revolved spline", spline(VELM_NEW rot_spl_sur(profile, QELposition(0, 0, 0), QELvector(0, 0, 1), &arc, &turn)));
    const QELpar_box onBall(QELinterval(-1.0, 1.0), QELinterval(0.5, 2.5));
    add("offset sphere", spline(VELM_NEW off_spl_sur(sphere(QELposition(0, 0, 0), 3.0), 0.5, &onBall)));
    bs3_surface wavy = testkit::make_test_bs3_surface();
    const spline base(wavy);
    bs3_surface_delete(wavy);
    const QELpar_box whole = base.param_range();
    add("offset spline", spline(VELM_NEW off_spl_sur(base, 0.7, &whole)));
    return all;
}

// The worst distance, at 41 parameters, from the curve at t to the pcurve's
// point on its surface at t.
double worstApart(const std::function<QELposition(double)>& at, const pcurve& pc, const surface& srf)
{
    const QELinterval range = pc.param_range();
    double worst = 0.0;
    for (int i = 0; i <= 40; ++i) {
        const double t = range.start_pt() + range.length() * i / 40.0;
        worst = std::max(worst, distance(at(t), srf.eval_position(pc.eval_position(t))));
    }
    return worst;
}

// The farthest of 41 points of the B-spline from the surface.
double offSurface(bs3_curve bs3, const surface& srf)
{
    const QELinterval range = bs3_curve_range(bs3);
    double worst = 0.0;
    for (int i = 0; i <= 40; ++i) {
        const QELposition p = bs3_curve_position(range.start_pt() + range.length() * i / 40.0, bs3);
        QELposition foot;
        srf.point_perp(p, foot);
        worst = std::max(worst, distance(p, foot));
    }
    return worst;
}

} // namespace

TEST_F(TrimSegment, EveryLiftedPcurveRunsWithItsPcurveWithinResabs)
{
    // Whatever the lift makes of a pcurve (the surface's own line, a sampled
    // curve) and whatever it fixes on it afterwards (coincident control
    // points spread), the intcurve pairs each parameter with the pcurve's
    // point there on the surface within resabs. An iso pcurve whose first
    // two control points were one was lifted onto a curve that the fix then
    // moved 7e-4 off. Seeded pcurves of each kind on a plane, a cylinder, a
    // sphere and a spline sheet, in every frame, either way round.
    const std::vector<TestModel> models{TestModel::planeFace(), TestModel::cylinder(1.5, 2), TestModel::sphereFace(2.0),
                                        TestModel::nurbsSheet(5, 5)};
    const LiftKind kinds[] = {LiftKind::Iso,         LiftKind::IsoFirstRepeated, LiftKind::IsoLastRepeated,
                              LiftKind::RationalIso, LiftKind::AcrossTheSeam,    LiftKind::EndsRepeated};
    std::mt19937 random(47);
    int lifted = 0, repeated = 0;
    for (const importtest::Frame& frame : stitchtest::allFrames())
        for (std::size_t m = 0; m < models.size(); ++m) {
            SegmentBench bench(models[m], 0, frame.morph);
            const surface& srf = reinterpret_cast<SURFACE*>(bench.context()->getSurface())->equation();
            for (int round = 0; round < 12; ++round) {
                const LiftKind kind = kinds[round % std::size(kinds)];
                const std::unique_ptr<pcurve> pc = seededLiftPCurve(random, srf, kind);
                if (!pc)
                    continue;
                SCOPED_TRACE(testing::Message() << frame.name << ", surface " << m << ", round " << round << ": "
                                                << liftKindName(kind) << (pc->reversed() ? ", reversed" : ""));
                const QELinterval range = pc->param_range();
                std::unique_ptr<intcurve> curve(trimSpaceCurveFromPCurve(*pc));
                ASSERT_TRUE(curve && curve->cur_present());
                ++lifted;
                repeated += kind == LiftKind::IsoFirstRepeated || kind == LiftKind::IsoLastRepeated ||
                            kind == LiftKind::EndsRepeated;
                double worst = 0.0;
                for (int i = 0; i <= 40; ++i) {
                    const double t = range.start_pt() + range.length() * i / 40.0;
                    worst = std::max(worst, distance(curve->eval_position(t), srf.eval_position(pc->eval_position(t))));
                }
                EXPECT_LE(worst, QELresabs);
            }
        }
    // Every frame and surface met each kind it has (the seam on the periodic ones only).
    EXPECT_GE(lifted, 3 * (4 * 10 + 2 * 2));
    EXPECT_GE(repeated, 3 * 4 * 6);
}

TEST_F(TrimSegment, IsoPcurvesOnEverySurfaceLiftOntoItInEveryFrame)
{
    // Seeded iso pcurves on every kind of surface, in every frame: along u
    // or v, reversed or not, of degree one to three, polynomial or rational
    // with equal weights, across a seam, round a closed line more than once;
    // some almost iso (the last control point a little off the line), some
    // at a speed a little uneven (an inner control point a little off its
    // even place). The surface's line is taken only where it lies on the
    // surface (an offset spline's B-spline is not the surface) from where the
    // pcurve starts to where it ends, and the lifted curve is on the surface
    // at the pcurve's points, parameter for parameter, within the reach the
    // trim road allows a line (ten resolutions); a sampled one within one.
    TestModel sheetModel = TestModel::nurbsSheet(5, 5);
    SegmentBench sheetBench(sheetModel, 0);
    const surface& nurbs = reinterpret_cast<SURFACE*>(sheetBench.context()->getSurface())->equation();
    TestModel tube = TestModel::cylinder(1.5, 2);
    SegmentBench tubeBench(tube, 0);
    const surface& cyl = reinterpret_cast<SURFACE*>(tubeBench.context()->getSurface())->equation();
    std::mt19937 random(20261210);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    enum class Kind { even, rational, acrossSeam, moreThanATurn, lastPointOff, uneven };
    int lines = 0, sampled = 0;
    const std::vector<QELtransf> frames = testkit::heal_frames();
    for (std::size_t f = 0; f < frames.size(); ++f) {
        const auto surfaces = isoSurfaces(nurbs, cyl, frames[f]);
        for (const auto& [name, held] : surfaces) {
            const surface& srf = *held;
            for (int round = 0; round < 12; ++round) {
                const bool alongV = random() % 2 == 0, reversed = random() % 3 == 0;
                const int degree = 1 + static_cast<int>(random() % 3);
                Kind kind = static_cast<Kind>(round % 6);
                const QELinterval across = alongV ? srf.param_range_u() : srf.param_range_v();
                const QELinterval along = alongV ? srf.param_range_v() : srf.param_range_u();
                const bool periodic = alongV ? srf.periodic_v() : srf.periodic_u();
                if ((kind == Kind::acrossSeam || kind == Kind::moreThanATurn) && !periodic)
                    kind = Kind::even;
                if ((kind == Kind::lastPointOff || kind == Kind::uneven) && degree == 1)
                    kind = Kind::rational;
                const auto inside = [](const QELinterval& r, double at) {
                    const QELinterval use = r.finite() ? r : QELinterval(-1.0, 1.0);
                    return use.start_pt() + use.length() * (0.1 + 0.8 * at);
                };
                const double constant = inside(across, unit(random));
                double from = inside(along, 0.3 * unit(random)), to = inside(along, 0.7 + 0.3 * unit(random));
                if (kind == Kind::acrossSeam)
                    from = along.end_pt() - 0.2 * along.length() * (0.2 + unit(random)),
                    to = from + along.length() * (0.3 + 0.3 * unit(random));
                if (kind == Kind::moreThanATurn)
                    to = from + along.length() * (1.05 + 0.3 * unit(random));
                if (random() % 2 == 0)
                    std::swap(from, to);
                const auto at = [&](double w, double off) {
                    return alongV ? QELpar_pos(constant + off, w) : QELpar_pos(w, constant + off);
                };
                // The surface's speed along the line, to size what is "a little".
                const double speed = distance(srf.eval_position(at(from, 0.0)),
                                              srf.eval_position(at(from + 1e-3 * (to - from), 0.0))) /
                                     std::fabs(1e-3 * (to - from));
                std::vector<QELpar_pos> uv;
                for (int i = 0; i <= degree; ++i)
                    uv.push_back(at(from + (to - from) * i / degree, 0.0));
                // Off by some tens of resolutions on the surface.
                const double little = (2e-5 + 6e-5 * unit(random)) / std::max(speed, 1e-3);
                if (kind == Kind::lastPointOff)
                    uv.back() = at(to, little * (random() % 2 == 0 ? 1.0 : -1.0));
                if (kind == Kind::uneven)
                    uv[1] = at(from + (to - from) / degree + 2.0 * little * (to > from ? 1.0 : -1.0), 0.0);
                std::vector<double> knots(degree + 1, 0.0);
                knots.insert(knots.end(), degree + 1, 1.0);
                std::vector<double> weights;
                if (kind == Kind::rational)
                    weights.assign(uv.size(), 0.5 + unit(random));
                pcurve pc(bs2Through(degree, uv, knots, weights), QELresfit, srf);
                if (reversed)
                    pc.negate();
                SCOPED_TRACE(testing::Message() << name << " frame " << f << " round " << round << " kind "
                                                << static_cast<int>(kind) << (alongV ? " along v" : " along u")
                                                << " degree " << degree << (reversed ? " reversed" : "") << " from "
                                                << from << " to " << to);
                // The line alone is judged where it is the pcurve's own: a pcurve at
                // uneven speed or round more than a turn is the trim road's to turn down.
                const bool judgeLine = kind != Kind::uneven && kind != Kind::moreThanATurn;
                if (bs3_curve iso = trimIsoCurveOfPCurve(pc)) {
                    ++lines;
                    if (judgeLine) {
                        // The line runs from the pcurve's start to its end on the surface
                        // (at a speed of its own: a circle's B-spline is rational).
                        const QELinterval range = pc.param_range();
                        for (double t : {range.start_pt(), range.end_pt()})
                            EXPECT_LT(distance(bs3_curve_position(t, iso), srf.eval_position(pc.eval_position(t))),
                                      QELresabs)
                                << "the surface's line at " << t;
                        EXPECT_LT(offSurface(iso, srf), QELresabs) << "the surface's line";
                    }
                    bs3_curve_delete(iso);
                } else {
                    ++sampled;
                }
                std::unique_ptr<intcurve> lifted(trimSpaceCurveFromPCurve(pc));
                ASSERT_TRUE(lifted && lifted->cur_present());
                EXPECT_LT(worstApart([&](double t) { return lifted->eval_position(t); }, pc, srf), 10.0 * QELresabs)
                    << "the lifted curve";
            }
        }
    }
    // Both roads are met.
    EXPECT_GT(lines, 60);
    EXPECT_GT(sampled, 40);
}
