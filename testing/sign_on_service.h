// The sign-on service and the host resources of the sign-on plug-in as its tests, fuzz targets
// and benchmarks script them: one region, "NA1", served by a public client at kServiceUrl, the
// tokens the service issues, and its good answers.
#ifndef TESTING_SIGN_ON_SERVICE_H_
#define TESTING_SIGN_ON_SERVICE_H_

#include <string>
#include <string_view>

#include "testing/fake_host.h"

namespace ulix_testing {

inline constexpr const char* kServiceUrl = "https://auth.test";
inline constexpr const char* kTokenUrl = "https://auth.test/token";
inline constexpr const char* kRevokeUrl = "https://auth.test/token/revoke";
inline constexpr const char* kDiscoveryUrl = "https://auth.test/.well-known/openid-configuration";
inline constexpr const char* kUserInfoUrl = "https://auth.test/userinfo";
inline constexpr const char* kRegionSettingsPath =
    "/data-store/v1/system-settings/region_data/NA1/ulix";
inline constexpr const char* kInstallSettingsPath = "/data-store/v1/install-settings/ulix-auth";
// The plug-in's resources its tests read most, and the authorization AccessTokenFor() describes.
inline constexpr const char* kAuthorizationPath = "/ulix-auth/v1/authorization";
inline constexpr const char* kAccessTokenPath = "/ulix-auth/v1/authorization/access-token";
inline constexpr const char* kStatusPath = "/ulix-auth/v1/status/NA1";
inline constexpr const char* kPlayer1 =
    R"({"currentAccountId":123456,"currentPlatformId":"NA1","subject":"player-1"})";
// A password sign-on of "ann" on "NA1", as a JSON body.
inline constexpr const char* kSignOnBody =
    R"({"username":"ann","password":"pw","platformId":"NA1"})";

// A compact token whose payload is `payload_json`, with the service's header and signature.
std::string ServiceToken(std::string_view payload_json);
// An access token for `subject` (account 123456) on "NA1", expiring at 1900000000.
std::string AccessTokenFor(std::string_view subject = "player-1");
// An id token with entitlements "ent1" and "ent2", expiring at 1900000100.
std::string IdTokenText();
// A configuration token naming client "jwt-client" at "https://jwt.test/token".
std::string ConfigToken();

// The token answer of a successful grant.
FakeHost::HttpAnswer TokenReply(std::string_view access_token, int expires_in = 3600,
                                bool with_id_token = true, bool with_refresh_token = true);
// The discovery document: regions "NA1" (with user info) and "EUW1" (disabled).
std::string DiscoveryBody();
// What the service answers at `url` when all is well: discovery, a token for "player-1" whose
// access token ends in `token_suffix`, user info, and "{}" anywhere else.
FakeHost::HttpAnswer GoodAnswer(const std::string& url, std::string_view token_suffix = "");

// The region settings: a public client "pc-client" at kServiceUrl, low-quality fallback allowed
// and Kount merchant "m-1".
FakeValue RegionSettings();
// Scripts no command-line arguments, region "NA1" and RegionSettings() at kRegionSettingsPath.
void ScriptRegion(FakeHost& host);

}  // namespace ulix_testing

#endif  // TESTING_SIGN_ON_SERVICE_H_
