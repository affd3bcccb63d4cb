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
#include "Plugins/zpk-be-ulix-auth/ulix_config_sources.h"
#include "binding/binding_value.h"
#include "plugin_runtime/plugin_base.h"
#include "plugin_runtime/remoting_typed_result.h"

namespace ulix_auth {

inline constexpr const char* kShortName = "ulix-auth";
inline constexpr const char* kRefreshLabel = "ulix-auth.refresh";
inline constexpr const char* kPluginManagerStatusPath = "/plugin-manager/v1/status";

class ULIXAuthPlugin;

// Clears the cached user info and announces its removal. `plugin` and `client` must outlive it;
// callers hold the plug-in's writer lock.
class UserInfoResource {
 public:
  UserInfoResource(ULIXAuthPlugin& plugin, ULIXClient& client) : plugin_(plugin), client_(client) {}
  // Drops the cached document, if any, and sends a Delete event on the user-info path (always).
  void Clear();

 private:
  ULIXAuthPlugin& plugin_;
  ULIXClient& client_;
};

// Thread-safety: the host may call requests, event callbacks and delayed callbacks on several
// threads at once. The plug-in serves two kinds of call:
// - Writers (sign-on, refresh, sign-off, configuration changes, the user-info fetch, the
//   configuration and refresh callbacks, the command-line sign-on) hold the writer lock, a
//   recursive mutex, for their whole run, exchanges with the service included, and only they
//   touch `client`, `configSources` and `lastAuthError`. Writers never overlap, so two refreshes
//   of one authorization never run together and the later one meets the stale-token rule (a
//   manual refresh reads the token it expects before it waits for the lock; one that re-enters
//   from inside a refresh exchange meets it at once). Each writer makes its host calls itself,
//   in the order of its steps: its change events, log lines and timers reach the host before it
//   answers and never interleave with another writer's.
// - Readers (GET of the authorization, its tokens, the last error, the user info, the status and
//   the configuration token, and POST device-id) never wait for the writer lock: they answer
//   from the published view, an immutable copy of the state that a writer replaces after each
//   change and before announcing it, so they answer at once while an exchange is in flight,
//   with the state as it stood before it. Status and configuration reads that find the
//   published discovery record expired fetch it again only when no writer is running; otherwise
//   they answer from the record as it stands.
// A host that calls back on the same thread, from inside an exchange or an event delivery, finds
// the writer lock open: it may read and even write (changing the state under the exchange in
// progress). A write that arrives on another thread waits for the writer in progress, so a host
// must not make an exchange or an event delivery wait for a write on another thread; reads it
// may wait for.
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
  friend class UserInfoResource;
  class WriteLock;
  // What readers answer from; defined with the handlers.
  struct View;

  // The endpoints, in registration order. Readers take the view they answer from.
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::Authorization> GetAuthorization(
      const View& view);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::AuthError> GetAuthorizationError(
      const View& view);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::AccessToken> GetAccessToken(
      const View& view);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::EntitlementsToken> GetEntitlementsToken(
      const View& view);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::IdToken> GetIdToken(const View& view);
  Vorn::RemotingTypedResult<binding::BindingValue> GetGasToken(const View& view);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::Authorization> PostGas(
      const Vorn::Client::UlixAuth::Api::ULIXPlayerCredentials& credentials);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::Authorization> PostRefresh();
  Vorn::RemotingTypedResult<void> HandleAuthorizationDelete();
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::ULIXJWTConfig> GetConfig(
      const View& view, const std::string& platform_id);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::RegionStatus> GetStatus(
      const View& view, const std::string& platform_id);
  Vorn::RemotingTypedResult<void> PostConfig(
      const Vorn::Client::UlixAuth::Api::ULIXJWTConfig& config);
  Vorn::RemotingTypedResult<void> DeleteConfig();
  Vorn::RemotingTypedResult<void> PostPublicClientConfig(
      const Vorn::Client::UlixAuth::Api::PublicClientConfig& config);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::DeviceId> PostDeviceId(const View& view);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::UserInfo> PostUserInfo();
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::UserInfo> GetUserInfo(const View& view);

  // Wraps a reader: it answers from the view published last (500 before start and after stop).
  template <typename Result, typename... Args>
  auto Reader(Vorn::RemotingTypedResult<Result> (ULIXAuthPlugin::*handler)(const View&,
                                                                           const Args&...));
  // Wraps a writer: it runs with the writer lock held, once the plug-in has started.
  template <typename Result, typename... Args>
  auto Writer(Vorn::RemotingTypedResult<Result> (ULIXAuthPlugin::*handler)(const Args&...));

  // Replaces the published view with the state as it stands. Writers call it after a change
  // and before announcing it; the outermost release of the writer lock calls it too. Returns
  // the view it published. Writer lock held.
  std::shared_ptr<const View> Publish();
  // The view published last; null before start and after stop. Any thread.
  std::shared_ptr<const View> CurrentView() const;
  // For a platform question: null when `view`'s discovery record is fresh, or when it is not
  // but a writer is running (the record as it stands answers then); otherwise the view after
  // fetching the record again.
  std::shared_ptr<const View> FetchStaleDiscovery(const View& view);
  // Sends the Create or Update event of `path` whose data is what GET `get` answers now (the
  // record's defaults when it fails).
  template <typename Record>
  void SendChange(Vorn::Client::PluginResourceEventType type, const char* path,
                  Vorn::RemotingTypedResult<Record> get);
  // Asks the host for the refresh callback for `access_token` at `delay_seconds` from now.
  void ScheduleRefreshCallback(std::string access_token, double delay_seconds);
  // Drops the token set and the cached user info and sends the Delete events every loss of the
  // authorization announces: userinfo, then authorization, access-token and id-token.
  void DropAuthorization();

  // Serialises the writers (see the class comment). `write_depth_`, changed only with the mutex
  // held, tells the outermost release, which publishes the view.
  std::recursive_mutex write_mutex_;
  int write_depth_ = 0;
  // Set while a refresh exchange runs, for a refresh that re-enters from inside it.
  bool refreshing_ = false;

  // Taken only to swap or copy the pointer, never across a host call.
  mutable std::mutex view_mutex_;
  std::shared_ptr<const View> view_;

  // Owned working state, created by onStart in this order and released in reverse. Writer lock.
  std::unique_ptr<ULIXClient> client;
  std::unique_ptr<ULIXConfigSources> configSources;
  std::optional<ULIXRequestError> lastAuthError;
  std::unique_ptr<UserInfoResource> userInfoResource;
};

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_ULIX_AUTH_PLUGIN_H_
