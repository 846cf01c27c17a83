#pragma once
// Framework text. QELXString holds UTF-8 in one heap buffer and no inline
// storage, so arrays may move it byte for byte (see qelx_array.hxx).
#include <cstddef>
#include <string>
#include <string_view>

class QELXString {
public:
    QELXString() = default;
    QELXString(const char* text);
    QELXString(const char* text, std::size_t length);
    QELXString(const std::string& text);
    QELXString(const wchar_t* text);
    QELXString(const QELXString& other);
    QELXString(QELXString&& other) noexcept;
    QELXString& operator=(const QELXString& other);
    QELXString& operator=(QELXString&& other) noexcept;
    ~QELXString();

    QELXString& operator+=(const QELXString& other);
    QELXString& operator+=(const char* text);
    friend QELXString operator+(const QELXString& a, const QELXString& b);
    friend QELXString operator+(const QELXString& a, const char* b);
    friend QELXString operator+(const char* a, const QELXString& b);

    int length() const { return static_cast<int>(m_length); }
    bool isEmpty() const { return m_length == 0; }
    const char* c_str() const { return m_text ? m_text : ""; }
    std::string_view view() const { return {c_str(), m_length}; }
    // Copies at most bufferSize - 1 bytes and always terminates.
    void getChars(char* buffer, int bufferSize) const;
    // Wide (UTF-32) form, converted on demand and kept until the text changes.
    const wchar_t* getWChars() const;

    bool equals(const QELXString& other) const;
    int compareTo(const QELXString& other) const;

private:
    void assign(const char* text, std::size_t length);
    void append(const char* text, std::size_t length);
    void dropWide() const;

    char* m_text = nullptr;
    std::size_t m_length = 0;
    mutable wchar_t* m_wide = nullptr;
};

// Owned framework string with character access.
class Gk_String {
public:
    Gk_String() = default;
    Gk_String(const char* text) : m_text(text ? text : "") {}
    int length() const { return static_cast<int>(m_text.size()); }
    char operator[](int i) const { return m_text[static_cast<std::size_t>(i)]; }
    const char* c_str() const { return m_text.c_str(); }
    bool operator==(const Gk_String& other) const { return m_text == other.m_text; }

private:
    std::string m_text;
};

// Read-only view of a text for look-ups; it never outlives the call it is
// passed to.
class Gk_ROString {
public:
    Gk_ROString(const char* text) : m_view(text ? text : "") {}
    Gk_ROString(const QELXString& text) : m_view(text.view()) {}
    Gk_ROString(const std::string& text) : m_view(text) {}
    std::string_view view() const { return m_view; }

private:
    std::string_view m_view;
};

// UTF-8 <-> UTF-32 conversions used by QELXString; invalid input becomes U+FFFD.
std::wstring qelxUtf8ToWide(std::string_view text);
std::string qelxWideToUtf8(std::wstring_view text);
