#include "Plugins/zpk-be-ulix-auth/ulix_config_sources.h"

#include <exception>
#include <vector>

#include "Plugins/zpk-be-ulix-auth/client/token_claims.h"
#include "Plugins/zpk-be-ulix-auth/command_line_options.h"
#include "logging/logger.h"
#include "logging/uuid.h"
#include "plugin_runtime/install_settings.h"

namespace ulix_auth {
namespace {

using Vorn::Client::UlixAuth::Api::ULIXPlayerCredentials;

constexpr const char* kCommandLinePath = "/vornclient/command-line-args";
constexpr const char* kRegionLocalePath = "/vornclient/region-locale";
constexpr const char* kRegionSettingsPrefix = "/data-store/v1/system-settings/region_data/";
constexpr const char* kInstallSettingsKey = "ulix-auth";
constexpr const char* kInstallIdentifier = "install-identifier";

// Whether the settings object has the member `name`. A member present with an empty value
// counts as present and is read as that value (an empty text stays an empty text).
bool Has(const binding::BindingValue& object, std::string_view name) {
  return object.isStructure() && object.hasField(name);
}

}  // namespace

std::string NewIdentifier() {
  static constexpr char kDigits[] = "0123456789abcdef";
  const logging::Uuid uuid = logging::CreateUuid();
  std::string text;
  text.reserve(32);
  for (std::uint8_t byte : uuid) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

ULIXConfigSources::ULIXConfigSources(plugin_runtime::PluginHostBridge& plugin) : plugin_(&plugin) {
  LoadCommandLine();
}

std::string ULIXConfigSources::ScopeText() const {
  std::string scopes(kBaseScopes);
  if (!additional_scopes_.empty()) {
    scopes += ' ';
    scopes += additional_scopes_;
  }
  return scopes;
}

ULIXClientConfig ULIXConfigSources::BuildPublicClient(std::string_view url,
                                                      std::string_view client_id,
                                                      bool allow_lq_fallback) const {
  ULIXClientConfig config;
  config.url = std::string(url) + "/token";
  config.clientId = std::string(client_id);
  config.clientAssertion.clear();
  config.scopes = ScopeText();
  config.allowLqFallback = allow_lq_fallback;
  return config;
}

TokenConfigResult ULIXConfigSources::BuildFromToken(const std::string& token,
                                                    bool allow_lq_fallback) const {
  ULIXClientConfig config;
  try {
    ClientAssertionClaims claims = ReadClientAssertionClaims(token);
    config.url = std::move(claims.audience);
    config.clientId = std::move(claims.subject);
  } catch (const std::exception& failure) {
    // The claim reader reports payloads that scan but do not parse by throwing.
    return std::string(failure.what());
  }
  config.clientAssertion = token;
  config.scopes = ScopeText();
  config.allowLqFallback = allow_lq_fallback;
  return config;
}

void ULIXConfigSources::LoadCommandLine() {
  Vorn::RemotingTypedResult<std::vector<std::string>> arguments =
      plugin_->typedCall<std::vector<std::string>>(kHostMethodGet, kCommandLinePath);
  if (arguments.ok()) {
    const CommandLineOptions options(std::move(arguments).value());
    if (options.Flag("ulix-auth.disabled")) {
      override_token_.emplace(std::nullopt);
      logging::LogText(logging::kAlways, logging::kGroupDbg,
                       "Using ULIX disabled via command line argument");
      return;
    }
    const std::optional<std::string> url = options.Value("ulix-auth.url");
    const std::optional<std::string> client_id = options.Value("ulix-auth.client");
    const std::optional<std::string> token = options.Value("ulix-auth.token");
    const bool allow_lq_fallback = !options.Flag("ulix-auth.required");
    if (url && client_id) {
      logging::Log(logging::kAlways, logging::kGroupDbg,
                   "Using ULIX public client config from commandline: client %s, url %s",
                   client_id->c_str(), url->c_str());
      override_config_ = BuildPublicClient(*url, *client_id, allow_lq_fallback);
    } else if (token) {
      logging::Log(logging::kAlways, logging::kGroupDbg, "Using ULIX config from token %s",
                   token->c_str());
      TokenConfigResult built = BuildFromToken(*token, allow_lq_fallback);
      if (ULIXClientConfig* config = std::get_if<ULIXClientConfig>(&built)) {
        override_config_ = std::move(*config);
        override_token_.emplace(*token);
      } else {
        logging::Log(logging::kAlways, logging::kGroupDbg, "Invalid configuration token: %s",
                     std::get<std::string>(built).c_str());
      }
    }
    std::optional<std::string> username = options.Value("ulix-auth.username");
    std::optional<std::string> password = options.Value("ulix-auth.password");
    std::optional<std::string> platform = options.Value("ulix-auth.platform");
    if (username && password && platform) {
      command_line_credentials_ =
          ULIXPlayerCredentials{std::move(*username), std::move(*password), std::move(*platform)};
    }
  }
  LoadInstallSettings();
  LoadRegion();
}

void ULIXConfigSources::LoadInstallSettings() {
  Vorn::RemotingTypedResult<binding::BindingValue> settings =
      plugin_runtime::ReadInstallSetting<binding::BindingValue>(*plugin_, kInstallSettingsKey);
  if (!settings.ok()) {
    logging::LogText(logging::kAlways, logging::kGroupDbg, "Could not load local ULIX settings.");
    return;
  }
  binding::BindingValue object = std::move(settings).value();
  if (!Has(object, kInstallIdentifier)) {
    // First start on this machine: the identifier is made once and kept by the host.
    if (!object.isStructure()) object.reserveFields(1);
    object.fieldForWrite(kInstallIdentifier).setString(NewIdentifier());
    if (!plugin_runtime::WriteInstallSetting(*plugin_, kInstallSettingsKey, object)) {
      logging::LogText(logging::kAlways, logging::kGroupDbg, "Could not save local ULIX settings.");
      return;
    }
  }
  install_settings_ = std::move(object);
}

void ULIXConfigSources::LoadRegion() {
  Vorn::RemotingTypedResult<binding::BindingValue> locale =
      plugin_->typedCall<binding::BindingValue>(kHostMethodGet, kRegionLocalePath);
  if (!locale.ok()) {
    logging::LogText(logging::kAlways, logging::kGroupDbg, "ULIX settings not found.");
    return;
  }
  const std::string region = locale.value().field("region").toText();
  Vorn::RemotingTypedResult<binding::BindingValue> loaded =
      plugin_->typedCall<binding::BindingValue>(
          kHostMethodGet, std::string(kRegionSettingsPrefix) + region + "/ulix");
  if (!loaded.ok()) {
    logging::LogText(logging::kAlways, logging::kGroupDbg, "ULIX settings not found.");
    return;
  }
  const binding::BindingValue& settings = loaded.value();

  bool allow_lq_fallback = true;
  if (Has(settings, "allow_lq_fallback")) {
    allow_lq_fallback = settings.field("allow_lq_fallback").toBool();
  } else {
    logging::Log(logging::kWarn, logging::kGroupDbg, "ulix-auth: LQ fallback settings not found");
  }
  if (Has(settings, "additional_scopes")) {
    additional_scopes_ = settings.field("additional_scopes").toText();
  }

  if (Has(settings, "client") && Has(settings, "url")) {
    region_config_ = BuildPublicClient(settings.field("url").toText(),
                                       settings.field("client").toText(), allow_lq_fallback);
  } else if (Has(settings, "token")) {
    const std::string token = settings.field("token").toText();
    TokenConfigResult built = BuildFromToken(token, allow_lq_fallback);
    if (ULIXClientConfig* config = std::get_if<ULIXClientConfig>(&built)) {
      region_config_ = std::move(*config);
      region_token_.emplace(token);
    } else {
      // The token is ignored; the fraud-screening identity does not depend on it.
      logging::Log(logging::kAlways, logging::kGroupDbg, "Invalid configuration token: %s",
                   std::get<std::string>(built).c_str());
    }
  } else {
    logging::LogText(logging::kAlways, logging::kGroupDbg, "ULIX settings invalid.");
    return;
  }
  LoadKount(settings);
}

void ULIXConfigSources::LoadKount(const binding::BindingValue& settings) {
  if (!Has(settings, "kount")) {
    logging::LogText(logging::kAlways, logging::kGroupDbg, "Kount settings not found.");
    return;
  }
  if (!install_settings_ || !Has(*install_settings_, kInstallIdentifier)) {
    logging::LogText(logging::kAlways, logging::kGroupDbg,
                     "Could not load local ULIX settings, cannot configure Kount.");
    return;
  }
  const binding::BindingValue& kount = settings.field("kount");
  if (!Has(kount, "merchant")) {
    logging::LogText(logging::kAlways, logging::kGroupDbg, "Kount settings invalid.");
    return;
  }
  kount_settings_ = KountSettings{kount.field("merchant").toText(), NewIdentifier(),
                                  install_settings_->field(kInstallIdentifier).toText()};
}

const ULIXClientConfig* ULIXConfigSources::ChosenConfig() const {
  if (override_config_) return &*override_config_;
  if (region_config_) return &*region_config_;
  return nullptr;
}

const std::optional<TokenHolder>& ULIXConfigSources::ChosenToken() const {
  return override_token_ ? override_token_ : region_token_;
}

std::optional<std::string> ULIXConfigSources::InstallTokenOverride(const std::string& token) {
  TokenConfigResult built = BuildFromToken(token, /*allow_lq_fallback=*/true);
  if (std::string* reason = std::get_if<std::string>(&built)) return std::move(*reason);
  override_config_ = std::move(std::get<ULIXClientConfig>(built));
  override_token_.emplace(token);
  return std::nullopt;
}

void ULIXConfigSources::InstallPublicClientOverride(std::string_view url,
                                                    std::string_view client_id) {
  override_config_ = BuildPublicClient(url, client_id, /*allow_lq_fallback=*/false);
}

bool ULIXConfigSources::DropOverride() {
  if (!override_config_) return false;
  override_token_.reset();
  override_config_.reset();
  return true;
}

}  // namespace ulix_auth
