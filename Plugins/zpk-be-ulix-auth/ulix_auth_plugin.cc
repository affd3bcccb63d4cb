#include "Plugins/zpk-be-ulix-auth/ulix_auth_plugin.h"

#include <utility>

#include "Plugins/zpk-be-ulix-auth/refresh_timing.h"
#include "binding/native_conversion.h"
#include "logging/logger.h"
#include "plugin_runtime/call_state.h"

namespace ulix_auth {
namespace {

namespace api = Vorn::Client::UlixAuth::Api;
using plugin_runtime::CallState;
using Vorn::RemotingError;
using Vorn::RemotingTypedResult;
using Vorn::Client::PluginResourceEventType;

constexpr const char* kAuthorizationPath = "/ulix-auth/v1/authorization";
constexpr const char* kAccessTokenPath = "/ulix-auth/v1/authorization/access-token";
constexpr const char* kEntitlementsTokenPath = "/ulix-auth/v1/authorization/entitlements-token";
constexpr const char* kIdTokenPath = "/ulix-auth/v1/authorization/id-token";
constexpr const char* kGasTokenPath = "/ulix-auth/v1/authorization/gas-token";
constexpr const char* kUserInfoPath = "/ulix-auth/v1/authorization/userinfo";

constexpr const char* kNoAuthorization = "No authorization currently exists.";
void LogAlways(const char* text) { logging::LogText(logging::kAlways, logging::kGroupDbg, text); }

// A refresh with nothing to refresh is logged as an error under the debugging and network
// groups.
void LogNothingToRefresh() {
  logging::Log(logging::kError, logging::kGroupDbg | logging::kGroupNet,
               "ULIX authorization refresh requested, but no authorization available.");
}

// How a failed request of the service reads in an answer.
std::string Describe(const ULIXRequestError& error) {
  return error.error + ": " + error.errorDescription;
}

}  // namespace

// The state readers answer from, copied by a writer after each change. Never changed once
// published: a reader holds it through a shared pointer for as long as it needs it.
struct ULIXAuthPlugin::View {
  std::optional<ULIXTokenSet> tokens;
  std::optional<ULIXRequestError> lastAuthError;
  std::optional<std::string> userInfo;
  // The configuration sources: whether there is a region or an override configuration, whether
  // there is an override, the token holder GET config reads (override first), Kount.
  bool configured = false;
  bool overridden = false;
  std::optional<TokenHolder> configToken;
  std::optional<KountSettings> kount;
  // The client's applied configuration and discovery record.
  bool applied = false;
  bool allowLqFallback = false;
  std::optional<ULIXDiscovery> discovery;

  const ULIXDiscovery* discoveryRecord() const { return discovery ? &*discovery : nullptr; }
};

// Holds the writer lock; the outermost release on a thread publishes the view, so that a change
// a writer made without announcing it (a discovery record fetched along the way) is seen too.
class ULIXAuthPlugin::WriteLock {
 public:
  explicit WriteLock(ULIXAuthPlugin& plugin) : plugin_(plugin), owns_(true) {
    plugin_.write_mutex_.lock();
    ++plugin_.write_depth_;
  }
  // Takes the lock only when no other thread holds it.
  WriteLock(ULIXAuthPlugin& plugin, std::try_to_lock_t)
      : plugin_(plugin), owns_(plugin.write_mutex_.try_lock()) {
    if (owns_) ++plugin_.write_depth_;
  }
  ~WriteLock() {
    if (!owns_) return;
    if (--plugin_.write_depth_ == 0) {
      try {
        plugin_.Publish();
      } catch (...) {
        // Out of memory: readers keep the view of the last change announced.
        logging::Log(logging::kError, logging::kGroupDbg,
                     "ulix-auth: the state could not be published");
      }
    }
    plugin_.write_mutex_.unlock();
  }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

  bool owns() const { return owns_; }

 private:
  ULIXAuthPlugin& plugin_;
  const bool owns_;
};

void UserInfoResource::Clear() {
  if (client_.userInfo()) client_.SetUserInfo(std::nullopt);
  plugin_.Publish();
  (void)plugin_.publishResourceDelete(kUserInfoPath);
}

ULIXAuthPlugin::ULIXAuthPlugin() = default;

// Members go in reverse order of creation: userInfoResource, lastAuthError, configSources,
// client.
ULIXAuthPlugin::~ULIXAuthPlugin() = default;

void ULIXAuthPlugin::shutdown() {
  {
    WriteLock lock(*this);
    configSources.reset();
    client.reset();
    userInfoResource.reset();
  }  // publishes no view: readers answer 500 from here on
  plugin_runtime::PluginBase::shutdown();
}

template <typename Result, typename... Args>
auto ULIXAuthPlugin::Reader(
    RemotingTypedResult<Result> (ULIXAuthPlugin::*handler)(const View&, const Args&...)) {
  return [this, handler](CallState&, Args... args) -> RemotingTypedResult<Result> {
    const std::shared_ptr<const View> view = CurrentView();
    // Requests reach a plug-in only between start and stop; this keeps a stray one harmless.
    if (!view) return Vorn::InternalServerError();
    return (this->*handler)(*view, args...);
  };
}

template <typename Result, typename... Args>
auto ULIXAuthPlugin::Writer(
    RemotingTypedResult<Result> (ULIXAuthPlugin::*handler)(const Args&...)) {
  return [this, handler](CallState&, Args... args) -> RemotingTypedResult<Result> {
    WriteLock lock(*this);
    if (!client) return Vorn::InternalServerError();
    return (this->*handler)(args...);
  };
}

void ULIXAuthPlugin::registerEndpoints() {
  RegisterApiRecords(typeRegistry(), identifierName(), registrationTags());

  registerEndpoint(kHostMethodGet, kAuthorizationPath, Reader(&ULIXAuthPlugin::GetAuthorization));
  registerEndpoint(kHostMethodGet, "/ulix-auth/v1/authorization/error",
                   Reader(&ULIXAuthPlugin::GetAuthorizationError));
  registerEndpoint(kHostMethodGet, kAccessTokenPath, Reader(&ULIXAuthPlugin::GetAccessToken));
  registerEndpoint(kHostMethodGet, kEntitlementsTokenPath,
                   Reader(&ULIXAuthPlugin::GetEntitlementsToken));
  registerEndpoint(kHostMethodGet, kIdTokenPath, Reader(&ULIXAuthPlugin::GetIdToken));
  registerEndpoint(kHostMethodGet, kGasTokenPath, Reader(&ULIXAuthPlugin::GetGasToken));
  registerEndpoint(kHostMethodPost, "/ulix-auth/v1/authorization/gas",
                   Writer(&ULIXAuthPlugin::PostGas))
      .BodyArgument("creds", "User name, password and platform to sign on with");
  // Not wrapped: the refresh reads the token it expects before it waits for the writer lock.
  registerEndpoint(kHostMethodPost, "/ulix-auth/v1/authorization/refresh",
                   [this](CallState&) { return PostRefresh(); });
  registerEndpoint(kHostMethodDelete, kAuthorizationPath,
                   Writer(&ULIXAuthPlugin::HandleAuthorizationDelete));
  registerEndpoint(kHostMethodGet, "/ulix-auth/v1/config/{platformId}",
                   Reader(&ULIXAuthPlugin::GetConfig))
      .PathArgument("platformId", "Platform whose configuration token is read");
  registerEndpoint(kHostMethodGet, "/ulix-auth/v1/status/{platformId}",
                   Reader(&ULIXAuthPlugin::GetStatus))
      .PathArgument("platformId", "Platform whose sign-on status is read");
  registerEndpoint(kHostMethodPost, "/ulix-auth/v1/config", Writer(&ULIXAuthPlugin::PostConfig))
      .BodyArgument("config", "Configuration token to sign on with");
  registerEndpoint(kHostMethodPut, "/ulix-auth/v1/config", Writer(&ULIXAuthPlugin::PostConfig))
      .BodyArgument("config", "Configuration token to sign on with");
  registerEndpoint(kHostMethodDelete, "/ulix-auth/v1/config",
                   Writer(&ULIXAuthPlugin::DeleteConfig));
  registerEndpoint(kHostMethodPost, "/ulix-auth/v2/config",
                   Writer(&ULIXAuthPlugin::PostPublicClientConfig))
      .BodyArgument("config", "Public client to sign on with");
  registerEndpoint(kHostMethodDelete, "/ulix-auth/v2/config",
                   Writer(&ULIXAuthPlugin::DeleteConfig));
  registerEndpoint(kHostMethodPost, "/ulix-auth/v1/device-id",
                   Reader(&ULIXAuthPlugin::PostDeviceId));
  registerEndpoint(kHostMethodPost, kUserInfoPath, Writer(&ULIXAuthPlugin::PostUserInfo));
  registerEndpoint(kHostMethodGet, kUserInfoPath, Reader(&ULIXAuthPlugin::GetUserInfo));
}

bool ULIXAuthPlugin::onStart() {
  WriteLock lock(*this);
  client = std::make_unique<ULIXClient>(*this);
  configSources = std::make_unique<ULIXConfigSources>(*this, *client);
  // Asked for before the subscription below, whose first read may sign on at once.
  scheduleDelayed(kConfigureLabel, now(), [this] { ApplyConfiguration(); });
  userInfoResource = std::make_unique<UserInfoResource>(*this, *client);
  Publish();
  observeResource(kPluginManagerStatusPath, [this](const Vorn::Client::PluginResourceEvent& event) {
    OnPluginManagerStatus(event);
  });
  return true;
}

void ULIXAuthPlugin::ApplyConfiguration() {
  WriteLock lock(*this);
  if (configSources) configSources->ApplyConfiguration();
}

// ---- The published view ------------------------------------------------------------------------

std::shared_ptr<const ULIXAuthPlugin::View> ULIXAuthPlugin::Publish() {
  std::shared_ptr<View> view;
  if (client) {
    view = std::make_shared<View>();
    view->tokens = client->tokens();
    view->lastAuthError = lastAuthError;
    view->userInfo = client->userInfo();
    if (configSources) {
      view->configured = configSources->HasConfiguration();
      view->overridden = configSources->HasOverride();
      view->configToken = configSources->ChosenToken();
      view->kount = configSources->kount_settings();
    }
    view->applied = client->HasConfig();
    view->allowLqFallback = client->AllowLqFallback();
    if (client->discovery() != nullptr) view->discovery = *client->discovery();
  }
  std::lock_guard<std::mutex> lock(view_mutex_);
  view_ = std::move(view);
  return view_;
}

std::shared_ptr<const ULIXAuthPlugin::View> ULIXAuthPlugin::CurrentView() const {
  std::lock_guard<std::mutex> lock(view_mutex_);
  return view_;
}

std::shared_ptr<const ULIXAuthPlugin::View> ULIXAuthPlugin::FetchStaleDiscovery(const View& view) {
  if (!view.applied || (view.discovery && view.discovery->expiresAt >= now())) return nullptr;
  // A fetch is an exchange: only when no writer is running, and as a writer.
  WriteLock lock(*this, std::try_to_lock);
  if (!lock.owns() || !client) return nullptr;
  client->EnsureFreshDiscovery();
  return Publish();
}

// ---- Authorization views ---------------------------------------------------------------------

RemotingTypedResult<api::Authorization> ULIXAuthPlugin::GetAuthorization(const View& view) {
  const std::optional<ULIXTokenSet>& tokens = view.tokens;
  if (!tokens) return Vorn::NotFound(kNoAuthorization);
  return api::Authorization{tokens->currentPlatformId,
                            static_cast<std::uint64_t>(tokens->currentAccountId), tokens->subject};
}

RemotingTypedResult<api::AuthError> ULIXAuthPlugin::GetAuthorizationError(const View& view) {
  if (!view.lastAuthError) return Vorn::NotFound("No error from last authentication.");
  return api::AuthError{view.lastAuthError->error, view.lastAuthError->errorDescription};
}

RemotingTypedResult<api::AccessToken> ULIXAuthPlugin::GetAccessToken(const View& view) {
  const std::optional<ULIXTokenSet>& tokens = view.tokens;
  if (!tokens) return Vorn::NotFound(kNoAuthorization);
  return api::AccessToken{tokens->accessToken, tokens->scopes,
                          static_cast<std::uint64_t>(tokens->accessTokenExpiry)};
}

RemotingTypedResult<api::EntitlementsToken> ULIXAuthPlugin::GetEntitlementsToken(const View& view) {
  const std::optional<ULIXTokenSet>& tokens = view.tokens;
  if (!tokens) return Vorn::NotFound(kNoAuthorization);
  if (!tokens->entitlementsToken) return Vorn::NotFound("Entitlements not available.");
  const ULIXEntitlementsToken& token = *tokens->entitlementsToken;
  return api::EntitlementsToken{token.token, token.entitlements,
                                static_cast<std::uint64_t>(token.expiry)};
}

RemotingTypedResult<api::IdToken> ULIXAuthPlugin::GetIdToken(const View& view) {
  const std::optional<ULIXTokenSet>& tokens = view.tokens;
  if (!tokens) return Vorn::NotFound(kNoAuthorization);
  if (!tokens->idToken) return Vorn::NotFound("ID token not available.");
  return api::IdToken{tokens->idToken->token, static_cast<std::uint64_t>(tokens->idToken->expiry)};
}

RemotingTypedResult<binding::BindingValue> ULIXAuthPlugin::GetGasToken(const View& view) {
  const std::optional<ULIXTokenSet>& tokens = view.tokens;
  if (!tokens) return Vorn::NotFound(kNoAuthorization);
  if (!tokens->gasToken) return Vorn::NotFound("GAS token not available.");
  return *tokens->gasToken;
}

// ---- Sign-on, refresh, sign-off --------------------------------------------------------------

RemotingTypedResult<api::Authorization> ULIXAuthPlugin::PostGas(
    const api::ULIXPlayerCredentials& credentials) {
  if (client->tokens()) {
    return RemotingError{400, "Tried to create an authorization when one already exists."};
  }
  if (!configSources->HasConfiguration()) {
    LogAlways("ULIX not configured, but ULIX authorization requested.");
    return Vorn::InternalServerError("Invalid ULIX Config.");
  }
  // Before the configuration callback has run the client sends nothing and reports no error:
  // the Create events then carry the default records and the answer is GET's 404.
  const std::optional<ULIXRequestError> outcome =
      client->LoginWithPassword(credentials.username, credentials.password, credentials.platformId);
  return OnAuthorizationResult(outcome);
}

RemotingTypedResult<api::Authorization> ULIXAuthPlugin::OnAuthorizationResult(
    const std::optional<ULIXRequestError>& outcome) {
  WriteLock lock(*this);
  if (outcome) {
    // A failed password sign-on has cleared the token set.
    lastAuthError = *outcome;
    const bool plain_invalid_request = outcome->error == "invalid_request" &&
                                       outcome->errorDescription != "auth_failure" &&
                                       outcome->errorDescription != "consent_required";
    return RemotingError{plain_invalid_request ? 400 : outcome->code, Describe(*outcome)};
  }
  const std::shared_ptr<const View> view = Publish();
  SendChange(PluginResourceEventType::kCreate, kAuthorizationPath, GetAuthorization(*view));
  SendChange(PluginResourceEventType::kCreate, kAccessTokenPath, GetAccessToken(*view));
  SendChange(PluginResourceEventType::kCreate, kIdTokenPath, GetIdToken(*view));
  SendChange(PluginResourceEventType::kCreate, kEntitlementsTokenPath, GetEntitlementsToken(*view));
  lastAuthError.reset();
  Publish();
  ScheduleRefresh();
  return GetAuthorization(*view);
}

RemotingTypedResult<api::Authorization> ULIXAuthPlugin::PostRefresh() {
  // The token is read without waiting for a refresh in flight, so that this one, once it gets
  // the lock, finds the token replaced and does not refresh a second time.
  const std::shared_ptr<const View> before = CurrentView();
  if (!before) return Vorn::InternalServerError();
  if (!before->tokens) return Vorn::NotFound(kNoAuthorization);
  WriteLock lock(*this);
  if (!client) return Vorn::InternalServerError();
  if (std::optional<RemotingError> failure = RefreshTokens(before->tokens->accessToken)) {
    return std::move(*failure);
  }
  return GetAuthorization(*Publish());
}

std::optional<RemotingError> ULIXAuthPlugin::RefreshTokens(const std::string& expected) {
  WriteLock lock(*this);
  if (!client || !client->tokens()) {
    LogAlways("Attempted token refresh, but authorization no longer exists.");
    return RemotingError{404, kNoAuthorization};
  }
  const std::optional<ULIXTokenSet>& tokens = client->tokens();
  // A refresh that re-enters from inside the exchange of another (the host calling back on
  // the same thread) meets the token that exchange is about to replace.
  if (refreshing_ || tokens->accessToken != expected) {
    LogAlways("Attempted token refresh, but authorization has already changed.");
    return RemotingError{409, "Access token has changed, refresh already occurred."};
  }

  std::optional<ULIXRequestError> failure;
  if (client->HasConfig() && tokens->refreshToken) {
    const std::string grant = RefreshTokenGrant(*tokens->refreshToken);
    refreshing_ = true;
    try {
      failure = client->RequestToken(grant);
    } catch (...) {
      refreshing_ = false;
      throw;
    }
    refreshing_ = false;
  }

  if (failure) {
    lastAuthError = *failure;
    std::string message;
    if (failure->code < 500) {
      message = "Refresh failed - authorization should be deleted: " + failure->error + " - " +
                failure->errorDescription;
      logging::Log(logging::kAlways, logging::kGroupDbg, "%s", message.c_str());
      DropAuthorization();
      // A refused refresh also retracts the tokens a sign-off leaves to expire on their own.
      (void)publishResourceDelete(kGasTokenPath);
      (void)publishResourceDelete(kEntitlementsTokenPath);
    } else {
      message = "Refresh failed due to error - should be retried: " + failure->error + " - " +
                failure->errorDescription + ".";
      logging::Log(logging::kAlways, logging::kGroupDbg, "%s", message.c_str());
      ScheduleRefreshRetry();
    }
    return RemotingError{failure->code, std::move(message)};
  }

  LogAlways("Refresh successful.");
  SendChange(PluginResourceEventType::kUpdate, kAccessTokenPath, GetAccessToken(*Publish()));
  lastAuthError.reset();
  Publish();
  ScheduleRefresh();
  return std::nullopt;
}

void ULIXAuthPlugin::ScheduleRefresh() {
  const std::optional<ULIXTokenSet>& tokens = client->tokens();
  if (!tokens) {
    LogNothingToRefresh();
    return;
  }
  bool short_lifetime = false;
  const double delay = RefreshDelaySeconds(tokens->refreshDelaySeconds,
                                           UniformUnit(JitterGenerator()), &short_lifetime);
  if (short_lifetime) {
    logging::Log(logging::kWarn, logging::kGroupDbg,
                 "ulix-auth: token lifetime below %.0f seconds, refreshing after half of it",
                 kRefreshMarginSeconds);
  }
  logging::Log(logging::kAlways, logging::kGroupDbg, "Refreshing tokens in %.1f seconds...", delay);
  ScheduleRefreshCallback(tokens->accessToken, delay);
}

void ULIXAuthPlugin::ScheduleRefreshRetry() {
  ULIXTokenSet* tokens = client->MutableTokens();
  if (tokens == nullptr) {
    LogNothingToRefresh();
    return;
  }
  const std::uint32_t attempt = ++tokens->refreshAttempts;
  const std::int64_t delay_ms = BackoffMilliseconds(attempt, kRetryBaseMilliseconds,
                                                    kRetryMaximumMilliseconds, BackoffGenerator());
  const double delay = static_cast<double>(delay_ms) * 0.001;
  logging::Log(logging::kAlways, logging::kGroupDbg,
               "Retrying authorization refresh in %.1f seconds...", delay);
  ScheduleRefreshCallback(tokens->accessToken, delay);
}

void ULIXAuthPlugin::ScheduleRefreshCallback(std::string access_token, double delay_seconds) {
  const std::int64_t deadline = now() + static_cast<std::int64_t>(delay_seconds * 1e9);
  scheduleDelayed(kRefreshLabel, deadline, [this, access_token = std::move(access_token)] {
    (void)RefreshTokens(access_token);
  });
}

RemotingTypedResult<void> ULIXAuthPlugin::HandleAuthorizationDelete() {
  LogAlways("ULIXAuthPlugin::HandleAuthorizationDelete()");
  if (!client->tokens()) return Vorn::NotFound(kNoAuthorization);
  const std::optional<ULIXRequestError> revoked = client->RevokeRefreshToken();
  DropAuthorization();
  if (revoked) {
    lastAuthError = *revoked;
    return RemotingError{revoked->code, Describe(*revoked)};
  }
  lastAuthError.reset();
  return {};
}

// ---- Configuration ---------------------------------------------------------------------------

RemotingTypedResult<api::ULIXJWTConfig> ULIXAuthPlugin::GetConfig(const View& view,
                                                                  const std::string& platform_id) {
  if (!view.configToken) return Vorn::NotFound("ULIX settings not found.");
  if (view.overridden) return api::ULIXJWTConfig{*view.configToken};
  const std::shared_ptr<const View> fetched = FetchStaleDiscovery(view);
  const View& current = fetched ? *fetched : view;
  if (PlatformAvailableIn(current.discoveryRecord(), current.applied, platform_id)) {
    return api::ULIXJWTConfig{*view.configToken};
  }
  LogAlways("ULIX configuration requested, but server disabled ULIX for this region.");
  return api::ULIXJWTConfig{};
}

RemotingTypedResult<api::RegionStatus> ULIXAuthPlugin::GetStatus(const View& view,
                                                                 const std::string& platform_id) {
  if (!view.configured) return Vorn::NotFound("ULIX not configured.");
  if (!view.applied) {
    logging::Log(logging::kError, logging::kGroupDbg, "ulix-auth: No configuration applied");
    return Vorn::InternalServerError(
        "Cannot determine if LQ fallback is allowed. ULIXClient failed with: No configuration "
        "applied");
  }
  const std::shared_ptr<const View> fetched = FetchStaleDiscovery(view);
  const View& current = fetched ? *fetched : view;
  // Availability first, then user info, as the log shows.
  const bool enabled = PlatformAvailableIn(current.discoveryRecord(), current.applied, platform_id);
  const bool user_info = UserInfoEnabledIn(current.discoveryRecord(), current.applied, platform_id);
  return api::RegionStatus{platform_id, enabled, current.allowLqFallback, user_info};
}

RemotingTypedResult<void> ULIXAuthPlugin::PostConfig(const api::ULIXJWTConfig& config) {
  if (!config.token) return {};
  if (std::optional<std::string> reason = configSources->InstallTokenOverride(*config.token)) {
    return RemotingError{400, "Invalid configuration token: " + *reason};
  }
  return {};
}

RemotingTypedResult<void> ULIXAuthPlugin::DeleteConfig() {
  if (!configSources->DropOverride()) return Vorn::NotFound("No config to delete.");
  return {};
}

RemotingTypedResult<void> ULIXAuthPlugin::PostPublicClientConfig(
    const api::PublicClientConfig& config) {
  configSources->InstallPublicClientOverride(config.url, config.clientId);
  return {};
}

// ---- Device id and user info -----------------------------------------------------------------

RemotingTypedResult<api::DeviceId> ULIXAuthPlugin::PostDeviceId(const View& view) {
  const std::optional<KountSettings>& kount = view.kount;
  const bool has_frame = view.applied && view.discovery && !view.discovery->didUri.empty();
  if (!kount || !has_frame) return Vorn::NotFound("Device ID not available.");
  return api::DeviceId{"", kount->merchantId, kount->sessionId, kount->installId,
                       view.discovery->didUri};
}

RemotingTypedResult<api::UserInfo> ULIXAuthPlugin::PostUserInfo() {
  if (const std::optional<ULIXRequestError> failure = client->RequestUserInfo()) {
    return RemotingError{failure->code, Describe(*failure)};
  }
  const std::shared_ptr<const View> view = Publish();
  SendChange(PluginResourceEventType::kCreate, kUserInfoPath, GetUserInfo(*view));
  return GetUserInfo(*view);
}

RemotingTypedResult<api::UserInfo> ULIXAuthPlugin::GetUserInfo(const View& view) {
  if (!view.userInfo) return Vorn::NotFound("No UserInfo currently exists. Are you logged in?");
  return api::UserInfo{*view.userInfo};
}

// ---- Events ------------------------------------------------------------------------------------

void ULIXAuthPlugin::OnPluginManagerStatus(const Vorn::Client::PluginResourceEvent& event) {
  if (event.eventType != PluginResourceEventType::kCreate &&
      event.eventType != PluginResourceEventType::kUpdate) {
    return;
  }
  Vorn::Client::PluginManagerResource status{};
  if (registry() == nullptr || !binding::fromValue(event.data, status, *registry(), "data").ok ||
      status.state != Vorn::Client::PluginManagerState::kPluginsInitialized) {
    return;
  }
  WriteLock lock(*this);
  if (!configSources || !configSources->command_line_credentials()) return;
  const api::ULIXPlayerCredentials credentials = *configSources->command_line_credentials();
  // The outcome reaches subscribers through the events and the last error.
  (void)PostGas(credentials);
}

template <typename Record>
void ULIXAuthPlugin::SendChange(PluginResourceEventType type, const char* path,
                                RemotingTypedResult<Record> get) {
  // A record that does not convert is dropped by the runtime, which sends nothing then.
  (void)publishResourceChange(type, path, get.ok() ? std::move(get).value() : Record{});
}

void ULIXAuthPlugin::DropAuthorization() {
  client->SetTokenSet(std::nullopt);
  userInfoResource->Clear();  // publishes the view without the token set and user info
  (void)publishResourceDelete(kAuthorizationPath);
  (void)publishResourceDelete(kAccessTokenPath);
  (void)publishResourceDelete(kIdTokenPath);
}

}  // namespace ulix_auth
