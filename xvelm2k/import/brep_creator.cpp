#include "import/brep_creator.hxx"

#include "import/alias_attribute_importer.hxx"
#include "geometry/seam_pcurves.hxx"
#include "import/brep_importer.hxx"
#include "import/source_names.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "model/math_types.hxx"
#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_geometry_exporter.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/entity.hxx"
#include "velm/insanity.hxx"
#include "velm/memory.hxx"
#include "velm/query.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"
#include "velm/topology_edit.hxx"

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

// Findings that leave a body unusable whatever healing does later: broken
// rings, owners and vertex lists, loops that do not close, edges and vertices
// without geometry. Geometry that is merely off is healing's business.
bool isStructuralFinding(int id)
{
    for (insanity_entry e : {insanity_no_geometry, insanity_open_loop, insanity_bad_partner_ring,
                             insanity_bad_next_ring, insanity_bad_owner, insanity_bad_vertex_edges,
                             insanity_bad_face_loops, insanity_not_finite})
        if (id == qelvelm_insanity_errmod.message_code(e))
            return true;
    return false;
}

std::string bodyName(const QELXIdentifier& body) { return sourceEntityName("body", body); }

} // namespace

QELXVelmBRepCreator::QELXVelmBRepCreator(QELXBRepExporter* exporter, Gk_ImportContext* context,
                                         QELXVelmBRepImporter* importer)
    : m_faces(this), m_loops(this), m_coedges(this), m_edges(this), m_vertices(this), m_exporter(exporter),
      m_context(context), m_importer(importer)
{
    if (m_exporter)
        m_exporter->GetAttributeExporter(m_attributes);
}

QELXVelmBRepCreator::~QELXVelmBRepCreator()
{
    m_exporter = nullptr;
    m_context = nullptr;
    m_importer = nullptr;
    m_attributes = nullptr;
}

Ve_CocoonTagHandle QELXVelmBRepCreator::GetCocoon() { return getCocoon(); }

FACE* QELXVelmBRepCreator::GetFace(const QELXIdentifier& face)
{
    return static_cast<FACE*>(catalogueEntity(m_faces.FindOrCreateItem(catalogueKey(face))));
}

LOOP* QELXVelmBRepCreator::GetLoop(const QELXIdentifier& loop)
{
    return static_cast<LOOP*>(catalogueEntity(m_loops.FindOrCreateItem(catalogueKey(loop))));
}

LOOP* QELXVelmBRepCreator::FindLoop(const QELXIdentifier& loop) const
{
    QELXItemHandle item;
    return m_loops.Find(catalogueKey(loop), item) ? static_cast<LOOP*>(catalogueEntity(item)) : nullptr;
}

VERTEX* QELXVelmBRepCreator::GetVertex(const QELXIdentifier& vertex)
{
    if (!vertex.IsValid())
        return nullptr;
    return static_cast<VERTEX*>(catalogueEntity(m_vertices.FindOrCreateItem(catalogueKey(vertex))));
}

COEDGE* QELXVelmBRepCreator::GetCoedge(const QELXIdentifier& coedge, bool create)
{
    if (create)
        return static_cast<COEDGE*>(catalogueEntity(m_coedges.FindOrCreateItem(catalogueKey(coedge))));
    QELXItemHandle item;
    return m_coedges.Find(catalogueKey(coedge), item) ? static_cast<COEDGE*>(catalogueEntity(item)) : nullptr;
}

EDGE* QELXVelmBRepCreator::GetEdge(const QELXIdentifier& edge, bool create)
{
    if (!edge.IsValid())
        return nullptr;
    if (create)
        return static_cast<EDGE*>(catalogueEntity(m_edges.FindOrCreateItem(catalogueKey(edge))));
    QELXItemHandle item;
    return m_edges.Find(catalogueKey(edge), item) ? static_cast<EDGE*>(catalogueEntity(item)) : nullptr;
}

template <class Fn>
void QELXVelmBRepCreator::forEachFace(const QELXIdentifier& body, Road road, Fn&& fn)
{
    QELXBRepExporter* x = m_exporter;
    const auto facesOfShell = [&](const QELXIdentifier& shell) {
        int n = 0;
        x->GetNumberOfFacesFromShell(shell, n);
        for (int f = 0; f < n; ++f) {
            QELXIdentifier face;
            x->GetFaceFromShell(shell, f, face);
            fn(face);
        }
    };
    if (road == Road::Solid) {
        int lumps = 0;
        x->GetNumberOfLumpsFromBody(body, lumps);
        for (int l = 0; l < lumps; ++l) {
            QELXIdentifier lump;
            x->GetLumpFromBody(body, l, lump);
            int volumes = 0;
            x->GetNumberOfVolumesFromLump(lump, volumes);
            for (int v = 0; v < volumes; ++v) {
                QELXIdentifier volume;
                x->GetVolumeFromLump(lump, v, volume);
                int shells = 0;
                x->GetNumberOfShellsFromVolume(volume, shells);
                for (int s = 0; s < shells; ++s) {
                    QELXIdentifier shell;
                    x->GetShellFromVolume(volume, s, shell);
                    facesOfShell(shell);
                }
            }
        }
    } else if (road == Road::Sheet) {
        int shells = 0;
        x->GetNumberOf2DShellsFromBody(body, shells);
        for (int s = 0; s < shells; ++s) {
            QELXIdentifier shell;
            x->Get2DShellFromBody(body, s, shell);
            facesOfShell(shell);
        }
    } else {
        int n = 0;
        x->GetNumberOfFacesFromBody(body, n);
        for (int f = 0; f < n; ++f) {
            QELXIdentifier face;
            x->GetFaceFromBody(body, f, face);
            fn(face);
        }
    }
}

int QELXVelmBRepCreator::facePass(const QELXIdentifier& body, Road road)
{
    int total = 0;
    forEachFace(body, road, [&](const QELXIdentifier& face) {
        ++total;
        // A face the kernel could not allocate would leave a hole in the
        // body that nothing reports: the build fails instead.
        if (!GetFace(face))
            velm_out_of_memory();
    });
    return total;
}

void QELXVelmBRepCreator::edgePass(const QELXIdentifier& body, Road road)
{
    QELXBRepExporter* x = m_exporter;
    forEachFace(body, road, [&](const QELXIdentifier& face) {
        int loops = 0;
        x->GetNumberOfLoopsFromFace(face, loops);
        for (int l = 0; l < loops; ++l) {
            QELXIdentifier loop;
            x->GetLoopFromFace(face, l, loop);
            int coedges = 0;
            x->GetNumberOfCoedgesFromLoop(loop, coedges);
            for (int c = 0; c < coedges; ++c) {
                QELXIdentifier coedge, edge;
                x->GetCoedgeFromLoop(loop, c, coedge);
                x->GetEdgeFromCoedge(coedge, edge);
                GetEdge(edge, true);
            }
        }
    });
}

void QELXVelmBRepCreator::CreateSolidBody(const QELXIdentifier& body) { build(body, Road::Solid); }
void QELXVelmBRepCreator::CreateSheetBody(const QELXIdentifier& body) { build(body, Road::Sheet); }
void QELXVelmBRepCreator::CreateFaceBodies(const QELXIdentifier& body) { build(body, Road::Faces); }

void QELXVelmBRepCreator::build(const QELXIdentifier& body, Road road)
{
    if (!m_exporter || !m_context)
        return;
    Ve_OptionDoc::ImportPhase.setMax(-1);
    if (road == Road::Faces) {
        int n = 0;
        m_exporter->GetNumberOfFacesFromBody(body, n);
        if (n == 0) {
            Ve_OptionDoc::ImportPhase.setOver();
            return;
        }
    }
    Ve_CocoonTag* cocoon = getCocoon().get();
    const int firstBody = cocoon ? cocoon->getNumberOfBodies() : 0;
    m_boundingNothing.clear();
    // The framework's abort (or running out of memory) ends the import, but
    // first the board takes back what the build had made of this body.
    std::exception_ptr passing;
    const outcome built = velmCall([&] {
        try {
            if (facePass(body, road) == 0)
                return;
            edgePass(body, road);
            CreatePairs(body);
            turnLoopsUnderReflection();
            assemble(body, road);
            FinishEntities(body);
            relinkVertices();
            removeFacesWithoutSurface(road == Road::Solid
                                          ? "FACE with NULL geometry found, removing it from body."
                                          : "FACE with NULL geometry found. removing it from body it.");
        } catch (const QELXAbortException&) {
            passing = std::current_exception();
        } catch (const QELXAllocException&) {
            passing = std::current_exception();
        }
        if (passing)
            sys_error(qelvelm_api_errmod.message_code(0));
    });
    Ve_OptionDoc::ImportPhase.setOver();
    const auto catalogues = {static_cast<QELXCatalogue*>(&m_faces), static_cast<QELXCatalogue*>(&m_loops),
                             static_cast<QELXCatalogue*>(&m_coedges), static_cast<QELXCatalogue*>(&m_edges),
                             static_cast<QELXCatalogue*>(&m_vertices)};
    if (passing) {
        forgetAfterRollback(cocoon, catalogues, firstBody);
        m_lumps = QELXDynamicArray<LumpEntry>();
        std::rethrow_exception(passing);
    }
    if (!built.ok()) {
        forgetAfterRollback(cocoon, catalogues, firstBody);
        m_lumps = QELXDynamicArray<LumpEntry>();
        warnNotImported(body, "the kernel failed while building it");
        return;
    }
    dropSlitLoops(cocoon, firstBody, catalogues);
    std::vector<BODY*> refused;
    dropBadBodies(cocoon, body, firstBody, refused);
    discardOrphans(cocoon, catalogues, refused);
}

void QELXVelmBRepCreator::warnNotImported(const QELXIdentifier& body, const char* why)
{
    QELXWarningEvent::Fire((bodyName(body) + ": not imported, " + why).c_str());
}

void QELXVelmBRepCreator::assemble(const QELXIdentifier& body, Road road)
{
    Ve_CocoonTag* cocoon = getCocoon().get();
    if (road == Road::Faces) {
        int lumps = 0;
        m_exporter->GetNumberOfLumpsFromBody(body, lumps);
        if (lumps != 0)
            return;
        QELXDynamicArray<Ve_FaceTag*> faces;
        forEachFace(body, road, [&](const QELXIdentifier& face) {
            if (FACE* f = GetFace(face))
                faces.Add(ve_view<Ve_FaceTag>(f));
        });
        createFromFaceData(faces, true);
        if (cocoon)
            for (Ve_BodyTag* b : cocoon->getBodies())
                TransferAliases(body, reinterpret_cast<BODY*>(b));
        return;
    }
    BODY* kernelBody = velm_require(new (0, "QELXVelmBRepCreator", __LINE__, nullptr) BODY());
    LUMP* last = nullptr;
    const auto appendLump = [&](LUMP* lump) {
        if (last)
            last->set_next(lump);
        else
            kernelBody->set_lump(lump);
        lump->set_body(kernelBody);
        last = lump;
    };
    if (road == Road::Solid) {
        int lumps = 0;
        m_exporter->GetNumberOfLumpsFromBody(body, lumps);
        for (int l = 0; l < lumps; ++l) {
            QELXIdentifier source;
            m_exporter->GetLumpFromBody(body, l, source);
            LUMP* lump = velm_require(new (0, "QELXVelmBRepCreator", __LINE__, nullptr) LUMP());
            m_lumps.Add(LumpEntry{source, lump});
            appendLump(lump);
            if (source.IsValid())
                CreateLumpShells(source, lump);
        }
    } else {
        int shells = 0;
        m_exporter->GetNumberOf2DShellsFromBody(body, shells);
        for (int s = 0; s < shells; ++s) {
            QELXIdentifier source;
            m_exporter->Get2DShellFromBody(body, s, source);
            int faces = 0;
            m_exporter->GetNumberOfFacesFromShell(source, faces);
            if (faces == 0)
                continue;
            SHELL* shell = velm_require(new (0, "QELXVelmBRepCreator", __LINE__, nullptr) SHELL());
            LUMP* lump = velm_require(new (0, "QELXVelmBRepCreator", __LINE__, nullptr) LUMP());
            appendLump(lump);
            shell->set_lump(lump);
            lump->set_shell(shell);
            if (source.IsValid())
                FillShell(source, shell, false);
        }
    }
    if (cocoon)
        cocoon->appendBody(ve_view<Ve_BodyTag>(kernelBody));
    TransferAliases(body, kernelBody);
}

void QELXVelmBRepCreator::CreateLumpShells(const QELXIdentifier& lump, LUMP* kernelLump)
{
    if (!kernelLump || !m_exporter)
        return;
    QELXIdentifier volume;
    m_exporter->GetVolumeFromLump(lump, 0, volume);
    int shells = 0;
    m_exporter->GetNumberOfShellsFromVolume(volume, shells);
    SHELL* last = nullptr;
    for (int s = 0; s < shells; ++s) {
        QELXIdentifier source;
        m_exporter->GetShellFromVolume(volume, s, source);
        SHELL* shell = velm_require(new (0, "QELXVelmBRepCreator", __LINE__, nullptr) SHELL());
        shell->set_lump(kernelLump);
        if (last)
            last->set_next(shell);
        else
            kernelLump->set_shell(shell);
        last = shell;
        if (source.IsValid())
            FillShell(source, shell, true);
    }
}

void QELXVelmBRepCreator::FillShell(const QELXIdentifier& shell, SHELL* kernelShell, bool solid)
{
    if (!kernelShell || !m_exporter)
        return;
    int n = 0;
    m_exporter->GetNumberOfFacesFromShell(shell, n);
    FACE* last = nullptr;
    for (int f = 0; f < n; ++f) {
        QELXIdentifier source;
        m_exporter->GetFaceFromShell(shell, f, source);
        FACE* face = GetFace(source);
        // A face already placed (a source listing it twice) keeps its place.
        if (!face || face->shell())
            continue;
        if (!solid) {
            face->set_sides(1);
            face->set_cont(0);
        }
        face->set_shell(kernelShell);
        if (last)
            last->set_next(face);
        else
            kernelShell->set_face(face);
        last = face;
    }
}

QELXVelmBRepCreator::Switches::Switches()
    : attributes(Ve_OptionDoc::isOn(Ve_OptionDoc::TransferAttribute)),
      pid(Ve_OptionDoc::TransferAttributePID ? Ve_OptionDoc::TransferAttributePID->count() : 0),
      pname(Ve_OptionDoc::TransferAttributePName ? Ve_OptionDoc::TransferAttributePName->count() : 0),
      layer(Ve_OptionDoc::isOn(Ve_OptionDoc::TransferLayer))
{
}

int QELXVelmBRepCreator::bodyLayer(const QELXIdentifier& body) const
{
    int layer = -1;
    if (m_attributes)
        m_attributes->GetLayer(body, layer);
    return layer;
}

Gk_ObsWraper QELXVelmBRepCreator::callbackFor(const char* entity) const
{
    return Gk_ImportMachine::fetchCallbackForEntity(entity,
                                                    QELXDocumentUtils::GetXType(m_context->GetTargetDocument()),
                                                    QELXDocumentUtils::GetXType(m_context->GetSourceDocument()),
                                                    false);
}

void QELXVelmBRepCreator::finishEntity(ENTITY* entity, const QELXIdentifier& source, int bit,
                                       const Gk_ObsWraper& callback, int referenceLayer)
{
    const Switches on;
    if (on.attributes)
        Ve_AttribTransfer::transferAttributes(entity, source, m_attributes, on.layer);
    if (on.pid & bit)
        Ve_AttribTransfer::transferPIDAttribute(entity, source, m_attributes);
    if (on.pname & bit)
        Ve_AttribTransfer::transferPNameAttribute(entity, source, m_attributes);
    if (m_importer && entity && on.layer && m_importer->GetLayerImporter())
        m_importer->GetLayerImporter()->ImportEntityLayer(entity, source, m_attributes, referenceLayer);
    Gk_ObsWraper(callback).setEntityCallback(reinterpret_cast<const void*>(source.GetValue()), entity);
}

void QELXVelmBRepCreator::CreatePairs(const QELXIdentifier& body)
{
    if (!m_exporter || !m_context)
        return;
    const int layer = bodyLayer(body);

    const QELXDynamicArray<QELXCatalogue::Entry> faces = m_faces.Entries();
    Ve_OptionDoc::ImportSurfacePhase.setMax(faces.Count());
    QELXStartConversionStageEvent faceStage("Face", faces.Count(), 0.8, true);
    QELXEventBus::Fire(faceStage);
    const Gk_ObsWraper faceCallback = callbackFor("Face");
    int k = 0;
    for (const QELXCatalogue::Entry& e : faces) {
        m_faces.MakePair(e.key, e.item)->Create();
        const QELXIdentifier source = catalogueSource(e.key);
        ENTITY* face = catalogueEntity(e.item);
        finishEntity(face, source, 4, faceCallback, layer);
        QELXEndTranslateEntityEvent::Fire(
            0, source, QELXIdentifier(face, QELXBRepExporter::QELXBRepTypeFace, nullptr, "ENTITY"));
        m_exporter->ReleaseGeometry(source, QELXReleaseSurface);
        Ve_OptionDoc::ImportSurfacePhase.setDone(++k);
        QELXStartTranslateEntityEvent::Fire("Face", "BRep", k);
    }
    faceStage.SetFinished();
    QELXEventBus::Fire(faceStage);

    QELXGeometryExporter* geometry = nullptr;
    if (Ve_OptionDoc::isOn(Ve_OptionDoc::UseDefaultGeomImporter) &&
        m_exporter->GetGeometryExporter(geometry) == QELI_OK && geometry)
        for (const QELXCatalogue::Entry& e : m_coedges.Entries()) {
            m_coedges.MakePair(e.key, e.item)->Create();
            m_exporter->ReleaseGeometry(catalogueSource(e.key), QELXReleasePCurve);
        }
    Ve_OptionDoc::ImportSurfacePhase.setOver();

    const Switches on;
    const Gk_ObsWraper loopCallback = callbackFor("Loop");
    for (const QELXCatalogue::Entry& e : m_loops.Entries()) {
        m_loops.MakePair(e.key, e.item)->Create();
        const QELXIdentifier source = catalogueSource(e.key);
        ENTITY* loop = catalogueEntity(e.item);
        // A loop left without coedges (none in the source, or an apex loop
        // whose vertex the source does not have) bounds nothing: it leaves
        // its face, which stays whole without it.
        if (loop && !static_cast<LOOP*>(loop)->start()) {
            // A face whose every loop went so bounds nothing (a loop of the
            // source's degenerate edges alone, a boundary shrunk to a point):
            // it goes when the body is built, named.
            if (FACE* face = static_cast<LOOP*>(loop)->face();
                face && std::find(m_boundingNothing.begin(), m_boundingNothing.end(), face) == m_boundingNothing.end())
                m_boundingNothing.push_back(face);
            dropEmptyLoop(static_cast<LOOP*>(loop));
            static_cast<VelmValue*>(e.item.get())->Forget();
            continue;
        }
        if (on.attributes)
            Ve_AttribTransfer::transferAttributes(loop, source, m_attributes, false);
        Gk_ObsWraper(loopCallback).setEntityCallback(reinterpret_cast<const void*>(source.GetValue()), loop);
        QELXEndTranslateEntityEvent::Fire(
            0, source, QELXIdentifier(loop, QELXBRepExporter::QELXBRepTypeLoop, nullptr, "ENTITY"));
        m_exporter->ReleaseGeometry(source, QELXReleaseLoop);
    }

    const QELXDynamicArray<QELXCatalogue::Entry> edges = m_edges.Entries();
    Ve_OptionDoc::ImportCurvePhase.setMax(edges.Count());
    QELXStartConversionStageEvent edgeStage("Edge", edges.Count(), 0.2, true);
    QELXEventBus::Fire(edgeStage);
    const Gk_ObsWraper edgeCallback = callbackFor("Edge");
    k = 0;
    for (const QELXCatalogue::Entry& e : edges) {
        m_edges.MakePair(e.key, e.item)->Create();
        const QELXIdentifier source = catalogueSource(e.key);
        ENTITY* edge = catalogueEntity(e.item);
        finishEntity(edge, source, 2, edgeCallback, layer);
        QELXEndTranslateEntityEvent::Fire(
            0, source, QELXIdentifier(edge, QELXBRepExporter::QELXBRepTypeEdge, nullptr, "ENTITY"));
        m_exporter->ReleaseGeometry(source, QELXReleaseCurve);
        Ve_OptionDoc::ImportCurvePhase.setDone(++k);
        QELXStartTranslateEntityEvent::Fire("Edge", "BRep", k);
    }
    edgeStage.SetFinished();
    QELXEventBus::Fire(edgeStage);

    for (const QELXCatalogue::Entry& e : faces) {
        static_cast<QELXVelmFacePair*>(m_faces.MakePair(e.key, e.item).get())->FixOrientation();
        // Every pcurve of the face is made by now: each loop's join up, a seam's uses a period apart.
        ve_place_loop_pcurves(static_cast<FACE*>(catalogueEntity(e.item)), sourceEntityName("face", catalogueSource(e.key)));
    }
    Ve_OptionDoc::ImportCurvePhase.setOver();
}

void QELXVelmBRepCreator::dropEmptyLoop(LOOP* loop)
{
    if (FACE* face = loop->face()) {
        if (face->loop() == loop) {
            face->set_loop(loop->next());
        } else {
            for (LOOP* l = face->loop(); l; l = l->next())
                if (l->next() == loop) {
                    l->set_next(loop->next());
                    break;
                }
        }
    }
    loop->set_next(nullptr);
    loop->set_face(nullptr);
    loop->lose();
}

void QELXVelmBRepCreator::FinishEntities(const QELXIdentifier& body)
{
    if (!m_context)
        return;
    const Switches on;
    const int layer = bodyLayer(body);

    const Gk_ObsWraper vertexCallback = callbackFor("Vertex");
    m_vertices.ForEachEntry([&](const KeyHandle& key, const QELXItemHandle& item) {
        const QELXIdentifier source = catalogueSource(key);
        ENTITY* vertex = catalogueEntity(item);
        if (on.attributes)
            Ve_AttribTransfer::transferAttributes(vertex, source, m_attributes, on.layer);
        QELXEndTranslateEntityEvent::Fire(
            0, source, QELXIdentifier(vertex, QELXBRepExporter::QELXBRepTypeVertex, nullptr, "ENTITY"));
        if (on.pid & 1)
            Ve_AttribTransfer::transferPIDAttribute(vertex, source, m_attributes);
        if (on.pname & 1)
            Ve_AttribTransfer::transferPNameAttribute(vertex, source, m_attributes);
        if (m_importer && vertex && on.layer && m_importer->GetLayerImporter())
            m_importer->GetLayerImporter()->ImportEntityLayer(vertex, source, m_attributes, layer);
        Gk_ObsWraper(vertexCallback).setEntityCallback(reinterpret_cast<const void*>(source.GetValue()), vertex);
    });

    const Gk_ObsWraper lumpCallback = callbackFor("Lump");
    for (const LumpEntry& l : m_lumps) {
        if (on.attributes)
            Ve_AttribTransfer::transferAttributes(l.lump, l.source, m_attributes, false);
        Gk_ObsWraper(lumpCallback).setEntityCallback(reinterpret_cast<const void*>(l.source.GetValue()), l.lump);
    }

    const Gk_ObsWraper bodyCallback = callbackFor("TplgyBody");
    if (Ve_CocoonTag* cocoon = getCocoon().get())
        for (Ve_BodyTag* b : cocoon->getBodies()) {
            BODY* kernelBody = reinterpret_cast<BODY*>(b);
            if (on.attributes)
                Ve_AttribTransfer::transferAttributes(kernelBody, body, m_attributes, on.layer);
            if (m_importer && kernelBody && on.layer && m_importer->GetLayerImporter())
                m_importer->GetLayerImporter()->ImportEntityLayer(kernelBody, body, m_attributes, -1);
            Gk_ObsWraper(bodyCallback).setEntityCallback(reinterpret_cast<const void*>(body.GetValue()), kernelBody);
            QELXEndTranslateEntityEvent::Fire(
                0, body, QELXIdentifier(kernelBody, QELXBRepExporter::QELXBRepTypeBody, nullptr, "ENTITY"));
        }
}

void QELXVelmBRepCreator::turnLoopsUnderReflection()
{
    if (!m_context || !Ve_Morph(m_context->GetMorph()).reflects())
        return;
    // A reflected surface keeps pointing to the same side of its face (as the
    // kernel's own transforms keep it), but a loop that ran counter-clockwise
    // about it now runs clockwise: every loop is turned round.
    m_loops.ForEachEntry([](const KeyHandle&, const QELXItemHandle& item) {
        if (auto* loop = static_cast<LOOP*>(catalogueEntity(item)); loop && loop->face())
            loop->reverse();
    });
}

void QELXVelmBRepCreator::relinkVertices()
{
    // Each vertex is relinked on its own, so the order is free: taken in the
    // order the kernel laid the vertices out, each one's edges and coedges lie
    // near the last one's, where the catalogue's slot order would jump about
    // the whole model. The walk adds nothing to a catalogue.
    std::vector<std::pair<VERTEX*, const Key*>> vertices;
    vertices.reserve(static_cast<std::size_t>(m_vertices.Count()));
    m_vertices.ForEachEntry([&](const KeyHandle& key, const QELXItemHandle& item) {
        if (auto* vertex = static_cast<VERTEX*>(catalogueEntity(item)))
            vertices.emplace_back(vertex, key.get());
    });
    std::sort(vertices.begin(), vertices.end(),
              [](const auto& a, const auto& b) { return std::less<const VERTEX*>()(a.first, b.first); });
    for (const auto& [vertex, key] : vertices) {
        const QELXIdentifier source = key ? static_cast<const QELXIdentifierKey*>(key)->GetIdentifier() : QELXIdentifier();
        int n = 0;
        m_exporter->GetNumberOfEdgesFromVertex(source, n);
        for (int i = 0; i < n; ++i) {
            QELXIdentifier edge;
            m_exporter->GetEdgeFromVertex(source, i, edge);
            if (EDGE* kernelEdge = GetEdge(edge, false))
                vertex->add_edge(kernelEdge);
        }
        ve_view<Ve_VertexTag>(vertex)->minimizeReferals();
    }
}

void QELXVelmBRepCreator::removeFacesWithoutSurface(const char* warning)
{
    Ve_CocoonTag* cocoon = getCocoon().get();
    std::vector<FACE*> boundingNothing;
    boundingNothing.swap(m_boundingNothing);
    if (!cocoon)
        return;
    for (Ve_BodyTag* b : cocoon->getBodies()) {
        ENTITY_LIST faces;
        api_get_faces(reinterpret_cast<BODY*>(b), faces);
        for (int i = 0, n = faces.count(); i < n; ++i) {
            auto* face = static_cast<FACE*>(faces[i]);
            const bool bounded = face && !face->loop() &&
                                 std::find(boundingNothing.begin(), boundingNothing.end(), face) != boundingNothing.end();
            if (!face || (face->geometry() && !bounded))
                continue;
            BODY* loose = nullptr;
            std::string place;
            if (api_unhook_face(face, loose).ok() && loose) {
                api_delent(loose);
                // No later lookup may hand out the deleted face.
                m_faces.ForEachEntry([face, &place](const KeyHandle& key, const QELXItemHandle& item) {
                    if (catalogueEntity(item) == face) {
                        static_cast<VelmValue*>(item.get())->Forget();
                        place = sourceEntityName("face", catalogueSource(key));
                    }
                });
            }
            if (bounded) {
                if (!place.empty())
                    QELXWarningEvent::Fire((place + ": not imported, its loops bound nothing").c_str());
                continue;
            }
            QELXWarningEvent::Fire(warning);
            // The fixed text names no face: the source's face follows it.
            if (!place.empty())
                QELXWarningEvent::Fire((place + ": not imported, it has no surface").c_str());
        }
    }
}

namespace {

// Whether every coedge of the loop is one of two uses of its edge, both in
// this loop and running opposite ways: the loop walks seams both ways and
// cuts nothing off its surface.
bool slitLoop(const LOOP* loop)
{
    const std::vector<const COEDGE*> ring = ve_seam_walk_ring(loop);
    if (ring.empty())
        return false;
    const auto inRing = [&ring](const COEDGE* c) { return std::find(ring.begin(), ring.end(), c) != ring.end(); };
    for (const COEDGE* c : ring) {
        const COEDGE* partner = c->partner();
        if (!c->edge() || !partner || partner == c || partner->partner() != c || partner->edge() != c->edge() ||
            partner->sense() == c->sense() || !inRing(partner))
            return false;
    }
    return true;
}

} // namespace

// A whole sphere written by another system bounds its face by the seam
// walked both ways between the poles; the kernel holds such a face with no
// loop at all, and its check refuses the loop (the body was refused whole).
// Where the check refuses a face, its loops that cut nothing off go, with
// the edges and vertices nothing else uses, and the catalogues forget them.
void QELXVelmBRepCreator::dropSlitLoops(Ve_CocoonTag* cocoon, int firstBody,
                                        std::initializer_list<QELXCatalogue*> catalogues)
{
    if (!cocoon)
        return;
    const QELXDynamicArray<Ve_BodyTag*> bodies = cocoon->getBodies();
    bool dropped = false;
    for (int i = firstBody; i < bodies.Count(); ++i) {
        ENTITY_LIST faces;
        if (!bodies[i] || !api_get_faces(reinterpret_cast<BODY*>(bodies[i]), faces).ok())
            continue;
        for (int f = 0; f < faces.count(); ++f) {
            auto* face = static_cast<FACE*>(faces[f]);
            int counts[5] = {0, 0, 0, 0, 0};
            if (!face || api_check_face_loops(face, counts).ok())
                continue;
            for (LOOP* loop = face->loop(); loop;) {
                LOOP* next = loop->next();
                if (slitLoop(loop) && api_del_entity(loop).ok())
                    dropped = true;
                loop = next;
            }
        }
    }
    if (!dropped)
        return;
    for (QELXCatalogue* c : catalogues)
        c->ForEachEntry([](const KeyHandle&, const QELXItemHandle& item) {
            if (ENTITY* entity = catalogueEntity(item);
                entity && (!velm_is_live_entity(entity) || entity->is_lost()))
                static_cast<VelmValue*>(item.get())->Forget();
        });
}

void QELXVelmBRepCreator::dropBadBodies(Ve_CocoonTag* cocoon, const QELXIdentifier& body, int firstBody,
                                        std::vector<BODY*>& refused)
{
    if (!cocoon)
        return;
    QELXDynamicArray<Ve_BodyTag*> bodies = cocoon->getBodies();
    QELXDynamicArray<Ve_BodyTag*> kept;
    for (int i = 0; i < bodies.Count(); ++i) {
        BODY* b = reinterpret_cast<BODY*>(bodies[i]);
        std::string finding;
        if (i >= firstBody && b) {
            insanity_list* findings = nullptr;
            if (api_check_entity(b, findings).ok() && findings)
                for (int f = 0; f < findings->count() && finding.empty(); ++f)
                    if (isStructuralFinding(findings->data(f)->get_insane_id()))
                        finding = findings->data(f)->get_message() + sourcePlaceOf(findings->data(f)->get_ent());
            delete findings;
        }
        if (finding.empty()) {
            kept.Add(bodies[i]);
            continue;
        }
        refused.push_back(b);
        warnNotImported(body, finding.c_str());
    }
    if (!refused.empty())
        cocoon->setBodies(kept);
}

std::string QELXVelmBRepCreator::sourcePlaceOf(const ENTITY* entity) const
{
    // A loop or coedge is told by the face it bounds (the finding's words
    // give its place there): a reader knows the face, not the loop.
    if (entity && is_COEDGE(entity) && static_cast<const COEDGE*>(entity)->loop())
        entity = static_cast<const COEDGE*>(entity)->loop();
    if (entity && is_LOOP(entity) && static_cast<const LOOP*>(entity)->face())
        entity = static_cast<const LOOP*>(entity)->face();
    // Only for a body refused: a walk of the catalogues costs nothing else.
    const std::pair<const QELXCatalogue*, const char*> kinds[] = {
        {&m_faces, "face"}, {&m_edges, "edge"}, {&m_vertices, "vertex"}, {&m_coedges, "coedge"}, {&m_loops, "loop"}};
    for (const auto& [catalogue, kind] : kinds) {
        QELXIdentifier source;
        catalogue->ForEachEntry([&](const KeyHandle& key, const QELXItemHandle& item) {
            if (!source.IsValid() && catalogueEntity(item) == entity)
                source = catalogueSource(key);
        });
        if (source.IsValid())
            return " at " + sourceEntityName(kind, source);
    }
    return std::string();
}

void QELXVelmBRepCreator::discardOrphans(Ve_CocoonTag* cocoon, std::initializer_list<QELXCatalogue*> catalogues,
                                         const std::vector<BODY*>& refused)
{
    // What the kept bodies hold stays; the refused bodies go, and so does what
    // bad source data left outside any body (an edge whose coedges went
    // elsewhere). A refused body may share a vertex or an edge with a kept one.
    const auto listAll = [](const BODY* body, ENTITY_LIST& list) {
        for (auto get : {api_get_lumps, api_get_shells, api_get_wires, api_get_faces, api_get_loops, api_get_coedges,
                         api_get_edges, api_get_vertices})
            if (!get(body, list).ok())
                return false;
        return true;
    };
    // Everything the kept bodies hold, once each: the list is the set the
    // lookups below ask, so nothing is hashed twice.
    ENTITY_LIST kept;
    if (cocoon)
        for (Ve_BodyTag* b : cocoon->getBodies())
            // A body not listed whole would lose what was missed: then only
            // what is surely outside every kept body goes, which is nothing.
            if (!listAll(reinterpret_cast<BODY*>(b), kept))
                return;
    std::vector<ENTITY*> doomed;
    for (BODY* b : refused) {
        ENTITY_LIST list;
        listAll(b, list);
        for (int i = 0, n = list.count(); i < n; ++i)
            if (!kept.contains(list[i]))
                doomed.push_back(list[i]);
        doomed.push_back(b);
    }
    for (QELXCatalogue* c : catalogues)
        c->ForEachEntry([&](const KeyHandle&, const QELXItemHandle& item) {
            if (ENTITY* entity = catalogueEntity(item); entity && !kept.contains(entity))
                doomed.push_back(entity);
        });
    // Kept vertices let go of edges outside the kept bodies first.
    velmCall([&] {
        for (int k = 0, n = kept.count(); k < n; ++k) {
            if (!is_VERTEX(kept[k]))
                continue;
            auto* vertex = static_cast<VERTEX*>(kept[k]);
            for (int i = vertex->count_edges() - 1; i >= 0; --i)
                if (!kept.contains(vertex->edge(i)))
                    vertex->delete_edge(vertex->edge(i));
        }
    });
    {
        // Lost together and freed once the last is lost, so that no link
        // between them meets a freed entity; a refused body lets go of what
        // it holds first, since a body takes its edges and vertices along.
        velm_lose_scope once;
        for (BODY* b : refused)
            if (velm_is_live_entity(b)) {
                b->set_lump(nullptr);
                b->set_wire(nullptr);
            }
        for (ENTITY* e : doomed)
            if (velm_is_live_entity(e))
                e->lose();
    }
    for (QELXCatalogue* c : catalogues)
        c->ForEachEntry([](const KeyHandle&, const QELXItemHandle& item) {
            if (auto* value = static_cast<VelmValue*>(item.get()); value && !velm_is_live_entity(value->GetEntity()))
                value->Forget();
        });
}

void QELXVelmBRepCreator::forgetAfterRollback(Ve_CocoonTag* cocoon, std::initializer_list<QELXCatalogue*> catalogues,
                                              int firstBody)
{
    if (cocoon) {
        QELXDynamicArray<Ve_BodyTag*> kept = cocoon->getBodies();
        while (kept.Count() > firstBody)
            kept.RemoveAt(kept.Count() - 1);
        cocoon->setBodies(kept);
    }
    for (QELXCatalogue* c : catalogues)
        c->ForEachEntry([](const KeyHandle&, const QELXItemHandle& item) {
            if (auto* value = static_cast<VelmValue*>(item.get()))
                value->Forget();
        });
}

bool QELXVelmBRepCreator::GetSourcePoint(const QELXIdentifier& vertex, QELXPoint3D& point) const
{
    QELXGeometryExporter* geometry = nullptr;
    if (!m_exporter || (m_exporter->GetGeometryExporter(geometry), !geometry))
        return false;
    QELXIdentifier pointId;
    m_exporter->GetVertexPoint(vertex, pointId);
    double xyz[3] = {0.0, 0.0, 0.0};
    geometry->GetCartesianPointData(pointId, xyz);
    point = QELXPoint3D(xyz[0], xyz[1], xyz[2]);
    if (m_context)
        point = m_context->GetMorph().Apply(point);
    return std::isfinite(point.x()) && std::isfinite(point.y()) && std::isfinite(point.z());
}

void QELXVelmBRepCreator::TransferAliases(const QELXIdentifier& source, ENTITY* entity)
{
    QELXAttributeExporter* attributes = nullptr;
    if (!m_exporter || m_exporter->GetAttributeExporter(attributes) != QELI_OK || !attributes)
        return;
    if (!m_aliases)
        m_aliases = std::make_unique<QELXVelmAliasAttributeImporter>();
    m_aliases->SetAttributeExporter(attributes);
    if (m_aliases->IsDisabled())
        return;
    QELIResult result = QELI_OK;
    m_aliases->AddSourceObjectAttribute(result, source, entity);
    m_aliases->TransferAlias(result, entity);
}
