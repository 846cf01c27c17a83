#pragma once
// The framework's document over kernel entities, and the identifier cast
// that turns a word back into the kernel entity it names.
#include "qelx/qelx_document.hxx"
#include "velm/lists.hxx"

class ENTITY;

// Type "VELM", XType "XVelm". Its native data is an entity list; while it
// holds its content, destroying it deletes the list's top-level entities
// through the kernel.
class QELXVelmDocument : public QELXDocument {
public:
    QELXVelmDocument();
    ~QELXVelmDocument() override;

    // The entity list for "" and "ENTITY_LIST" (rewound), null otherwise.
    void* GetNativeData(const QELXString& typeName) override;
    QELIResult GetNativeEntityList(ENTITY_LIST*& list);
    ENTITY_LIST* GetNativeEntityList();
    // Adds every entity of the list in order, each once; 0x100000b for null.
    QELIResult AppendNativeEntityList(ENTITY_LIST* list);
    QELIResult AppendNativeEntityList(ENTITY_LIST& list);
    // Removes it from the list (the entity is not deleted); 0x1000001 when
    // absent.
    QELIResult RemoveEntity(ENTITY* entity);

    // 0x100000b when the document is not a kernel document.
    static QELIResult SetLoadStatus(QELXDocument* doc, QELXLoadStatus status);
    QELXLoadStatus GetLoadStatus() const { return m_loadStatus; }

    const char* GetName() const override { return "QELXVelmDocument"; }

private:
    ENTITY_LIST m_entities;
    QELXLoadStatus m_loadStatus = QELX_LOAD_STATUS_COMPLETE;
};

class QELXVelmIdentifierCast : public QELXIdentifierCast {
public:
    // The live kernel entity of the identifier's word, or null.
    void* Cast(const QELXIdentifier& id) const override;
    const char* GetName() const override { return "QELXVelmIdentifierCast"; }
};
