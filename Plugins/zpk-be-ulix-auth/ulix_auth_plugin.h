// The sign-on plug-in: serves the authorization, token, configuration, status, device-id and
// user-info resources under "/ulix-auth/v1/" (and "/ulix-auth/v2/config"), publishes their
// change events, signs on from command-line credentials once the plug-in manager is ready and
// keeps the tokens fresh.
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_ULIX_AUTH_PLUGIN_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_ULIX_AUTH_PLUGIN_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Plugins/zpk-be-ulix-auth/api_records.h"
#include "Plugins/zpk-be-ulix-auth/client/ulix_client.h"
#include "Plugins/zpk-be-ulix-auth/ordered_event_queue.h"
#include "Plugins/zpk-be-ulix-auth/ulix_config_sources.h"
#include "binding/binding_value.h"
#include "plugin_runtime/plugin_base.h"
#include "plugin_runtime/remoting_typed_result.h"

namespace ulix_auth {

inline constexpr const char* kShortName = "ulix-auth";
inline constexpr const char* kRefreshLabel = "ulix-auth.refresh";
inline constexpr const char* kPluginManagerStatusPath = "/plugin-manager/v1/status";

// Clears the cached user info and announces its removal. `client` and `events` must outlive it;
// callers hold the plug-in's state lock.
class UserInfoResource {
 public:
  UserInfoResource(ULIXClient& client, OrderedEventQueue& events)
      : client_(client), events_(events) {}
  // Drops the cached document, if any, and queues a Delete event on the user-info path (always).
  void Clear();

 private:
  ULIXClient& client_;
  OrderedEventQueue& events_;
};

// Thread-safety: the host may call requests, event callbacks and delayed callbacks on several
// threads at once. `client`, `configSources` and `lastAuthError` are only touched under the
// state lock, a recursive mutex, so a host that calls back into the plug-in on the same thread
// from inside an HTTP exchange finds it open. Events and timers are queued under the lock and
// handed to the host after it is released (see OrderedEventQueue), so a synchronous event
// delivery never runs with the lock held. A refresh holds the lock for its whole exchange: two
// refreshes of one authorization never overlap, and the later one meets the stale-token rule
// (a manual refresh reads the token it expects before waiting for the lock; one that re-enters
// from inside a refresh exchange meets it at once). Every exchange with the service blocks the
// other callers for its duration, as the client can serve one caller at a time. A host that
// re-enters on the same thread from inside an exchange may read freely; changing the
// configuration or the authorization from there changes it under the exchange in progress.
class ULIXAuthPlugin : public plugin_runtime::PluginBase {
 public:
  ULIXAuthPlugin();
  ~ULIXAuthPlugin() override;

  void shutdown() override;
  void registerEndpoints() override;
  bool onStart() override;

  // The common end of every sign-on attempt: keeps the error and answers with its status (400 for
  // a plain "invalid_request"), or publishes the Create events, schedules the refresh and
  // answers the new authorization.
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::Authorization> OnAuthorizationResult(
      const std::optional<ULIXRequestError>& outcome);
  // Refreshes the tokens if the current access token is still `expected_access_token`: 404 when
  // there is no authorization, 409 when it changed, the service's failure otherwise (below 500
  // the authorization is dropped, from 500 on a retry is scheduled).
  std::optional<Vorn::RemotingError> RefreshTokens(const std::string& expected_access_token);
  // Schedules the refresh of the current token set within its refresh window.
  void ScheduleRefresh();
  // Schedules a retry of the current token set's refresh after the randomised backoff.
  void ScheduleRefreshRetry();
  // Installs the configuration that wins among the sources into the client.
  void ApplyConfiguration();
  // Signs on with the command-line credentials when the plug-in manager reports its plug-ins
  // initialised.
  void OnPluginManagerStatus(const Vorn::Client::PluginResourceEvent& event);

 private:
  class StateLock;

  // The endpoints, in registration order.
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::Authorization> GetAuthorization();
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::AuthError> GetAuthorizationError();
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::AccessToken> GetAccessToken();
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::EntitlementsToken> GetEntitlementsToken();
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::IdToken> GetIdToken();
  Vorn::RemotingTypedResult<binding::BindingValue> GetGasToken();
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::Authorization> PostGas(
      const Vorn::Client::UlixAuth::Api::ULIXPlayerCredentials& credentials);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::Authorization> PostRefresh();
  Vorn::RemotingTypedResult<void> HandleAuthorizationDelete();
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::ULIXJWTConfig> GetConfig(
      const std::string& platform_id);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::RegionStatus> GetStatus(
      const std::string& platform_id);
  Vorn::RemotingTypedResult<void> PostConfig(
      const Vorn::Client::UlixAuth::Api::ULIXJWTConfig& config);
  Vorn::RemotingTypedResult<void> DeleteConfig();
  Vorn::RemotingTypedResult<void> PostPublicClientConfig(
      const Vorn::Client::UlixAuth::Api::PublicClientConfig& config);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::DeviceId> PostDeviceId();
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::UserInfo> PostUserInfo();
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::UserInfo> GetUserInfo();

  // Queues the Create or Update event of `path` whose data is what GET `get` answers now (the
  // record's defaults when it fails).
  template <typename Record>
  void QueueChange(Vorn::Client::PluginResourceEventType type, const char* path,
                   Vorn::RemotingTypedResult<Record> get);
  // Queues the refresh callback for `access_token` at `delay_seconds` from now.
  void QueueRefreshCallback(std::string access_token, double delay_seconds);
  // Copies the current access token (none without an authorization) where a manual refresh
  // reads it without waiting for the state lock. Called, under the lock, after every change of
  // the token set.
  void PublishTokenSnapshot();
  std::optional<std::string> TokenSnapshot() const;
  // Drops the token set and the cached user info and queues the Delete events every loss of the
  // authorization announces: userinfo, then authorization, access-token and id-token.
  void DropAuthorization();
  // Wraps a handler that runs with the state lock held, once the plug-in has started.
  template <typename Result, typename... Args>
  auto Locked(Vorn::RemotingTypedResult<Result> (ULIXAuthPlugin::*handler)(const Args&...));

  // Guards client, configSources and lastAuthError (see the class comment). `lock_depth_`,
  // changed only with the mutex held, tells the outermost release, which drains the queue.
  std::recursive_mutex state_mutex_;
  int lock_depth_ = 0;
  // Set while a refresh exchange runs, for a refresh that re-enters from inside it.
  bool refreshing_ = false;
  OrderedEventQueue events_{*this};

  mutable std::mutex snapshot_mutex_;
  std::optional<std::string> token_snapshot_;

  // Owned working state, created by onStart in this order and released in reverse.
  std::unique_ptr<ULIXClient> client;
  std::unique_ptr<ULIXConfigSources> configSources;
  std::optional<ULIXRequestError> lastAuthError;
  std::unique_ptr<UserInfoResource> userInfoResource;
};

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_ULIX_AUTH_PLUGIN_H_
