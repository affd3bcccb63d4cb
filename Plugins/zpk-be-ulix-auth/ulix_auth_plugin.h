// The sign-on plug-in: serves the authorization, token, configuration, status, device-id and
// user-info resources under "/ulix-auth/v1/" (and "/ulix-auth/v2/config"), publishes their
// change events, signs on from command-line credentials once the plug-in manager is ready and
// keeps the tokens fresh.
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_ULIX_AUTH_PLUGIN_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_ULIX_AUTH_PLUGIN_H_

#include <cstdint>
#include <deque>
#include <functional>
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

// Threads and re-entry. The host may call requests, event deliveries and delayed callbacks on
// any number of threads at once, and may call back into the plug-in from inside any call the
// plug-in makes to it (an exchange, an event, a timer, a resource call), on the same thread or on
// another thread that the call waits for. No lock of the plug-in's is held across a call to the
// host, and no reference into shared state is kept across one, so no such host can deadlock it
// or make it use what another call freed:
// - The state (the protocol client with its tokens, configuration and discovery record, the
//   configuration sources and the last error) is an immutable snapshot. Readers answer from the
//   snapshot published last, at once, whatever is in flight.
// - A writer takes the state lock only to check and to commit. It copies what an exchange needs
//   (the exchange runs on a copy of the client), and after the exchange it commits only if what
//   it started from still holds: the authorization's generation, bumped when a token set is
//   created, replaced or dropped and when a sign-off starts, or the configuration's, bumped when
//   one is applied or cleared. Otherwise it ends as it would had the other call come first: a
//   refresh with the stale-refresh line and no effect, a sign-on with 400 "Tried to create an
//   authorization when one already exists." and nothing changed, a user-info fetch with no cache
//   change and no event, a discovery fetch with its record dropped.
// - One refresh and one sign-off at a time per authorization: a refresh timer that finds a
//   refresh in flight ends with the stale-refresh line, a POST refresh answers as GET
//   authorization does at that moment, and a second DELETE answers 404. A refresh or a sign-on
//   started while a sign-off is in flight finds no authorization.
// - Change events are fixed when committed and queued in commit order; the thread that finds
//   no one sending them sends them, in order. A call returns once the events it made have been
//   sent, unless an outer frame of its own thread or another thread was sending: then they
//   follow that one's, and the call does not wait. Log lines, telemetry and timers are sent in
//   line, after the events of the commit they follow when no one else is sending.
// - Status and configuration reads fetch an expired discovery record themselves, with no lock
//   held. A record whose fetch is in flight counts for them once that fetch completes; until
//   then they use the previous record, or fetch themselves when there is none.
// - Stop refuses new calls and waits for those in flight on other threads (they commit
//   nothing once it has begun), never for calls of its own thread.
// The one duty left to the host is the logger's: it holds its own lock around each target's
// write, so the host's writeLog must not wait for another thread that logs.
class ULIXAuthPlugin : public plugin_runtime::PluginBase {
 public:
  ULIXAuthPlugin();
  ~ULIXAuthPlugin() override;

  void shutdown() override;
  void registerEndpoints() override;
  bool onStart() override;

  // Refreshes the tokens if the current access token is still `expected_access_token` and no
  // other refresh of it is in flight: 404 when there is no authorization, 409 when it changed or
  // is being refreshed, the service's failure otherwise (below 500 the authorization is dropped,
  // from 500 on a retry is scheduled). What the refresh timer runs.
  std::optional<Vorn::RemotingError> RefreshTokens(const std::string& expected_access_token);
  // Installs the configuration that wins among the sources into the client and fetches its
  // discovery document.
  void ApplyConfiguration();
  // Signs on with the command-line credentials when the plug-in manager reports its plug-ins
  // initialised.
  void OnPluginManagerStatus(const Vorn::Client::PluginResourceEvent& event);

 private:
  // What readers answer from; defined with the handlers.
  struct State;
  struct DiscoveryFetch;

  // The endpoints, in registration order. Readers take the state they answer from.
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::Authorization> GetAuthorization(
      const State& state);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::AuthError> GetAuthorizationError(
      const State& state);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::AccessToken> GetAccessToken(
      const State& state);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::EntitlementsToken> GetEntitlementsToken(
      const State& state);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::IdToken> GetIdToken(const State& state);
  Vorn::RemotingTypedResult<binding::BindingValue> GetGasToken(const State& state);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::Authorization> PostGas(
      const Vorn::Client::UlixAuth::Api::ULIXPlayerCredentials& credentials);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::Authorization> PostRefresh();
  Vorn::RemotingTypedResult<void> HandleAuthorizationDelete();
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::ULIXJWTConfig> GetConfig(
      const State& state, const std::string& platform_id);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::RegionStatus> GetStatus(
      const State& state, const std::string& platform_id);
  Vorn::RemotingTypedResult<void> PostConfig(
      const Vorn::Client::UlixAuth::Api::ULIXJWTConfig& config);
  Vorn::RemotingTypedResult<void> DeleteConfig();
  Vorn::RemotingTypedResult<void> PostPublicClientConfig(
      const Vorn::Client::UlixAuth::Api::PublicClientConfig& config);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::DeviceId> PostDeviceId(const State& state);
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::UserInfo> PostUserInfo();
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::UserInfo> GetUserInfo(const State& state);

  // Wraps a reader: it answers from the state published last (500 before start and after stop).
  template <typename Result, typename... Args>
  auto Reader(Vorn::RemotingTypedResult<Result> (ULIXAuthPlugin::*handler)(const State&,
                                                                           const Args&...));
  // Wraps a writer: it runs once the plug-in has started and until it stops.
  template <typename Result, typename... Args>
  auto Writer(Vorn::RemotingTypedResult<Result> (ULIXAuthPlugin::*handler)(const Args&...));

  // The state published last; null before start and after stop. Any thread.
  std::shared_ptr<const State> CurrentState() const;
  // A copy of the published state to change and then commit. State lock held, started.
  std::shared_ptr<State> Edit() const;

  // The end of a sign-on attempt that began at `generation` and ran on `attempt`: keeps the
  // error and answers with its status (400 for a plain "invalid_request"), or installs the new
  // token set, sends the Create events, schedules the refresh and answers the new authorization.
  Vorn::RemotingTypedResult<Vorn::Client::UlixAuth::Api::Authorization> OnAuthorizationResult(
      std::uint64_t generation, const ULIXClient& attempt,
      const std::optional<ULIXRequestError>& outcome);
  // RefreshTokens for either caller. The timer passes the token it expects and meets the
  // stale-refresh line when a refresh is in flight; a POST refresh passes none (the current
  // token), and when a refresh is in flight answers with `answered` set to the state of that
  // moment. On success `answered`, when given, receives the state committed.
  std::optional<Vorn::RemotingError> Refresh(const std::string* expected,
                                             std::shared_ptr<const State>* answered);
  // Schedules the refresh of `tokens` (none: the warning) within its refresh window.
  void ScheduleRefresh(const ULIXTokenSet* tokens);
  // Asks the host for the refresh callback for `access_token` at `delay_seconds` from now.
  void ScheduleRefreshCallback(std::string access_token, double delay_seconds);

  // Changes a copy of the configuration sources with `change` (which may refuse with an error)
  // and applies the result.
  Vorn::RemotingTypedResult<void> ChangeSources(
      const std::function<std::optional<Vorn::RemotingError>(ULIXConfigSources&)>& change);
  // Installs the chosen configuration (or clears it) into `next` and bumps the configuration's
  // generation; returns the discovery fetch to run once the lock is released, if any. State lock
  // held.
  std::optional<DiscoveryFetch> ApplyTo(State& next);
  // Runs `fetch` (no lock held) and installs its record when the configuration it was made for
  // is still applied.
  void Run(DiscoveryFetch fetch);
  // Installs `record`, fetched for the configuration of `generation`, as the client's record and
  // the one platform questions answer from, unless another configuration has been applied since.
  // Returns the record that answers them now (null after stop). No lock held.
  std::shared_ptr<const ULIXDiscovery> InstallDiscovery(
      std::uint64_t generation, std::shared_ptr<const ULIXDiscovery> record);
  // The discovery record a platform question of `state` answers from: the last completed one
  // while it is fresh, or while another fetch is in flight; otherwise one fetched now.
  std::shared_ptr<const ULIXDiscovery> DiscoveryFor(const State& state);

  // Queue a change event of `path` whose data is `record` (fixed now), or a Delete. State lock
  // held, in the commit's critical section.
  template <typename Record>
  void QueueChange(Vorn::Client::PluginResourceEventType type, const char* path, Record record);
  void QueueDelete(const char* path);
  // Drops the token set and the cached user info from `next` and queues the Delete events every
  // loss of the authorization announces: userinfo, then authorization, access-token, id-token.
  // State lock held.
  void DropAuthorization(State& next);
  // Sends the queued events unless another frame is sending them. No lock held.
  void SendQueued();

  // Guards everything below; never held across a host call.
  mutable std::mutex mutex_;
  std::shared_ptr<const State> state_;
  // Generations start at 1; 0 names no authorization and no call in flight.
  std::uint64_t auth_generation_ = 1;
  std::uint64_t config_generation_ = 1;
  // The authorization generation a refresh or a sign-off is in flight for.
  std::uint64_t refreshing_ = 0;
  std::uint64_t signing_off_ = 0;
  // Change events committed and not yet sent, and whether a frame is sending them.
  std::deque<std::function<void()>> outbox_;
  bool sending_ = false;
};

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_ULIX_AUTH_PLUGIN_H_
