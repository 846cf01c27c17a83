#pragma once
// Identifier keys of the connector's tables: an identifier stands for its
// word alone, so identifiers of one item with another type or owner meet one
// entry.
#include "model/containers.hxx"
#include "qelx/qelx_identifier.hxx"

template <>
struct QELXHashTraits<QELXIdentifier> {
    static std::uint32_t Hash(const QELXIdentifier& id) { return qelxHashInt64(id.GetValue()); }
    static bool Equal(const QELXIdentifier& a, const QELXIdentifier& b) { return a.GetValue() == b.GetValue(); }
};
