#pragma once
// A named marker: entities carry it to say "seen by this pass". Markers are
// equal when their names are; two empty markers are equal.
#include <string>

class Gk_Marker {
public:
    Gk_Marker() = default;
    explicit Gk_Marker(const char* name);
    const char* name() const { return m_name.c_str(); }
    bool isEmpty() const { return m_name.empty(); }
    bool operator==(const Gk_Marker& other) const;

private:
    std::string m_name;
};
