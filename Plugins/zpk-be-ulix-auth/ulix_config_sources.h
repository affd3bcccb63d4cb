// Where the sign-on configuration comes from: the host's command line, the plug-in's install
// settings, the host's region and the region's sign-on settings, read once at start, and the
// overrides the configuration endpoints install later. Decides which configuration wins; the
// plug-in installs it into the protocol client.
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_ULIX_CONFIG_SOURCES_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_ULIX_CONFIG_SOURCES_H_

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Plugins/zpk-be-ulix-auth/api_records.h"
#include "Plugins/zpk-be-ulix-auth/client/ulix_client.h"
#include "binding/binding_value.h"
#include "plugin_runtime/plugin_host_bridge.h"

namespace ulix_auth {

// The fraud-screening identity served by the device-id endpoint.
struct KountSettings {
  std::string merchantId;
  std::string sessionId;
  std::string installId;
};

// A configuration token holder: it may exist and hold no token (sign-on disabled on the command
// line), so it is an optional inside an optional member.
using TokenHolder = std::optional<std::string>;

// A configuration built from a token, or why the token could not be read.
using TokenConfigResult = std::variant<ULIXClientConfig, std::string>;

inline constexpr std::string_view kBaseScopes = "openid offline_access kiv ban profile email phone";
inline constexpr const char* kConfigureLabel = "configure-auth-client";

// A value: the plug-in publishes one and changes a copy of it. The precedence rules live here
// alone: an override (from the command line, then replaced through the configuration endpoints)
// beats the region's configuration, and the override's token holder beats the region's.
class ULIXConfigSources {
 public:
  // Reads the command line, then (unless sign-on is disabled there) the install settings, the
  // region and the region's settings, through blocking host calls on this thread. Every failure
  // is logged and leaves the source concerned absent.
  explicit ULIXConfigSources(plugin_runtime::PluginHostBridge& plugin);

  // Installs, as the override, a configuration built from the configuration token `token`
  // (LQ fallback allowed) with a token holder holding `token`. When the token's claims do not
  // parse nothing changes and the claim reader's message comes back. The caller applies it.
  [[nodiscard]] std::optional<std::string> InstallTokenOverride(const std::string& token);
  // Installs, as the override, a public client at `url` + "/token" (LQ fallback not allowed).
  // The override's token holder is left as it was.
  void InstallPublicClientOverride(std::string_view url, std::string_view client_id);
  // Drops the override and its token holder, so that the region's configuration, if any, wins
  // again. False, changing nothing, when there is no override.
  bool DropOverride();

  // Whether sign-on has any configuration to use.
  bool HasConfiguration() const { return region_config_ || override_config_; }
  bool HasOverride() const { return override_config_.has_value(); }
  // The configuration to install: the override's, else the region's; nullptr
  // when there is neither.
  const ULIXClientConfig* ChosenConfig() const;
  // The token holder of the chosen source: the override's when there is one, else the region's.
  const std::optional<TokenHolder>& ChosenToken() const;
  const std::optional<KountSettings>& kount_settings() const { return kount_settings_; }
  const std::optional<Vorn::Client::UlixAuth::Api::ULIXPlayerCredentials>&
  command_line_credentials() const {
    return command_line_credentials_;
  }

 private:
  // A public client at `url` + "/token", with the scope text of this moment.
  ULIXClientConfig BuildPublicClient(std::string_view url, std::string_view client_id,
                                     bool allow_lq_fallback) const;
  // A client named by the claims of the configuration token `token` ("aud" the token URL, "sub"
  // the client id, the token itself the client assertion), or the claim reader's message when
  // the token's claims do not parse.
  TokenConfigResult BuildFromToken(const std::string& token, bool allow_lq_fallback) const;
  // The base scope words, then one blank and the additional ones when there are any.
  std::string ScopeText() const;

  void LoadCommandLine();
  void LoadInstallSettings();
  void LoadRegion();
  void LoadKount(const binding::BindingValue& settings);

  // For the loads, which run in the constructor only.
  plugin_runtime::PluginHostBridge* plugin_;
  std::optional<ULIXClientConfig> region_config_;
  std::optional<ULIXClientConfig> override_config_;
  std::optional<Vorn::Client::UlixAuth::Api::ULIXPlayerCredentials> command_line_credentials_;
  std::optional<binding::BindingValue> install_settings_;
  std::optional<TokenHolder> region_token_;
  std::optional<TokenHolder> override_token_;
  std::optional<KountSettings> kount_settings_;
  std::string additional_scopes_;
};

// A new random identifier: 32 lower-case hexadecimal digits, the UUID's bytes in memory order.
// A system that cannot make one stops the process ("ALE-8B4DC795").
std::string NewIdentifier();

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_ULIX_CONFIG_SOURCES_H_
