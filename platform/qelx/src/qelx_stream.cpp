#include "qelx/qelx_stream.hxx"

#include <cstdio>

QELXStreamFormatter& QELXStreamFormatter::operator<<(const char* text)
{
    if (m_stream && text)
        m_stream->Write(text);
    return *this;
}

QELXStreamFormatter& QELXStreamFormatter::operator<<(int value) { return *this << std::to_string(value); }
QELXStreamFormatter& QELXStreamFormatter::operator<<(unsigned value) { return *this << std::to_string(value); }

QELXStreamFormatter& QELXStreamFormatter::operator<<(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return *this << buffer;
}
