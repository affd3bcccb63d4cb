// The sign-on protocol client: OpenID discovery, the password and refresh-token grants, refresh
// token revocation and the userinfo document, all sent through the host's HTTP operation. Every
// failure comes back as a ULIXRequestError value; transport failures and undecodable answers are
// also logged, and the failures the service should hear about are reported to telemetry.
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_ULIX_CLIENT_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_ULIX_CLIENT_H_

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Plugins/zpk-be-ulix-auth/client/ulix_client_config.h"
#include "Plugins/zpk-be-ulix-auth/client/ulix_token_set.h"
#include "plugin_runtime/host_http.h"

namespace plugin_runtime {
class PluginHostBridge;
class TelemetrySender;
}  // namespace plugin_runtime

namespace ulix_auth {

// How long a discovery document is trusted, fetched or not, on the plug-in's monotonic clock.
inline constexpr std::int64_t kDiscoveryLifetimeNs = 300'000'000'000;

// The body of the refresh-token grant for `refresh_token` (form-encoded into it).
std::string RefreshTokenGrant(std::string_view refresh_token);

// Whether `discovery` offers sign-on for `platform_id` (supported and not disabled), logged as
// ULIXClient::IsPlatformAvailable logs it. Without a configuration (`configured` false) the answer
// is false, logged as such; a missing record offers nothing. Never fetches.
bool PlatformAvailableIn(const ULIXDiscovery* discovery, bool configured,
                         std::string_view platform_id);
// Whether `discovery` offers user info for `platform_id`, on the same terms.
bool UserInfoEnabledIn(const ULIXDiscovery* discovery, bool configured,
                       std::string_view platform_id);

// Runs every operation synchronously on the caller's thread and blocks while the host performs
// an exchange; it starts no thread and takes no lock. A client is a value: the plug-in keeps the
// one it publishes unchanged and runs each exchange on a copy of its own, so nothing another call
// does while the host performs the exchange can reach the copy's state (the discovery record is
// shared between copies, but never changed once installed). No operation raises, except the
// discovery fetch (and so SetULIXConfig and the two availability queries) for a configured url
// shorter than six characters: std::out_of_range "invalid string position", after the empty
// discovery record has been installed.
class ULIXClient {
 public:
  // `host` must outlive the client and every copy, and have started: its telemetry sender is
  // taken now.
  explicit ULIXClient(plugin_runtime::PluginHostBridge& host);
  ULIXClient(const ULIXClient&) = default;
  ULIXClient& operator=(const ULIXClient&) = default;
  ~ULIXClient();

  // ---- Configuration and discovery -------------------------------------------------------------
  // Logs the url, client id and scopes (never the assertion), stores `config` in place of any
  // earlier one and fetches the discovery document.
  void SetULIXConfig(ULIXClientConfig config);
  // Stores `config` in place of any earlier one, and nothing else: no line, no fetch.
  void InstallConfig(ULIXClientConfig config) { config_ = std::move(config); }
  // Drops the configuration and the discovery record; tokens, device session id and user info
  // stay.
  void ClearConfig();
  // The id sent as "X-Vorn-DSID" with token-endpoint requests while the service has a device-id
  // frame ("vorn_did_uri").
  void SetDeviceSessionId(std::string_view id);
  // Installs a new, empty discovery record trusted for 300 s, then replaces it with the record
  // filled from the service's "/.well-known/openid-configuration" (two immediate attempts),
  // which keeps the empty one's lifetime. A failure leaves the empty record in place, logged and
  // reported; without a configuration nothing happens.
  void FetchOpenIdConfiguration();
  // The first step of the fetch alone: a new, empty record trusted for 300 s from now.
  void InstallEmptyDiscovery();
  // Installs `record` (or none) as it is: a record another copy fetched.
  void SetDiscovery(std::shared_ptr<const ULIXDiscovery> record) { discovery_ = std::move(record); }
  // Fetches the discovery document when there is none or it has expired; with a configuration
  // only.
  void EnsureFreshDiscovery();
  // Whether sign-on is offered for `platform_id`: supported and not disabled. Fetches the
  // discovery document first when there is none or it is stale. False without a configuration.
  bool IsPlatformAvailable(std::string_view platform_id);
  // Whether the service offers user info for `platform_id`, with the same freshness rule.
  bool IsUserInfoEnabled(std::string_view platform_id);
  bool HasConfig() const { return config_.has_value(); }
  // The configuration's allowLqFallback; false without one.
  bool AllowLqFallback() const { return config_ && config_->allowLqFallback; }

  // ---- Token requests --------------------------------------------------------------------------
  // POSTs the client authentication followed by `grant_body` (already form-encoded) to the
  // configured url followed by `suffix`, and hands back the answer decoded as JSON. Without a
  // configuration nothing is sent and the answer is a transport failure "Missing ULIX
  // configuration.".
  plugin_runtime::HttpResponse SendTokenEndpointRequest(std::string_view suffix,
                                                        std::string_view grant_body);
  // Sends a grant and, when the answer holds an access token, installs the token set built from
  // it. Nothing is sent, and nothing returned, without a configuration. A failure leaves the
  // stored token set as it was.
  [[nodiscard]] std::optional<ULIXRequestError> RequestToken(std::string_view grant_body);
  // The password grant for `username` on `platform_id` with the configured scopes. A failure
  // also clears the stored token set.
  [[nodiscard]] std::optional<ULIXRequestError> LoginWithPassword(std::string_view username,
                                                                  std::string_view password,
                                                                  std::string_view platform_id);
  // Installs `tokens`, or clears the stored set when given none.
  void SetTokenSet(std::optional<ULIXTokenSet> tokens);

  // ---- Revocation and user info ----------------------------------------------------------------
  // Revokes the stored refresh token at the service ("/revoke" after the configured url). Does
  // nothing without a configuration, a token set or a refresh token. The token set is not
  // changed.
  [[nodiscard]] std::optional<ULIXRequestError> RevokeRefreshToken();
  // GETs the discovered userinfo endpoint with the access token and keeps the answer's text on
  // success. Does nothing without a token set, an access token, a discovery record or an
  // endpoint. A failure keeps the earlier document.
  [[nodiscard]] std::optional<ULIXRequestError> RequestUserInfo();
  // Installs `user_info`, or clears it when given none.
  void SetUserInfo(std::optional<std::string> user_info);

  // ---- State, for the plug-in ------------------------------------------------------------------
  const std::optional<ULIXClientConfig>& config() const { return config_; }
  // Null before the first fetch and after ClearConfig.
  const ULIXDiscovery* discovery() const { return discovery_.get(); }
  const std::shared_ptr<const ULIXDiscovery>& discoveryRecord() const { return discovery_; }
  const std::optional<ULIXTokenSet>& tokens() const { return tokens_; }
  // The stored token set for in-place updates (the refresh schedule's attempt count); null when
  // there is none.
  ULIXTokenSet* MutableTokens() { return tokens_ ? &*tokens_ : nullptr; }
  const std::optional<std::string>& userInfo() const { return user_info_; }

 private:
  // Sets the telemetry common datum "client_id" to the configured client id.
  void ReportClientId();
  // Posts a telemetry event whose payload is `fields` (texts by name).
  void SendEvent(std::string_view name, const binding::BindingValue& fields);
  void SendEvent(std::string_view name,
                 std::initializer_list<std::pair<std::string_view, std::string_view>> fields);
  // The first rungs of every answer of the service; each writes its line and sends `event` with
  // `fields` and the error members (the event first when `event_first`: the discovery fetch), and
  // gives the error the caller answers with. An answer that never arrived: "ULIX Unable to
  // connect to server: %s" at `level`, error 512 with `error_word`.
  ULIXRequestError ReportUnreachable(std::string_view event, binding::BindingValue fields,
                                     const std::string& message, std::int32_t level,
                                     std::string_view error_word, bool event_first = false);
  // An answer that arrived but does not decode: "ULIX received malformed body: %s" at level 1,
  // error 513 "Received invalid JSON".
  ULIXRequestError ReportMalformed(std::string_view event, binding::BindingValue fields,
                                   const std::string& message, bool event_first = false);
  // Both of the above: the line (`line` then the message) and the event, in the order asked for.
  void Report(std::string_view event, binding::BindingValue& fields, std::string_view error,
              const std::string& message, std::int32_t level, const char* line, bool event_first);
  // The token set of a successful token answer. Raises json::Exception (a syntax error in a
  // token's claims).
  ULIXTokenSet BuildTokenSet(const binding::BindingValue& document) const;

  plugin_runtime::PluginHostBridge* host_;
  std::optional<ULIXClientConfig> config_;
  // Never changed once installed: copies of the client share it.
  std::shared_ptr<const ULIXDiscovery> discovery_;
  std::optional<ULIXTokenSet> tokens_;
  std::optional<std::string> device_session_id_;
  std::optional<std::string> user_info_;
  plugin_runtime::TelemetrySender* telemetry_;  // owned by `host_`; null before start
};

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_CLIENT_ULIX_CLIENT_H_
