#include "plugin_runtime/runtime_builtin_types.h"

#include "binding/binding_struct_builder.h"
#include "binding/binding_type_registry.h"

namespace plugin_runtime {
namespace {

using namespace Vorn::Client;  // NOLINT: every name below is one of these records

// The word the host groups the runtime's own types and events under. It is their namespace, not
// a tag: they carry no tags, like every other registration of the plug-in but its own API.
constexpr std::string_view kNamespaceWord = "vclient";

void RegisterEvent(binding::BindingTypeRegistry& registry, std::string_view name,
                   const binding::BindingTypeDescriptor* payload, std::string_view description) {
  if (registry.findEvent(name) != nullptr) return;
  binding::BindingEventDescriptor* event = registry.registerEvent(name, payload);
  event->description = description;
  event->nameSpace = kNamespaceWord;
}

}  // namespace

void RegisterRuntimeBuiltins(binding::BindingTypeRegistry& registry) {
  using binding::BindingEnumBuilder;
  using binding::BindingStructBuilder;

  // Enums before the records that hold them, so their descriptors resolve.
  BindingEnumBuilder<PluginManagerState>(registry)
      .AddValue(PluginManagerState::kNotReady, "NotReady")
      .AddValue(PluginManagerState::kPluginsInitialized, "PluginsInitialized")
      .NameSpace(kNamespaceWord);
  BindingStructBuilder<PluginManagerResource>(registry)
      .AddField(&PluginManagerResource::state, "state")
      .NameSpace(kNamespaceWord);
  BindingEnumBuilder<PluginResourceEventType>(registry)
      .AddValue(PluginResourceEventType::kCreate, "Create")
      .AddValue(PluginResourceEventType::kUpdate, "Update")
      .AddValue(PluginResourceEventType::kDelete, "Delete")
      .NameSpace(kNamespaceWord);
  BindingStructBuilder<PluginResourceEvent> resource_event(registry);
  resource_event.AddField(&PluginResourceEvent::uri, "uri")
      .AddField(&PluginResourceEvent::eventType, "eventType")
      .AddField(&PluginResourceEvent::data, "data")
      .NameSpace(kNamespaceWord);
  BindingStructBuilder<PluginLcdsEvent> lcds_event(registry);
  lcds_event.AddField(&PluginLcdsEvent::clientId, "clientId")
      .AddField(&PluginLcdsEvent::subtopic, "subtopic")
      .AddField(&PluginLcdsEvent::typeName, "typeName")
      .AddField(&PluginLcdsEvent::body, "body")
      .NameSpace(kNamespaceWord);
  BindingStructBuilder<PluginLcdsResponse>(registry)
      .AddField(&PluginLcdsResponse::typeName, "typeName")
      .AddField(&PluginLcdsResponse::body, "body")
      .NameSpace(kNamespaceWord);
  BindingStructBuilder<PluginServiceProxyResponse> proxy_response(registry);
  proxy_response.AddField(&PluginServiceProxyResponse::uuid, "uuid")
      .AddField(&PluginServiceProxyResponse::serviceName, "serviceName")
      .AddField(&PluginServiceProxyResponse::methodName, "methodName")
      .AddField(&PluginServiceProxyResponse::payload, "payload")
      .AddField(&PluginServiceProxyResponse::status, "status")
      .AddField(&PluginServiceProxyResponse::error, "error")
      .NameSpace(kNamespaceWord);

  RegisterEvent(registry, kJsonApiEventName, resource_event.descriptor(),
                "Fired when a resource is changed.");
  RegisterEvent(registry, kLcdsEventName, lcds_event.descriptor(),
                "Fired when a message is received over the LCDS connection.");
  RegisterEvent(registry, kServiceProxyUuidEventName, proxy_response.descriptor(),
                "Fired when a uuid-based service proxy message is received.");
  RegisterEvent(registry, kServiceProxyMethodEventName, proxy_response.descriptor(),
                "Fired when a method-based service proxy message is received.");
  RegisterEvent(registry, kServiceProxyAsyncEventName, proxy_response.descriptor(),
                "Fired when an async service proxy message is received.");
}

}  // namespace plugin_runtime
