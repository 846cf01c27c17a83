// Two texts of megabytes compared whole: on a difference, their sizes and
// where they first part, briefly (a diff of the whole would take longer than
// the test).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace testkit {

inline ::testing::AssertionResult same_text(const std::string& a, const std::string& b) {
  if (a == b) return ::testing::AssertionSuccess();
  const std::size_t at = static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
  return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size() << ", first apart at byte " << at
                                       << ": \"" << a.substr(at, 60) << "\" / \"" << b.substr(at, 60) << "\"";
}

}  // namespace testkit
