#pragma once
// Output sinks for event descriptions and dumps.
#include <string>

class QELXOutputStream {
public:
    virtual ~QELXOutputStream() = default;
    virtual void Write(const char* text) = 0;
};

// Collects everything written, for logs and tests.
class QELXStringOutputStream : public QELXOutputStream {
public:
    void Write(const char* text) override { m_text += text ? text : ""; }
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
};

class QELXStreamFormatter {
public:
    explicit QELXStreamFormatter(QELXOutputStream* stream) : m_stream(stream) {}
    QELXStreamFormatter& operator<<(const char* text);
    QELXStreamFormatter& operator<<(const std::string& text) { return *this << text.c_str(); }
    QELXStreamFormatter& operator<<(int value);
    QELXStreamFormatter& operator<<(unsigned value);
    QELXStreamFormatter& operator<<(double value);

private:
    QELXOutputStream* m_stream;
};
