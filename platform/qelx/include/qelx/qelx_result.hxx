#pragma once
// Framework result codes. 0 is success; 1-3 are success with a remark; the
// 0x1000000 family are failures.
#include <cstdint>

class QELIResult {
public:
    constexpr QELIResult(std::uint32_t code = 0) : m_code(code) {}
    constexpr operator std::uint32_t() const { return m_code; }

    // Combining keeps the first non-zero code met, so a chain of steps reports
    // its first complaint rather than its last.
    constexpr QELIResult& operator&=(QELIResult other)
    {
        if (m_code == 0)
            m_code = other.m_code;
        return *this;
    }

private:
    std::uint32_t m_code;
};

inline constexpr QELIResult QELI_OK{0};
inline constexpr QELIResult QELI_PARTIAL{1};
inline constexpr QELIResult QELI_NOTHING{2};
inline constexpr QELIResult QELI_NO_GEOMETRY{3};
inline constexpr QELIResult QELI_FAIL{0x1000001};
inline constexpr QELIResult QELI_NO_SOURCE{0x1000002};
inline constexpr QELIResult QELI_NOT_IMPLEMENTED{0x1000005};
inline constexpr QELIResult QELI_SYSTEM{0x1000007};
inline constexpr QELIResult QELI_INVALID_COMPONENT{0x1000009};
inline constexpr QELIResult QELI_INVALID_OBJECT{0x100000a};
inline constexpr QELIResult QELI_INVALID_ARG{0x100000b};
inline constexpr QELIResult QELI_FILE_NOT_FOUND{0x100000d};
inline constexpr QELIResult QELI_FILE_NOT_OPENED{0x100000e};
inline constexpr QELIResult QELI_FILE_NOT_SAVED{0x100000f};
inline constexpr QELIResult QELI_ENCRYPTED{0x1000010};
inline constexpr QELIResult QELI_BOX_TOO_BIG{0x1000011};
inline constexpr QELIResult QELI_BOX_TOO_SMALL{0x1000012};
inline constexpr QELIResult QELI_BAD_WRITE_UNIT{0x1000013};
inline constexpr QELIResult QELI_BAD_VERSION{0x1000014};
inline constexpr QELIResult QELI_SHEETS{0x1010002};
inline constexpr QELIResult QELI_ABORTED{0x2000003};
inline constexpr QELIResult QELI_NO_REFRESH{0x3000006};
