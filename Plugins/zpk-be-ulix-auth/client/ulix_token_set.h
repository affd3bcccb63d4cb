// What a token request gives: the token set built from a successful answer, or the error that
// stands for a failed one.
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_ULIX_TOKEN_SET_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_ULIX_TOKEN_SET_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "binding/binding_value.h"

namespace ulix_auth {

// The codes that are not HTTP statuses. Both lie at or above 500, where a refresh is retried.
inline constexpr std::int32_t kServiceUnreachable = 512;
inline constexpr std::int32_t kAnswerNotJson = 513;

// A failed request. `code` is the status the service answered with, or one of the two above.
struct ULIXRequestError {
  std::int32_t code = 0;
  std::string error;             // OAuth-style error word
  std::string errorDescription;  // for people

  bool operator==(const ULIXRequestError&) const = default;
};

// The id token as the entitlements token: its text, its "tag" claim and its "exp" claim.
struct ULIXEntitlementsToken {
  std::string token;
  std::vector<std::string> entitlements;
  std::int64_t expiry = 0;

  bool operator==(const ULIXEntitlementsToken&) const = default;
};

struct ULIXIdToken {
  std::string token;
  std::int64_t expiry = 0;

  bool operator==(const ULIXIdToken&) const = default;
};

struct ULIXTokenSet {
  // "expires_in" minus 30 seconds, computed on its low 32 bits unsigned (a lifetime below 30
  // wraps to about 4.29e9).
  double refreshDelaySeconds = 0;
  // 0 when built; the refresh schedule counts failed refreshes here.
  std::uint32_t refreshAttempts = 0;
  std::string accessToken;
  std::vector<std::string> scopes;     // access token "scp"
  std::int64_t accessTokenExpiry = 0;  // access token "exp", seconds since 1970
  std::optional<ULIXEntitlementsToken> entitlementsToken;
  std::optional<ULIXIdToken> idToken;
  std::optional<std::string> refreshToken;
  // "gas_token" base64url-decoded and read as JSON; a text that is not JSON gives the
  // conversion's {"error": message} structure.
  std::optional<binding::BindingValue> gasToken;
  std::string subject;                // access token "sub"
  std::string currentPlatformId;      // access token "dat"."r"
  std::int64_t currentAccountId = 0;  // access token "dat"."u"
};

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_ULIX_TOKEN_SET_H_
