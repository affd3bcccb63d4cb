#include "Plugins/zpk-be-ulix-auth/client/ulix_client.h"

#include <initializer_list>
#include <stdexcept>
#include <utility>

#include "Plugins/zpk-be-ulix-auth/client/claim_reader.h"
#include "Plugins/zpk-be-ulix-auth/client/token_claims.h"
#include "binding/form_encoding.h"
#include "binding/json_bridge.h"
#include "logging/logger.h"
#include "logging/positional_formatter.h"
#include "plugin_host_interface.h"
#include "plugin_runtime/plugin_host_bridge.h"
#include "plugin_runtime/telemetry_sender.h"
#include "wire/base64.h"

namespace ulix_auth {
namespace {

using plugin_runtime::HttpBodyForm;
using plugin_runtime::HttpResponse;
using plugin_runtime::HttpTransportResult;

// The plug-in's own log lines go to the "DBG" group.
constexpr std::uint64_t kLogGroup = 1;
constexpr std::int32_t kWarn = 1;
constexpr std::int32_t kAlways = 3;

// The host's meaning; passed through unchanged.
constexpr std::uint32_t kRequestTimeout = 10;
constexpr std::uint8_t kRequestFlag = 1;

constexpr std::string_view kDiscoverySuffix = "/.well-known/openid-configuration";
// The token endpoint ends in this many characters ("/token") that the discovery URL replaces.
constexpr std::size_t kTokenSuffixLength = 6;
constexpr std::string_view kAssertionPrefix =
    "client_assertion_type=urn%3Aietf%3Aparams%3Aoauth%3Aclient-assertion-type%3Ajwt-bearer"
    "&client_assertion=";

constexpr std::string_view kTokenRequestEvent = "ulix_token_request";
constexpr std::string_view kOpenIdFailureEvent = "ulix_openid_failure";
// The members of the discovery document the client reads; the rest of it is not kept.
constexpr std::string_view kDiscoveryMembers[] = {
    "vorn_kiv_regions_supported", "vorn_kiv_regions_disabled", "vorn_kiv_userinfo_regions_enabled",
    "vorn_did_uri", "userinfo_endpoint"};
constexpr std::string_view kRevokeFailureEvent = "ulix_token_revoke_failure";
constexpr std::string_view kUserInfoFailureEvent = "ulix_user_info_failure";

bool Delivered(const HttpResponse& response) {
  return response.transport == HttpTransportResult::kSuccess;
}

// The error text of an answer, for the discovery failure line. Only the first rule can apply
// there today; the others keep the text right should the caller ever pass a delivered answer.
std::string ResponseErrorText(const HttpResponse& response) {
  if (!Delivered(response)) {
    return logging::FormatPositional("Could not connect to the server: %1", {response.message});
  }
  if (response.status == 404) return "Not found";
  if (response.status < 200 || response.status > 299) {
    return logging::FormatPositional("Received an error status from the server: %1 - %2",
                                     {response.status, response.message});
  }
  if (response.error) {
    return logging::FormatPositional("Could not decode body returned from the server: %1 - %2",
                                     {response.status, response.message});
  }
  return {};
}

std::string HeadersJson(const std::map<std::string, std::string>& headers) {
  binding::BindingValue object;
  object.reserveFields(headers.size());  // an object even when there are none
  for (const auto& [name, value] : headers) object.fieldForWrite(name).setString(value);
  return binding::toJson(object);
}

// The fields of a telemetry event, all texts.
class EventFields {
 public:
  EventFields() { fields_.reserveFields(5); }
  EventFields(std::initializer_list<std::pair<std::string_view, std::string_view>> fields)
      : EventFields() {
    for (const auto& [name, value] : fields) Set(name, value);
  }
  EventFields& Set(std::string_view name, std::string_view value) {
    fields_.fieldForWrite(name).setString(value);
    return *this;
  }
  const binding::BindingValue& value() const { return fields_; }

 private:
  binding::BindingValue fields_;
};

// The members whose values are secrets: a body that names one is never written out.
constexpr std::string_view kSecretMembers[] = {"access_token", "refresh_token", "id_token",
                                               "client_assertion"};

// The decoding message of a token-endpoint answer, for logs and telemetry. The runtime's message
// ends with the body it could not read; a cut-off token answer still holds the tokens, so a body
// that names a secret member is replaced by its length. The names are looked for as plain bytes;
// one spelled with JSON escapes is not recognised.
std::string DecodingMessage(const HttpResponse& response) {
  constexpr std::string_view kGivenBody = " given body ";
  const std::size_t given = response.message.find(kGivenBody);
  if (response.message.rfind("Error deserializing json response for ", 0) != 0 ||
      given == std::string::npos) {
    return response.message;
  }
  const std::string_view body = response.value.getString();
  bool secret = false;
  for (std::string_view member : kSecretMembers) {
    secret = secret || body.find(member) != std::string_view::npos;
  }
  if (!secret) return response.message;
  return response.message.substr(0, given + kGivenBody.size()) + "withheld (" +
         std::to_string(body.size()) + " bytes)";
}

}  // namespace

std::string RefreshTokenGrant(std::string_view refresh_token) {
  std::string body = "grant_type=refresh_token&refresh_token=";
  binding::AppendFormEncoded(refresh_token, body);
  return body;
}

ULIXClient::ULIXClient(plugin_runtime::PluginHostBridge& host)
    : host_(&host), telemetry_(host.telemetry()) {}

ULIXClient::~ULIXClient() = default;

// ---- Configuration and discovery
// -----------------------------------------------------------------

void ULIXClient::SetULIXConfig(ULIXClientConfig config) {
  logging::Log(kAlways, kLogGroup, "ULIXClient::SetULIXConfig url: %s, clientId: %s, scopes: %s",
               config.url.c_str(), config.clientId.c_str(), config.scopes.c_str());
  config_ = std::move(config);
  FetchOpenIdConfiguration();
}

void ULIXClient::ClearConfig() {
  config_.reset();
  discovery_.reset();
}

void ULIXClient::SetDeviceSessionId(std::string_view id) { device_session_id_ = std::string(id); }

void ULIXClient::FetchOpenIdConfiguration() {
  if (!config_) {
    logging::Log(kWarn, kLogGroup, "ULIX not configured.");
    return;
  }
  // Installed before anything is sent: a failed fetch leaves an empty record that is trusted
  // for the full lifetime, so an unreachable service costs at most two time-outs per 300 s.
  InstallEmptyDiscovery();
  // Filled on the side and installed whole: an installed record is never changed.
  ULIXDiscovery discovery;
  discovery.expiresAt = discovery_->expiresAt;

  const std::string url = config_->url;
  if (url.size() < kTokenSuffixLength) throw std::out_of_range("invalid string position");
  plugin_runtime::HttpRequest request;
  request.method = kHostMethodGet;
  request.url.reserve(url.size() - kTokenSuffixLength + kDiscoverySuffix.size());
  request.url.append(url, 0, url.size() - kTokenSuffixLength);
  request.url.append(kDiscoverySuffix);
  request.timeout = kRequestTimeout;
  request.flag = kRequestFlag;
  request.keptMembers = kDiscoveryMembers;

  HttpResponse response;
  for (std::size_t attempt = 1; attempt <= 2; ++attempt) {
    response = host_->sendHttp(request, HttpBodyForm::kJson);
    if (Delivered(response)) {
      logging::Log(kAlways, kLogGroup,
                   "ulix-auth: OpenID configuration fetch succeeded after %zu tries", attempt);
      break;
    }
    logging::Log(kWarn, kLogGroup,
                 "ulix-auth: Request for openid configuration failed with error %s and with "
                 "headers %s",
                 ResponseErrorText(response).c_str(), HeadersJson(response.headers).c_str());
  }
  ReportClientId();

  if (!Delivered(response)) {
    ReportUnreachable(kOpenIdFailureEvent, {}, response.message, kWarn, "", true);
    return;
  }
  if (response.error) {
    ReportMalformed(kOpenIdFailureEvent, {}, response.message, true);
    return;
  }
  // Any status counts: an error page that is JSON is read like the document, and what it lacks
  // stays empty.
  const binding::BindingValue& document = response.value;
  const auto read_set = [&document](std::string_view name, ULIXTextSet& set) {
    const binding::BindingValue& member = document.field(name);
    if (!member.isCollection()) return;
    std::vector<std::string> texts;
    texts.reserve(member.elements().size());
    for (const binding::BindingValue& element : member.elements())
      texts.push_back(element.toText());
    set = ULIXTextSet(std::move(texts));
  };
  read_set("vorn_kiv_regions_supported", discovery.regionsSupported);
  read_set("vorn_kiv_regions_disabled", discovery.regionsDisabled);
  read_set("vorn_kiv_userinfo_regions_enabled", discovery.userInfoRegionsEnabled);
  if (document.hasField("vorn_did_uri")) discovery.didUri = document.field("vorn_did_uri").toText();
  if (document.hasField("userinfo_endpoint")) {
    discovery.userInfoEndpoint = document.field("userinfo_endpoint").toText();
  }
  discovery_ = std::make_shared<const ULIXDiscovery>(std::move(discovery));
}

void ULIXClient::InstallEmptyDiscovery() {
  auto record = std::make_shared<ULIXDiscovery>();
  record->expiresAt = host_->now() + kDiscoveryLifetimeNs;
  discovery_ = std::move(record);
}

void ULIXClient::EnsureFreshDiscovery() {
  if (!config_) return;
  if (!discovery_ || discovery_->expiresAt < host_->now()) FetchOpenIdConfiguration();
}

bool PlatformAvailableIn(const ULIXDiscovery* discovery, bool configured,
                         std::string_view platform_id) {
  const std::string id(platform_id);
  if (!configured) {
    logging::Log(kAlways, kLogGroup,
                 "ULIXClient::IsPlatformAvailable(%s): false - no config exists", id.c_str());
    return false;
  }
  const bool supported = discovery != nullptr && discovery->regionsSupported.contains(id);
  const bool disabled = discovery != nullptr && discovery->regionsDisabled.contains(id);
  logging::Log(kAlways, kLogGroup,
               "ULIXClient::IsPlatformAvailable(%s): supported: %s, disabled: %s", id.c_str(),
               supported ? "true" : "false", disabled ? "true" : "false");
  return supported && !disabled;
}

bool UserInfoEnabledIn(const ULIXDiscovery* discovery, bool configured,
                       std::string_view platform_id) {
  const std::string id(platform_id);
  if (!configured) {
    logging::Log(kAlways, kLogGroup, "ULIXClient::IsUserInfoEnabled(%s): false - no config exists",
                 id.c_str());
    return false;
  }
  const bool enabled = discovery != nullptr && discovery->userInfoRegionsEnabled.contains(id);
  logging::Log(kAlways, kLogGroup, "ULIXClient::IsUserInfoEnabled(%s): %s", id.c_str(),
               enabled ? "true" : "false");
  return enabled;
}

bool ULIXClient::IsPlatformAvailable(std::string_view platform_id) {
  EnsureFreshDiscovery();
  return PlatformAvailableIn(discovery_.get(), config_.has_value(), platform_id);
}

bool ULIXClient::IsUserInfoEnabled(std::string_view platform_id) {
  EnsureFreshDiscovery();
  return UserInfoEnabledIn(discovery_.get(), config_.has_value(), platform_id);
}

// ---- Token requests
// --------------------------------------------------------------------------------

HttpResponse ULIXClient::SendTokenEndpointRequest(std::string_view suffix,
                                                  std::string_view grant_body) {
  if (!config_) {
    HttpResponse response;
    response.transport = HttpTransportResult::kFailure;
    response.error = true;
    response.message = "Missing ULIX configuration.";
    return response;
  }
  plugin_runtime::HttpRequest request;
  request.method = kHostMethodPost;
  request.url.reserve(config_->url.size() + suffix.size());
  request.url.append(config_->url).append(suffix);
  request.headers.reserve(3);
  request.headers.emplace_back("Cache-Control", "no-cache");
  request.headers.emplace_back("Content-Type", "application/x-www-form-urlencoded");
  // The discovery record is taken as it is: a token request never waits for a fetch.
  if (device_session_id_ && discovery_ && !discovery_->didUri.empty()) {
    request.headers.emplace_back("X-Vorn-DSID", *device_session_id_);
  }
  std::string& body = request.body;
  if (!config_->clientAssertion.empty()) {
    body.reserve(kAssertionPrefix.size() + config_->clientAssertion.size() * 3 / 2 +
                 grant_body.size() + 1);
    body.append(kAssertionPrefix);
    binding::AppendFormEncoded(config_->clientAssertion, body);
  } else {
    body.append("client_id=");
    binding::AppendFormEncoded(config_->clientId, body);
  }
  body.push_back('&');
  body.append(grant_body);
  request.timeout = kRequestTimeout;
  request.flag = kRequestFlag;
  return host_->sendHttp(request, HttpBodyForm::kJson);
}

std::optional<ULIXRequestError> ULIXClient::RequestToken(std::string_view grant_body) {
  if (!config_) return std::nullopt;
  HttpResponse response = SendTokenEndpointRequest("", grant_body);
  ReportClientId();
  EventFields fields{{"succeeded", "false"},
                     {"grant_type", binding::FormValue(grant_body, "grant_type")}};

  if (!Delivered(response)) {
    return ReportUnreachable(kTokenRequestEvent, fields.value(), response.message, kAlways,
                             "temporarily_unavailable");
  }
  if (response.error) {
    return ReportMalformed(kTokenRequestEvent, fields.value(), DecodingMessage(response));
  }
  // The status plays no part: the members decide.
  const binding::BindingValue& document = response.value;
  const auto code = static_cast<std::int32_t>(response.status);
  if (document.hasField("error")) {
    ULIXRequestError error{code, document.field("error").toText(),
                           document.field("error_description").toText()};
    fields.Set("statusCode", std::to_string(response.status))
        .Set("error", error.error)
        .Set("error_description", error.errorDescription);
    SendEvent(kTokenRequestEvent, fields.value());
    return error;
  }
  if (document.hasField("access_token")) {
    ULIXTokenSet tokens;
    try {
      tokens = BuildTokenSet(document);
    } catch (const json::Exception& e) {
      // A token that scans but does not parse: the answer is unusable, the session as it was.
      logging::Log(kWarn, kLogGroup, "ULIX received invalid token: %s", e.what());
      fields.Set("error", "malformed_token").Set("error_description", e.what());
      SendEvent(kTokenRequestEvent, fields.value());
      return ULIXRequestError{kAnswerNotJson, "server_error",
                              std::string("Received invalid token: ") + e.what()};
    }
    fields.Set("succeeded", "true");
    SendEvent(kTokenRequestEvent, fields.value());
    SetTokenSet(std::move(tokens));
    return std::nullopt;
  }
  return ULIXRequestError{code, "server_error", "Received malformed response."};
}

void ULIXClient::Report(std::string_view event, binding::BindingValue& fields,
                        std::string_view error, const std::string& message, std::int32_t level,
                        const char* line, bool event_first) {
  fields.fieldForWrite("error").setString(error);
  fields.fieldForWrite("error_description").setString(message);
  if (event_first) SendEvent(event, fields);
  logging::Log(level, kLogGroup, "%s%s", line, message.c_str());
  if (!event_first) SendEvent(event, fields);
}

ULIXRequestError ULIXClient::ReportUnreachable(std::string_view event, binding::BindingValue fields,
                                               const std::string& message, std::int32_t level,
                                               std::string_view error_word, bool event_first) {
  Report(event, fields, "unable_to_connect", message, level,
         "ULIX Unable to connect to server: ", event_first);
  return ULIXRequestError{kServiceUnreachable, std::string(error_word),
                          "Unable to connect to server"};
}

ULIXRequestError ULIXClient::ReportMalformed(std::string_view event, binding::BindingValue fields,
                                             const std::string& message, bool event_first) {
  Report(event, fields, "malformed_body", message, kWarn,
         "ULIX received malformed body: ", event_first);
  return ULIXRequestError{kAnswerNotJson, "server_error", "Received invalid JSON"};
}

ULIXTokenSet ULIXClient::BuildTokenSet(const binding::BindingValue& document) const {
  ULIXTokenSet tokens;
  // A refresh answer may leave the id token out; the one signed on with still describes the
  // session. The refresh token is never carried over: a missing one means none is valid.
  std::optional<std::string> id_token;
  if (document.hasField("id_token")) {
    id_token = document.field("id_token").toText();
  } else if (tokens_ && tokens_->idToken) {
    id_token = tokens_->idToken->token;
  }
  if (document.hasField("refresh_token")) {
    tokens.refreshToken = document.field("refresh_token").toText();
  }
  const std::int64_t expires_in = document.field("expires_in").toInt64();
  // On the low 32 bits, unsigned: a lifetime under 30 s wraps to a very long delay.
  tokens.refreshDelaySeconds = static_cast<double>(static_cast<std::uint32_t>(expires_in) - 30u);

  tokens.accessToken = document.field("access_token").toText();
  AccessTokenClaims access = ReadAccessTokenClaims(tokens.accessToken);
  tokens.accessTokenExpiry = access.expiry;
  tokens.scopes = std::move(access.scopes);
  tokens.subject = std::move(access.subject);
  tokens.currentPlatformId = std::move(access.currentPlatformId);
  tokens.currentAccountId = access.currentAccountId;

  if (id_token) {
    IdTokenClaims id = ReadIdTokenClaims(*id_token);
    tokens.idToken = ULIXIdToken{*id_token, id.expiry};
    tokens.entitlementsToken =
        ULIXEntitlementsToken{std::move(*id_token), std::move(id.entitlements), id.expiry};
  }
  if (document.hasField("gas_token")) {
    const std::string bytes = wire::Base64UrlDecode(document.field("gas_token").toText());
    // Kept as the conversion gives it, an {"error": ...} structure included.
    tokens.gasToken = binding::parseJson(bytes.c_str()).value;
  }
  tokens.refreshAttempts = 0;
  return tokens;
}

std::optional<ULIXRequestError> ULIXClient::LoginWithPassword(std::string_view username,
                                                              std::string_view password,
                                                              std::string_view platform_id) {
  if (!config_) return std::nullopt;
  std::string body;
  body.reserve(64 + 3 * (username.size() + password.size() + platform_id.size()) +
               3 * config_->scopes.size());
  body.append("grant_type=password&username=");
  binding::AppendFormEncoded(platform_id, body);
  body.append("%7C");  // the "|" between platform and user name, encoded
  binding::AppendFormEncoded(username, body);
  body.append("&password=");
  binding::AppendFormEncoded(password, body);
  body.append("&scope=");
  binding::AppendFormEncoded(config_->scopes, body);
  std::optional<ULIXRequestError> error = RequestToken(body);
  if (error) SetTokenSet(std::nullopt);
  return error;
}

void ULIXClient::SetTokenSet(std::optional<ULIXTokenSet> tokens) { tokens_ = std::move(tokens); }

// ---- Revocation and user info
// ----------------------------------------------------------------------

std::optional<ULIXRequestError> ULIXClient::RevokeRefreshToken() {
  if (!tokens_ || !config_ || !tokens_->refreshToken) return std::nullopt;
  std::string body = "token=";
  binding::AppendFormEncoded(*tokens_->refreshToken, body);
  body.append("&token_type_hint=refresh_token");
  HttpResponse response = SendTokenEndpointRequest("/revoke", body);
  ReportClientId();

  if (!Delivered(response)) {
    return ReportUnreachable(kRevokeFailureEvent, {}, response.message, kWarn, "server_error");
  }
  const auto code = static_cast<std::int32_t>(response.status);
  logging::Log(kAlways, kLogGroup, "ULIX Response %i", code);
  if (response.status == 200) return std::nullopt;
  if (response.error) {
    return ReportMalformed(kRevokeFailureEvent, {}, DecodingMessage(response));
  }
  const binding::BindingValue& document = response.value;
  if (document.hasField("error")) {
    ULIXRequestError error{code, document.field("error").toText(),
                           document.field("error_description").toText()};
    SendEvent(kRevokeFailureEvent,
              {{"error", error.error}, {"error_description", error.errorDescription}});
    return error;
  }
  logging::Log(kWarn, kLogGroup, "ULIX received valid JSON body with unexpected structure");
  SendEvent(kRevokeFailureEvent, {{"error", "server_error"}});
  return ULIXRequestError{
      code, "server_error",
      "Received unexpected response: " + binding::toJson(document, nullptr, "\r\n")};
}

std::optional<ULIXRequestError> ULIXClient::RequestUserInfo() {
  if (!tokens_ || !discovery_ || tokens_->accessToken.empty() ||
      discovery_->userInfoEndpoint.empty()) {
    return std::nullopt;
  }
  HttpResponse response = host_->getText(discovery_->userInfoEndpoint,
                                         {{"Authorization", "Bearer " + tokens_->accessToken}},
                                         kRequestTimeout, kRequestFlag);
  ReportClientId();

  if (!Delivered(response)) {
    return ReportUnreachable(kUserInfoFailureEvent, {}, response.message, kWarn, "server_error");
  }
  const auto code = static_cast<std::int32_t>(response.status);
  logging::Log(kAlways, kLogGroup, "ULIX Response %i", code);
  if (response.status == 200) {
    user_info_ = std::move(response.text);
    return std::nullopt;
  }
  // The body of an error answer is not read.
  SendEvent(kUserInfoFailureEvent, {{"error", "generic"}});
  return ULIXRequestError{code, "Error", "Error"};
}

void ULIXClient::SetUserInfo(std::optional<std::string> user_info) {
  user_info_ = std::move(user_info);
}

// ---- Telemetry
// -------------------------------------------------------------------------------------

void ULIXClient::ReportClientId() {
  if (telemetry_ == nullptr || !config_) return;
  telemetry_->SetCommonData("client_id", config_->clientId);
}

void ULIXClient::SendEvent(std::string_view name, const binding::BindingValue& fields) {
  if (telemetry_ == nullptr) return;
  // The outcome is the host's business; a failed report changes nothing here.
  (void)telemetry_->SendEvent(name, fields);
}

void ULIXClient::SendEvent(
    std::string_view name,
    std::initializer_list<std::pair<std::string_view, std::string_view>> fields) {
  SendEvent(name, EventFields(fields).value());
}

}  // namespace ulix_auth
