#include "qelx/qelx_string.hxx"

#include "qelx/qelx_errors.hxx"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

char* allocateText(std::size_t length)
{
    auto* text = static_cast<char*>(std::malloc(length + 1));
    if (!text)
        throw QELXAllocException();
    return text;
}

bool isScalar(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

// Decodes one UTF-8 sequence starting at text[i]; advances i. Overlong forms,
// surrogates and truncated sequences give U+FFFD and consume one byte.
char32_t decodeOne(std::string_view text, std::size_t& i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    int extra = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, c = lead & 0x07, minimum = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + static_cast<std::size_t>(extra) >= text.size()) {
        ++i;
        return kReplacement;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
        if ((next & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || !isScalar(c)) {
        ++i;
        return kReplacement;
    }
    i += static_cast<std::size_t>(extra) + 1;
    return c;
}

void encodeOne(char32_t c, std::string& out)
{
    if (!isScalar(c))
        c = kReplacement;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::wstring qelxUtf8ToWide(std::string_view text)
{
    static_assert(sizeof(wchar_t) == 4, "wide text is UTF-32 on this target");
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
        out += static_cast<wchar_t>(decodeOne(text, i));
    return out;
}

std::string qelxWideToUtf8(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        encodeOne(static_cast<char32_t>(c), out);
    return out;
}

QELXString::QELXString(const char* text) { assign(text, text ? std::strlen(text) : 0); }
QELXString::QELXString(const char* text, std::size_t length) { assign(text, text ? length : 0); }
QELXString::QELXString(const std::string& text) { assign(text.data(), text.size()); }
QELXString::QELXString(const wchar_t* text)
{
    if (text) {
        const std::string narrow = qelxWideToUtf8(text);
        assign(narrow.data(), narrow.size());
    }
}
QELXString::QELXString(const QELXString& other) { assign(other.m_text, other.m_length); }
QELXString::QELXString(QELXString&& other) noexcept
    : m_text(other.m_text), m_length(other.m_length), m_wide(other.m_wide)
{
    other.m_text = nullptr;
    other.m_length = 0;
    other.m_wide = nullptr;
}

QELXString& QELXString::operator=(const QELXString& other)
{
    if (this != &other)
        assign(other.m_text, other.m_length);
    return *this;
}

QELXString& QELXString::operator=(QELXString&& other) noexcept
{
    if (this != &other) {
        std::free(m_text);
        dropWide();
        m_text = other.m_text;
        m_length = other.m_length;
        m_wide = other.m_wide;
        other.m_text = nullptr;
        other.m_length = 0;
        other.m_wide = nullptr;
    }
    return *this;
}

QELXString::~QELXString()
{
    std::free(m_text);
    dropWide();
}

void QELXString::assign(const char* text, std::size_t length)
{
    char* fresh = nullptr;
    if (length > 0) {
        fresh = allocateText(length);
        std::memcpy(fresh, text, length);
        fresh[length] = '\0';
    }
    std::free(m_text);
    dropWide();
    m_text = fresh;
    m_length = length;
}

void QELXString::append(const char* text, std::size_t length)
{
    if (length == 0)
        return;
    char* fresh = allocateText(m_length + length);
    if (m_length)
        std::memcpy(fresh, m_text, m_length);
    std::memcpy(fresh + m_length, text, length);
    fresh[m_length + length] = '\0';
    std::free(m_text);
    dropWide();
    m_text = fresh;
    m_length += length;
}

void QELXString::dropWide() const
{
    delete[] m_wide;
    m_wide = nullptr;
}

QELXString& QELXString::operator+=(const QELXString& other)
{
    // Copy first: other may be this string.
    const std::string tail(other.view());
    append(tail.data(), tail.size());
    return *this;
}

QELXString& QELXString::operator+=(const char* text)
{
    if (text)
        append(text, std::strlen(text));
    return *this;
}

QELXString operator+(const QELXString& a, const QELXString& b)
{
    QELXString out(a);
    out += b;
    return out;
}

QELXString operator+(const QELXString& a, const char* b)
{
    QELXString out(a);
    out += b;
    return out;
}

QELXString operator+(const char* a, const QELXString& b)
{
    QELXString out(a);
    out += b;
    return out;
}

void QELXString::getChars(char* buffer, int bufferSize) const
{
    if (!buffer || bufferSize <= 0)
        return;
    const std::size_t n = std::min(m_length, static_cast<std::size_t>(bufferSize - 1));
    if (n)
        std::memcpy(buffer, m_text, n);
    buffer[n] = '\0';
}

const wchar_t* QELXString::getWChars() const
{
    if (!m_wide) {
        const std::wstring wide = qelxUtf8ToWide(view());
        m_wide = new wchar_t[wide.size() + 1];
        std::wmemcpy(m_wide, wide.c_str(), wide.size() + 1);
    }
    return m_wide;
}

bool QELXString::equals(const QELXString& other) const { return view() == other.view(); }

int QELXString::compareTo(const QELXString& other) const
{
    const int c = view().compare(other.view());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}
