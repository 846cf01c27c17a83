// Trim import of solids and sheets: each source face built alone from its
// surface and loops (or cut into faces by the trimmed face controller when
// trim repair is on) and the faces turned into sheet bodies; joining them is
// left to the healing after import.
#include "import/brep_importer.hxx"

#include <string>
#include <unordered_map>
#include <vector>

#include "import/brep_creator.hxx"
#include "import/source_names.hxx"
#include "model/kernel_call_bracket.hxx"
#include "persist/brep_attrib_transfer.hxx"
#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "trim/stitch_creator.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

// The switches the road reads once; bit value 4 of the counts selects faces.
struct TrimRoadSwitches {
    bool attributes = Ve_OptionDoc::isOn(Ve_OptionDoc::TransferAttribute);
    bool layer = Ve_OptionDoc::isOn(Ve_OptionDoc::TransferLayer);
    int pid = Ve_OptionDoc::TransferAttributePID ? Ve_OptionDoc::TransferAttributePID->count() : 0;
    int pname = Ve_OptionDoc::TransferAttributePName ? Ve_OptionDoc::TransferAttributePName->count() : 0;
    bool repair = Ve_OptionDoc::isOn(Ve_OptionDoc::RepairTrim);
};
constexpr int kFaceBit = 4;

// Counts the warnings fired while it lives: a face the factory made nothing
// of without saying why (a kernel failure it absorbed) is then warned of, so
// that the import does not pass for whole with a face missing. One listens
// over all faces of a body; `since` is its count before a face was built.
class TrimFaceWarnings : public QELXEventListener {
public:
    TrimFaceWarnings() { QELXEventBus::GetEventBus()->AddListener(this); }
    ~TrimFaceWarnings() override { QELXEventBus::GetEventBus()->RemoveListener(this); }
    TrimFaceWarnings(const TrimFaceWarnings&) = delete;
    TrimFaceWarnings& operator=(const TrimFaceWarnings&) = delete;
    void OnEvent(const QELXEvent& event) override { m_count += std::string(event.GetKind()) == "Warning" ? 1 : 0; }
    int count() const { return m_count; }
    // `body` names the source body as the other warnings do ("body 2").
    void warnIfSilent(const std::string& body, int index, int since) const
    {
        if (m_count == since)
            QELXWarningEvent::Fire((body + ", face " + std::to_string(index) + ": could not be made").c_str());
    }

private:
    int m_count = 0;
};

// The faces of one source shell, appended in the shell's order.
void appendShellFaces(QELXBRepExporter* source, const QELXIdentifier& shell, std::vector<QELXIdentifier>& faces)
{
    int n = 0;
    source->GetNumberOfFacesFromShell(shell, n);
    for (int f = 0; f < n; ++f) {
        QELXIdentifier face;
        source->GetFaceFromShell(shell, f, face);
        faces.push_back(face);
    }
}

// The source faces of a solid, lump by lump, volume by volume, shell by shell.
std::vector<QELXIdentifier> solidFaces(QELXBRepExporter* source, const QELXIdentifier& body)
{
    std::vector<QELXIdentifier> faces;
    int lumps = 0;
    source->GetNumberOfLumpsFromBody(body, lumps);
    for (int l = 0; l < lumps; ++l) {
        QELXIdentifier lump;
        source->GetLumpFromBody(body, l, lump);
        int volumes = 0;
        source->GetNumberOfVolumesFromLump(lump, volumes);
        for (int v = 0; v < volumes; ++v) {
            QELXIdentifier volume;
            source->GetVolumeFromLump(lump, v, volume);
            int shells = 0;
            source->GetNumberOfShellsFromVolume(volume, shells);
            for (int s = 0; s < shells; ++s) {
                QELXIdentifier shell;
                source->GetShellFromVolume(volume, s, shell);
                appendShellFaces(source, shell, faces);
            }
        }
    }
    return faces;
}

// The faces of the body's 2-D shells.
std::vector<QELXIdentifier> sheetFaces(QELXBRepExporter* source, const QELXIdentifier& body)
{
    std::vector<QELXIdentifier> faces;
    int shells = 0;
    source->GetNumberOf2DShellsFromBody(body, shells);
    for (int s = 0; s < shells; ++s) {
        QELXIdentifier shell;
        source->Get2DShellFromBody(body, s, shell);
        appendShellFaces(source, shell, faces);
    }
    return faces;
}

// The second walk of a solid, releasing what its coedges' geometry held.
void releaseSolidGeometry(QELXBRepExporter* source, const std::vector<QELXIdentifier>& faces)
{
    for (const QELXIdentifier& face : faces) {
        int loops = 0;
        source->GetNumberOfLoopsFromFace(face, loops);
        for (int l = 0; l < loops; ++l) {
            QELXIdentifier loop;
            source->GetLoopFromFace(face, l, loop);
            int coedges = 0;
            source->GetNumberOfCoedgesFromLoop(loop, coedges);
            for (int c = 0; c < coedges; ++c) {
                QELXIdentifier coedge, edge, start, end;
                source->GetCoedgeFromLoop(loop, c, coedge);
                source->ReleaseGeometry(coedge, QELXReleasePCurve);
                source->GetEdgeFromCoedge(coedge, edge);
                source->ReleaseGeometry(edge, QELXReleaseCurve);
                source->GetStartVertexFromEdge(edge, start);
                source->GetEndVertexFromEdge(edge, end);
                source->ReleaseGeometry(start, QELXReleasePoint);
                source->ReleaseGeometry(end, QELXReleasePoint);
            }
        }
    }
}

// The body by its place in the source, from 0 ("body 2"); by its identifier's
// word where the source does not list it.
std::string bodyPlaceName(QELXBRepExporter* source, const QELXIdentifier& body)
{
    int n = 0;
    source->GetNumberOfBodies(n);
    for (int i = 0; i < n; ++i) {
        QELXIdentifier listed;
        if (source->GetBody(i, listed) == QELI_OK && listed.GetValue() == body.GetValue())
            return "body " + std::to_string(i);
    }
    return sourceEntityName("body", body);
}

const void* nativeOf(const QELXIdentifier& id) { return reinterpret_cast<const void*>(id.GetValue()); }

// One run of either road.
class TrimRoad {
public:
    TrimRoad(QELXVelmBRepImporter& importer, QELXBRepExporter* source, const QELXIdentifier& body,
             Gk_ImportContext* context, bool solid)
        : m_importer(importer), m_source(source), m_body(body), m_context(context), m_solid(solid),
          m_cocoon(new Ve_CocoonTag()), m_creator(m_cocoon, context, &importer)
    {
        source->GetAttributeExporter(m_attributes);
        if (m_on.layer && importer.GetDocumentTag() && m_attributes)
            m_attributes->GetLayer(body, m_bodyLayer);
    }

    QELIResult run()
    {
        const std::vector<QELXIdentifier> faces =
            m_solid ? solidFaces(m_source, m_body) : sheetFaces(m_source, m_body);
        const outcome built = velmCall([&] { buildFaces(faces); });
        // A kernel error took back what the bracket made, bodies included:
        // the import must not pass for whole without them.
        if (!built.ok()) {
            m_cocoon->setBodies(QELXDynamicArray<Ve_BodyTag*>());
            QELXVelmBRepCreator::warnNotImported(m_body, "the kernel failed while making its faces");
        }
        finishBodies();
        return QELI_OK;
    }

private:
    QELXIdentifier faceId(FACE* face) const
    {
        return QELXIdentifier(face, "VelmBRepFace", &m_importer, "VelmFace", QELXIdentifierCastHandle());
    }

    void faceAttributes(FACE* face, const QELXIdentifier& source)
    {
        QELXVelmBRepAttribTransfer::transferPlaneUnboundedness(face, source, m_attributes);
        Ve_AttribTransfer::transferSurfUnboundedness(face, source, m_attributes);
        if (m_on.attributes)
            Ve_AttribTransfer::transferAttributes(face, source, m_attributes, m_on.layer);
        if (m_on.pid & kFaceBit)
            Ve_AttribTransfer::transferPIDAttribute(face, source, m_attributes);
        if (m_on.pname & kFaceBit)
            Ve_AttribTransfer::transferPNameAttribute(face, source, m_attributes);
    }

    void buildFaces(const std::vector<QELXIdentifier>& faces)
    {
        const Gk_ObsWraper faceCallback = m_importer.FetchFaceCallback(m_context);
        const int count = m_solid ? static_cast<int>(faces.size())
                                  : QELXBRepExporterUtils::GetNumberOfFacesIn2DShellsFromBody(m_source, m_body);
        QELXStartConversionStageEvent stage("TrimFace", count, 1.0, true);
        QELXEventBus::Fire(stage);
        if (m_solid && !m_on.repair)
            Ve_OptionDoc::ImportSurfacePhase.setMax(count);
        const TrimFaceWarnings warnings;
        const std::string body = bodyPlaceName(m_source, m_body);
        for (int i = 0; i < static_cast<int>(faces.size()); ++i) {
            const QELXIdentifier& source = faces[i];
            const int before = warnings.count();
            const bool made = m_on.repair ? repairedFace(source, faceCallback) : plainFace(source, faceCallback, i);
            if (!made)
                warnings.warnIfSilent(body, i, before);
            QELXStartTranslateEntityEvent::Fire("TrimFace", "BRep", m_solid ? i + 1 : 1);
        }
        if (m_solid)
            releaseSolidGeometry(m_source, faces);
        else
            QELXBRepExporterUtils::ReleaseGeometryOf2DShells(m_source, m_body);
        stage.SetFinished();
        QELXEventBus::Fire(stage);
        m_creator.MakeSheets();
    }

    bool plainFace(const QELXIdentifier& source, const Gk_ObsWraper& callback, int i)
    {
        int loops = 0;
        m_source->GetNumberOfLoopsFromFace(source, loops);
        Ve_FaceTag* made = loops >= 1 ? m_creator.CreateFace(source, m_source)
                                      : m_creator.CreateFaceFromFreeFaceSurface(source, m_source);
        FACE* face = reinterpret_cast<FACE*>(made);
        if (face) {
            QELXEndTranslateEntityEvent::Fire(0, source, faceId(face));
            Gk_ObsWraper(callback).setEntityCallback(nativeOf(source), face);
            faceAttributes(face, source);
            if (m_solid)
                m_source->ReleaseGeometry(source, QELXReleaseSurface);
        }
        if (m_solid)
            Ve_OptionDoc::ImportSurfacePhase.setDone(i + 1);
        return face != nullptr;
    }

    bool repairedFace(const QELXIdentifier& source, const Gk_ObsWraper& callback)
    {
        const QELXDynamicArray<Ve_FaceTag*> made = m_creator.CreateSheets(source, m_source);
        if (m_solid)
            m_source->ReleaseGeometry(source, QELXReleaseSurface);
        QELXIdentifiers created;
        for (Ve_FaceTag* tag : made) {
            FACE* face = reinterpret_cast<FACE*>(tag);
            if (face && source.IsValid())
                m_faceSources.emplace(face, source);
            if (source.IsValid())
                created.Add(faceId(face));
            Gk_ObsWraper(callback).setEntityCallback(nativeOf(source), face);
            faceAttributes(face, source);
            m_source->ReleaseGeometry(source, QELXReleaseSurface);
        }
        if (made.Count() > 0)
            QELXEndTranslateEntityEvent::Fire(0, source, created);
        return made.Count() > 0;
    }

    void finishBodies()
    {
        const QELXDynamicArray<Ve_BodyTag*> sheets = m_cocoon->getBodies();
        const Gk_ObsWraper bodyCallback = m_importer.FetchTrimBodyCallback(m_context);
        QELXVelmLayerImporter* layers = m_importer.GetLayerImporter();
        // Faces cut by trim repair carry their source face's layer.
        for (Ve_BodyTag* sheet : sheets) {
            ENTITY_LIST faces;
            api_get_faces(reinterpret_cast<BODY*>(sheet), faces);
            for (int i = 0; i < faces.count(); ++i) {
                const auto found = m_faceSources.find(static_cast<FACE*>(faces[i]));
                if (found != m_faceSources.end() && m_on.layer && layers)
                    layers->ImportEntityLayer(faces[i], found->second, m_attributes, m_bodyLayer);
            }
        }
        QELXIdentifiers made;
        for (Ve_BodyTag* tag : sheets) {
            BODY* sheet = reinterpret_cast<BODY*>(tag);
            Gk_ObsWraper(bodyCallback).setEntityCallback(nativeOf(m_body), sheet);
            if (m_on.attributes)
                Ve_AttribTransfer::transferAttributes(sheet, m_body, m_attributes, m_on.layer);
            if (m_on.layer && layers)
                layers->ImportEntityLayer(sheet, m_body, m_attributes, -1);
            made.Add(QELXIdentifier(sheet, "VelmBRepSheet", &m_importer, "VelmSheet", QELXIdentifierCastHandle()));
        }
        QELXEndTranslateEntityEvent::Fire(0, m_body, made);
        // In the result first: a body whose link to the source fails then goes with the result.
        for (Ve_BodyTag* sheet : sheets)
            m_importer.GetResult()->appendBody(sheet);
        for (Ve_BodyTag* sheet : sheets)
            m_importer.AttachSourceObject(m_body, m_attributes, reinterpret_cast<BODY*>(sheet));
    }

    QELXVelmBRepImporter& m_importer;
    QELXBRepExporter* m_source;
    QELXIdentifier m_body;
    Gk_ImportContext* m_context;
    bool m_solid;
    TrimRoadSwitches m_on;
    QELXAttributeExporter* m_attributes = nullptr;
    int m_bodyLayer = -1;
    Ve_CocoonTagHandle m_cocoon;
    Ve_BaseStitchCreator m_creator;
    std::unordered_map<FACE*, QELXIdentifier> m_faceSources;
};

} // namespace

QELIResult QELXVelmBRepImporter::ImportSolidAsTrim(QELXBRepExporter* source, const QELXIdentifier& body,
                                                   Gk_ImportContext* context)
{
    if (!source)
        return QELI_FAIL;
    return TrimRoad(*this, source, body, context, true).run();
}

QELIResult QELXVelmBRepImporter::ImportSheetAsTrim(QELXBRepExporter* source, const QELXIdentifier& body,
                                                   Gk_ImportContext* context)
{
    if (!source)
        return QELI_FAIL;
    return TrimRoad(*this, source, body, context, false).run();
}

Gk_ObsWraper QELXVelmBRepImporter::FetchFaceCallback(Gk_ImportContext* context)
{
    if (!context)
        return Gk_ObsWraper();
    return Gk_ImportMachine::fetchCallbackForEntity("Face", QELXDocumentUtils::GetXType(context->GetTargetDocument()),
                                                    QELXDocumentUtils::GetXType(context->GetSourceDocument()), false);
}

Gk_ObsWraper QELXVelmBRepImporter::FetchTrimBodyCallback(Gk_ImportContext* context)
{
    if (!context)
        return Gk_ObsWraper();
    return Gk_ImportMachine::fetchCallbackForEntity("TrimBody",
                                                    QELXDocumentUtils::GetXType(context->GetTargetDocument()),
                                                    QELXDocumentUtils::GetXType(context->GetSourceDocument()), false);
}
