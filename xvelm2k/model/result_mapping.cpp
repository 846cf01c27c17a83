#include "model/result_mapping.hxx"

#include <cstdint>
#include <iterator>

#include "model/memory_init.hxx"
#include "model/message_module.hxx"
#include "qelx/qelx_units.hxx"
#include "velm/save.hxx"

namespace {

// Where an error number comes from: success, a message of our module, the
// kernel's generic API error, or the result code itself.
enum class Source { Success, Ours, KernelApi, Code };

struct Mapping {
    Source source;
    int message;
    std::uint32_t code;
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

// Outcome to result, tried in this order.
constexpr Mapping kToResult[] = {
    {Source::Success, 0, 0},
    {Source::Ours, QELX_VELM_S_PARTIAL, 1},
    {Source::KernelApi, 0, 0x1000001},
    {Source::Ours, QELX_VELM_E_ERROR, 0x1000002},
    {Source::Ours, QELX_VELM_E_ABORT, 0x2000003},
    {Source::Ours, QELX_VELM_E_UNEXPECTED, 0x1000007},
    {Source::Ours, QELX_VELM_E_INVALID_COMPONENT, 0x1000009},
    {Source::Ours, QELX_VELM_E_INVALID_OBJECT, 0x100000a},
    {Source::Ours, QELX_VELM_E_INVALID_ARGUMENT, 0x100000b},
    {Source::Ours, QELX_VELM_E_FILE_NOT_FOUND, 0x100000d},
    {Source::Ours, QELX_VELM_E_NO_FILE_OPENED, 0x100000e},
    {Source::Ours, QELX_VELM_E_NO_FILE_SAVED, 0x100000f},
    {Source::Ours, QELX_VELM_S_NO_ENTITIES, 2},
    {Source::Ours, QELX_VELM_E_BOX_TOO_BIG, 0x1000011},
    {Source::Ours, QELX_VELM_E_BOX_TOO_SMALL, 0x1000012},
    {Source::Ours, QELX_VELM_E_INVALID_WRITE_LENGTH_UNIT, 0x1000013},
    {Source::Ours, QELX_VELM_E_FILE_ENCRYPTED, 0x1000010},
};

constexpr Mapping kToOutcome[] = {
    {Source::Success, 0, 0},
    {Source::Ours, QELX_VELM_S_PARTIAL, 1},
    {Source::Ours, QELX_VELM_S_NO_ENTITIES, 2},
    {Source::Ours, QELX_VELM_S_NO_TRANSLATABLE_GEOMETRY, 3},
    {Source::KernelApi, 0, 0x1000001},
    {Source::Ours, QELX_VELM_E_ERROR, 0x1000002},
    {Source::Ours, QELX_VELM_E_NOT_IMPLEMENTED, 0x1000005},
    {Source::Ours, QELX_VELM_E_UNEXPECTED, 0x1000007},
    {Source::Ours, QELX_VELM_E_INVALID_COMPONENT, 0x1000009},
    {Source::Ours, QELX_VELM_E_INVALID_OBJECT, 0x100000a},
    {Source::Ours, QELX_VELM_E_INVALID_ARGUMENT, 0x100000b},
    {Source::Ours, QELX_VELM_E_FILE_NOT_FOUND, 0x100000d},
    {Source::Ours, QELX_VELM_E_NO_FILE_OPENED, 0x100000e},
    {Source::Ours, QELX_VELM_E_NO_FILE_SAVED, 0x100000f},
    {Source::Ours, QELX_VELM_E_FILE_ENCRYPTED, 0x1000010},
    {Source::Ours, QELX_VELM_E_BOX_TOO_BIG, 0x1000011},
    {Source::Ours, QELX_VELM_E_BOX_TOO_SMALL, 0x1000012},
    {Source::Ours, QELX_VELM_E_INVALID_WRITE_LENGTH_UNIT, 0x1000013},
    {Source::Ours, QELX_VELM_E_FILE_UNSUPPORTED_VERSION, 0x1000014},
    {Source::Ours, QELX_VELM_E_SOLID_OUTPUT_AS_SHEETS, 0x1010002},
    {Source::Ours, QELX_VELM_E_ABORT, 0x2000003},
    {Source::Code, 0, 0x3000006},
};

std::uint32_t resultOf(const outcome& result)
{
    for (const Mapping& m : kToResult)
        if (result.error_number() == errorNumber(m))
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
    for (const Mapping& m : kToOutcome)
        if (static_cast<std::uint32_t>(code) == m.code) {
            result = outcome(errorNumber(m), nullptr);
            return;
        }
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
