// The host's install-settings data store, one value per key under
// "/data-store/v1/install-settings/".
#ifndef PLUGIN_RUNTIME_INSTALL_SETTINGS_H_
#define PLUGIN_RUNTIME_INSTALL_SETTINGS_H_

#include <string>
#include <string_view>

#include "binding/native_conversion.h"
#include "plugin_host_interface.h"
#include "plugin_runtime/plugin_host_bridge.h"
#include "plugin_runtime/remoting_typed_result.h"

namespace plugin_runtime {

inline constexpr std::string_view kInstallSettingsPath = "/data-store/v1/install-settings/";

// "/data-store/v1/install-settings/" + `key`; an empty key names the store itself.
inline std::string InstallSettingPath(std::string_view key) {
  std::string path(kInstallSettingsPath);
  path += key;
  return path;
}

// GETs the setting as T, with the typed-call errors ("Error response for GET ..." and the
// conversion messages). Blocks until the host answers.
template <typename T>
Vorn::RemotingTypedResult<T> ReadInstallSetting(PluginHostBridge& bridge, std::string_view key) {
  return bridge.typedCall<T>(kHostMethodGet, InstallSettingPath(key));
}

// POSTs `value` as the setting; true when the host reported no error. Why it failed is not
// kept: callers only ever need to know whether the value was stored.
template <binding::BindingConvertible T>
bool WriteInstallSetting(PluginHostBridge& bridge, std::string_view key, const T& value) {
  return bridge.typedCall(kHostMethodPost, InstallSettingPath(key), value).ok();
}

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_INSTALL_SETTINGS_H_
