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
// Category of the "no authorization to refresh" warnings: the plug-in's group and bit 6.
constexpr std::uint64_t kRefreshWarningGroups = 65;

void LogAlways(const char* text) { logging::Log(logging::kAlways, logging::kGroupDbg, "%s", text); }

// How a failed request of the service reads in an answer.
std::string Describe(const ULIXRequestError& error) {
  return error.error + ": " + error.errorDescription;
}

}  // namespace

// Holds the state lock; the outermost release on a thread hands the queued events to the host.
class ULIXAuthPlugin::StateLock {
 public:
  explicit StateLock(ULIXAuthPlugin& plugin) : plugin_(plugin) {
    plugin_.state_mutex_.lock();
    ++plugin_.lock_depth_;
  }
  ~StateLock() {
    const bool outermost = --plugin_.lock_depth_ == 0;
    plugin_.state_mutex_.unlock();
    if (outermost) plugin_.events_.Drain();
  }
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;

 private:
  ULIXAuthPlugin& plugin_;
};

void UserInfoResource::Clear() {
  if (client_.userInfo()) client_.SetUserInfo(std::nullopt);
  events_.Delete(kUserInfoPath);
}

ULIXAuthPlugin::ULIXAuthPlugin() = default;

// Members go in reverse order of creation: userInfoResource, lastAuthError, configSources,
// client.
ULIXAuthPlugin::~ULIXAuthPlugin() = default;

void ULIXAuthPlugin::shutdown() {
  {
    StateLock lock(*this);
    configSources.reset();
    client.reset();
    userInfoResource.reset();
  }
  plugin_runtime::PluginBase::shutdown();
}

template <typename Result, typename... Args>
auto ULIXAuthPlugin::Locked(
    RemotingTypedResult<Result> (ULIXAuthPlugin::*handler)(const Args&...)) {
  return [this, handler](CallState&, Args... args) -> RemotingTypedResult<Result> {
    StateLock lock(*this);
    // Requests reach a plug-in only between start and stop; this keeps a stray one harmless.
    if (!client) return Vorn::InternalServerError();
    return (this->*handler)(args...);
  };
}

void ULIXAuthPlugin::registerEndpoints() {
  RegisterApiRecords(typeRegistry(), identifierName(), registrationTags());

  registerEndpoint(kHostMethodGet, kAuthorizationPath, Locked(&ULIXAuthPlugin::GetAuthorization));
  registerEndpoint(kHostMethodGet, "/ulix-auth/v1/authorization/error",
                   Locked(&ULIXAuthPlugin::GetAuthorizationError));
  registerEndpoint(kHostMethodGet, kAccessTokenPath, Locked(&ULIXAuthPlugin::GetAccessToken));
  registerEndpoint(kHostMethodGet, kEntitlementsTokenPath,
                   Locked(&ULIXAuthPlugin::GetEntitlementsToken));
  registerEndpoint(kHostMethodGet, kIdTokenPath, Locked(&ULIXAuthPlugin::GetIdToken));
  registerEndpoint(kHostMethodGet, kGasTokenPath, Locked(&ULIXAuthPlugin::GetGasToken));
  registerEndpoint(kHostMethodPost, "/ulix-auth/v1/authorization/gas",
                   Locked(&ULIXAuthPlugin::PostGas))
      .BodyArgument("creds", "User name, password and platform to sign on with");
  // Not locked here: the refresh reads the token it expects before it waits for the lock.
  registerEndpoint(kHostMethodPost, "/ulix-auth/v1/authorization/refresh",
                   [this](CallState&) { return PostRefresh(); });
  registerEndpoint(kHostMethodDelete, kAuthorizationPath,
                   Locked(&ULIXAuthPlugin::HandleAuthorizationDelete));
  registerEndpoint(kHostMethodGet, "/ulix-auth/v1/config/{platformId}",
                   Locked(&ULIXAuthPlugin::GetConfig))
      .PathArgument("platformId", "Platform whose configuration token is read");
  registerEndpoint(kHostMethodGet, "/ulix-auth/v1/status/{platformId}",
                   Locked(&ULIXAuthPlugin::GetStatus))
      .PathArgument("platformId", "Platform whose sign-on status is read");
  registerEndpoint(kHostMethodPost, "/ulix-auth/v1/config", Locked(&ULIXAuthPlugin::PostConfig))
      .BodyArgument("config", "Configuration token to sign on with");
  registerEndpoint(kHostMethodPut, "/ulix-auth/v1/config", Locked(&ULIXAuthPlugin::PostConfig))
      .BodyArgument("config", "Configuration token to sign on with");
  registerEndpoint(kHostMethodDelete, "/ulix-auth/v1/config",
                   Locked(&ULIXAuthPlugin::DeleteConfig));
  registerEndpoint(kHostMethodPost, "/ulix-auth/v2/config",
                   Locked(&ULIXAuthPlugin::PostPublicClientConfig))
      .BodyArgument("config", "Public client to sign on with");
  registerEndpoint(kHostMethodDelete, "/ulix-auth/v2/config",
                   Locked(&ULIXAuthPlugin::DeleteConfig));
  registerEndpoint(kHostMethodPost, "/ulix-auth/v1/device-id",
                   Locked(&ULIXAuthPlugin::PostDeviceId));
  registerEndpoint(kHostMethodPost, kUserInfoPath, Locked(&ULIXAuthPlugin::PostUserInfo));
  registerEndpoint(kHostMethodGet, kUserInfoPath, Locked(&ULIXAuthPlugin::GetUserInfo));
}

bool ULIXAuthPlugin::onStart() {
  StateLock lock(*this);
  client = std::make_unique<ULIXClient>(*this);
  configSources = std::make_unique<ULIXConfigSources>(*this, *client);
  events_.Add(
      [this] { scheduleDelayed(kConfigureLabel, now(), [this] { ApplyConfiguration(); }); });
  userInfoResource = std::make_unique<UserInfoResource>(*client, events_);
  observeResource(kPluginManagerStatusPath, [this](const Vorn::Client::PluginResourceEvent& event) {
    OnPluginManagerStatus(event);
  });
  return true;
}

void ULIXAuthPlugin::ApplyConfiguration() {
  StateLock lock(*this);
  if (configSources) configSources->ApplyConfiguration();
}

// ---- Authorization views ---------------------------------------------------------------------

RemotingTypedResult<api::Authorization> ULIXAuthPlugin::GetAuthorization() {
  const std::optional<ULIXTokenSet>& tokens = client->tokens();
  if (!tokens) return Vorn::NotFound(kNoAuthorization);
  return api::Authorization{tokens->currentPlatformId,
                            static_cast<std::uint64_t>(tokens->currentAccountId), tokens->subject};
}

RemotingTypedResult<api::AuthError> ULIXAuthPlugin::GetAuthorizationError() {
  if (!lastAuthError) return Vorn::NotFound("No error from last authentication.");
  return api::AuthError{lastAuthError->error, lastAuthError->errorDescription};
}

RemotingTypedResult<api::AccessToken> ULIXAuthPlugin::GetAccessToken() {
  const std::optional<ULIXTokenSet>& tokens = client->tokens();
  if (!tokens) return Vorn::NotFound(kNoAuthorization);
  return api::AccessToken{tokens->accessToken, tokens->scopes,
                          static_cast<std::uint64_t>(tokens->accessTokenExpiry)};
}

RemotingTypedResult<api::EntitlementsToken> ULIXAuthPlugin::GetEntitlementsToken() {
  const std::optional<ULIXTokenSet>& tokens = client->tokens();
  if (!tokens) return Vorn::NotFound(kNoAuthorization);
  if (!tokens->entitlementsToken) return Vorn::NotFound("Entitlements not available.");
  const ULIXEntitlementsToken& token = *tokens->entitlementsToken;
  return api::EntitlementsToken{token.token, token.entitlements,
                                static_cast<std::uint64_t>(token.expiry)};
}

RemotingTypedResult<api::IdToken> ULIXAuthPlugin::GetIdToken() {
  const std::optional<ULIXTokenSet>& tokens = client->tokens();
  if (!tokens) return Vorn::NotFound(kNoAuthorization);
  if (!tokens->idToken) return Vorn::NotFound("ID token not available.");
  return api::IdToken{tokens->idToken->token, static_cast<std::uint64_t>(tokens->idToken->expiry)};
}

RemotingTypedResult<binding::BindingValue> ULIXAuthPlugin::GetGasToken() {
  const std::optional<ULIXTokenSet>& tokens = client->tokens();
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
  // A sign-on that arrives before the configuration callback has run would otherwise send
  // nothing and answer as if it had succeeded.
  if (!client->HasConfig()) configSources->ApplyConfiguration();
  const std::optional<ULIXRequestError> outcome =
      client->LoginWithPassword(credentials.username, credentials.password, credentials.platformId);
  return OnAuthorizationResult(outcome);
}

RemotingTypedResult<api::Authorization> ULIXAuthPlugin::OnAuthorizationResult(
    const std::optional<ULIXRequestError>& outcome) {
  StateLock lock(*this);
  // A failed password sign-on has cleared the token set.
  PublishTokenSnapshot();
  if (outcome) {
    lastAuthError = *outcome;
    const bool plain_invalid_request = outcome->error == "invalid_request" &&
                                       outcome->errorDescription != "auth_failure" &&
                                       outcome->errorDescription != "consent_required";
    return RemotingError{plain_invalid_request ? 400 : outcome->code, Describe(*outcome)};
  }
  QueueChange(PluginResourceEventType::kCreate, kAuthorizationPath, GetAuthorization());
  QueueChange(PluginResourceEventType::kCreate, kAccessTokenPath, GetAccessToken());
  QueueChange(PluginResourceEventType::kCreate, kIdTokenPath, GetIdToken());
  QueueChange(PluginResourceEventType::kCreate, kEntitlementsTokenPath, GetEntitlementsToken());
  lastAuthError.reset();
  ScheduleRefresh();
  return GetAuthorization();
}

RemotingTypedResult<api::Authorization> ULIXAuthPlugin::PostRefresh() {
  // The token is read without waiting for a refresh in flight, so that this one, once it gets
  // the lock, finds the token replaced and does not refresh a second time.
  const std::optional<std::string> expected = TokenSnapshot();
  if (!expected) return Vorn::NotFound(kNoAuthorization);
  StateLock lock(*this);
  if (!client) return Vorn::InternalServerError();
  if (std::optional<RemotingError> failure = RefreshTokens(*expected)) return std::move(*failure);
  return GetAuthorization();
}

std::optional<RemotingError> ULIXAuthPlugin::RefreshTokens(const std::string& expected) {
  StateLock lock(*this);
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
      events_.Delete(kGasTokenPath);
      events_.Delete(kEntitlementsTokenPath);
    } else {
      message = "Refresh failed due to error - should be retried: " + failure->error + " - " +
                failure->errorDescription + ".";
      logging::Log(logging::kAlways, logging::kGroupDbg, "%s", message.c_str());
      ScheduleRefreshRetry();
    }
    return RemotingError{failure->code, std::move(message)};
  }

  LogAlways("Refresh successful.");
  PublishTokenSnapshot();
  QueueChange(PluginResourceEventType::kUpdate, kAccessTokenPath, GetAccessToken());
  lastAuthError.reset();
  ScheduleRefresh();
  return std::nullopt;
}

void ULIXAuthPlugin::ScheduleRefresh() {
  const std::optional<ULIXTokenSet>& tokens = client->tokens();
  if (!tokens) {
    logging::Log(logging::kError, kRefreshWarningGroups,
                 "ULIX authorization refresh requested, but no authorization available.");
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
  QueueRefreshCallback(tokens->accessToken, delay);
}

void ULIXAuthPlugin::ScheduleRefreshRetry() {
  ULIXTokenSet* tokens = client->MutableTokens();
  if (tokens == nullptr) {
    logging::Log(logging::kError, kRefreshWarningGroups,
                 "ULIX authorization refresh requested, but no authorization available.");
    return;
  }
  const std::uint32_t attempt = ++tokens->refreshAttempts;
  const std::int64_t delay_ms = BackoffMilliseconds(attempt, kRetryBaseMilliseconds,
                                                    kRetryMaximumMilliseconds, BackoffGenerator());
  const double delay = static_cast<double>(delay_ms) * 0.001;
  logging::Log(logging::kAlways, logging::kGroupDbg,
               "Retrying authorization refresh in %.1f seconds...", delay);
  QueueRefreshCallback(tokens->accessToken, delay);
}

void ULIXAuthPlugin::QueueRefreshCallback(std::string access_token, double delay_seconds) {
  const std::int64_t deadline = now() + static_cast<std::int64_t>(delay_seconds * 1e9);
  events_.Add([this, deadline, access_token = std::move(access_token)] {
    scheduleDelayed(kRefreshLabel, deadline,
                    [this, access_token] { (void)RefreshTokens(access_token); });
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

RemotingTypedResult<api::ULIXJWTConfig> ULIXAuthPlugin::GetConfig(const std::string& platform_id) {
  TokenHolder token;
  if (configSources->overrideToken) {
    token = *configSources->overrideToken;
  } else if (configSources->regionToken) {
    token = *configSources->regionToken;
  } else {
    return Vorn::NotFound("ULIX settings not found.");
  }
  if (configSources->overrideConfig || client->IsPlatformAvailable(platform_id)) {
    return api::ULIXJWTConfig{std::move(token)};
  }
  LogAlways("ULIX configuration requested, but server disabled ULIX for this region.");
  return api::ULIXJWTConfig{};
}

RemotingTypedResult<api::RegionStatus> ULIXAuthPlugin::GetStatus(const std::string& platform_id) {
  if (!configSources->HasConfiguration()) return Vorn::NotFound("ULIX not configured.");
  if (!client->HasConfig()) {
    logging::Log(logging::kError, logging::kGroupDbg, "ulix-auth: No configuration applied");
    return Vorn::InternalServerError(
        "Cannot determine if LQ fallback is allowed. ULIXClient failed with: No configuration "
        "applied");
  }
  // Braces evaluate left to right: availability first, then user info, as the log shows.
  return api::RegionStatus{platform_id, client->IsPlatformAvailable(platform_id),
                           client->AllowLqFallback(), client->IsUserInfoEnabled(platform_id)};
}

RemotingTypedResult<void> ULIXAuthPlugin::PostConfig(const api::ULIXJWTConfig& config) {
  if (!config.token) return {};
  TokenConfigResult built = configSources->BuildFromToken(*config.token, true);
  if (const std::string* reason = std::get_if<std::string>(&built)) {
    return RemotingError{400, "Invalid configuration token: " + *reason};
  }
  configSources->overrideConfig = std::move(std::get<ULIXClientConfig>(built));
  configSources->overrideToken.emplace(*config.token);
  configSources->ApplyConfiguration();
  return {};
}

RemotingTypedResult<void> ULIXAuthPlugin::DeleteConfig() {
  if (!configSources->overrideConfig) return Vorn::NotFound("No config to delete.");
  configSources->overrideToken.reset();
  configSources->overrideConfig.reset();
  configSources->ApplyConfiguration();
  return {};
}

RemotingTypedResult<void> ULIXAuthPlugin::PostPublicClientConfig(
    const api::PublicClientConfig& config) {
  configSources->overrideConfig = configSources->BuildPublicClient(config.url, config.clientId,
                                                                   /*allow_lq_fallback=*/false);
  configSources->ApplyConfiguration();
  return {};
}

// ---- Device id and user info -----------------------------------------------------------------

RemotingTypedResult<api::DeviceId> ULIXAuthPlugin::PostDeviceId() {
  const std::optional<KountSettings>& kount = configSources->kountSettings;
  const ULIXDiscovery* discovery = client->discovery();
  const bool has_frame = client->HasConfig() && discovery != nullptr && !discovery->didUri.empty();
  if (!kount || !has_frame) return Vorn::NotFound("Device ID not available.");
  return api::DeviceId{"", kount->merchantId, kount->sessionId, kount->installId,
                       discovery->didUri};
}

RemotingTypedResult<api::UserInfo> ULIXAuthPlugin::PostUserInfo() {
  if (const std::optional<ULIXRequestError> failure = client->RequestUserInfo()) {
    return RemotingError{failure->code, Describe(*failure)};
  }
  QueueChange(PluginResourceEventType::kCreate, kUserInfoPath, GetUserInfo());
  return GetUserInfo();
}

RemotingTypedResult<api::UserInfo> ULIXAuthPlugin::GetUserInfo() {
  const std::optional<std::string>& user_info = client->userInfo();
  if (!user_info) return Vorn::NotFound("No UserInfo currently exists. Are you logged in?");
  return api::UserInfo{*user_info};
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
  StateLock lock(*this);
  if (!configSources || !configSources->commandLineCredentials) return;
  const api::ULIXPlayerCredentials credentials = *configSources->commandLineCredentials;
  // The outcome reaches subscribers through the events and the last error.
  (void)PostGas(credentials);
}

template <typename Record>
void ULIXAuthPlugin::QueueChange(PluginResourceEventType type, const char* path,
                                 RemotingTypedResult<Record> get) {
  events_.Change(type, path, get.ok() ? std::move(get).value() : Record{});
}

void ULIXAuthPlugin::PublishTokenSnapshot() {
  std::optional<std::string> current;
  if (client && client->tokens()) current = client->tokens()->accessToken;
  std::lock_guard<std::mutex> lock(snapshot_mutex_);
  token_snapshot_ = std::move(current);
}

void ULIXAuthPlugin::DropAuthorization() {
  client->SetTokenSet(std::nullopt);
  PublishTokenSnapshot();
  userInfoResource->Clear();
  events_.Delete(kAuthorizationPath);
  events_.Delete(kAccessTokenPath);
  events_.Delete(kIdTokenPath);
}

std::optional<std::string> ULIXAuthPlugin::TokenSnapshot() const {
  std::lock_guard<std::mutex> lock(snapshot_mutex_);
  return token_snapshot_;
}

}  // namespace ulix_auth
