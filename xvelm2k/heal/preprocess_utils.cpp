// Export preprocessing: per target, what the document's solids become and
// what each body goes through before it is walked.
#include "heal/preprocess_utils.hxx"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "heal/body_processor.hxx"
#include "heal/heal_internal.hxx"
#include "geometry/seam_pcurves.hxx"
#include "geometry/surface_view.hxx"
#include "model/document.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/memory_init.hxx"
#include "persist/brep_attrib_transfer.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_options.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/velm_document.hxx"
#include "repair/post_process_util.hxx"
#include "velm/attrib.hxx"
#include "velm/body_heal.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/groups.hxx"
#include "velm/heal.hxx"
#include "velm/query.hxx"
#include "velm/spline_conversion.hxx"
#include "velm/topology_api.hxx"
#include "velm/topology_edit.hxx"

using O = Ve_OptionDoc;

namespace {

BODY* preKernelOf(Ve_BodyTag* body) { return reinterpret_cast<BODY*>(body); }
Ve_BodyTag* preTagOf(ENTITY* body) { return reinterpret_cast<Ve_BodyTag*>(body); }

void dropTransform(Ve_BodyTag* body) { api_change_body_trans(preKernelOf(body), nullptr); }

void dropTransforms(const QELXDynamicArray<Ve_BodyTag*>& bodies)
{
    for (int i = 0; i < bodies.Count(); ++i)
        if (bodies[i])
            dropTransform(bodies[i]);
}

// The recipe of the first target switch that is on, run on the subject;
// false when no switch is on.
template <class Subject>
bool runActiveRecipe(void (*const (&recipes)[7])(Subject*), Subject* subject)
{
    const int recipe = QELXPreprocessVelmUtils::activeRecipe();
    if (recipe < 0)
        return false;
    recipes[recipe](subject);
    return true;
}

void removeCellularTopology(const QELXDynamicArray<Ve_BodyTag*>& solids)
{
    ENTITY_LIST bodies;
    for (int i = 0; i < solids.Count(); ++i)
        if (solids[i])
            bodies.add(preKernelOf(solids[i]));
    api_ct_remove(bodies);
}

// The document's solids become `bodies`, in the native entity list too.
void replaceSolids(Ve_DocumentTag* doc, const QELXDynamicArray<Ve_BodyTag*>& bodies)
{
    QELXVelmDocument* base = doc->GetBaseDoc();
    doc->ClearBodies(base != nullptr);
    for (int i = 0; i < bodies.Count(); ++i) {
        Ve_BodyTag* body = bodies[i];
        if (!body)
            continue;
        if (O::isOn(O::TransferOldIgesHuskAsAttribs))
            QELXVelmBRepAttribTransfer::transferOldIgesHuskAttributesRecursively(preKernelOf(body));
        doc->appendSolid(body, false);
        if (base) {
            ENTITY_LIST one;
            one.add(preKernelOf(body));
            base->AppendNativeEntityList(&one);
        }
    }
}

QELXDynamicArray<Ve_BodyTag*> manifoldBodies(Ve_DocumentTag* doc)
{
    return Ve_BodyProcessor::getManifoldBodies(doc->GetSolids());
}

// The switches the V5 document recipe writes for the bodies of its export,
// as they were before it, put back when the export ends.
struct SavedSwitch {
    bool present = false;
    QELXValue value;
};
struct SavedSwitches {
    SavedSwitch smallBody, smallEdgeTol;
};
std::optional<SavedSwitches>& savedSwitches()
{
    static std::optional<SavedSwitches> saved;
    return saved;
}
SavedSwitch save(const Gk_Option* option)
{
    SavedSwitch s;
    if (option) {
        s.present = true;
        option->GetValue(s.value);
    }
    return s;
}
void restore(Gk_Option* option, const SavedSwitch& s)
{
    if (option && s.present)
        option->SetValue(s.value);
}

void removeSlivers(Ve_BodyTag* body, double tolerance, bool flag)
{
    Ve_PostProcessUtil(body).removeSliverFaces(tolerance, flag);
}

// The STEP preprocessing of one body: its periodic faces split, in one
// bracket. A kernel error rolls the body back; the body is then kept as it
// was, with a warning, rather than dropped from the export.
void preprocessStepBody(Ve_BodyTag* body, QELXDynamicArray<Ve_BodyTag*>& kept)
{
    ve_heal::taskStart("PreprocessSTEPStart", "PreprocessSTEP");
    const outcome split = velmInnerCall([&] { body->splitPeriodics(); });
    ve_heal::taskEnd("PreprocessSTEPEnd", "PreprocessSTEP");
    if (!split.ok())
        QELXWarningEvent::Fire("Splitting the periodic faces of a body failed; the body is exported unsplit");
    kept.Add(body);
}

bool cleanBody(Ve_BodyTag* body)
{
    return velmCall([&] { return api_clean_body(preKernelOf(body)); }).ok();
}

int uniqueKnots(bs3_surface s, bool inU)
{
    int n = 0;
    double* knots = nullptr;
    if (inU)
        bs3_surface_knots_u(s, n, knots);
    else
        bs3_surface_knots_v(s, n, knots);
    int distinct = 0;
    for (int i = 0; i < n; ++i)
        if (i == 0 || std::fabs(knots[i] - knots[i - 1]) > Gk_Def::FuzzKnot)
            ++distinct;
    delete[] knots;
    return distinct;
}

} // namespace

int QELXPreprocessVelmUtils::activeRecipe()
{
    Gk_Option* const switches[] = {O::PreprocessBodyPreProcessV4,   O::PreprocessBodyPreProcessV5,
                                   O::PreprocessBodyPreProcessStep, O::PreprocessBodyPreProcessVda,
                                   O::PreprocessBodyPreProcessIges, O::PreprocessBodyPreProcessGeneric,
                                   O::PreprocessBodyPreProcessIdeas};
    for (int i = 0; i < 7; ++i)
        if (O::isOn(switches[i]))
            return i;
    return -1;
}

// ---- documents ------------------------------------------------------------------

void QELXPreprocessVelmUtils::preProcessBodies(Ve_DocumentTag* doc)
{
    if (!doc)
        return;
    if (O::isOn(O::CheckBody))
        doc->Validate(true);
    using Recipe = void (*)(Ve_DocumentTag*);
    const Recipe recipes[] = {preProcessBodiesV4,   preProcessBodiesV5,      PreProcessBodiesStep, preProcessBodiesVda,
                              preProcessBodiesIges, preProcessBodiesGeneric, preProcessBodiesIdeas};
    if (runActiveRecipe(recipes, doc))
        doc->MarkPreprocessDone();
}

bool QELXPreprocessVelmUtils::removeScarEdges(Ve_DocumentTag* doc)
{
    if (!doc)
        return false;
    bool any = false;
    const QELXDynamicArray<Ve_BodyTag*> solids = doc->GetSolids();
    for (int i = 0; i < solids.Count(); ++i)
        any = removeScarEdges(solids[i]) || any;
    return any;
}

void QELXPreprocessVelmUtils::exportEnded()
{
    std::optional<SavedSwitches>& saved = savedSwitches();
    if (!saved)
        return;
    restore(O::SmallBody, saved->smallBody);
    restore(O::SmallEdgeTol, saved->smallEdgeTol);
    saved.reset();
}

void QELXPreprocessVelmUtils::preProcessBodiesV4(Ve_DocumentTag* doc)
{
    if (!doc)
        return;
    const QELXDynamicArray<Ve_BodyTag*> solids = doc->GetSolids();
    dropTransforms(solids);
    removeCellularTopology(solids);
    const QELXDynamicArray<Ve_BodyTag*> manifold = manifoldBodies(doc);
    replaceSolids(doc, manifold);
}

void QELXPreprocessVelmUtils::preProcessBodiesV5(Ve_DocumentTag* doc)
{
    if (!doc)
        return;
    const QELXDynamicArray<Ve_BodyTag*> solids = doc->GetSolids();
    dropTransforms(solids);
    removeCellularTopology(solids);
    for (int i = 0; i < solids.Count(); ++i)
        if (solids[i])
            removeScarEdges(solids[i]);
    const QELXDynamicArray<Ve_BodyTag*> manifold = manifoldBodies(doc);
    double largest = 1e-6;
    bool small = true;
    for (int i = 0; i < manifold.Count(); ++i) {
        QELXBox3D box;
        if (manifold[i]->GetBoundingBox(box) != 0) {
            small = false;
            break;
        }
        const double dx = box.low().x() - box.high().x(), dy = box.low().y() - box.high().y(),
                     dz = box.low().z() - box.high().z();
        largest = std::max(largest, dx * dx + dy * dy + dz * dz);
    }
    if (small)
        small = 1.0 > largest;
    // Both switches outlive this document; the first write of an export
    // keeps what they held, for exportEnded.
    if (!savedSwitches())
        savedSwitches() = SavedSwitches{save(O::SmallBody), save(O::SmallEdgeTol)};
    if (!small && O::SmallEdgeTol)
        O::SmallEdgeTol->SetValue(0.002);
    if (O::SmallBody)
        O::SmallBody->SetValue(small);
    replaceSolids(doc, manifold);
}

void QELXPreprocessVelmUtils::PreProcessBodiesStep(Ve_DocumentTag* doc)
{
    if (!doc)
        return;
    const bool byEdge = O::isOn(O::UnstitchNMEdge), byVertex = O::isOn(O::UnstitchNMVertex);
    QELXDynamicArray<Ve_BodyTag*> kept;
    const QELXDynamicArray<Ve_BodyTag*> solids = doc->GetSolids();
    for (int i = 0; i < solids.Count(); ++i) {
        Ve_BodyTag* body = solids[i];
        if (!body || !is_BODY(preKernelOf(body)))
            continue;
        dropTransform(body);
        const Ve_BodyTag::NonManifoldType kind =
            byEdge || byVertex ? body->isNonManifold() : Ve_BodyTag::Manifold;
        const bool unstitch = kind == Ve_BodyTag::NonManifoldBoth ||
                              (kind == Ve_BodyTag::NonManifoldEdges && byEdge) ||
                              (kind == Ve_BodyTag::NonManifoldVertices && byVertex);
        if (!unstitch) {
            preprocessStepBody(body, kept);
            continue;
        }
        const QELXDynamicArray<Ve_EntityTag*> pieces = body->unstitchNonManifold();
        for (int k = 0; k < pieces.Count(); ++k)
            if (pieces[k])
                preprocessStepBody(reinterpret_cast<Ve_BodyTag*>(pieces[k]), kept);
    }
    replaceSolids(doc, kept);
}

bool QELXPreprocessVelmUtils::xvda_supported_entity(ENTITY* e)
{
    return e && (is_BODY(e) || is_FACE(e) || is_EDGE(e) || is_VERTEX(e) || is_WIRE(e));
}

Ve_BodyTag* QELXPreprocessVelmUtils::xvda_splconvert_entity(ENTITY* e)
{
    if (!e)
        return nullptr;
    if (is_BODY(e))
        return xvda_splconvert_body(preTagOf(e));
    if (!is_FACE(e) && !is_WIRE(e) && !is_EDGE(e) && !is_VERTEX(e))
        return nullptr;
    Ve_BodyTag* made = Ve_BodyProcessor::bodyFromEntity(e);
    if (!made || is_VERTEX(e))
        return made;
    return xvda_splconvert_body(made);
}

Ve_BodyTag* QELXPreprocessVelmUtils::xvda_splconvert_body(Ve_BodyTag* body)
{
    Ve_BodyTag* converted = nullptr;
    const outcome r = velmInnerCall([&] {
        body->removeScribes(true);
        converted = body->bspline(true, true);
    });
    if (r.ok())
        return converted;
    // Rolled back to what it was: exported unconverted rather than lost.
    QELXWarningEvent::Fire("Converting a body to B-splines failed; the body is exported unconverted");
    return body;
}

void QELXPreprocessVelmUtils::preProcessBodiesVda(Ve_DocumentTag* doc)
{
    if (!doc)
        return;
    QELXDynamicArray<Ve_BodyTag*> converted;
    const QELXDynamicArray<Ve_BodyTag*> solids = doc->GetSolids();
    for (int i = 0; i < solids.Count(); ++i) {
        ENTITY* e = preKernelOf(solids[i]);
        if (!xvda_supported_entity(e))
            continue;
        if (Ve_BodyTag* body = xvda_splconvert_entity(e)) {
            dropTransform(body);
            converted.Add(body);
        }
    }
    replaceSolids(doc, converted);
}

void QELXPreprocessVelmUtils::preProcessBodiesIges(Ve_DocumentTag* doc)
{
    if (!doc)
        return;
    const QELXDynamicArray<Ve_BodyTag*> manifold = manifoldBodies(doc);
    replaceSolids(doc, manifold);
}

void QELXPreprocessVelmUtils::preProcessBodiesGeneric(Ve_DocumentTag* doc)
{
    if (!doc)
        return;
    removeCellularTopology(doc->GetSolids());
    QELXDynamicArray<Ve_BodyTag*> bodies;
    const QELXDynamicArray<Ve_BodyTag*> solids = doc->GetSolids();
    for (int i = 0; i < solids.Count(); ++i) {
        Ve_BodyTag* body = solids[i];
        if (!body || !is_BODY(preKernelOf(body)))
            continue;
        if (body->isNonManifold() == Ve_BodyTag::Manifold) {
            bodies.Add(body);
            continue;
        }
        const QELXDynamicArray<Ve_EntityTag*> pieces = body->unstitchNonManifold();
        for (int k = 0; k < pieces.Count(); ++k) {
            auto* piece = reinterpret_cast<Ve_BodyTag*>(pieces[k]);
            if (!piece)
                continue;
            if (piece->isNonManifold() == Ve_BodyTag::Manifold) {
                bodies.Add(piece);
                continue;
            }
            QELXWarningEvent::Fire("Unstitch on non-manifold velm body was unsuccessful. Exploded into sheets");
            ENTITY_LIST faces;
            api_get_faces(preKernelOf(piece), faces);
            for (int f = 0; f < faces.count(); ++f) {
                BODY* sheet = nullptr;
                api_unhook_face(static_cast<FACE*>(faces[f]), sheet);
                if (sheet)
                    bodies.Add(preTagOf(sheet));
            }
        }
    }
    replaceSolids(doc, bodies);
    dropTransforms(doc->GetSolids());
}

void QELXPreprocessVelmUtils::preProcessBodiesIdeas(Ve_DocumentTag* doc)
{
    if (!doc)
        return;
    removeCellularTopology(doc->GetSolids());
    QELXDynamicArray<Ve_BodyTag*> collected;
    const QELXDynamicArray<Ve_BodyTag*> solids = doc->GetSolids();
    for (int i = 0; i < solids.Count(); ++i) {
        ENTITY* e = preKernelOf(solids[i]);
        if (!e)
            continue;
        if (is_BODY(e)) {
            dropTransform(preTagOf(e));
            collected.Add(preTagOf(e));
        } else if (is_FACE(e) || is_WIRE(e) || is_EDGE(e) || is_VERTEX(e)) {
            if (Ve_BodyTag* made = Ve_BodyProcessor::bodyFromEntity(e))
                collected.Add(made);
        }
    }
    replaceSolids(doc, Ve_BodyProcessor::getManifoldBodies(collected));
}

// ---- bodies ----------------------------------------------------------------------

void QELXPreprocessVelmUtils::PreProcessBody(Ve_BodyTag* body)
{
    if (!body)
        return;
    using Recipe = void (*)(Ve_BodyTag*);
    const Recipe recipes[] = {PreProcessBodyV4,   PreProcessBodyV5,      PreProcessBodyStep, PreProcessBodyVda,
                              PreProcessBodyIges, PreProcessBodyGeneric, PreProcessBodyIdeas};
    if (!runActiveRecipe(recipes, body))
        PreProcessBodyDefault(body);
    if (body->getFaces().Count() > 0)
        SplineConvertOndrelUnsupportedSurfaces(body);
}

void QELXPreprocessVelmUtils::PreProcessBodyDefault(Ve_BodyTag* body)
{
    if (O::isOn(O::ConvertSpline))
        body->bspline(true, false);
}

void QELXPreprocessVelmUtils::PreProcessBodyV4(Ve_BodyTag* body)
{
    const bool analytic = O::isOn(O::NeedAnalyticWhileSplining);
    removeSlivers(body, 0.001, false);
    if (analytic || QELXVelmBRepAttribTransfer::GetPlaneUnboundedness(preKernelOf(body)))
        body->attachAnalyticSurfaceAsAttribOnFaces();
    if (Ve_BodyTag* converted = body->bspline(true, true))
        removeSlivers(converted, 0.0015, false);
    removeScarEdges(body);
    ReparametrizeBadFaces(body);
}

void QELXPreprocessVelmUtils::PreProcessBodyV5(Ve_BodyTag* body)
{
    const QELXDynamicArray<Ve_FaceTag*> faces = body->getFaces();
    if (faces.Count() == 1) {
        QELXString bodyLabel, faceLabel;
        Ve_AttribTransfer::getLabel(preKernelOf(body), bodyLabel);
        Ve_AttribTransfer::getLabel(reinterpret_cast<ENTITY*>(faces[0]), faceLabel);
        if (bodyLabel.isEmpty() && !faceLabel.isEmpty())
            Ve_AttribTransfer::setLabel(preKernelOf(body), faceLabel);
    }
    if (O::isOn(O::SplitBody) || O::isOn(O::SplitPeriodic)) {
        Gk_Option* trim = O::TrimAllEdgesAfterSplit;
        const bool was = O::isOn(trim);
        if (trim)
            trim->set(true);
        try {
            body->splitPeriodics();
        } catch (...) {
            if (trim)
                trim->set(was);
            throw;
        }
        if (trim)
            trim->set(was);
    }
    if (O::SmallBody && !O::SmallBody->on() && O::SmallEdgeTol)
        Ve_PostProcessUtil(body).removeSmallEdges(O::SmallEdgeTol->value(), false);
    if (O::isOn(O::RemoveSliver)) {
        const double tolerance = O::SmallEdgeTol ? O::SmallEdgeTol->value() : 0.0;
        removeSlivers(body, tolerance, get_owner_transf(preKernelOf(body)).scaling() > 1.0);
    }
    ReparametrizeBadFaces(body);
}

void QELXPreprocessVelmUtils::PreProcessBodyStep(Ve_BodyTag* body) { removeScarEdges(body); }
void QELXPreprocessVelmUtils::PreProcessBodyVda(Ve_BodyTag* body) { removeScarEdges(body); }

void QELXPreprocessVelmUtils::PreProcessBodyIges(Ve_BodyTag* body)
{
    velmInnerCall([&] {
        body->removeScribes(true);
        body->splitPeriodics();
        body->applyTrans();
    });
    if (O::isOn(O::ConvertSpline))
        body->bspline(true, false);
    removeScarEdges(body);
}

void QELXPreprocessVelmUtils::PreProcessBodyGeneric(Ve_BodyTag* body)
{
    Gk_Option* clean = Gk_OptionDoc::fetchOption(QELXOptionName::XVelm_Export_Preprocess_CleanModel);
    const bool cleaning = clean && clean->on();
    if (cleaning)
        cleanBody(body);
    int count = body->getNumberOfFaces();
    if (count > 1) {
        for (int i = 0; i < count; ++i) {
            FACE* face = reinterpret_cast<FACE*>(body->getFaceAt(i));
            if (!face || !face->loop() || face->loop()->next() || !face->loop()->start() ||
                face->loop()->start()->next() != face->loop()->start())
                continue;
            double area = 0.0;
            if (velmGuard([&] { area = ent_area_prop(face, 0.001).area(); }) != 0)
                continue;
            if (std::fabs(area) < QELresnor) {
                if (velmGuard([&] { sg_remove_face_from_body(face); }) != 0)
                    continue;
                --count;
                --i;
            }
        }
    }
    if (cleaning)
        removeScarEdges(body);
}

void QELXPreprocessVelmUtils::PreProcessBodyIdeas(Ve_BodyTag* body)
{
    body->bspline(true, false);
    removeSlivers(body, QELresabs, true);
    removeScarEdges(body);
}

bool QELXPreprocessVelmUtils::removeScarEdges(Ve_BodyTag* body)
{
    ve_heal::taskStart("RemoveScarEdgesStart", "RemoveScarEdges");
    if (!body) {
        ve_heal::taskEnd("RemoveScarEdgesEnd", "RemoveScarEdges");
        return false;
    }
    ENTITY_LIST scars;
    // The faces listed once (the view would walk the body for each).
    ENTITY_LIST faces;
    api_get_faces(reinterpret_cast<ENTITY*>(body), faces);
    for (int i = 0; i < faces.count(); ++i) {
        ENTITY* face = faces[i];
        if (!face)
            continue;
        ENTITY_LIST edges;
        api_get_edges(face, edges);
        for (int k = 0; k < edges.count(); ++k) {
            auto* edge = static_cast<EDGE*>(edges[k]);
            COEDGE* c = edge->coedge();
            if (c && c->partner() && c->owner() == c->partner()->owner())
                scars.add(edge);
        }
    }
    for (int k = 0; k < scars.count(); ++k)
        if (ATTRIB* mark = find_attrib(scars[k], ATTRIB_ST_TYPE, NO_MERGE_ATTRIB_TYPE))
            mark->lose();
    for (int k = 0; k < scars.count(); ++k)
        if (scars[k] && !scars[k]->is_lost())
            api_clean_entity(scars[k]);
    ve_heal::taskEnd("RemoveScarEdgesEnd", "RemoveScarEdges");
    return scars.count() > 0;
}

void QELXPreprocessVelmUtils::ReparametrizeBadFaces(Ve_BodyTag* body)
{
    ENTITY_LIST faces;
    api_get_faces(preKernelOf(body), faces);
    for (int i = 0; i < faces.count(); ++i) {
        auto* face = static_cast<FACE*>(faces[i]);
        if (!is_spline_face(face))
            continue;
        const auto& spl = static_cast<const spline&>(face->geometry()->equation());
        bs3_surface bs = spl.sur(-1.0);
        if (!bs)
            continue;
        const int nu = GetUniqueKnotsU(bs), nv = GetUniqueKnotsV(bs);
        const QELpar_box range = spl.param_range();
        const double lu = range.u_range().length(), lv = range.v_range().length();
        const bool inU = lu > 0.0 && lu < 0.001 && nu > 25, inV = lv > 0.0 && lv < 0.001 && nv > 25;
        if (!inU && !inV)
            continue;
        velmCall([&] {
            spline copy(spl);
            if (inU)
                copy.reparam_u(0.0, nu - 1.0);
            if (inV)
                copy.reparam_v(0.0, nv - 1.0);
            face->set_geometry(make_surface(copy), 1);
            sg_rm_pcurves_from_entity(face, 0, 1);
            ve_add_loop_pcurves(face);
        });
    }
}

int QELXPreprocessVelmUtils::GetUniqueKnotsU(bs3_surf_def* const& s) { return uniqueKnots(s, true); }
int QELXPreprocessVelmUtils::GetUniqueKnotsV(bs3_surf_def* const& s) { return uniqueKnots(s, false); }

void QELXPreprocessVelmUtils::SplineConvertOndrelUnsupportedSurfaces(Ve_BodyTag* body)
{
    const QELXDynamicArray<Ve_FaceTag*> faces = body->getFaces();
    for (int i = 0; i < faces.Count(); ++i) {
        auto* face = reinterpret_cast<FACE*>(faces[i]);
        // Faces without a surface have nothing to replace.
        if (!face->geometry() || !face->geometry()->has_equation())
            continue;
        Ve_SurfaceTag* surface = Ve_SurfaceTag::view(face->geometry());
        if (surface->typeId() != 0)
            continue;
        bs3_surface approx = surface->bspline_bs3(faces[i]->getSpan());
        if (!approx)
            continue; // the face keeps a surface the walk reports, rather than none
        // One bracket: a failure leaves the face on its old surface with its pcurves.
        velmCall([&] {
            spline replacement(VELM_MAKE(exact_spl_sur, approx));
            approx = nullptr;
            sg_rm_pcurves_from_entity(face, 0, 1);
            face->set_geometry(make_surface(replacement), 1);
            ve_add_loop_pcurves(face);
        });
        if (approx)
            bs3_surface_delete(approx);
    }
}
