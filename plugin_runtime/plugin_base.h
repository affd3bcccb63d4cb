// The base of every plug-in built on this runtime: the handshake with the host, the entry table
// the host calls (start, stop, memory statistics) and the host operations forwarded to the
// host's function table.
#ifndef PLUGIN_RUNTIME_PLUGIN_BASE_H_
#define PLUGIN_RUNTIME_PLUGIN_BASE_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_type_registry.h"
#include "binding/type_catalogue.h"
#include "plugin_host_interface.h"
#include "plugin_runtime/endpoint_registry.h"
#include "plugin_runtime/plugin_host_bridge.h"
#include "plugin_runtime/plugin_names.h"
#include "plugin_runtime/semantic_version.h"

namespace plugin_runtime {

class PluginLogTarget;

class PluginBase : public PluginHostBridge {
 public:
  // Takes a reference on the process-wide logger; the destructor gives it back.
  explicit PluginBase(PluginTypeRecord type = BackendPluginType());
  ~PluginBase() override;

  // Checks the host's plug-in API version (an incompatible host is a fatal stop that never
  // returns), names the plug-in, registers its types and endpoints and writes the plug-in's
  // version, entry table, context, short name and catalogue back into `block`. Called once.
  void handshake(HostInitBlock* block, std::string_view short_name);

  // Entry 0: keeps `host_context` (which must outlive the plug-in), installs the log target that
  // forwards to the host unless another plug-in of this process already did, and runs onStart.
  bool start(const HostContext* host_context);
  // Entry 1: shuts down and deletes this object; `this` is invalid afterwards.
  void stop();
  // Entry 2.
  static void fillMemoryStatistics(MemoryStatistics* statistics);

  // Host operations, forwarded to the function table at the same position.
  void callResource(HostResponse* response, const HostRequest* request) override;
  void sendHttpRequest(const HostHttpRequest* request, HostHttpResponse* response) override;
  void sendEvent(const HostEvent* event) override;
  void subscribeEvent(const char* name, std::uint32_t plugin_handle, HostEventCallback callback,
                      void* context, std::int32_t flag) override;
  void unsubscribeEvent(const char* name, std::uint32_t plugin_handle) override;
  void scheduleCallback(const char* label, HostDelayedCallback callback, void* context,
                        double delay_seconds, std::int32_t zero) override;
  void yieldWait() override;
  void setWaitReason(const char* text, std::int32_t zero) override;
  void finishWait() override;

  // The plug-in registers its types, functions and endpoints here.
  virtual void registerEndpoints() {}
  // Registers an endpoint (see EndpointRegistry::Register) tagged with registrationTags(); only
  // from registerEndpoints. Declare its arguments on the returned builder.
  template <typename Handler>
  EndpointBuilder registerEndpoint(std::uint32_t method, std::string_view path_template,
                                   Handler handler) {
    return endpoint_registry_.Register(method, path_template, registration_tags_,
                                       std::move(handler));
  }
  // The plug-in's start hook; its result is the result of start.
  virtual bool onStart() { return true; }

  const SemanticVersion& hostVersion() const { return host_version_; }
  const PluginNames& names() const { return names_; }
  const std::string& identifierName() const { return identifier_name_; }
  const std::vector<std::string>& registrationTags() const { return registration_tags_; }
  binding::BindingTypeRegistry& typeRegistry() { return registry_; }
  const PluginEntryTable& entryTable() const { return entry_table_; }
  const TypeCatalogue& typeCatalogue() const { return catalogue_; }
  const EndpointRegistry& endpointRegistry() const { return endpoint_registry_; }

 private:
  const HostFunctionTable* host() const;
  void installLogTarget();

  SemanticVersion host_version_;
  PluginTypeRecord type_;
  PluginNames names_;
  std::string identifier_name_;
  std::vector<std::string> registration_tags_;
  binding::BindingTypeRegistry registry_;
  // Both read the registry's descriptors, so they are declared after it and go before it.
  EndpointRegistry endpoint_registry_{registry_};
  std::unique_ptr<binding::TypeCatalogueHolder> catalogue_holder_;
  const HostContext* host_context_ = nullptr;
  PluginEntryTable entry_table_{};
  // The six words the host reads; empty until the handshake builds the catalogue.
  TypeCatalogue catalogue_{};
  std::unique_ptr<PluginLogTarget> log_target_;
};

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_PLUGIN_BASE_H_
