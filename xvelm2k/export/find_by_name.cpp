// Search of an entity array by name: names are what the attribute exporter
// answers, so an entity is found by whichever attribute carries its name.
#include "export/attribute_exporter.hxx"
#include "model/memory_init.hxx"
#include "model/result_mapping.hxx"
#include "qelx_velm/velm_entity_utils.hxx"

QELIResult findEntityByName(const QELXDynamicArray<ENTITY*>& entities, const QELXString& name, ENTITY*& found)
{
    found = nullptr;
    QELXVelmAttributeExporter names(nullptr);
    for (ENTITY* entity : entities) {
        QELXString own;
        const QELXIdentifier id(QELXVelmEntityUtils::GetIdentifier(entity), "", nullptr, "");
        if (names.GetName(id, own) == 0 && own.equals(name)) {
            found = entity;
            return 0;
        }
    }
    return 0x1000001;
}
