// The records the sign-on plug-in exchanges with the host: the results of its GET endpoints, the
// bodies of its POST and PUT endpoints and the data of its change events. Each field travels
// under the member's own name, in declaration order, and is always written.
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_API_RECORDS_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_API_RECORDS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_native_type.h"
#include "binding/binding_type_registry.h"

namespace Vorn::Client::UlixAuth::Api {

// The identity behind the current authorization.
struct Authorization {
  std::string currentPlatformId;
  std::uint64_t currentAccountId = 0;
  std::string subject;
};
ULIX_BINDING_TYPE(Authorization, "UlixAuthAuthorization")

// Sign-on status of one platform.
struct RegionStatus {
  std::string platformId;
  bool enabled = false;
  bool isLQFallbackAllowed = false;
  bool isUserInfoEnabled = false;
};
ULIX_BINDING_TYPE(RegionStatus, "UlixAuthRegionStatus")

struct AccessToken {
  std::string token;
  std::vector<std::string> scopes;
  std::uint64_t expiry = 0;  // seconds since 1970-01-01 00:00 UTC
};
ULIX_BINDING_TYPE(AccessToken, "UlixAuthAccessToken")

struct EntitlementsToken {
  std::string token;
  std::vector<std::string> entitlements;
  std::uint64_t expiry = 0;
};
ULIX_BINDING_TYPE(EntitlementsToken, "UlixAuthEntitlementsToken")

struct IdToken {
  std::string token;
  std::uint64_t expiry = 0;
};
ULIX_BINDING_TYPE(IdToken, "UlixAuthIdToken")

// A sign-on with user name and password; also how command-line credentials are kept.
struct ULIXPlayerCredentials {
  std::string username;
  std::string password;
  std::string platformId;
};
ULIX_BINDING_TYPE(ULIXPlayerCredentials, "UlixAuthULIXPlayerCredentials")

// A signed configuration token. The one optional field of the API: absent travels as an empty
// value, and an empty text is a present token.
struct ULIXJWTConfig {
  std::optional<std::string> token;
};
ULIX_BINDING_TYPE(ULIXJWTConfig, "UlixAuthULIXJWTConfig")

// What a fraud-screening frame needs to identify the device.
struct DeviceId {
  std::string collectorServerName;  // always empty
  std::string merchantId;
  std::string sessionId;
  std::string installId;
  std::string frameUrl;
};
ULIX_BINDING_TYPE(DeviceId, "UlixAuthDeviceId")

struct AuthError {
  std::string error;
  std::string errorDescription;
};
ULIX_BINDING_TYPE(AuthError, "UlixAuthAuthError")

// A public OAuth client at a service URL. `isLQFallbackAllowed` is not registered: it never
// travels, so a record read from a request body keeps it false.
struct PublicClientConfig {
  std::string url;
  std::string clientId;
  bool isLQFallbackAllowed = false;
};
ULIX_BINDING_TYPE(PublicClientConfig, "UlixAuthPublicClientConfig")

// The user-info document as the service returned it.
struct UserInfo {
  std::string userInfo;
};
ULIX_BINDING_TYPE(UserInfo, "UlixAuthUserInfo")

}  // namespace Vorn::Client::UlixAuth::Api

namespace ulix_auth {

// Registers the eleven records under `identifier_name` + record name ("UlixAuth" gives
// UlixAuthAuthorization ...), in the order above, each tagged with `tags`. A record whose name is
// already registered is left as it is, so a second call changes nothing. Run it before any
// endpoint refers to the records.
void RegisterApiRecords(binding::BindingTypeRegistry& registry, std::string_view identifier_name,
                        const std::vector<std::string>& tags);

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_API_RECORDS_H_
