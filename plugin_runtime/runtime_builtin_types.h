// The records and events every plug-in built on this runtime shares with the host: the plug-in
// manager's state, resource change events, LCDS messages and service-proxy answers.
#ifndef PLUGIN_RUNTIME_RUNTIME_BUILTIN_TYPES_H_
#define PLUGIN_RUNTIME_RUNTIME_BUILTIN_TYPES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "binding/binding_native_type.h"
#include "binding/binding_value.h"

namespace binding {
class BindingTypeRegistry;
}

namespace Vorn::Client {

enum class PluginManagerState : std::int32_t { kNotReady = 0, kPluginsInitialized = 1 };
ULIX_BINDING_TYPE(PluginManagerState, "PluginManagerState")

// What the host publishes at "/plugin-manager/v1/status".
struct PluginManagerResource {
  PluginManagerState state = PluginManagerState::kNotReady;
};
ULIX_BINDING_TYPE(PluginManagerResource, "PluginManagerResource")

enum class PluginResourceEventType : std::int32_t { kCreate = 0, kUpdate = 1, kDelete = 2 };
ULIX_BINDING_TYPE(PluginResourceEventType, "PluginResourceEventType")

// One change of a resource: its path, what happened and the resource's new value.
struct PluginResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::kCreate;
  binding::BindingValue data;
};
ULIX_BINDING_TYPE(PluginResourceEvent, "PluginResourceEvent")

struct PluginLcdsEvent {
  std::string clientId;
  std::string subtopic;
  std::string typeName;
  binding::BindingValue body;
};
ULIX_BINDING_TYPE(PluginLcdsEvent, "PluginLcdsEvent")

struct PluginLcdsResponse {
  std::string typeName;
  binding::BindingValue body;
};
ULIX_BINDING_TYPE(PluginLcdsResponse, "PluginLcdsResponse")

struct PluginServiceProxyResponse {
  std::string uuid;
  std::string serviceName;
  std::string methodName;
  std::string payload;
  std::string status;
  std::string error;
};
ULIX_BINDING_TYPE(PluginServiceProxyResponse, "PluginServiceProxyResponse")

}  // namespace Vorn::Client

namespace plugin_runtime {

inline constexpr std::string_view kJsonApiEventName = "OnJsonApiEvent";
inline constexpr std::string_view kLcdsEventName = "OnLcdsEvent";
inline constexpr std::string_view kServiceProxyUuidEventName = "OnServiceProxyUuidEvent";
inline constexpr std::string_view kServiceProxyMethodEventName = "OnServiceProxyMethodEvent";
inline constexpr std::string_view kServiceProxyAsyncEventName = "OnServiceProxyAsyncEvent";

// Registers the records above and the five runtime events, each in the namespace "vclient", into
// `registry`. Registering twice is harmless: the registry keeps the first descriptors. Runs
// during the handshake, on the loading thread.
void RegisterRuntimeBuiltins(binding::BindingTypeRegistry& registry);

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_RUNTIME_BUILTIN_TYPES_H_
