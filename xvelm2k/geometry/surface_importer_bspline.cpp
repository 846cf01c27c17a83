// Surface import: NURBS and offset surfaces, and the repairs that make a
// NURBS surface acceptable to the kernel.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "geometry/surface_importer.hxx"
#include "geometry/surface_importer_internal.hxx"
#include "geometry/surface_utilities.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/gk_spline_utils.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/check.hxx"
#include "velm/lists.hxx"
#include "velm/save.hxx"
#include "velm/surface_build.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"
#include "model/math_types.hxx"

using namespace surface_import;

namespace {

using spline_surface_check::kCheckTask;
using spline_surface_check::kTaskLevel;
constexpr double kG1SmoothingTol = 0.001;
constexpr double kSeamG1Tol = 0.0032845;
constexpr double kFitTestTol = 0.001;

// Counter of the nameless surface dumps; process-wide, a debugging aid.
int g_splineDumps = 0;

// The exporter's NURBS arrays, handed back to it on every way out.
struct NurbsData {
    QELXGeometryExporter* exporter = nullptr;
    int uDegree = 0, vDegree = 0, uCount = 0, vCount = 0;
    double* ctrlPts = nullptr;
    double* weights = nullptr;
    int uKnotCount = 0, vKnotCount = 0;
    double* uKnots = nullptr;
    int* uMults = nullptr;
    double* vKnots = nullptr;
    int* vMults = nullptr;
    int uClosure = 0, vClosure = 0;

    ~NurbsData()
    {
        if (exporter && (ctrlPts || weights || uKnots || uMults || vKnots || vMults))
            exporter->DeleteNurbsSurfaceData(ctrlPts, weights, uKnots, uMults, vKnots, vMults);
    }
};

// Counts that fit each other and values that are numbers: the net can be
// read from the arrays without reading past them.
bool arraysFit(const NurbsData& d)
{
    if (d.uDegree < 1 || d.vDegree < 1 || d.uCount <= d.uDegree || d.vCount <= d.vDegree)
        return false;
    if (!d.ctrlPts || !d.uKnots || !d.uMults || !d.vKnots || !d.vMults || d.uKnotCount < 2 || d.vKnotCount < 2)
        return false;
    const auto multiplicitiesFit = [](int n, const int* mults, int expected) {
        long sum = 0;
        for (int i = 0; i < n; ++i) {
            if (mults[i] < 1)
                return false;
            sum += mults[i];
        }
        return sum == expected;
    };
    const auto finiteAll = [](int n, const double* v) {
        for (int i = 0; i < n; ++i)
            if (!std::isfinite(v[i]))
                return false;
        return true;
    };
    const long n = static_cast<long>(d.uCount) * d.vCount;
    return multiplicitiesFit(d.uKnotCount, d.uMults, d.uCount + d.uDegree + 1) &&
           multiplicitiesFit(d.vKnotCount, d.vMults, d.vCount + d.vDegree + 1) &&
           finiteAll(static_cast<int>(3 * n), d.ctrlPts) && (!d.weights || finiteAll(static_cast<int>(n), d.weights)) &&
           finiteAll(d.uKnotCount, d.uKnots) && finiteAll(d.vKnotCount, d.vKnots);
}

void fillNet(const QELXBSplineNetDef3D& net, bool rational, std::vector<QELposition>& positions,
             std::vector<double>& weights)
{
    const int nv = net.vSize();
    for (int i = 0; i < net.uSize(); ++i)
        for (int j = 0; j < nv; ++j) {
            const QELXWeightPoint3D& cp = net.controlNet().controlPoint(i, j);
            positions[i * nv + j] = position(cp.GetCoords());
            if (rational)
                weights[i * nv + j] = cp.GetWeight();
        }
}

int seamForm(bool periodic, bool clamped, bool g1AtSeam)
{
    if (!periodic)
        return 0;
    return clamped && !g1AtSeam ? 1 : 2;
}

// Sample points of the fits: the 11 x 11 grid over the B-spline's box.
template <class Test>
bool passesGrid(const QELpar_box& box, Test test)
{
    for (int i = 0; i <= 10; ++i)
        for (int j = 0; j <= 10; ++j)
            if (!test(QELpar_pos(box.u_range().interpolate(i / 10.0), box.v_range().interpolate(j / 10.0))))
                return false;
    return true;
}

// An open direction whose knots do not repeat at its ends is clamped by
// knot insertion, line by line, so that the kernel's clamped layout keeps
// the surface over its domain; a wrapped periodic one stays as it is.
QELXBSplineNetDef3D clampOpenEnds(const QELXBSplineNetDef3D& net)
{
    const bool clampU = !net.isUPeriodic() && !net.isUClamped() && net.uKnots().n_brk() >= 2;
    const bool clampV = !net.isVPeriodic() && !net.isVClamped() && net.vKnots().n_brk() >= 2;
    if (!clampU && !clampV)
        return net;
    Gk_Partition u = net.uKnots(), v = net.vKnots();
    QELXPolygonNetWeight3D points = net.controlNet();
    if (clampV) {
        QELXPolygonNetWeight3D rows;
        for (int i = 0; i < points.uSize(); ++i) {
            const QELXBSplineDef3D line =
                QELXBSplineSplitUtilWeight3D::subset(QELXBSplineDef3D(net.vKnots(), points.polygon(i), false));
            rows.Add(line.controlPoints());
            v = line.knots();
        }
        points = rows;
    }
    if (clampU) {
        std::vector<QELXPolygonWeight3D> columns;
        for (int j = 0; j < points.vSize(); ++j) {
            QELXPolygonWeight3D column;
            for (int i = 0; i < points.uSize(); ++i)
                column.Add(points.controlPoint(i, j));
            const QELXBSplineDef3D line =
                QELXBSplineSplitUtilWeight3D::subset(QELXBSplineDef3D(net.uKnots(), column, false));
            columns.push_back(line.controlPoints());
            u = line.knots();
        }
        QELXPolygonNetWeight3D rows;
        for (int i = 0; !columns.empty() && i < columns.front().size(); ++i) {
            QELXPolygonWeight3D row;
            for (const QELXPolygonWeight3D& column : columns)
                row.Add(column.controlPoint(i));
            rows.Add(row);
        }
        points = rows;
    }
    return QELXBSplineNetDef3D(u, v, points, net.isClosedU(), net.isClosedV(), net.poleKindU(), net.poleKindV(),
                               net.flag());
}

} // namespace

QELIResult QELXVelmSurfaceImporter::ImportBSpline()
{
    if (!m_exporter)
        return kFailed;
    NurbsData d;
    d.exporter = m_exporter;
    const QELIResult got = m_exporter->GetNurbsSurfaceData(
        m_surfaceId, d.uDegree, d.vDegree, d.uCount, d.vCount, d.ctrlPts, d.weights, d.uKnotCount, d.uKnots,
        d.uMults, d.vKnotCount, d.vKnots, d.vMults, d.uClosure, d.vClosure);
    if (got != 0)
        return got;
    if (!arraysFit(d))
        return kFailed;
    const bool periodicU = d.uClosure == 2 || d.uClosure == 3;
    const bool periodicV = d.vClosure == 2 || d.vClosure == 3;
    const QELXBSplineNetDef3D read(d.uDegree, d.vDegree, d.uCount, d.vCount, d.ctrlPts, d.weights, d.uKnotCount,
                                   d.uKnots, d.uMults, d.vKnotCount, d.vKnots, d.vMults, periodicU, periodicV, false);
    if (!read.isValid())
        return kFailed;
    const QELXBSplineNetDef3D original = clampOpenEnds(read);
    if (!original.isValid())
        return kFailed;

    QELXBSplineNetDef3D net = original.Copy();
    BuildBSpline(net, true);
    if (!m_definition && !m_surface)
        return kFailed;

    resurface();

    bool found = false;
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::FixCntrlPtCoincidence) && !m_analyticReplacement && m_definition) {
        checkDefinition(status_coincident_points, found);
        if (found) {
            dropSurface();
            bs3_surface_delete(m_definition);
            QELXBSplineNetDef3D corrected = Gk_SplineUtil::correctSrfCoincidentVertices(original.Copy(), QELresabs);
            BuildBSpline(corrected, false);
            if (!m_definition && !m_surface)
                return kFailed;
        }
    }
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::FixBadSurfaceClosure) && !m_analyticReplacement && m_definition) {
        checkDefinition(status_bad_closure, found);
        if (found) {
            QELXBSplineNetDef3D corrected = Gk_SplineUtil::correctSrfClosure(original.Copy());
            BuildBSpline(corrected, true);
            if (!m_definition && !m_surface)
                return kFailed;
        }
    }
    return got;
}

QELIResult QELXVelmSurfaceImporter::checkDefinition(int status, bool& found)
{
    found = false;
    const spline* owner = m_surface && m_surface->type() == 10 ? static_cast<const spline*>(m_surface) : nullptr;
    const outcome r = velmInnerCall([&] {
        check_fix input(1);
        check_fix result(0);
        std::unique_ptr<check_status_list> wanted(VELM_MAKE(check_status_list, status));
        QELXStartTaskEvent::Fire(kCheckTask, kCheckTask, kTaskLevel);
        std::unique_ptr<check_status_list> list(bs3_surface_check(m_definition, owner, input, result, wanted.get()));
        QELXEndTaskEvent::Fire(0, kCheckTask, kCheckTask, kTaskLevel, true);
        found = list && list->status() == status;
    });
    return r.ok() ? QELIResult(0) : kFailed;
}

void QELXVelmSurfaceImporter::resurface()
{
    if (!m_surface || !Ve_OptionDoc::DoSplineResurface || Ve_OptionDoc::DoSplineResurface->count() != 2 ||
        !Ve_OptionDoc::isOn(Ve_OptionDoc::HealBody))
        return;
    if (!m_span.u().isFinite() || !m_span.v().isFinite())
        return;
    // The span is in framework parameters; the surface's range in kernel ones.
    Gk_Span kernelSpan(m_span);
    kernelSpan.apply(m_map);
    const QELpar_box box(QELinterval(kernelSpan.u().low(), kernelSpan.u().high()),
                         QELinterval(kernelSpan.v().low(), kernelSpan.v().high()));
    if (m_surface->param_range() >> box)
        return;
    velmInnerCall([&] {
        extension_info uInfo, vInfo;
        extend_surface(*m_surface, box, 1, uInfo, vInfo);
    });
}

QELIResult QELXVelmSurfaceImporter::BuildBSpline(QELXBSplineNetDef3D& net, bool selfIntersectionRepair)
{
    if (!m_morph.IsIdentity())
        net.Transform(m_morph, false);
    if (m_g1Mode == 1 && !net.isURational() && !net.isVRational())
        Gk_BSplNetDiscUtil(net, kG1SmoothingTol).makeG1();
    const int nu = net.uSize(), nv = net.vSize();
    const int n = nu * nv;
    if (n == 0 || !net.isValid())
        return kFailed;
    const bool rational =
        Gk_PolygonUtil::checkRationality(net.controlNet()) || Gk_PolygonUtil::checkCrossRationality(net.controlNet());
    std::vector<QELposition> positions(n);
    std::vector<double> weights(rational ? n : 0, 1.0);
    fillNet(net, rational, positions, weights);
    const std::vector<double> uKnots = net.uKnots().knotList(!(net.isUPeriodic() && !net.isUClamped()));
    const std::vector<double> vKnots = net.vKnots().knotList(!(net.isVPeriodic() && !net.isVClamped()));
    int uPole = 0, vPole = 0;
    set_poles(positions.data(), nu, nv, std::max(net.uDegree(), net.vDegree()) * QELresabs, uPole, vPole);
    // The collapse works on the net itself, so that refilling the positions sees it.
    CollapsePoles(net.controlNet(), uPole, vPole);
    if (uPole != 0 || vPole != 0)
        fillNet(net, rational, positions, weights);
    const Gk_BSplNetDiscUtil seams(net, kSeamG1Tol);
    const int uForm = seamForm(net.isUPeriodic(), net.isUClamped(), net.isUPeriodic() && seams.isG1AtUSeam());
    const int vForm = seamForm(net.isVPeriodic(), net.isVClamped(), net.isVPeriodic() && seams.isG1AtVSeam());

    bs3_surface made = nullptr;
    surface* srf = nullptr;
    const outcome r = velmInnerCall([&] {
        made = bs3_surface_from_ctrlpts(net.uDegree(), rational, uForm, uPole, nu, net.vDegree(), rational, vForm,
                                        vPole, nv, positions.data(), rational ? weights.data() : nullptr, QELresabs,
                                        static_cast<int>(uKnots.size()), uKnots.data(),
                                        static_cast<int>(vKnots.size()), vKnots.data(), QELresnor);
        if (!made)
            return;
        bs3_surface_determine_form_u(made);
        bs3_surface_determine_form_v(made);
        srf = VELM_MAKE(spline, made);
        // Mirrored control points turn Su x Sv inwards; the normal keeps to the
        // image of the source's, as the kernel mirrors splines.
        if (Ve_Morph(m_morph).reflects())
            srf->negate();
        // The check is run for the repairs it makes in place; its findings are
        // not read, so it is asked for a cheap one only and skips the
        // self-intersection scan the importer runs when its option asks.
        check_fix input(1);
        check_fix result(0);
        const check_status_list wanted(status_coincident_points);
        delete srf->check(input, &result, &wanted);
    });
    if (!r.ok() || !made || !srf) {
        delete srf;
        bs3_surface_delete(made);
        return kFailed;
    }
    bs3_surface_delete(m_definition);
    m_definition = made;
    placeSurface(srf);

    if (selfIntersectionRepair && Ve_OptionDoc::isOn(Ve_OptionDoc::FixSurfSelfIntxn) &&
        (Ve_SurfApproxUtil::isSurfIrregular(m_surface) || Ve_SurfApproxUtil::srfSelfIntersects(m_surface))) {
        if (FitCylinder(m_definition, m_surface) || FitPlane(m_definition, m_surface)) {
            m_analyticReplacement = true;
        } else {
            Ve_SurfApproxUtil util;
            util.makeUsingUisoparams(m_surface, m_definition, 20) ||
                util.makeUsingVisoparams(m_surface, m_definition, 20) ||
                util.makeUsingUisoparams(m_surface, m_definition, 10) ||
                util.makeUsingVisoparams(m_surface, m_definition, 10);
        }
    }
    return 0;
}

void QELXVelmSurfaceImporter::CollapsePoles(QELXPolygonNetWeight3D& net, int uPoleCode, int vPoleCode)
{
    const int lastU = net.uSize() - 1;
    const int lastV = net.vSize() - 1;
    if ((uPoleCode == 1 || uPoleCode == 3) && lastU >= 0)
        QELXPolynetUtil::collapseUPlgn(net, 0);
    if ((uPoleCode == 2 || uPoleCode == 3) && lastU >= 0)
        QELXPolynetUtil::collapseUPlgn(net, lastU);
    if ((vPoleCode == 1 || vPoleCode == 3) && lastV >= 0)
        QELXPolynetUtil::collapseVPlgn(net, 0);
    if ((vPoleCode == 2 || vPoleCode == 3) && lastV >= 0)
        QELXPolynetUtil::collapseVPlgn(net, lastV);
}

namespace {

struct FitSamples {
    QELposition pa, pb;
    QELunit_vector na, nb;
    QELpar_box box;
};

bool fitSamples(bs3_surface definition, const surface* srf, FitSamples& s)
{
    if (!definition || !srf)
        return false;
    s.box = bs3_surface_range(definition);
    const double lu = s.box.u_range().length(), lv = s.box.v_range().length();
    const QELpar_pos a(s.box.u_range().start_pt() + lu / 5.0, s.box.v_range().start_pt() + lv / 5.0);
    const QELpar_pos b(a.u + (lu - lu / 5.0) / 3.0, a.v + (lv - lv / 5.0) / 3.0);
    const outcome r = velmInnerCall([&] {
        s.na = srf->eval_normal(a);
        s.nb = srf->eval_normal(b);
        s.pa = srf->eval_position(a);
        s.pb = srf->eval_position(b);
    });
    return r.ok();
}

// The candidate replaces the surface when every grid point of the old one
// lies on it; otherwise it is deleted.
bool acceptFit(surface* candidate, const FitSamples& s, surface*& srf)
{
    bool fits = false;
    velmInnerCall([&] {
        fits = passesGrid(s.box, [&](const QELpar_pos& uv) {
            return candidate->test_point_tol(srf->eval_position(uv), kFitTestTol);
        });
    });
    if (!fits) {
        delete candidate;
        return false;
    }
    delete srf;
    srf = candidate;
    return true;
}

} // namespace

bool QELXVelmSurfaceImporter::FitCylinder(bs3_surface definition, surface*& srf)
{
    FitSamples s;
    if (!fitSamples(definition, srf, s))
        return false;
    const QELvector axis = QELvector(s.na) * QELvector(s.nb);
    const double a2 = axis % axis;
    if (a2 < 1e-6)
        return false;
    const double t = -(((s.pa - s.pb) * s.nb) % axis) / a2;
    const QELposition centre = s.pa + t * QELvector(s.na);
    const QELvector major = centre - s.pa;
    if (!(major.len() > QELresabs))
        return false;
    surface* candidate = nullptr;
    velmInnerCall([&] {
        candidate = VELM_MAKE(cone, centre, QELunit_vector(axis / std::sqrt(a2)), major, 1.0, 0.0, 1.0, 0.0);
    });
    return candidate && acceptFit(candidate, s, srf);
}

bool QELXVelmSurfaceImporter::FitPlane(bs3_surface definition, surface*& srf)
{
    FitSamples s;
    if (!fitSamples(definition, srf, s))
        return false;
    if ((QELvector(s.na) * QELvector(s.nb)).len() > QELresabs)
        return false;
    surface* candidate = nullptr;
    velmInnerCall([&] { candidate = VELM_MAKE(plane, s.pa, s.na); });
    return candidate && acceptFit(candidate, s, srf);
}

bool QELXVelmSurfaceImporter::IsBadSurface(surface* srf)
{
    if (!srf)
        return false;
    bool bad = false;
    velmInnerCall([&] {
        check_fix input(0);
        input.tol1 = QELresfit;
        input.tol2 = QELresfit;
        check_fix result(0);
        std::unique_ptr<check_status_list> wanted(VELM_MAKE(check_status_list, status_irregular));
        wanted->add_error(status_bad_pole);
        QELXStartTaskEvent::Fire(kCheckTask, kCheckTask, kTaskLevel);
        std::unique_ptr<check_status_list> list(d3_sf_check(*srf, input, result, wanted.get()));
        QELXEndTaskEvent::Fire(0, kCheckTask, kCheckTask, kTaskLevel, true);
        bad = list && (list->contains(status_irregular) || list->contains(status_bad_pole));
    });
    return bad;
}

QELIResult QELXVelmSurfaceImporter::ImportOffset()
{
    if (!m_exporter)
        return kFailed;
    double distance = 0.0;
    QELXIdentifier baseId;
    m_exporter->GetOffsetSurfaceData(m_surfaceId, distance, baseId);
    if (!std::isfinite(distance))
        return kFailed;
    QELXVelmSurfaceImporter base(m_exporter, baseId, true, m_span, m_morph, m_tolerance, 1);
    base.ImportSurface();
    m_approxInfo = base.GetApproxInfo();
    // A base that could not be imported leaves nothing to offset.
    surface* baseSurface = base.GetSurface();
    if (!baseSurface)
        return 0;
    if (!base.IsSenseKept())
        distance = -distance;
    const double d = distance * m_morph.scaleFactor();
    // The offset shares the base's kernel parameters: what the base's builder
    // added to the base's own parameterization applies to this one as well.
    Gk_BiLinMap baseBuilderMap = exporterParameterization(baseId, nullptr).inverse();
    baseBuilderMap.compose(base.GetParamMap(), false);
    m_map.compose(baseBuilderMap, false);
    surface* made = nullptr;
    velmInnerCall([&] { made = VELM_ADOPT(spline, VELM_MAKE(off_spl_sur, *baseSurface, d)); });
    placeSurface(made);
    if (m_surface && Ve_OptionDoc::isOn(Ve_OptionDoc::UseNewApi) && IsBadSurface(m_surface)) {
        velmInnerCall([&] {
            int status = 0;
            const QELbox bound = baseSurface->bound(baseSurface->param_range());
            std::unique_ptr<surface> computed(offset_surface(*baseSurface, bound, d, status));
            if (computed && is_spline(computed.get()))
                placeSurface(VELM_MAKE(spline, static_cast<const spline&>(*computed)));
        });
    }
    delete baseSurface;
    // The offset's own sense flag already says how its normal meets the
    // kernel offset's (the base's frame normal); the base's sense went into
    // the distance and must not turn the face a second time.
    return 0;
}

void QELXVelmSurfaceImporter::DumpSurface(const spline& srf, const char* path)
{
    BODY* body = nullptr;
    if (!velmCall([&] { return api_make_spline(srf, body); }).ok() || !body)
        return;
    FileInfo info;
    info.set_units(1.0);
    info.set_product_id("xvelm2k surface dump");
    api_set_file_info(FileInfo_product_id | FileInfo_units, info);
    std::string name;
    if (!path) {
        name = "spline" + std::to_string(g_splineDumps++) + ".vlt";
        path = name.c_str();
    }
    if (FILE* fp = std::fopen(path, "w")) {
        ENTITY_LIST list;
        list.add(reinterpret_cast<ENTITY*>(body));
        api_save_entity_list(fp, 1, list);
        std::fclose(fp);
    }
    velmCall([&] { return api_del_entity(reinterpret_cast<ENTITY*>(body)); });
}
