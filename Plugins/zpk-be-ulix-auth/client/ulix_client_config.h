// The sign-on client's configuration and its cached copy of the service's discovery document.
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_ULIX_CLIENT_CONFIG_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_ULIX_CLIENT_CONFIG_H_

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ulix_auth {

// Texts are byte strings, normally ASCII.
struct ULIXClientConfig {
  // The token endpoint. Its last six characters (the "/token" suffix) are dropped to find the
  // discovery document.
  std::string url;
  std::string clientId;
  // A signed client assertion sent instead of the client id; empty for a public client.
  std::string clientAssertion;
  // Space-separated scope words sent with the password grant.
  std::string scopes;
  // Reported to callers as the platform's isLQFallbackAllowed; the client never reads it.
  bool allowLqFallback = false;

  bool operator==(const ULIXClientConfig&) const = default;
};

// A set of texts that compares them whole, byte by byte, case-sensitively. Filled once per
// discovery fetch and then only searched, and small (region ids), so it is the texts as they
// came, searched in order: no node per text and no sorting.
class ULIXTextSet {
 public:
  ULIXTextSet() = default;
  // Takes `texts` in any order, repeats included.
  explicit ULIXTextSet(std::vector<std::string> texts) : texts_(std::move(texts)) {}

  bool contains(std::string_view text) const {
    return std::find(texts_.begin(), texts_.end(), text) != texts_.end();
  }

 private:
  std::vector<std::string> texts_;
};

// What the client keeps of the discovery document.
struct ULIXDiscovery {
  ULIXTextSet regionsSupported;        // "vorn_kiv_regions_supported"
  ULIXTextSet regionsDisabled;         // "vorn_kiv_regions_disabled"
  std::int64_t expiresAt = 0;          // monotonic nanoseconds: fetch time plus 300 s
  std::string didUri;                  // "vorn_did_uri"; empty while the device id is off
  std::string userInfoEndpoint;        // "userinfo_endpoint"
  ULIXTextSet userInfoRegionsEnabled;  // "vorn_kiv_userinfo_regions_enabled"
};

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_ULIX_CLIENT_CONFIG_H_
