#include "testing/portable_expectations.h"

#include <regex>

namespace ulix_testing {

bool FullyMatchesPattern(const std::string& text, const std::string& pattern) {
  return std::regex_match(text, std::regex(pattern));
}

}  // namespace ulix_testing
