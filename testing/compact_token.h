// Compact signed tokens for tests and benchmarks: three segments in the URL-safe alphabet
// without padding, as the sign-on service writes them. The signature is never checked.
#ifndef TESTING_COMPACT_TOKEN_H_
#define TESTING_COMPACT_TOKEN_H_

#include <string>
#include <string_view>

#include "wire/base64.h"

namespace ulix_testing {

inline std::string MakeToken(std::string_view header, std::string_view payload,
                             std::string_view signature = "sig") {
  return wire::Base64UrlEncode(header) + "." + wire::Base64UrlEncode(payload) + "." +
         wire::Base64UrlEncode(signature);
}

}  // namespace ulix_testing

#endif  // TESTING_COMPACT_TOKEN_H_
