#include "qelx/gk_marker.hxx"

Gk_Marker::Gk_Marker(const char* name) : m_name(name ? name : "") {}

bool Gk_Marker::operator==(const Gk_Marker& other) const { return m_name == other.m_name; }
