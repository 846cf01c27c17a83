// The "Body" stage: every source body under the item guard, sent down the
// roads that fit what it holds (topology, trim, wire), each road's bodies
// collected in the importer's result.
#include "import/brep_importer.hxx"

#include "import/brep_creator.hxx"
#include "import/item_guard.hxx"
#include "import/wire_creator.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_errors.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx_velm/source_object_attrib.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/errors.hxx"
#include "velm/memory.hxx"

namespace {

struct DocumentTypes {
    QELXString target, source;
};

DocumentTypes typesOf(const Gk_ImportContext* context)
{
    return {QELXDocumentUtils::GetXType(context->GetTargetDocument()),
            QELXDocumentUtils::GetXType(context->GetSourceDocument())};
}

} // namespace

QELIResult QELXVelmBRepImporter::ImportBodies(QELXBRepExporter* source, Gk_ImportContext* context)
{
    QELIResult result = QELI_OK;
    if (!source)
        return QELI_FAIL;
    int n = 0;
    source->GetNumberOfBodies(n);
    const bool fromIges = context && std::string(typesOf(context).source.c_str()) == "XIges" &&
                          std::string(typesOf(context).target.c_str()) == "XVelm";
    for (int i = 0; i < n; ++i) {
        QELXIdentifier body;
        source->GetBody(i, body);
        const QELIResult item = importItemGuard([&] { return ImportBody(source, body, context); });
        if (item != QELI_OK)
            result = item;
        QELXStartTranslateEntityEvent::Fire("Body", "BRep", i + 1);
        if (fromIges)
            QELXProgressStatusEvent::Fire(2, 1);
        QELXCallbackShared::IsAborted();
    }
    return result;
}

QELIResult QELXVelmBRepImporter::ImportBody(QELXBRepExporter* source, const QELXIdentifier& body,
                                            Gk_ImportContext* context)
{
    if (!context || !source)
        return QELI_FAIL;
    const DocumentTypes t = typesOf(context);
    QELIResult result = QELI_OK;
    bool taken = false;
    source->PrepareBody(body);

    int lumps = 0;
    source->GetNumberOfLumpsFromBody(body, lumps);
    if (lumps != 0) {
        if (Gk_ImportMachine::filterForTplgy(t.target, t.source)) {
            result = ImportSolidTopology(source, body, context);
            taken = true;
        } else if (Gk_ImportMachine::adapterForTplgyToTrim(t.target, t.source)) {
            result = ImportSolidAsTrim(source, body, context);
            taken = true;
        }
    }

    int shells = 0;
    source->GetNumberOf2DShellsFromBody(body, shells);
    if (shells != 0 && Gk_ImportMachine::filterForTrim(t.target, t.source)) {
        const int faces = QELXBRepExporterUtils::GetNumberOfFacesIn2DShellsFromBody(source, body);
        const bool single = Ve_OptionDoc::isOn(Ve_OptionDoc::ImportSingleFace2DShellAsTopology);
        const bool multiple = Ve_OptionDoc::isOn(Ve_OptionDoc::ImportMultipleFaces2DShellAsTrim);
        const bool trim = shells == faces ? !single : shells < faces && multiple;
        result = trim ? ImportSheetAsTrim(source, body, context) : ImportSheetTopology(source, body, context);
        taken = true;
    }

    if (shells == 0 && lumps == 0) {
        int faces = 0;
        source->GetNumberOfFacesFromBody(body, faces);
        if (faces > 0) {
            result = ImportFaceTopology(source, body, context);
            taken = true;
        }
    }

    int wires = 0, pointWires = 0;
    source->GetNumberOfWiresFromBody(body, wires);
    source->GetNumberOfPointWiresFromBody(body, pointWires);
    if ((wires != 0 && Gk_ImportMachine::filterForWire(t.target, t.source)) ||
        (pointWires != 0 && Gk_ImportMachine::filterForPoint(t.target, t.source)))
        result = ImportWireBody(source, body, context);
    else if (!taken)
        result = QELI_NOTHING;

    source->ReleaseBody(body);
    return result;
}

QELXVelmBRepCreator* QELXVelmBRepImporter::NewTopologyCreator(QELXBRepExporter* source, Gk_ImportContext* context)
{
    auto* creator = new QELXVelmBRepCreator(source, context, this);
    delete m_topologyCreator;
    m_topologyCreator = creator;
    return creator;
}

void QELXVelmBRepImporter::TakeCreatorBodies(QELXVelmBRepCreator* creator)
{
    const Ve_CocoonTagHandle made = creator->getCocoon();
    if (made.get())
        m_result->appendBodies(made->getBodies());
}

QELIResult QELXVelmBRepImporter::ImportSolidTopology(QELXBRepExporter* source, const QELXIdentifier& body,
                                                     Gk_ImportContext* context)
{
    if (!source)
        return QELI_FAIL;
    QELXVelmBRepCreator* creator = NewTopologyCreator(source, context);
    creator->CreateSolidBody(body);
    TakeCreatorBodies(creator);
    return QELI_OK;
}

QELIResult QELXVelmBRepImporter::ImportSheetTopology(QELXBRepExporter* source, const QELXIdentifier& body,
                                                     Gk_ImportContext* context)
{
    if (!source)
        return QELI_FAIL;
    QELXVelmBRepCreator* creator = NewTopologyCreator(source, context);
    creator->CreateSheetBody(body);
    TakeCreatorBodies(creator);
    return QELI_OK;
}

QELIResult QELXVelmBRepImporter::ImportFaceTopology(QELXBRepExporter* source, const QELXIdentifier& body,
                                                    Gk_ImportContext* context)
{
    if (!source)
        return QELI_FAIL;
    QELXVelmBRepCreator* creator = NewTopologyCreator(source, context);
    creator->CreateFaceBodies(body);
    TakeCreatorBodies(creator);
    return QELI_OK;
}

void QELXVelmBRepImporter::AttachSourceObject(const QELXIdentifier& source, QELXAttributeExporter* attributes,
                                              ENTITY* entity)
{
    if (!entity || !source.IsValid() || !attributes || !attributes->IsCorvaneExporter())
        return;
    void* native = nullptr;
    if (attributes->GetNativePointer(source, native) != QELI_OK || !native)
        return;
    // A body that could not take its link to the source fails with it, rather
    // than be written without the link as though nothing had happened.
    const outcome attached = velmCall([&] {
        velm_require(new (0, "QELXVelmBRepImporter", __LINE__, nullptr) QELX_SOURCE_OBJECT_ATTRIB(
            entity, "entity source", native, split_keep, merge_keep_survivor, trans_apply, copy_copy));
    });
    if (!attached.ok())
        sys_error(attached.error_number(), attached.get_error_info());
}

QELIResult QELXVelmBRepImporter::ImportWireBody(QELXBRepExporter* source, const QELXIdentifier& body,
                                                Gk_ImportContext* context)
{
    if (!source)
        return QELI_FAIL;
    QELXAttributeExporter* attributes = nullptr;
    source->GetAttributeExporter(attributes);
    // Lives for this road only: the topology creator stays as it is.
    QELXVelmWireCreator creator(source, context, this);
    const auto collect = [&](const Ve_CocoonTagHandle& made) {
        if (!made.get())
            return;
        const QELXDynamicArray<Ve_BodyTag*> bodies = made->getBodies();
        m_result->appendBodies(bodies);
        for (Ve_BodyTag* b : bodies)
            if (b)
                AttachSourceObject(body, attributes, reinterpret_cast<ENTITY*>(b));
    };
    Ve_CocoonTagHandle wires;
    creator.CreateWireBodies(wires, body);
    collect(wires);
    Ve_CocoonTagHandle acorns;
    creator.CreateAcornBodies(acorns, body);
    collect(acorns);
    return QELI_OK;
}
