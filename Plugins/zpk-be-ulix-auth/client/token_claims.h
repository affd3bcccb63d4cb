// The claims the plug-in reads from each kind of token, with the neutral values a missing or
// mistyped claim gives (0, "" or no list entries).
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_TOKEN_CLAIMS_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_TOKEN_CLAIMS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace ulix_auth {

// Of an access token.
struct AccessTokenClaims {
  std::int64_t expiry = 0;            // "exp", seconds since 1970
  std::vector<std::string> scopes;    // "scp" when it is an array
  std::string subject;                // "sub"
  std::string currentPlatformId;      // "dat" member "r"
  std::int64_t currentAccountId = 0;  // "dat" member "u"
};

// Of an id token; its text is also the entitlements token.
struct IdTokenClaims {
  std::int64_t expiry = 0;                // "exp"
  std::vector<std::string> entitlements;  // "tag" when it is an array
};

// Of a client assertion given as configuration.
struct ClientAssertionClaims {
  std::string audience;  // "aud": the token endpoint URL
  std::string subject;   // "sub": the client id
};

// Each decodes `token` (see JwtDecoder) and reads its claims. Numbers are truncated towards zero
// and saturate at the 64-bit limits (NaN gives 0). Raise json::Reader::ParseException or
// json::Exception when the payload scans but does not parse; never otherwise.
AccessTokenClaims ReadAccessTokenClaims(std::string token);
IdTokenClaims ReadIdTokenClaims(std::string token);
ClientAssertionClaims ReadClientAssertionClaims(std::string token);

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_TOKEN_CLAIMS_H_
