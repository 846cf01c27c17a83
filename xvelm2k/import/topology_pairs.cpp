// The catalogue pairs of topology import: how a source face, loop, coedge,
// edge and vertex become kernel entities, linked to their neighbours
// (Connect) and given their geometry (Create).
#include "import/brep_creator.hxx"
#include "import/brep_importer.hxx"
#include "import/source_names.hxx"
#include "geometry/curve_creator.hxx"
#include "geometry/curve_importer.hxx"
#include "geometry/spline_curve_build.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/gk_import.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx_velm/default_geometry_importer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "geometry/seam_pcurves.hxx"
#include "repair/fix_pcurve.hxx"
#include "velm/build.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"

#include <cmath>
#include <tuple>

namespace {

// The source's geometry exporter, or null (the result code is not looked at).
QELXGeometryExporter* geometryOf(QELXBRepExporter* exporter)
{
    QELXGeometryExporter* geometry = nullptr;
    if (exporter)
        exporter->GetGeometryExporter(geometry);
    return geometry;
}

QELXDefaultGeometryImporter* defaultImporterOf(QELXVelmBRepCreator* creator)
{
    return creator->GetImporter() ? creator->GetImporter()->GetGeometryImporter() : nullptr;
}

const QELXMorph3D& morphOf(QELXVelmBRepCreator* creator)
{
    static const QELXMorph3D identity;
    return creator->GetImportContext() ? creator->GetImportContext()->GetMorph() : identity;
}

sense_type senseOf(bool forward) { return forward ? FORWARD : REVERSED; }

// The edge ranged over the source's domain (in its own parameters). A spline
// whose definition is not periodic is not made to run past its range: one
// that closes is begun where the domain starts instead (a refusal keeps it).
void rangeOverDomain(EDGE* edge, double low, double high)
{
    const QELinterval range(low, high);
    velmCall([&] { ve_spline_curve::startClosedSplineAt(edge, edge->sense() == REVERSED ? -range : range); });
    edge->set_param_range(&range);
}

} // namespace

// ---- face

void QELXVelmFacePair::Connect()
{
    const auto [creator, x, face] = parts<FACE>();
    if (!face)
        return;
    const QELXIdentifier s = source();
    int n = 0;
    x->GetNumberOfLoopsFromFace(s, n);
    LOOP* last = nullptr;
    const auto take = [&](LOOP* loop) {
        // A loop another face already holds stays there.
        if (!loop || loop->face())
            return;
        loop->set_face(face);
        if (last)
            last->set_next(loop);
        else
            face->set_loop(loop);
        last = loop;
    };
    for (int i = 0; i < n; ++i) {
        QELXIdentifier loopId;
        x->GetLoopFromFace(s, i, loopId);
        try {
            take(creator->GetLoop(loopId));
        } catch (...) {
            // A loop made but not filled (the kernel failed) still belongs to
            // this face, so that whatever deletes the face takes it along.
            take(creator->FindLoop(loopId));
            throw;
        }
    }
}

void QELXVelmFacePair::Create()
{
    const auto [creator, x, face] = parts<FACE>();
    if (!face)
        return;
    const QELXIdentifier s = source();
    if (!geometryOf(x))
        return;
    if (!Ve_OptionDoc::isOn(Ve_OptionDoc::UseDefaultGeomImporter)) {
        ve_view<Ve_FaceTag>(face)->attachSurface(s, x, morphOf(creator));
    } else if (QELXDefaultGeometryImporter* importer = defaultImporterOf(creator)) {
        QELXIdentifier surfaceId;
        SURFACE* surface = nullptr;
        if (x->GetFaceSurface(s, surfaceId) == QELI_OK && importer->ConvertSurface(surfaceId, surface) == QELI_OK &&
            surface) {
            face->set_geometry(surface);
            // The source's sense refers to the normal its parameterization's
            // flag names, which the surface made may have turned.
            bool forward = true;
            if (x->GetFaceSense(s, forward) != QELI_OK)
                forward = true;
            face->set_sense(forward == importer->KeepsFaceNormal(surfaceId) ? FORWARD : REVERSED);
        }
    }
    creator->TransferAliases(s, face);
}

void QELXVelmFacePair::FixOrientation()
{
    const auto [creator, x, face] = parts<FACE>();
    if (!face)
        return;
    bool correct = true;
    if (x->IsFaceOrientationCorrect(source(), correct) == QELI_OK && !correct)
        api_reverse_face(face);
}

// ---- loop

void QELXVelmLoopPair::Connect()
{
    const auto [creator, x, loop] = parts<LOOP>();
    if (!loop)
        return;
    const QELXIdentifier s = source();
    int n = 0;
    x->GetNumberOfCoedgesFromLoop(s, n);
    if (n < 1)
        return;
    COEDGE* first = nullptr;
    COEDGE* last = nullptr;
    // The coedges met close their ring on every way out: a kernel failure
    // part way leaves a loop that can still be walked and deleted.
    struct Ring {
        COEDGE*& first;
        COEDGE*& last;
        ~Ring()
        {
            if (first) {
                first->set_previous(last);
                last->set_next(first);
            }
        }
    } ring{first, last};
    for (int i = 0; i < n; ++i) {
        QELXIdentifier coedgeId;
        x->GetCoedgeFromLoop(s, i, coedgeId);
        COEDGE* coedge = creator->GetCoedge(coedgeId, true);
        if (!coedge)
            continue;
        // A coedge met before (in this loop or another) ends the walk.
        if (coedge->loop() || coedge == first)
            break;
        coedge->set_owner(loop);
        if (!first) {
            loop->set_start(coedge);
            first = coedge;
        } else {
            coedge->set_previous(last);
            last->set_next(coedge);
        }
        last = coedge;
    }
}

void QELXVelmLoopPair::Create()
{
    const auto [creator, x, loop] = parts<LOOP>();
    if (!loop)
        return;
    const QELXIdentifier s = source();
    bool degenerate = false;
    x->IsLoopDegenerate(s, degenerate);
    if (!degenerate)
        return;
    QELXIdentifier vertexId, point;
    x->GetVertexFromDegenerateLoop(s, vertexId);
    // A vertex the source does not have gives the loop no edge, as an
    // identifier that is not valid does (the loop then bounds nothing and
    // goes, and its face stays), rather than a vertex made up at no place.
    if (!vertexId.IsValid() || x->GetVertexPoint(vertexId, point) != QELI_OK)
        return;
    VERTEX* vertex = creator->GetVertex(vertexId);
    if (!vertex)
        return;
    // A loop that already has coedges keeps them.
    if (loop->start())
        return;
    EDGE* edge = velm_require(new (0, "QELXVelmLoopPair", __LINE__, nullptr) EDGE());
    COEDGE* coedge = velm_require(new (0, "QELXVelmLoopPair", __LINE__, nullptr) COEDGE());
    edge->set_start(vertex);
    edge->set_end(vertex);
    edge->set_coedge(coedge);
    coedge->set_edge(edge);
    coedge->set_sense(FORWARD);
    coedge->set_next(coedge);
    coedge->set_previous(coedge);
    loop->set_start(coedge);
    coedge->set_loop(loop);
    vertex->add_edge(edge);
}

// ---- coedge

void QELXVelmCoedgePair::Connect()
{
    const auto [creator, x, coedge] = parts<COEDGE>();
    if (!coedge)
        return;
    bool forward = false;
    x->GetCoedgeSense(source(), forward);
    coedge->set_sense(senseOf(forward));
}

void QELXVelmCoedgePair::Create()
{
    const auto [creator, x, coedge] = parts<COEDGE>();
    if (!coedge || !geometryOf(x))
        return;
    LOOP* loop = coedge->loop();
    FACE* face = loop ? loop->face() : nullptr;
    QELXDefaultGeometryImporter* importer = defaultImporterOf(creator);
    if (!face || !importer)
        return;
    QELXIdentifier pcurveId;
    PCURVE* pcurve = nullptr;
    // A pcurve whose sense is false is read at the negated coedge parameter.
    bool sense = true;
    if (x->GetCoedgePCurveSense(source(), sense) != QELI_OK)
        sense = true;
    if (x->GetCoedgePCurve(source(), pcurveId) == QELI_OK &&
        importer->ConvertPCurve(pcurveId, face->geometry(), pcurve, sense) == QELI_OK && pcurve)
        coedge->set_geometry(pcurve);
}

// ---- edge

QELXVelmEntityPair::EdgeCurveRoad QELXVelmEntityPair::importEdgeCurve(EDGE* edge, QELXGeometryExporter* geometry)
{
    QELXVelmBRepCreator* creator = GetCreator();
    QELXBRepExporter* x = GetExporter();
    const QELXIdentifier s = source();
    QELXIdentifier curveId;
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::UseDefaultGeomImporter)) {
        if (x->GetEdgeCurve(s, curveId) != QELI_OK)
            return EdgeCurveRoad::NotRead;
        CURVE* made = nullptr;
        QELXDefaultGeometryImporter* importer = defaultImporterOf(creator);
        if (importer && importer->ConvertCurve(curveId, made) == QELI_OK && made) {
            edge->set_geometry(made);
            bool forward = true;
            x->GetEdgeSense(s, forward);
            edge->set_sense(senseOf(forward));
            // The curve keeps the source's parameters, so the edge keeps its
            // domain: ranged by its vertices instead, a closed curve's edge
            // could start or end a period from where its pcurves run.
            double low = 0.0, high = 0.0;
            if (x->GetEdgeDomain(s, low, high) == QELI_OK && std::isfinite(low) && std::isfinite(high) && low < high)
                rangeOverDomain(edge, low, high);
        }
        return EdgeCurveRoad::DefaultImporter;
    }
    x->GetEdgeCurve(s, curveId);
    double low = 0.0, high = 0.0;
    // An edge whose domain is not answered keeps the range its curve and
    // vertices give, rather than an empty one; so does one whose domain is
    // not finite, said (a range to infinity would put its ends nowhere).
    bool domainAnswered = x->GetEdgeDomain(s, low, high) == QELI_OK;
    if (domainAnswered && !(std::isfinite(low) && std::isfinite(high))) {
        QELXWarningEvent::Fire((sourceEntityName("edge", s) + ": its domain is not finite; ranged by its vertices and " +
                                kKeptForHealing)
                                   .c_str());
        domainAnswered = false;
        low = high = 0.0;
    }
    bool forward = true;
    x->GetEdgeSense(s, forward);
    Gk_Domain domain(low, high, Gk_Def::FuzzKnot);
    // An open line or arc is ranged over the domain before it comes, so that
    // the pcurves its import fits run over the domain rather than between the
    // vertices' feet (ImportOntoEdge). A reversed edge's domain runs on the
    // curve as the import turns it, a spline's import fits the edge to the
    // domain itself, and a closed edge's vertices bound a whole turn, which
    // the domain may hold a period away: all are ranged after.
    int curveType = 0;
    geometry->GetCurveType(curveId, curveType);
    if (forward && edge->start() != edge->end() &&
        (curveType == QELXGeometryCurveTypeLine || curveType == QELXGeometryCurveTypeEllipse)) {
        domain = QELXVelmCurveImporter::ImportOntoEdge(geometry, curveId, edge, forward, domain, morphOf(creator));
    } else {
        // The importer owns the curve it made (the edge holds a copy) and
        // deletes it with itself: one owner, freed once.
        QELXVelmCurveImporter importer(geometry, curveId, edge, forward, domain, morphOf(creator), false);
        importer.ImportCurve();
        domain = importer.GetDomain();
    }
    CURVE* edgeCurve = edge->geometry();
    if (!edge->start() && !edge->end() && edgeCurve && edgeCurve->has_equation()) {
        // A closed curve without vertices: one vertex where the edge starts.
        const double t = forward ? domain.low() : -domain.high();
        APOINT* point =
            velm_require(new (0, "QELXVelmEdgePair", __LINE__, nullptr) APOINT(edgeCurve->equation().eval_position(t)));
        VERTEX* vertex = velm_require(new (0, "QELXVelmEdgePair", __LINE__, nullptr) VERTEX(point));
        edge->set_start(vertex);
        edge->set_end(vertex);
        vertex->set_edge(edge);
    }
    if (domainAnswered && domain.isFinite() && edgeCurve)
        rangeOverDomain(edge, domain.low(), domain.high());
    return EdgeCurveRoad::CurveImporter;
}

void QELXVelmEntityPair::connectEdgeVertices(EDGE* edge)
{
    QELXVelmBRepCreator* creator = GetCreator();
    QELXBRepExporter* x = GetExporter();
    const QELXIdentifier s = source();
    QELXIdentifier startId, endId;
    x->GetStartVertexFromEdge(s, startId);
    x->GetEndVertexFromEdge(s, endId);
    edge->set_start(creator->GetVertex(startId));
    edge->set_end(creator->GetVertex(endId));
}

void QELXVelmEdgePair::Connect()
{
    const auto [creator, x, edge] = parts<EDGE>();
    if (!edge)
        return;
    const QELXIdentifier s = source();
    connectEdgeVertices(edge);

    int n = 0;
    x->GetNumberOfCoedgesFromEdge(s, n);
    COEDGE* previous = nullptr;
    QELXIdentifier previousId;
    for (int i = 0; i < n; ++i) {
        QELXIdentifier coedgeId;
        x->GetCoedgeFromEdge(s, i, coedgeId);
        COEDGE* coedge = creator->GetCoedge(coedgeId, false);
        // Only coedges made through their loops; one listed twice joins once.
        if (!coedge || coedge->edge() == edge)
            continue;
        if (!edge->coedge())
            edge->set_coedge(coedge);
        coedge->set_edge(edge);
        if (previous) {
            QELXIdentifier partner;
            x->GetPartnerCoedge(previousId, partner);
            if (partner.IsValid() && previous != coedge)
                previous->set_partner(coedge);
        }
        previous = coedge;
        previousId = coedgeId;
    }
    if (previous) {
        QELXIdentifier partner;
        x->GetPartnerCoedge(previousId, partner);
        if (partner.IsValid() && previous != edge->coedge())
            previous->set_partner(edge->coedge());
    }
}

void QELXVelmEdgePair::Create()
{
    const auto [creator, x, edge] = parts<EDGE>();
    if (!edge)
        return;
    QELXGeometryExporter* geometry = geometryOf(x);
    if (!geometry)
        return;
    const QELXIdentifier s = source();
    const bool fromDefaultImporter = importEdgeCurve(edge, geometry) == EdgeCurveRoad::DefaultImporter;
    CURVE* edgeCurve = edge->geometry();
    COEDGE* coedge = edge->coedge();
    if (edgeCurve && edgeCurve->has_equation() && edgeCurve->type() != 11 && coedge && coedge->start() != coedge->end()) {
        QELinterval range = edge->param_range();
        if (edge->sense() == REVERSED)
            range = -range;
        const curve& c = edgeCurve->equation();
        const bool covers = !c.periodic() && c.param_range().type() == interval_bounded && (c.param_range() << range);
        if (!covers)
            edgeCurve->equation_for_update().limit(range);
    }
    Ve_FixPCurve::FixPCurveOnParametricSurface(edge);
    // The default geometry importer hands over the source's pcurves as they
    // are; planes go without, as the curve importers leave them.
    if (fromDefaultImporter)
        velmInnerCall([&] { ve_refit_straying_pcurves(edge, true); });
    creator->TransferAliases(s, edge);
    if (fromDefaultImporter && edge->geometry() && edge->geometry()->type() == 11)
        rebuildIntcurve(edge);
}

namespace {

// A copy of the coedge's 2-D curve in the edge curve's parameter (null
// without pcurve): reversed when the coedge runs against the edge.
bs2_curve pcurveCopy(const COEDGE* coedge, const EDGE* edge)
{
    const PCURVE* pc = coedge->geometry();
    if (!pc || !pc->has_equation())
        return nullptr;
    bs2_curve copy = bs2_curve_copy(pc->def().cur());
    if (copy && pc->def().reversed())
        bs2_curve_reverse(copy);
    if (copy && coedge->sense() != edge->sense())
        bs2_curve_reverse(copy);
    return copy;
}

const surface* surfaceOf(const COEDGE* coedge)
{
    const LOOP* loop = coedge ? coedge->loop() : nullptr;
    const FACE* face = loop ? loop->face() : nullptr;
    return face && face->geometry() && face->geometry()->has_equation() ? &face->geometry()->equation() : nullptr;
}

QELinterval curveRange(const EDGE* edge)
{
    const QELinterval range = edge->param_range();
    return edge->sense() == REVERSED ? -range : range;
}

} // namespace

void QELXVelmEdgePair::rebuildIntcurve(EDGE* edge)
{
    COEDGE* c1 = edge->coedge();
    COEDGE* c2 = c1 ? c1->partner() : nullptr;
    const surface* s1 = surfaceOf(c1);
    if (!s1 || !c2 || c2 == c1 || c1->sense() == c2->sense())
        return;
    const surface* s2 = surfaceOf(c2);
    QELinterval range = curveRange(edge);
    if (range.infinite() || range.length() <= QELresabs)
        return;
    if (edge->closed()) {
        // Vertices a little off the curve's start are put on it (the
        // curve's point: the edge's start position is its vertex's).
        const QELposition start =
            edge->geometry()->equation().eval_position(edge->sense() == REVERSED ? -edge->param_range().start_pt()
                                                                                  : edge->param_range().start_pt());
        for (VERTEX* v : {edge->start(), edge->end()})
            if (APOINT* point = v ? v->geometry() : nullptr) {
                const double gap = (point->coords() - start).len();
                if (gap > QELresabs && gap < Gk_Def::FuzzSnap)
                    point->set_coords(start);
            }
    }
    // The edge closes on a periodic curve: the curve is unlimited when its
    // whole range is the edge's span.
    const curve& current = edge->geometry()->equation();
    if (std::fabs(range.end_pt() - edge->param_range().start_pt()) <= QELresabs &&
        std::fabs(current.full_range().length() - range.length()) <= QELresabs) {
        edge->geometry()->equation_for_update().unlimit();
        edge->set_param_range(nullptr);
        range = curveRange(edge);
    }
    bs3_curve approximation = bs3_curve_make_cur(edge->geometry()->equation(), range.start_pt(), range.end_pt(),
                                                 QELresabs);
    if (!approximation)
        return;
    const intcurve plain(approximation, QELresabs);
    bs3_curve b3 = bs3_curve_copy(plain.cur());
    if (!b3)
        return;
    const QELinterval b3Range = bs3_curve_range(b3);
    if (b3Range.length() <= QELresabs) {
        bs3_curve_delete(b3);
        return;
    }
    if (std::fabs(b3Range.start_pt() - range.start_pt()) > QELresabs ||
        std::fabs(b3Range.end_pt() - range.end_pt()) > QELresabs) {
        bs3_curve subset = bs3_curve_subset(b3, range, QELresabs);
        bs3_curve_delete(b3);
        b3 = subset;
        if (!b3)
            return;
    }
    const QELinterval span = bs3_curve_range(b3);
    bs2_curve p1 = pcurveCopy(c1, edge);
    bs2_curve p2 = s2 ? pcurveCopy(c2, edge) : nullptr;
    for (auto [coedge, p, on] : {std::tuple(c1, p1, s1), std::tuple(c2, p2, s2)}) {
        if (!p || !on)
            continue;
        bs2_curve_reparam(span.start_pt(), span.end_pt(), p);
        // The coedge's own pcurve runs in the coedge's parameter again.
        bs2_curve own = bs2_curve_copy(p);
        if (coedge->sense() != edge->sense())
            bs2_curve_reverse(own);
        coedge->set_geometry(velm_make_pcurve(own, QELresfit, *on, "QELXVelmEdgePair", __LINE__));
    }
    intcurve* built = nullptr;
    int made = 1;
    const outcome bracket = velmCall([&] { made = buildIntcurve(b3, QELresfit, s1, s2, p1, p2, built); });
    if (made == 1) {
        // Not built: the copies are still ours.
        bs3_curve_delete(b3);
        bs2_curve_delete(p1);
        bs2_curve_delete(p2);
    }
    if (made == 0 && bracket.ok() && built)
        edge->set_geometry(make_curve(*built));
    else
        edge->set_geometry(make_curve(plain));
    delete built;
}

// ---- vertex

void QELXVelmVertexPair::Connect()
{
    const auto [creator, x, vertex] = parts<VERTEX>();
    if (!vertex)
        return;
    if (!geometryOf(x))
        return;
    const QELXIdentifier s = source();
    // A point that is not a number gives no point: the body's check then
    // refuses the body instead of carrying a vertex nowhere, and this says
    // which vertex it was.
    if (QELXPoint3D p; creator->GetSourcePoint(s, p))
        vertex->set_geometry(velm_require(new (0, "QELXVelmVertexPair", __LINE__, nullptr)
                                              APOINT(p.x(), p.y(), p.z())));
    else
        QELXWarningEvent::Fire((sourceEntityName("vertex", s) + ": its point is not finite").c_str());
    creator->TransferAliases(s, vertex);
    x->ReleaseGeometry(s, QELXReleasePoint);
}
