// Expectations that read the same on Linux and Windows: GoogleTest's own regular expressions are
// POSIX ones on Linux but a much smaller dialect on Windows, and programs there end in ".exe".
#ifndef TESTING_PORTABLE_EXPECTATIONS_H_
#define TESTING_PORTABLE_EXPECTATIONS_H_

#include <string>

#include "gmock/gmock.h"

namespace ulix_testing {

// Whether all of `text` matches `pattern`, an ECMAScript regular expression (std::regex).
bool FullyMatchesPattern(const std::string& text, const std::string& pattern);

// The matcher form, on every system.
MATCHER_P(FullyMatches, pattern, "fully matches " + std::string(pattern)) {
  return FullyMatchesPattern(std::string(arg), std::string(pattern));
}

// The file name of the test program `name` as the system spells it.
inline std::string ProgramFileName(const std::string& name) {
#if defined(_WIN32)
  return name + ".exe";
#else
  return name;
#endif
}

}  // namespace ulix_testing

#endif  // TESTING_PORTABLE_EXPECTATIONS_H_
