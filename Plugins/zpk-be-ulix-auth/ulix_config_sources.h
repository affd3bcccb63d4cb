// Where the sign-on configuration comes from: the host's command line, the plug-in's install
// settings, the host's region and the region's sign-on settings, read once at start, and the
// overrides the configuration endpoints install later. Decides which configuration wins and
// installs it into the protocol client.
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

// Not thread-safe: the plug-in that owns it serialises every use, reads and writes of the
// members included, with its writer lock. `plugin` and `client` must outlive it.
class ULIXConfigSources {
 public:
  // Reads the command line, then (unless sign-on is disabled there) the install settings, the
  // region and the region's settings, through blocking host calls on this thread. Every failure
  // is logged and leaves the member concerned absent.
  ULIXConfigSources(plugin_runtime::PluginHostBridge& plugin, ULIXClient& client);

  // Installs the override configuration, else the region configuration, into the client, or
  // clears the client's configuration when there is neither; then hands the client the Kount
  // session id when there is one. May fetch the discovery document (blocking).
  void ApplyConfiguration();

  // A public client at `url` + "/token", with the scope text of this moment.
  ULIXClientConfig BuildPublicClient(std::string_view url, std::string_view client_id,
                                     bool allow_lq_fallback) const;
  // A client named by the claims of the configuration token `token` ("aud" the token URL, "sub"
  // the client id, the token itself the client assertion), or the claim reader's message when
  // the token's claims do not parse.
  TokenConfigResult BuildFromToken(const std::string& token, bool allow_lq_fallback) const;

  // The base scope words, then one blank and the additional ones when there are any.
  std::string ScopeText() const;

  // Whether sign-on has any configuration to use.
  bool HasConfiguration() const { return regionConfig.has_value() || overrideConfig.has_value(); }

  plugin_runtime::PluginHostBridge& plugin;
  ULIXClient& client;
  std::optional<ULIXClientConfig> regionConfig;
  std::optional<ULIXClientConfig> overrideConfig;
  std::optional<Vorn::Client::UlixAuth::Api::ULIXPlayerCredentials> commandLineCredentials;
  std::optional<binding::BindingValue> installSettings;
  std::optional<TokenHolder> regionToken;
  std::optional<TokenHolder> overrideToken;
  std::optional<KountSettings> kountSettings;
  std::string additionalScopes;

 private:
  void LoadCommandLine();
  void LoadInstallSettings();
  void LoadRegion();
  void LoadKount(const binding::BindingValue& settings);
};

// A new random identifier: 32 lower-case hexadecimal digits, the UUID's bytes in memory order.
// A system that cannot make one stops the process ("ALE-8B4DC795").
std::string NewIdentifier();

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_ULIX_CONFIG_SOURCES_H_
