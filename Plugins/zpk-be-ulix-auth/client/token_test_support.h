// Builds compact tokens for the client's tests: segments in the URL-safe alphabet without
// padding, as the sign-on service writes them.
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_TOKEN_TEST_SUPPORT_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_TOKEN_TEST_SUPPORT_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "binding/base64.h"

namespace ulix_auth {

inline std::string UrlSegment(std::string_view text) {
  std::string segment = binding::Base64Encode(
      std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  while (!segment.empty() && segment.back() == '=') segment.pop_back();
  for (char& c : segment) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  return segment;
}

inline std::string MakeToken(std::string_view header, std::string_view payload,
                             std::string_view signature = "sig") {
  return UrlSegment(header) + "." + UrlSegment(payload) + "." + UrlSegment(signature);
}

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_TOKEN_TEST_SUPPORT_H_
