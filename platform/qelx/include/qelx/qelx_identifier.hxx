#pragma once
// Entity identifiers: an opaque 64-bit word with a type text, an owning
// representation, a type name and an optional cast back to the native object.
#include "qelx/qelx_refcount.hxx"
#include "qelx/qelx_string.hxx"

#include <cstdint>
#include <vector>

class QELXRepresentation;
class QELXIdentifier;

class QELXIdentifierCast : public QELXReferenceCount {
public:
    // The native object behind the identifier, or null.
    virtual void* Cast(const QELXIdentifier& id) const = 0;
    const char* GetName() const override { return "QELXIdentifierCast"; }
};
using QELXIdentifierCastHandle = QELXTypedHandle<QELXIdentifierCast>;

class QELXIdentifier {
public:
    QELXIdentifier() = default;
    QELXIdentifier(std::uint64_t word, const char* type, QELXRepresentation* owner, const char* typeName,
                   const QELXIdentifierCastHandle& cast = QELXIdentifierCastHandle());
    // From an object's address. A template, so that a literal 0 word is not
    // ambiguous between the two forms.
    template <class T>
    QELXIdentifier(const T* entity, const char* type, QELXRepresentation* owner, const char* typeName,
                   const QELXIdentifierCastHandle& cast = QELXIdentifierCastHandle())
        : QELXIdentifier(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(entity)), type, owner,
                         typeName, cast)
    {
    }

    // A null word is the one invalid identifier.
    bool IsValid() const { return m_word != 0; }
    // Same word and same type text.
    bool operator==(const QELXIdentifier& other) const;

    std::uint64_t GetValue() const { return m_word; }
    void* GetEntityPointer() const { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(m_word)); }
    void SetEntityPointer(const void* entity) { m_word = reinterpret_cast<std::uintptr_t>(entity); }
    const char* GetType() const { return m_type.c_str(); }
    const char* GetTypeName() const { return m_typeName.c_str(); }
    void SetTypeName(const char* typeName) { m_typeName = typeName; }
    QELXRepresentation* GetOwner() const { return m_owner; }
    const QELXIdentifierCastHandle& GetCast() const { return m_cast; }

private:
    std::uint64_t m_word = 0;
    QELXString m_type;
    QELXRepresentation* m_owner = nullptr;
    QELXString m_typeName;
    QELXIdentifierCastHandle m_cast;
};

class QELXIdentifiers {
public:
    void Add(const QELXIdentifier& id) { m_ids.push_back(id); }
    int Count() const { return static_cast<int>(m_ids.size()); }
    const QELXIdentifier& Get(int i) const { return m_ids[static_cast<std::size_t>(i)]; }
    const QELXIdentifier& operator[](int i) const { return Get(i); }
    void Clear() { m_ids.clear(); }

private:
    std::vector<QELXIdentifier> m_ids;
};
