#pragma once
// The part road of the assembly tests and benchmark: the B-rep importer the
// nested conversions of part definitions run, registered with the framework.
#include "import/brep_creator.hxx"
#include "import/brep_importer.hxx"
#include "model/body_set.hxx"
#include "qelx/gk_import.hxx"
#include "qelx/qeli_conversion.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx_velm/velm_document.hxx"

namespace asmtest {

// The part road of the nested conversions: every solid of the source built
// topologically into the target document.
class PartImporter : public QELXImportRepresentation {
public:
    using QELXImportRepresentation::QELXImportRepresentation;
    QELXRepType GetType() const override { return QELXRepType("BRep"); }
    QELIResult Import(QELXExportRepresentation* source) override
    {
        auto* exporter = dynamic_cast<QELXBRepExporter*>(source);
        auto* target = dynamic_cast<QELXVelmDocument*>(GetDocument());
        if (!exporter || !target)
            return QELI_INVALID_ARG;
        Gk_ImportContext context(target, exporter->GetDocument());
        QELXVelmBRepImporter importer;
        QELXVelmBRepCreator creator(exporter, &context, &importer);
        int n = 0;
        exporter->GetNumberOfBodies(n);
        for (int i = 0; i < n; ++i) {
            QELXIdentifier body;
            if (exporter->GetBody(i, body) == QELI_OK)
                creator.CreateSolidBody(body);
        }
        ENTITY_LIST made;
        if (Ve_CocoonTag* cocoon = creator.GetCocoon().get())
            for (Ve_BodyTag* b : cocoon->getBodies())
                made.add(reinterpret_cast<ENTITY*>(b));
        target->AppendNativeEntityList(made);
        return QELI_OK;
    }
};

inline void registerPartImporter()
{
    QELXRepresentationRegistry::RegisterImporter(QELXString("VELM"), QELXRepType("BRep"),
                                                 [](QELXDocument* doc) { return new PartImporter(doc); });
}

} // namespace asmtest
