// Every repair test starts from a kernel and connector without what earlier
// tests of the program left behind: the laws a surface fit registered in the
// kernel's law table, and the document's body and shell caches, which are
// keyed by address (a later test's body may take a freed one's).
#include "model/document.hxx"
#include "qelx/qelx_test.hxx"
#include "velm/law.hxx"

namespace {

void clearRepairState()
{
    law_clear_table();
    Ve_DocumentTag::ClearCaches();
}

[[maybe_unused]] const bool repairResetHooked = (qelx_test::addResetHook(&clearRepairState), true);

} // namespace
