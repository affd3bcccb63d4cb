#include "Plugins/zpk-be-ulix-auth/ulix_auth_plugin.h"

#include <utility>

#include "Plugins/zpk-be-ulix-auth/refresh_timing.h"
#include "binding/native_conversion.h"
#include "logging/logger.h"
#include "plugin_runtime/call_state.h"
#include "plugin_runtime/entry_scope.h"

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
constexpr const char* kAlreadySignedOn =
    "Tried to create an authorization when one already exists.";
constexpr const char* kRefreshGone = "Attempted token refresh, but authorization no longer exists.";
constexpr const char* kRefreshStale =
    "Attempted token refresh, but authorization has already changed.";
constexpr const char* kRefreshStaleAnswer = "Access token has changed, refresh already occurred.";

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

// The plug-in's working state. Never changed once published: readers hold it through a shared
// pointer for as long as they need it, and writers commit a changed copy.
struct ULIXAuthPlugin::State {
  ULIXClient client;
  std::shared_ptr<const ULIXConfigSources> configSources;
  std::optional<ULIXRequestError> lastAuthError;
  // The last discovery record whose fetch completed, for the platform questions. The client's
  // own record may be newer: the empty one of a fetch still in flight.
  std::shared_ptr<const ULIXDiscovery> discovery;
};

// A discovery fetch for the configuration of `generation`, run on a copy of the client that holds
// it.
struct ULIXAuthPlugin::DiscoveryFetch {
  std::uint64_t generation;
  ULIXClient client;
};

ULIXAuthPlugin::ULIXAuthPlugin() = default;

ULIXAuthPlugin::~ULIXAuthPlugin() = default;

void ULIXAuthPlugin::shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // New calls are refused since stop began; readers answer 500 from here on, and calls in
    // flight commit nothing more. Each keeps the state it holds until it ends.
    state_.reset();
    outbox_.clear();
  }
  // Calls of this thread are frames below this one: waiting for them would never end.
  plugin_runtime::EntryScope::WaitForOtherThreads();
  plugin_runtime::PluginBase::shutdown();
}

template <typename Result, typename... Args>
auto ULIXAuthPlugin::Reader(
    RemotingTypedResult<Result> (ULIXAuthPlugin::*handler)(const State&, const Args&...)) {
  return [this, handler](CallState&, Args... args) -> RemotingTypedResult<Result> {
    const std::shared_ptr<const State> state = CurrentState();
    // Requests reach a plug-in only between start and stop; this keeps a stray one harmless.
    if (!state) return Vorn::InternalServerError();
    return (this->*handler)(*state, args...);
  };
}

template <typename Result, typename... Args>
auto ULIXAuthPlugin::Writer(
    RemotingTypedResult<Result> (ULIXAuthPlugin::*handler)(const Args&...)) {
  return [this, handler](CallState&, Args... args) -> RemotingTypedResult<Result> {
    if (stopping() || !CurrentState()) return Vorn::InternalServerError();
    RemotingTypedResult<Result> result = (this->*handler)(args...);
    SendQueued();
    return result;
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
  registerEndpoint(kHostMethodPost, "/ulix-auth/v1/authorization/refresh",
                   Writer(&ULIXAuthPlugin::PostRefresh));
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
  ULIXClient client(*this);
  // Reads the command line and the settings through the host, on this thread.
  auto sources = std::make_shared<const ULIXConfigSources>(*this);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = std::make_shared<const State>(State{std::move(client), std::move(sources), {}, {}});
  }
  // Asked for before the subscription below, whose first read may sign on at once.
  scheduleDelayed(kConfigureLabel, now(), [this] { ApplyConfiguration(); });
  observeResource(kPluginManagerStatusPath, [this](const Vorn::Client::PluginResourceEvent& event) {
    OnPluginManagerStatus(event);
  });
  return true;
}

// ---- The state and its events ------------------------------------------------------------------

std::shared_ptr<const ULIXAuthPlugin::State> ULIXAuthPlugin::CurrentState() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

std::shared_ptr<ULIXAuthPlugin::State> ULIXAuthPlugin::Edit() const {
  return std::make_shared<State>(*state_);
}

template <typename Record>
void ULIXAuthPlugin::QueueChange(PluginResourceEventType type, const char* path, Record record) {
  outbox_.emplace_back([this, type, path, record = std::move(record)] {
    // A record that does not convert is dropped by the runtime, which sends nothing then.
    (void)publishResourceChange(type, path, record);
  });
}

void ULIXAuthPlugin::QueueDelete(const char* path) {
  outbox_.emplace_back([this, path] { (void)publishResourceDelete(path); });
}

void ULIXAuthPlugin::SendQueued() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sending_) return;
    sending_ = true;
  }
  for (;;) {
    std::function<void()> send;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (outbox_.empty()) {
        sending_ = false;
        return;
      }
      send = std::move(outbox_.front());
      outbox_.pop_front();
    }
    try {
      send();
    } catch (...) {
      // Out of memory while converting: that event is lost, the ones after it still go.
      logging::Log(logging::kError, logging::kGroupDbg, "ulix-auth: a change event was dropped");
    }
  }
}

void ULIXAuthPlugin::DropAuthorization(State& next) {
  next.client.SetTokenSet(std::nullopt);
  next.client.SetUserInfo(std::nullopt);
  ++auth_generation_;
  QueueDelete(kUserInfoPath);
  QueueDelete(kAuthorizationPath);
  QueueDelete(kAccessTokenPath);
  QueueDelete(kIdTokenPath);
}

// ---- Configuration and discovery ---------------------------------------------------------------

void ULIXAuthPlugin::ApplyConfiguration() {
  if (stopping()) return;
  std::optional<DiscoveryFetch> fetch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_) return;
    std::shared_ptr<State> next = Edit();
    fetch = ApplyTo(*next);
    state_ = std::move(next);
  }
  if (fetch) Run(std::move(*fetch));
}

std::optional<ULIXAuthPlugin::DiscoveryFetch> ULIXAuthPlugin::ApplyTo(State& next) {
  const ULIXConfigSources& sources = *next.configSources;
  const std::uint64_t generation = ++config_generation_;
  std::optional<DiscoveryFetch> fetch;
  if (const ULIXClientConfig* chosen = sources.ChosenConfig()) {
    // The published client holds the configuration and an empty record at once, so that a
    // token request made while the document is fetched uses them; the fetch itself runs on a
    // copy, which logs and stores the configuration as it always does.
    next.client.InstallConfig(*chosen);
    next.client.InstallEmptyDiscovery();
    fetch = DiscoveryFetch{generation, next.client};
  } else {
    next.client.ClearConfig();
    next.discovery.reset();
  }
  if (const std::optional<KountSettings>& kount = sources.kount_settings()) {
    next.client.SetDeviceSessionId(kount->sessionId);
  }
  return fetch;
}

void ULIXAuthPlugin::Run(DiscoveryFetch fetch) {
  try {
    fetch.client.SetULIXConfig(*fetch.client.config());
  } catch (...) {
    // A url too short to hold "/token": the empty record stays trusted, as after any failure.
    (void)InstallDiscovery(fetch.generation, fetch.client.discoveryRecord());
    throw;
  }
  (void)InstallDiscovery(fetch.generation, fetch.client.discoveryRecord());
}

std::shared_ptr<const ULIXDiscovery> ULIXAuthPlugin::InstallDiscovery(
    std::uint64_t generation, std::shared_ptr<const ULIXDiscovery> record) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!state_) return nullptr;
  // Fetched for a configuration that has been replaced meanwhile: dropped.
  if (generation != config_generation_) return state_->discovery;
  std::shared_ptr<State> next = Edit();
  next->client.SetDiscovery(record);
  next->discovery = record;
  state_ = std::move(next);
  return record;
}

std::shared_ptr<const ULIXDiscovery> ULIXAuthPlugin::DiscoveryFor(const State& state) {
  if (!state.client.HasConfig()) return nullptr;
  const std::shared_ptr<const ULIXDiscovery>& completed = state.discovery;
  const bool in_flight = state.client.discoveryRecord() != completed;
  if (completed && (completed->expiresAt >= now() || in_flight)) return completed;
  // Fetched by this reader, on a copy of the client, for the configuration applied now.
  std::optional<DiscoveryFetch> fetch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_ || !state_->client.HasConfig()) return completed;
    fetch = DiscoveryFetch{config_generation_, state_->client};
  }
  fetch->client.FetchOpenIdConfiguration();
  return InstallDiscovery(fetch->generation, fetch->client.discoveryRecord());
}

// ---- Authorization views ---------------------------------------------------------------------

namespace {

// The record part of a GET's result: the record, or its defaults when the GET fails.
template <typename Record>
Record RecordOf(RemotingTypedResult<Record> get) {
  return get.ok() ? std::move(get).value() : Record{};
}

}  // namespace

RemotingTypedResult<api::Authorization> ULIXAuthPlugin::GetAuthorization(const State& state) {
  const std::optional<ULIXTokenSet>& tokens = state.client.tokens();
  if (!tokens) return Vorn::NotFound(kNoAuthorization);
  return api::Authorization{tokens->currentPlatformId,
                            static_cast<std::uint64_t>(tokens->currentAccountId), tokens->subject};
}

RemotingTypedResult<api::AuthError> ULIXAuthPlugin::GetAuthorizationError(const State& state) {
  if (!state.lastAuthError) return Vorn::NotFound("No error from last authentication.");
  return api::AuthError{state.lastAuthError->error, state.lastAuthError->errorDescription};
}

RemotingTypedResult<api::AccessToken> ULIXAuthPlugin::GetAccessToken(const State& state) {
  const std::optional<ULIXTokenSet>& tokens = state.client.tokens();
  if (!tokens) return Vorn::NotFound(kNoAuthorization);
  return api::AccessToken{tokens->accessToken, tokens->scopes,
                          static_cast<std::uint64_t>(tokens->accessTokenExpiry)};
}

RemotingTypedResult<api::EntitlementsToken> ULIXAuthPlugin::GetEntitlementsToken(
    const State& state) {
  const std::optional<ULIXTokenSet>& tokens = state.client.tokens();
  if (!tokens) return Vorn::NotFound(kNoAuthorization);
  if (!tokens->entitlementsToken) return Vorn::NotFound("Entitlements not available.");
  const ULIXEntitlementsToken& token = *tokens->entitlementsToken;
  return api::EntitlementsToken{token.token, token.entitlements,
                                static_cast<std::uint64_t>(token.expiry)};
}

RemotingTypedResult<api::IdToken> ULIXAuthPlugin::GetIdToken(const State& state) {
  const std::optional<ULIXTokenSet>& tokens = state.client.tokens();
  if (!tokens) return Vorn::NotFound(kNoAuthorization);
  if (!tokens->idToken) return Vorn::NotFound("ID token not available.");
  return api::IdToken{tokens->idToken->token, static_cast<std::uint64_t>(tokens->idToken->expiry)};
}

RemotingTypedResult<binding::BindingValue> ULIXAuthPlugin::GetGasToken(const State& state) {
  const std::optional<ULIXTokenSet>& tokens = state.client.tokens();
  if (!tokens) return Vorn::NotFound(kNoAuthorization);
  if (!tokens->gasToken) return Vorn::NotFound("GAS token not available.");
  return *tokens->gasToken;
}

// ---- Sign-on, refresh, sign-off --------------------------------------------------------------

RemotingTypedResult<api::Authorization> ULIXAuthPlugin::PostGas(
    const api::ULIXPlayerCredentials& credentials) {
  std::uint64_t generation = 0;
  std::optional<ULIXClient> attempt;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_) return Vorn::InternalServerError();
    if (state_->client.tokens()) return RemotingError{400, kAlreadySignedOn};
    if (state_->configSources->HasConfiguration()) {
      generation = auth_generation_;
      attempt.emplace(state_->client);
    }
  }
  if (!attempt) {
    LogAlways("ULIX not configured, but ULIX authorization requested.");
    return Vorn::InternalServerError("Invalid ULIX Config.");
  }
  // Before the configuration callback has run the client sends nothing and reports no error:
  // the Create events then carry the default records and the answer is GET's 404.
  const std::optional<ULIXRequestError> outcome = attempt->LoginWithPassword(
      credentials.username, credentials.password, credentials.platformId);
  return OnAuthorizationResult(generation, *attempt, outcome);
}

RemotingTypedResult<api::Authorization> ULIXAuthPlugin::OnAuthorizationResult(
    std::uint64_t generation, const ULIXClient& attempt,
    const std::optional<ULIXRequestError>& outcome) {
  std::shared_ptr<const State> committed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_) return Vorn::InternalServerError();
    // Another sign-on made an authorization meanwhile: this one came second.
    if (generation != auth_generation_) return RemotingError{400, kAlreadySignedOn};
    std::shared_ptr<State> next = Edit();
    if (outcome) {
      // A failed password sign-on leaves no token set, as there was none before.
      next->lastAuthError = *outcome;
      state_ = std::move(next);
    } else {
      if (attempt.tokens()) ++auth_generation_;
      next->client.SetTokenSet(attempt.tokens());
      next->lastAuthError.reset();
      QueueChange(PluginResourceEventType::kCreate, kAuthorizationPath,
                  RecordOf(GetAuthorization(*next)));
      QueueChange(PluginResourceEventType::kCreate, kAccessTokenPath,
                  RecordOf(GetAccessToken(*next)));
      QueueChange(PluginResourceEventType::kCreate, kIdTokenPath, RecordOf(GetIdToken(*next)));
      QueueChange(PluginResourceEventType::kCreate, kEntitlementsTokenPath,
                  RecordOf(GetEntitlementsToken(*next)));
      state_ = next;
      committed = std::move(next);
    }
  }
  if (outcome) {
    const bool plain_invalid_request = outcome->error == "invalid_request" &&
                                       outcome->errorDescription != "auth_failure" &&
                                       outcome->errorDescription != "consent_required";
    return RemotingError{plain_invalid_request ? 400 : outcome->code, Describe(*outcome)};
  }
  SendQueued();
  const std::optional<ULIXTokenSet>& tokens = committed->client.tokens();
  ScheduleRefresh(tokens ? &*tokens : nullptr);
  return GetAuthorization(*committed);
}

RemotingTypedResult<api::Authorization> ULIXAuthPlugin::PostRefresh() {
  std::shared_ptr<const State> answered;
  if (std::optional<RemotingError> failure = Refresh(nullptr, &answered)) {
    return std::move(*failure);
  }
  return GetAuthorization(*answered);
}

std::optional<RemotingError> ULIXAuthPlugin::RefreshTokens(const std::string& expected) {
  return Refresh(&expected, nullptr);
}

std::optional<RemotingError> ULIXAuthPlugin::Refresh(const std::string* expected,
                                                     std::shared_ptr<const State>* answered) {
  // A POST refresh passes no token: it refreshes the current one.
  const bool by_request = expected == nullptr;
  enum class Start { kGone, kStale, kAnswered, kRun } start = Start::kRun;
  std::uint64_t generation = 0;
  std::optional<ULIXClient> attempt;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_) return Vorn::RemotingError{500, "Internal server error"};
    const std::optional<ULIXTokenSet>& tokens = state_->client.tokens();
    if (!tokens || signing_off_ == auth_generation_) {
      start = Start::kGone;
    } else if (refreshing_ == auth_generation_) {
      // One refresh at a time: a second grant could make a rotating service revoke the first.
      start = by_request ? Start::kAnswered : Start::kStale;
    } else if (!by_request && tokens->accessToken != *expected) {
      start = Start::kStale;
    } else {
      generation = refreshing_ = auth_generation_;
      attempt.emplace(state_->client);
    }
    if (start == Start::kAnswered) *answered = state_;
  }
  switch (start) {
    case Start::kGone:
      LogAlways(kRefreshGone);
      return RemotingError{404, kNoAuthorization};
    case Start::kStale:
      LogAlways(kRefreshStale);
      return RemotingError{409, kRefreshStaleAnswer};
    case Start::kAnswered:
      return std::nullopt;
    case Start::kRun:
      break;
  }

  std::optional<ULIXRequestError> failure;
  const std::optional<ULIXTokenSet>& tokens = attempt->tokens();
  if (attempt->HasConfig() && tokens->refreshToken) {
    try {
      failure = attempt->RequestToken(RefreshTokenGrant(*tokens->refreshToken));
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (refreshing_ == generation) refreshing_ = 0;
      throw;
    }
  }

  std::shared_ptr<const State> committed;
  std::uint32_t retry = 0;
  std::string retry_token;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (refreshing_ == generation) refreshing_ = 0;
    if (state_ && generation == auth_generation_) {
      std::shared_ptr<State> next = Edit();
      if (!failure) {
        ++auth_generation_;
        next->client.SetTokenSet(attempt->tokens());
        next->lastAuthError.reset();
        QueueChange(PluginResourceEventType::kUpdate, kAccessTokenPath,
                    RecordOf(GetAccessToken(*next)));
      } else if (next->lastAuthError = *failure; failure->code < 500) {
        DropAuthorization(*next);
        // A refused refresh also retracts the tokens a sign-off leaves to expire on their own.
        QueueDelete(kGasTokenPath);
        QueueDelete(kEntitlementsTokenPath);
      } else {
        ULIXTokenSet& current = *next->client.MutableTokens();
        retry = ++current.refreshAttempts;
        retry_token = current.accessToken;
      }
      state_ = next;
      committed = std::move(next);
    } else if (!state_) {
      return RemotingError{500, "Internal server error"};  // stopped meanwhile
    } else {
      // The authorization changed while the service answered: the other call came first.
      start = state_->client.tokens() && signing_off_ != auth_generation_ ? Start::kStale
                                                                          : Start::kGone;
    }
  }
  if (!committed) {
    LogAlways(start == Start::kStale ? kRefreshStale : kRefreshGone);
    return start == Start::kStale ? RemotingError{409, kRefreshStaleAnswer}
                                  : RemotingError{404, kNoAuthorization};
  }

  if (!failure) {
    LogAlways("Refresh successful.");
    SendQueued();
    ScheduleRefresh(&*committed->client.tokens());
    if (answered != nullptr) *answered = std::move(committed);
    return std::nullopt;
  }
  if (failure->code < 500) {
    std::string message = "Refresh failed - authorization should be deleted: " + failure->error +
                          " - " + failure->errorDescription;
    logging::Log(logging::kAlways, logging::kGroupDbg, "%s", message.c_str());
    SendQueued();
    return RemotingError{failure->code, std::move(message)};
  }
  std::string message = "Refresh failed due to error - should be retried: " + failure->error +
                        " - " + failure->errorDescription + ".";
  logging::Log(logging::kAlways, logging::kGroupDbg, "%s", message.c_str());
  const std::int64_t delay_ms = BackoffMilliseconds(retry, kRetryBaseMilliseconds,
                                                    kRetryMaximumMilliseconds, BackoffGenerator());
  const double delay = static_cast<double>(delay_ms) * 0.001;
  logging::Log(logging::kAlways, logging::kGroupDbg,
               "Retrying authorization refresh in %.1f seconds...", delay);
  ScheduleRefreshCallback(std::move(retry_token), delay);
  return RemotingError{failure->code, std::move(message)};
}

void ULIXAuthPlugin::ScheduleRefresh(const ULIXTokenSet* tokens) {
  if (tokens == nullptr) {
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

void ULIXAuthPlugin::ScheduleRefreshCallback(std::string access_token, double delay_seconds) {
  const std::int64_t deadline = now() + static_cast<std::int64_t>(delay_seconds * 1e9);
  scheduleDelayed(kRefreshLabel, deadline, [this, access_token = std::move(access_token)] {
    (void)RefreshTokens(access_token);
  });
}

RemotingTypedResult<void> ULIXAuthPlugin::HandleAuthorizationDelete() {
  LogAlways("ULIXAuthPlugin::HandleAuthorizationDelete()");
  std::uint64_t generation = 0;
  std::optional<ULIXClient> attempt;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_) return Vorn::InternalServerError();
    // A sign-off in flight has taken the authorization already.
    if (!state_->client.tokens() || signing_off_ == auth_generation_) {
      return Vorn::NotFound(kNoAuthorization);
    }
    // From here on refreshes and user-info fetches of this authorization commit nothing.
    generation = signing_off_ = ++auth_generation_;
    attempt.emplace(state_->client);
  }
  std::optional<ULIXRequestError> revoked;
  try {
    revoked = attempt->RevokeRefreshToken();
  } catch (...) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (signing_off_ == generation) signing_off_ = 0;
    throw;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (signing_off_ == generation) signing_off_ = 0;
    if (!state_) return Vorn::InternalServerError();
    // Nothing else changes an authorization that is being signed off.
    std::shared_ptr<State> next = Edit();
    DropAuthorization(*next);
    next->lastAuthError = revoked;
    state_ = std::move(next);
  }
  SendQueued();
  if (revoked) return RemotingError{revoked->code, Describe(*revoked)};
  return {};
}

// ---- Configuration ---------------------------------------------------------------------------

RemotingTypedResult<api::ULIXJWTConfig> ULIXAuthPlugin::GetConfig(const State& state,
                                                                  const std::string& platform_id) {
  const ULIXConfigSources& sources = *state.configSources;
  const std::optional<TokenHolder>& token = sources.ChosenToken();
  if (!token) return Vorn::NotFound("ULIX settings not found.");
  if (sources.HasOverride()) return api::ULIXJWTConfig{*token};
  const std::shared_ptr<const ULIXDiscovery> discovery = DiscoveryFor(state);
  if (PlatformAvailableIn(discovery.get(), state.client.HasConfig(), platform_id)) {
    return api::ULIXJWTConfig{*token};
  }
  LogAlways("ULIX configuration requested, but server disabled ULIX for this region.");
  return api::ULIXJWTConfig{};
}

RemotingTypedResult<api::RegionStatus> ULIXAuthPlugin::GetStatus(const State& state,
                                                                 const std::string& platform_id) {
  if (!state.configSources->HasConfiguration()) return Vorn::NotFound("ULIX not configured.");
  if (!state.client.HasConfig()) {
    logging::Log(logging::kError, logging::kGroupDbg, "ulix-auth: No configuration applied");
    return Vorn::InternalServerError(
        "Cannot determine if LQ fallback is allowed. ULIXClient failed with: No configuration "
        "applied");
  }
  const std::shared_ptr<const ULIXDiscovery> discovery = DiscoveryFor(state);
  // Availability first, then user info, as the log shows.
  const bool enabled = PlatformAvailableIn(discovery.get(), true, platform_id);
  const bool user_info = UserInfoEnabledIn(discovery.get(), true, platform_id);
  return api::RegionStatus{platform_id, enabled, state.client.AllowLqFallback(), user_info};
}

RemotingTypedResult<void> ULIXAuthPlugin::ChangeSources(
    const std::function<std::optional<RemotingError>(ULIXConfigSources&)>& change) {
  std::optional<DiscoveryFetch> fetch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_) return Vorn::InternalServerError();
    auto sources = std::make_shared<ULIXConfigSources>(*state_->configSources);
    if (std::optional<RemotingError> refused = change(*sources)) return std::move(*refused);
    std::shared_ptr<State> next = Edit();
    next->configSources = std::move(sources);
    fetch = ApplyTo(*next);
    state_ = std::move(next);
  }
  if (fetch) Run(std::move(*fetch));
  return {};
}

RemotingTypedResult<void> ULIXAuthPlugin::PostConfig(const api::ULIXJWTConfig& config) {
  if (!config.token) return {};
  return ChangeSources([&](ULIXConfigSources& sources) -> std::optional<RemotingError> {
    if (std::optional<std::string> reason = sources.InstallTokenOverride(*config.token)) {
      return RemotingError{400, "Invalid configuration token: " + *reason};
    }
    return std::nullopt;
  });
}

RemotingTypedResult<void> ULIXAuthPlugin::DeleteConfig() {
  return ChangeSources([](ULIXConfigSources& sources) -> std::optional<RemotingError> {
    if (!sources.DropOverride()) return Vorn::NotFound("No config to delete.");
    return std::nullopt;
  });
}

RemotingTypedResult<void> ULIXAuthPlugin::PostPublicClientConfig(
    const api::PublicClientConfig& config) {
  return ChangeSources([&](ULIXConfigSources& sources) -> std::optional<RemotingError> {
    sources.InstallPublicClientOverride(config.url, config.clientId);
    return std::nullopt;
  });
}

// ---- Device id and user info -----------------------------------------------------------------

RemotingTypedResult<api::DeviceId> ULIXAuthPlugin::PostDeviceId(const State& state) {
  const std::optional<KountSettings>& kount = state.configSources->kount_settings();
  const ULIXDiscovery* discovery = state.discovery.get();
  const bool has_frame = state.client.HasConfig() && discovery && !discovery->didUri.empty();
  if (!kount || !has_frame) return Vorn::NotFound("Device ID not available.");
  return api::DeviceId{"", kount->merchantId, kount->sessionId, kount->installId,
                       discovery->didUri};
}

RemotingTypedResult<api::UserInfo> ULIXAuthPlugin::PostUserInfo() {
  std::uint64_t generation = 0;
  std::optional<ULIXClient> attempt;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_) return Vorn::InternalServerError();
    generation = auth_generation_;
    attempt.emplace(state_->client);
  }
  if (const std::optional<ULIXRequestError> failure = attempt->RequestUserInfo()) {
    return RemotingError{failure->code, Describe(*failure)};
  }
  std::shared_ptr<const State> committed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_) return Vorn::InternalServerError();
    // Fetched for an authorization that has changed meanwhile: the document is dropped.
    if (generation != auth_generation_) return GetUserInfo(*state_);
    std::shared_ptr<State> next = Edit();
    next->client.SetUserInfo(attempt->userInfo());
    QueueChange(PluginResourceEventType::kCreate, kUserInfoPath, RecordOf(GetUserInfo(*next)));
    state_ = next;
    committed = std::move(next);
  }
  SendQueued();
  return GetUserInfo(*committed);
}

RemotingTypedResult<api::UserInfo> ULIXAuthPlugin::GetUserInfo(const State& state) {
  const std::optional<std::string>& user_info = state.client.userInfo();
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
  std::optional<api::ULIXPlayerCredentials> credentials;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_) credentials = state_->configSources->command_line_credentials();
  }
  if (!credentials) return;
  // The outcome reaches subscribers through the events and the last error.
  (void)PostGas(*credentials);
  SendQueued();
}

}  // namespace ulix_auth
