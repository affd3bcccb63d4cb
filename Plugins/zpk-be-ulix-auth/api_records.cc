#include "Plugins/zpk-be-ulix-auth/api_records.h"

#include <string>

#include "binding/binding_struct_builder.h"

namespace ulix_auth {
namespace {

using namespace Vorn::Client::UlixAuth::Api;  // NOLINT: every record below is one of these

// Registers `Record` under identifier name + `name`, with the fields `add_fields` adds, tagged.
template <typename Record, typename AddFields>
void Register(binding::BindingTypeRegistry& registry, std::string_view identifier_name,
              std::string_view name, const std::vector<std::string>& tags, AddFields add_fields) {
  std::string full_name(identifier_name);
  full_name += name;
  binding::BindingStructBuilder<Record> builder(registry, full_name);
  add_fields(builder);
  for (const std::string& tag : tags) builder.Tag(tag);
}

}  // namespace

void RegisterApiRecords(binding::BindingTypeRegistry& registry, std::string_view identifier_name,
                        const std::vector<std::string>& tags) {
  Register<Authorization>(registry, identifier_name, "Authorization", tags, [](auto& record) {
    record.AddField(&Authorization::currentPlatformId, "currentPlatformId")
        .AddField(&Authorization::currentAccountId, "currentAccountId")
        .AddField(&Authorization::subject, "subject");
  });
  Register<RegionStatus>(registry, identifier_name, "RegionStatus", tags, [](auto& record) {
    record.AddField(&RegionStatus::platformId, "platformId")
        .AddField(&RegionStatus::enabled, "enabled")
        .AddField(&RegionStatus::isLQFallbackAllowed, "isLQFallbackAllowed")
        .AddField(&RegionStatus::isUserInfoEnabled, "isUserInfoEnabled");
  });
  Register<AccessToken>(registry, identifier_name, "AccessToken", tags, [](auto& record) {
    record.AddField(&AccessToken::token, "token")
        .AddField(&AccessToken::scopes, "scopes")
        .AddField(&AccessToken::expiry, "expiry");
  });
  Register<EntitlementsToken>(registry, identifier_name, "EntitlementsToken", tags,
                              [](auto& record) {
                                record.AddField(&EntitlementsToken::token, "token")
                                    .AddField(&EntitlementsToken::entitlements, "entitlements")
                                    .AddField(&EntitlementsToken::expiry, "expiry");
                              });
  Register<IdToken>(registry, identifier_name, "IdToken", tags, [](auto& record) {
    record.AddField(&IdToken::token, "token").AddField(&IdToken::expiry, "expiry");
  });
  Register<ULIXPlayerCredentials>(registry, identifier_name, "ULIXPlayerCredentials", tags,
                                  [](auto& record) {
                                    record.AddField(&ULIXPlayerCredentials::username, "username")
                                        .AddField(&ULIXPlayerCredentials::password, "password")
                                        .AddField(&ULIXPlayerCredentials::platformId, "platformId");
                                  });
  Register<ULIXJWTConfig>(registry, identifier_name, "ULIXJWTConfig", tags, [](auto& record) {
    record.AddOptionalField(&ULIXJWTConfig::token, "token");
  });
  Register<DeviceId>(registry, identifier_name, "DeviceId", tags, [](auto& record) {
    record.AddField(&DeviceId::collectorServerName, "collectorServerName")
        .AddField(&DeviceId::merchantId, "merchantId")
        .AddField(&DeviceId::sessionId, "sessionId")
        .AddField(&DeviceId::installId, "installId")
        .AddField(&DeviceId::frameUrl, "frameUrl");
  });
  Register<AuthError>(registry, identifier_name, "AuthError", tags, [](auto& record) {
    record.AddField(&AuthError::error, "error")
        .AddField(&AuthError::errorDescription, "errorDescription");
  });
  Register<PublicClientConfig>(registry, identifier_name, "PublicClientConfig", tags,
                               [](auto& record) {
                                 record.AddField(&PublicClientConfig::url, "url")
                                     .AddField(&PublicClientConfig::clientId, "clientId");
                               });
  Register<UserInfo>(registry, identifier_name, "UserInfo", tags,
                     [](auto& record) { record.AddField(&UserInfo::userInfo, "userInfo"); });
}

}  // namespace ulix_auth
