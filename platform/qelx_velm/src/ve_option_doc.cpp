#include "qelx_velm/ve_option_doc.hxx"

#include <cstring>

#define VE_OPTION_DOC_DEFINE(member, text) Gk_Option* Ve_OptionDoc::member = nullptr;
VE_OPTION_DOC_SWITCHES(VE_OPTION_DOC_DEFINE)
#undef VE_OPTION_DOC_DEFINE

Gk_ObsWraper Ve_OptionDoc::ImportPhase("ImportPhase");
Gk_ObsWraper Ve_OptionDoc::ImportSurfacePhase("ImportSurfacePhase");
Gk_ObsWraper Ve_OptionDoc::ImportCurvePhase("ImportCurvePhase");

namespace {

struct Binding {
    const char* member;
    const char* text;
    Gk_Option** slot;
};

const Binding kBindings[] = {
#define VE_OPTION_DOC_BINDING(member, text) {#member, text, &Ve_OptionDoc::member},
    VE_OPTION_DOC_SWITCHES(VE_OPTION_DOC_BINDING)
#undef VE_OPTION_DOC_BINDING
};

// Binds at load and after every registry change from then on.
struct LoadBinding {
    LoadBinding()
    {
        Gk_OptionDoc::addChangeHook(&Ve_OptionDoc::refresh);
        Ve_OptionDoc::refresh();
    }
} loadBinding;

} // namespace

void Ve_OptionDoc::refresh()
{
    std::string key;
    for (const Binding& b : kBindings) {
        key.assign(KeyPrefix).append(b.text);
        *b.slot = Gk_OptionDoc::fetchOption(key);
    }
}

std::string Ve_OptionDoc::keyOf(const char* member)
{
    for (const Binding& b : kBindings)
        if (member && std::strcmp(b.member, member) == 0)
            return std::string(KeyPrefix) + b.text;
    return {};
}
