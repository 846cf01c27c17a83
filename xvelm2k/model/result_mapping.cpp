#include "model/result_mapping.hxx"

#include <cstdint>
#include <string_view>

#include "model/memory_init.hxx"
#include "model/containers.hxx"
#include "model/message_module.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx/qelx_units.hxx"
#include "velm/groups.hxx"
#include "velm/save.hxx"
#include "velm/topology_api.hxx"

namespace {

// Where an error number comes from: success, a message of our module, the
// kernel's generic API error, or the result code itself.
enum class Source { Success, Ours, KernelApi, Code };

// One pair of error number and result code. The codes and the error numbers
// are each distinct, so the order of the table decides nothing.
struct Mapping {
    Source source;
    int message;
    std::uint32_t code;
    bool toResult; // false: only results map to this outcome, not back
};

int errorNumber(const Mapping& m)
{
    switch (m.source) {
    case Source::Success:
        return 0;
    case Source::Ours:
        return xvelm2k_errorcode_errmod.message_code(m.message);
    case Source::KernelApi:
        return qelvelm_api_errmod.message_code(VELM_API_FAILED);
    case Source::Code:
        break;
    }
    return static_cast<int>(m.code);
}

constexpr Mapping kMappings[] = {
    {Source::Success, 0, 0, true},
    {Source::Ours, QELX_VELM_S_PARTIAL, 1, true},
    {Source::Ours, QELX_VELM_S_NO_ENTITIES, 2, true},
    {Source::Ours, QELX_VELM_S_NO_TRANSLATABLE_GEOMETRY, 3, false},
    {Source::KernelApi, 0, 0x1000001, true},
    {Source::Ours, QELX_VELM_E_ERROR, 0x1000002, true},
    {Source::Ours, QELX_VELM_E_NOT_IMPLEMENTED, 0x1000005, false},
    {Source::Ours, QELX_VELM_E_UNEXPECTED, 0x1000007, true},
    {Source::Ours, QELX_VELM_E_INVALID_COMPONENT, 0x1000009, true},
    {Source::Ours, QELX_VELM_E_INVALID_OBJECT, 0x100000a, true},
    {Source::Ours, QELX_VELM_E_INVALID_ARGUMENT, 0x100000b, true},
    {Source::Ours, QELX_VELM_E_FILE_NOT_FOUND, 0x100000d, true},
    {Source::Ours, QELX_VELM_E_NO_FILE_OPENED, 0x100000e, true},
    {Source::Ours, QELX_VELM_E_NO_FILE_SAVED, 0x100000f, true},
    {Source::Ours, QELX_VELM_E_FILE_ENCRYPTED, 0x1000010, true},
    {Source::Ours, QELX_VELM_E_BOX_TOO_BIG, 0x1000011, true},
    {Source::Ours, QELX_VELM_E_BOX_TOO_SMALL, 0x1000012, true},
    {Source::Ours, QELX_VELM_E_INVALID_WRITE_LENGTH_UNIT, 0x1000013, true},
    {Source::Ours, QELX_VELM_E_FILE_UNSUPPORTED_VERSION, 0x1000014, false},
    {Source::Ours, QELX_VELM_E_SOLID_OUTPUT_AS_SHEETS, 0x1010002, false},
    {Source::Ours, QELX_VELM_E_ABORT, 0x2000003, true},
    {Source::Code, 0, 0x3000006, false},
};

std::uint32_t resultOf(const outcome& result)
{
    for (const Mapping& m : kMappings)
        if (m.toResult && result.error_number() == errorNumber(m))
            return m.code;
    return 0x1000001;
}

} // namespace

void mapOutcomeToQELXResult(const outcome& result, QELIResult& code) { code = resultOf(result); }

// An unknown error is a failure here too; reading it as "nothing converted"
// would report a failed call as a success.
void mapOutcomeToInt(const outcome& result, int& code) { code = static_cast<int>(resultOf(result)); }

void mapQELXResultToOutcome(const QELIResult& code, outcome& result)
{
    for (const Mapping& m : kMappings)
        if (static_cast<std::uint32_t>(code) == m.code) {
            result = outcome(errorNumber(m), nullptr);
            return;
        }
}

QELIResult DeleteEntityListProperly(ENTITY_LIST& list)
{
    // Groups stay: they belong to the document, not to whoever made the list.
    ENTITY_LIST doomed;
    list.init();
    for (ENTITY* entity = list.next(); entity; entity = list.next())
        if (!is_QELGROUP(entity))
            doomed.add(entity);
    api_del_entity_list(doomed);
    return 0;
}

bool operator<(const QELXString& a, const QELXString& b) { return a.compareTo(b) < 0; }

void setVelmReadFileUnit()
{
    // Nothing restored or set yet: there is no file unit to pass on.
    if (!save_info)
        return;
    const FileInfo info = *save_info;
    if (info.units() < 0.0) {
        QELXUnitValue::SetReadUnit(QELX_UNIT_UNSPECIFIED);
        return;
    }
    // The kernel counts millimetres per file unit, the framework metres.
    QELXUnit unit = QELX_UNIT_NONE;
    if (GetQELXUnit(info.units() * 0.001, unit) != 0)
        unit = QELX_UNIT_NONE;
    QELXUnitValue::SetReadUnit(unit);
}

bool findEntityByLabel(const char* label, const QELXDynamicArray<ENTITY*>& entities, ENTITY*& found)
{
    if (!label)
        return false;
    for (ENTITY* entity : entities) {
        QELXString text;
        if (Ve_AttribTransfer::getLabel(entity, text) && !text.isEmpty() && text.view() == std::string_view(label)) {
            found = entity;
            return true;
        }
    }
    return false;
}

bool findEntityById(int id, const QELXDynamicArray<ENTITY*>& entities, ENTITY*& found)
{
    for (ENTITY* entity : entities) {
        int number = 0;
        if (Ve_AttribTransfer::getID(entity, number) && number == id) {
            found = entity;
            return true;
        }
    }
    return false;
}
