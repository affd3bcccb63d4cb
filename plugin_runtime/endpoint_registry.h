// Endpoints of a plug-in: registration of a method and path template bound to a typed handler,
// the route compiled once for it, and the endpoint records the host chooses from.
//
// A handler takes CallState& and then the endpoint's arguments, declared on the builder in the
// same order, and returns a Vorn::RemotingTypedResult.
#ifndef PLUGIN_RUNTIME_ENDPOINT_REGISTRY_H_
#define PLUGIN_RUNTIME_ENDPOINT_REGISTRY_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/binding_type_registry.h"
#include "binding/type_catalogue.h"
#include "plugin_host_interface.h"
#include "plugin_runtime/endpoint_route.h"

namespace plugin_runtime {

// Declares the arguments of the endpoint just registered, in the handler's order. Valid until
// the registry finishes registration; use it on the registering thread.
class EndpointBuilder {
 public:
  EndpointBuilder(EndpointRoute* route, std::vector<binding::BindingTypeIdentifier> types,
                  bool function_existed, std::vector<std::string>* problems)
      : route_(route),
        types_(std::move(types)),
        function_existed_(function_existed),
        problems_(problems) {}

  // An argument whose value may come from any source (location 0).
  EndpointBuilder& Argument(std::string_view name, std::string_view description,
                            bool optional = false) {
    return Declare(name, description, optional, kLocationAny);
  }
  // An argument captured from the path (location 2).
  EndpointBuilder& PathArgument(std::string_view name, std::string_view description,
                                bool optional = false) {
    return Declare(name, description, optional, kLocationPath);
  }
  // The argument the request body is decoded into (location 5).
  EndpointBuilder& BodyArgument(std::string_view name, std::string_view description,
                                bool optional = false) {
    return Declare(name, description, optional, kLocationBody);
  }
  EndpointBuilder& Description(std::string_view text);
  EndpointBuilder& Help(std::string_view text);
  EndpointBuilder& ThreadSafe(bool thread_safe = true);
  // The method name a request must carry when the endpoint was registered with method 8.
  EndpointBuilder& CustomMethod(std::string_view name);

  binding::BindingFunctionDescriptor* function() const { return route_->function; }

 private:
  EndpointBuilder& Declare(std::string_view name, std::string_view description, bool optional,
                           std::uint32_t location);

  EndpointRoute* route_;
  std::vector<binding::BindingTypeIdentifier> types_;
  bool function_existed_;
  std::vector<std::string>* problems_;  // the registry's registration problems
  std::size_t next_argument_ = 0;
};

// The endpoints of one plug-in. Registration and Finish run on the loading thread; afterwards
// everything is read-only and requests may be dispatched from any thread.
class EndpointRegistry {
 public:
  // `registry` must outlive this object.
  explicit EndpointRegistry(binding::BindingTypeRegistry& registry) : registry_(registry) {}
  EndpointRegistry(const EndpointRegistry&) = delete;
  EndpointRegistry& operator=(const EndpointRegistry&) = delete;

  // Registers `handler`, a callable taking CallState& and then the endpoint's arguments and
  // returning a Vorn::RemotingTypedResult, for `method` (a HostMethodCode, 0 for any) and
  // `path_template`. The function is named from method and template
  // (GetUlixAuthV1ConfigByPlatformId) and tagged with `tags`; a name registered before keeps
  // its function, whose arguments are then not declared again.
  template <typename Handler>
  EndpointBuilder Register(std::uint32_t method, std::string_view path_template,
                           const std::vector<std::string>& tags, Handler handler) {
    using Signature = typename endpoint_internal::CallableSignature<Handler>::Type;
    return Add(method, path_template, tags,
               std::make_unique<endpoint_internal::TypedInvoker<Signature>>(std::move(handler)));
  }

  // Ends registration: completes every route from its declared arguments and builds the endpoint
  // records from `catalogue`'s function records, pointing the catalogue's function words at them.
  // `catalogue` must outlive the host's use of the endpoint records.
  void Finish(binding::TypeCatalogueHolder& catalogue);

  // What registration found wrong, one line each, in registration order: declared arguments
  // that do not match the handler's parameters (a count that differs, two arguments of one
  // name, a path argument where the handler takes a record or list, a body argument where it
  // takes a bool, number or enumeration). Each was also logged as an error when found. Tests
  // check it is empty (testing/endpoint_checks.h).
  const std::vector<std::string>& RegistrationProblems() const { return problems_; }

  std::span<const CatalogueEndpoint> endpoints() const {
    return {endpoints_.get(), endpoints_ ? routes_.size() : 0};
  }

 private:
  EndpointBuilder Add(std::uint32_t method, std::string_view path_template,
                      const std::vector<std::string>& tags,
                      std::unique_ptr<EndpointInvoker> invoker);

  // Logs `problem` as an error and keeps it.
  void Report(std::string problem);

  binding::BindingTypeRegistry& registry_;
  std::vector<std::string> problems_;
  std::vector<std::unique_ptr<EndpointRoute>> routes_;
  std::unique_ptr<CatalogueEndpoint[]> endpoints_;
  std::vector<std::unique_ptr<CatalogueArgumentLocation[]>> locations_;
};

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_ENDPOINT_REGISTRY_H_
