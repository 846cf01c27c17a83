// Text from a file, made safe for a terminal: well-formed UTF-8 and printable
// ASCII pass, everything else (control bytes, stray bytes) becomes an escape.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace xvelm {

// Length of the well-formed UTF-8 sequence of two to four bytes at `at`, or 0.
inline std::size_t utf8_sequence(std::string_view s, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  std::size_t n = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
  if (n == 0 || at + n > s.size()) return 0;
  for (std::size_t i = 1; i < n; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  // Overlong forms, UTF-16 surrogates and code points past U+10FFFF.
  const unsigned char second = byte(at + 1);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second >= 0x90))
    return 0;
  return n;
}

inline std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      if (std::size_t n = utf8_sequence(text, i)) {
        out.append(text.substr(i, n));
        i += n;
        continue;
      }
    }
    ++i;
    switch (c) {
      case '\\': out += "\\\\"; continue;
      case '\n': out += "\\n"; continue;
      case '\t': out += "\\t"; continue;
      case '\r': out += "\\r"; continue;
      default: break;
    }
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace xvelm
