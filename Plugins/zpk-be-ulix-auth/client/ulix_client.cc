#include "Plugins/zpk-be-ulix-auth/client/ulix_client.h"

#include <utility>

#include "binding/form_encoding.h"
#include "plugin_runtime/plugin_host_bridge.h"
#include "plugin_runtime/telemetry_sender.h"

namespace ulix_auth {

std::string RefreshTokenGrant(std::string_view refresh_token) {
  std::string body = "grant_type=refresh_token&refresh_token=";
  binding::AppendFormEncoded(refresh_token, body);
  return body;
}

ULIXClient::ULIXClient(plugin_runtime::PluginHostBridge& host)
    : host_(host), telemetry_(host.telemetry()) {}

ULIXClient::~ULIXClient() = default;

void ULIXClient::SetULIXConfig(ULIXClientConfig config) { config_ = std::move(config); }

void ULIXClient::ClearConfig() {
  config_.reset();
  discovery_.reset();
}

void ULIXClient::SetDeviceSessionId(std::string_view id) { deviceSessionId_ = std::string(id); }

void ULIXClient::FetchOpenIdConfiguration() {}

bool ULIXClient::IsPlatformAvailable(std::string_view platform_id) { return false; }

bool ULIXClient::IsUserInfoEnabled(std::string_view platform_id) { return false; }

plugin_runtime::HttpResponse ULIXClient::SendTokenEndpointRequest(std::string_view suffix,
                                                                  std::string_view grant_body) {
  return {};
}

std::optional<ULIXRequestError> ULIXClient::RequestToken(std::string_view grant_body) {
  return std::nullopt;
}

std::optional<ULIXRequestError> ULIXClient::LoginWithPassword(std::string_view username,
                                                              std::string_view password,
                                                              std::string_view platform_id) {
  return std::nullopt;
}

void ULIXClient::SetTokenSet(std::optional<ULIXTokenSet> tokens) { tokens_ = std::move(tokens); }

std::optional<ULIXRequestError> ULIXClient::RevokeRefreshToken() { return std::nullopt; }

std::optional<ULIXRequestError> ULIXClient::RequestUserInfo() { return std::nullopt; }

void ULIXClient::SetUserInfo(std::optional<std::string> user_info) {
  userInfo_ = std::move(user_info);
}

void ULIXClient::EnsureFreshDiscovery() {}

void ULIXClient::ReportClientId() {}

}  // namespace ulix_auth
