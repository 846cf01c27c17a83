#include "qelx/qelx_identifier.hxx"

QELXIdentifier::QELXIdentifier(std::uint64_t word, const char* type, QELXRepresentation* owner,
                               const char* typeName, const QELXIdentifierCastHandle& cast)
    : m_word(word), m_type(type), m_owner(owner), m_typeName(typeName), m_cast(cast)
{
}

bool QELXIdentifier::operator==(const QELXIdentifier& other) const
{
    return m_word == other.m_word && m_type.equals(other.m_type);
}
