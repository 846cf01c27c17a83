#pragma once
// How the import roads name a source entity in their warnings: its kind and
// the word of its identifier, the same word the source's own tools print.
#include <cstdio>
#include <string>

#include "qelx/qelx_identifier.hxx"

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
