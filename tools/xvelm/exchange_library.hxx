// STEP, IGES and BREP files for the verbs: the library that reads and writes
// them maps Open CASCADE's data exchange (dozens of libraries, some 20 MB
// resident) when it loads, so the driver opens it only when a conversion
// names such a file; the other verbs never map it.
#pragma once

#include <dlfcn.h>

#include <string>

#include "qelx_formats/cad_exchange.hxx"
#include "qelx_formats/neutral_document.hxx"

namespace xvelm {

// The exchange's library lies beside the neutral document's, which the
// driver links. Opened by a name alone, it would be looked for along the run
// path of whoever calls the loader, and under the sanitizers that is their
// interceptor, which has none.
inline std::string exchange_library_path()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&qelx_formats::resolveWriteTarget), &info) && info.dli_fname)
        if (const std::string neutral = info.dli_fname; neutral.find('/') != std::string::npos)
            return neutral.substr(0, neutral.find_last_of('/') + 1) + qelx_formats::kCadExchangeLibrary;
    return qelx_formats::kCadExchangeLibrary;
}

// The exchange's table, its library opened on first use and kept open (its
// statics live until the process ends); null with `why` when it cannot be.
inline const qelx_formats::CadExchange* cad_exchange(std::string& why)
{
    static const qelx_formats::CadExchange* table = nullptr;
    if (table)
        return table;
    void* library = dlopen(exchange_library_path().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* error = dlerror();
        why = error ? error : "cannot be loaded";
        return nullptr;
    }
    using entry = const qelx_formats::CadExchange* (*)();
    const auto find = reinterpret_cast<entry>(dlsym(library, qelx_formats::kCadExchangeEntry));
    table = find ? find() : nullptr;
    if (!table)
        why = std::string(qelx_formats::kCadExchangeLibrary) + " has no " + qelx_formats::kCadExchangeEntry;
    return table;
}

} // namespace xvelm
