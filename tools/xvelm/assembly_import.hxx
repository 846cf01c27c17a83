// A STEP file's product structure into a kernel document through the
// connector's flat assembly importer: each product converted once by the
// B-rep importer (healed as the import verb heals), each instance placed as
// its own body. Header-only so that the driver and its tests share it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "assembly/flat_assembly_importer.hxx"
#include "import_verb.hxx"
#include "qelx/test_assembly.hxx"

namespace xvelm {

// The product the assembly road is converting: each part's conversion
// starts with a "StartTranslation" event naming it and ends with an
// "EndTranslation". What the roads say meanwhile names the part's bodies
// and faces by their identifiers, which every part's source numbers alike:
// it is told by the product's name, its places as the driver names a part's.
class ProductInTranslation : public QELXEventListener {
public:
    explicit ProductInTranslation(const qelx_test::TestAssembly& assembly) : m_assembly(assembly)
    {
        QELXEventBus::GetEventBus()->AddListener(this);
    }
    ~ProductInTranslation() override { QELXEventBus::GetEventBus()->RemoveListener(this); }
    ProductInTranslation(const ProductInTranslation&) = delete;
    ProductInTranslation& operator=(const ProductInTranslation&) = delete;

    void OnEvent(const QELXEvent& event) override
    {
        const std::string kind = event.GetKind();
        if (kind == "StartTranslation") {
            m_name = static_cast<const QELXStartTranslationTaskEvent&>(event).GetTaskName().c_str();
            m_part = nullptr;
            for (const qelx_test::TestDefinition& d : m_assembly.definitions)
                if (!d.assembly && d.sourceName == m_name) {
                    m_part = &d.part;
                    break;
                }
        } else if (kind == "EndTranslation") {
            m_name.clear();
            m_part = nullptr;
        }
    }

    // The text as said of the product being converted ("product \"bent\":
    // body 0: not imported, ..."); as it is between products.
    std::string named(const std::string& text) const
    {
        if (m_name.empty() && !m_part)
            return text;
        return "product \"" + printable(m_name) + "\": " + sourcePlaces(text, m_part);
    }

private:
    const qelx_test::TestAssembly& m_assembly;
    std::string m_name;
    const qelx_test::TestModel* m_part = nullptr;
};

// Flattens the assembly into `target` (healing its parts as the import verb
// would, by their own system's recipe unless `healAs` names another or is
// empty for none) and counts the bodies, faces and edges placed. False with
// `failure` saying why: the import failed or placed nothing.
inline bool import_assembly(qelx_test::TestAssembly assembly, QELXVelmDocument& target, ImportCounts& counts,
                            std::string& failure, const std::optional<std::string>& healAs = std::nullopt)
{
    try {
        QELXFlatVelmAssemblyImporter::RegisterPartImporter();
        auto* sourceDocument = new qelx_test::TestAssemblyDocument(std::move(assembly));
        const QELXDocumentHandle holdSource(sourceDocument);
        auto* source = new qelx_test::TestAssemblyExporter(sourceDocument);
        const QELXExportRepresentationHandle holdExporter(source);
        QELXAssemblyImporter* made = nullptr;
        if (QELXCreateVelmAssemblyImporter(&target, &made) != QELI_OK || !made) {
            failure = "no assembly importer could be made for it";
            return false;
        }
        const QELXTypedHandle<QELXAssemblyImporter> importer(made);
        SwitchesForRun switches;
        const std::string healSystem = healAs.value_or("XStep");
        if (!healSystem.empty()) {
            switches.on(Ve_OptionDoc::keyOf("HealBody"));
            switches.on(std::string(Ve_OptionDoc::KeyPrefix) + "HealBodyPostProcess|" + healSystem);
        }
        if (!prepare_importer(importer, source, "the assembly importer", failure))
            return false;
        // A part body the road could not build is never passed over in silence,
        // as in a single part.
        ImportWarnings warnings;
        const ProductInTranslation product(sourceDocument->assembly());
        warnings.named = [&product](const std::string& text) { return product.named(text); };
        const WarningPlaces places([&product](const std::string& text) { return product.named(text); });
        warnings.listen(true);
        const QELIResult imported = importer->Import(source);
        warnings.listen(false);
        if (imported != QELI_OK) {
            char text[80];
            std::snprintf(text, sizeof text, "the assembly import failed (result 0x%x)",
                          static_cast<unsigned>(imported));
            failure = text;
            return false;
        }
        if (!warnings.lostPart().empty()) {
            failure = warnings.lostPart();
            return false;
        }
        // Healing after the whole translation (under its switch) may warn
        // that it left a part short, as healing each part may.
        if (!commit_import(importer, warnings, failure))
            return false;
    } catch (...) {
        failure = failure_in_flight();
        return false;
    }
    const ENTITY_LIST* placed = target.GetNativeEntityList();
    for (int i = 0; placed && i < placed->count(); ++i)
        if (const ENTITY* e = (*placed)[i]; e && is_BODY(e) && !count_body(e, counts, failure))
            return false;
    return true;
}

} // namespace xvelm
