#pragma once
// How the import roads name a source entity in their warnings: its kind and
// the word of its identifier, the same word the source's own tools print.
#include <cstdio>
#include <string>

#include "qelx/qelx_identifier.hxx"

// Ends the warnings of what an import road kept although its source was
// faulty (an open loop closed, a range taken from the vertices): nothing was
// lost, and healing judges the rest. A driver tells them from the warnings of
// what could not be imported.
inline constexpr const char* kKeptForHealing = "kept for healing";

inline std::string sourceEntityName(const char* kind, const QELXIdentifier& id)
{
    char text[80];
    std::snprintf(text, sizeof text, "BRep %s %llx", kind, static_cast<unsigned long long>(id.GetValue()));
    return text;
}

// A length or parameter as a warning gives it: three significant digits.
inline std::string warningNumber(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", value);
    return text;
}
