// Endpoints of a plug-in: registration of a method and path template bound to a typed handler,
// the route compiled once for it, and the endpoint records the host chooses from.
//
//   router.Register(kHostMethodGet, "/ulix-auth/v1/config/{platformId}",
//                   [this](CallState& call, const std::string& platform_id)
//                       -> Vorn::RemotingTypedResult<ULIXConfig> { return Config(platform_id); })
//       .PathArgument("platformId", "Platform whose configuration is read");
//
// The handler's parameters after CallState& are the endpoint's arguments, declared on the
// builder in the same order.
#ifndef PLUGIN_RUNTIME_ENDPOINT_ROUTER_H_
#define PLUGIN_RUNTIME_ENDPOINT_ROUTER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/binding_native_type.h"
#include "binding/binding_type_registry.h"
#include "binding/binding_value.h"
#include "binding/native_conversion.h"
#include "binding/type_catalogue.h"
#include "plugin_host_interface.h"
#include "plugin_runtime/call_state.h"
#include "plugin_runtime/remoting_typed_result.h"
#include "plugin_runtime/route_pattern.h"

namespace plugin_runtime {

// Where an argument's value may come from.
enum ArgumentLocation : std::uint32_t {
  kLocationAny = 0,
  kLocationQuery = 1,
  kLocationPath = 2,
  kLocationHeader = 4,
  kLocationBody = 5,
};

// A handler with its argument types erased. Implementations are immutable, so any thread may
// invoke them.
class EndpointInvoker {
 public:
  virtual ~EndpointInvoker() = default;
  // The types of the handler's arguments, in order, resolved through `registry`.
  virtual std::vector<binding::BindingTypeIdentifier> ArgumentTypes(
      const binding::BindingTypeRegistry& registry) const = 0;
  virtual binding::BindingTypeIdentifier ReturnType(
      const binding::BindingTypeRegistry& registry) const = 0;
  // Assigns `values` (one per argument) to the handler's arguments and calls it. A missing
  // (empty) value leaves an optional argument default-constructed and fails a required one with
  // "A value for '%1' is required.". On success the result is produced into `result` (left empty
  // for a result without value); every failure goes into `call` as an error: an argument that is
  // missing or does not convert (status unchanged, handler not called), the handler's error (its
  // status), a result that does not convert (status 400).
  virtual void Invoke(CallState& call, std::span<const binding::BindingValue> values,
                      const binding::BindingFunctionDescriptor& function,
                      const binding::BindingTypeRegistry& registry,
                      binding::BindingValue& result) const = 0;
};

// One registered endpoint. Built at registration, completed when registration ends, read-only
// afterwards: dispatch keeps no state of its own here.
struct EndpointRoute {
  binding::BindingFunctionDescriptor* function = nullptr;
  std::string path_template;  // trailing "/" removed
  RoutePattern pattern;
  std::uint32_t method = 0;
  std::string custom_method;
  std::uint8_t flag = 0;
  std::unique_ptr<EndpointInvoker> invoker;
  const binding::BindingTypeRegistry* registry = nullptr;
  // Filled by RequestRouter::Finish from the declared arguments.
  std::vector<std::string> lower_case_names;
  std::size_t body_argument = static_cast<std::size_t>(-1);
};

namespace endpoint_internal {

template <typename Signature>
struct HandlerTraits;
template <typename T, typename... Args>
struct HandlerTraits<Vorn::RemotingTypedResult<T>(CallState&, Args...)> {
  using Result = T;
  using Function = std::function<Vorn::RemotingTypedResult<T>(CallState&, Args...)>;
  using Arguments = std::tuple<std::remove_cvref_t<Args>...>;
};
template <typename Callable>
struct CallableSignature : CallableSignature<decltype(&Callable::operator())> {};
template <typename C, typename R, typename... Args>
struct CallableSignature<R (C::*)(Args...) const> {
  using Type = R(Args...);
};
template <typename C, typename R, typename... Args>
struct CallableSignature<R (C::*)(Args...)> {
  using Type = R(Args...);
};
template <typename R, typename... Args>
struct CallableSignature<R (*)(Args...)> {
  using Type = R(Args...);
};

template <typename T>
binding::BindingTypeIdentifier TypeOf(const binding::BindingTypeRegistry& registry) {
  if constexpr (std::is_void_v<T>) {
    return {};
  } else {
    return binding::TypeIdentifierOf<T>(registry);
  }
}

template <typename Signature>
class TypedInvoker final : public EndpointInvoker {
  using Traits = HandlerTraits<Signature>;
  using Result = typename Traits::Result;
  using Arguments = typename Traits::Arguments;
  static constexpr std::size_t kArity = std::tuple_size_v<Arguments>;

 public:
  explicit TypedInvoker(typename Traits::Function handler) : handler_(std::move(handler)) {}

  std::vector<binding::BindingTypeIdentifier> ArgumentTypes(
      const binding::BindingTypeRegistry& registry) const override {
    return TypesOf(registry, std::make_index_sequence<kArity>());
  }
  binding::BindingTypeIdentifier ReturnType(
      const binding::BindingTypeRegistry& registry) const override {
    return TypeOf<Result>(registry);
  }
  void Invoke(CallState& call, std::span<const binding::BindingValue> values,
              const binding::BindingFunctionDescriptor& function,
              const binding::BindingTypeRegistry& registry,
              binding::BindingValue& result) const override {
    InvokeWith(call, values, function, registry, result, std::make_index_sequence<kArity>());
  }

 private:
  template <std::size_t... I>
  static std::vector<binding::BindingTypeIdentifier> TypesOf(
      const binding::BindingTypeRegistry& registry, std::index_sequence<I...>) {
    return {TypeOf<std::tuple_element_t<I, Arguments>>(registry)...};
  }

  template <typename T>
  static void AssignArgument(binding::BindingConversionResult& conversion, T& native,
                             std::span<const binding::BindingValue> values,
                             const binding::BindingFunctionDescriptor& function, std::size_t index,
                             const binding::BindingTypeRegistry& registry) {
    // A parameter without a declared argument can receive nothing; registration reports it.
    if (!conversion.ok || index >= values.size() || index >= function.arguments.size()) return;
    const binding::BindingArgumentDescriptor& argument = function.arguments[index];
    if (values[index].isEmpty()) {
      // The caller that owns the argument makes the missing-value test, for every type.
      if (argument.optional == 0) binding::FailRequired(conversion, argument.name);
      return;
    }
    binding::AssignMember(conversion, native, values[index], argument.name, registry);
  }

  template <std::size_t... I>
  void InvokeWith(CallState& call, [[maybe_unused]] std::span<const binding::BindingValue> values,
                  [[maybe_unused]] const binding::BindingFunctionDescriptor& function,
                  const binding::BindingTypeRegistry& registry, binding::BindingValue& result,
                  std::index_sequence<I...>) const {
    Arguments natives;
    binding::BindingConversionResult conversion;
    (AssignArgument(conversion, std::get<I>(natives), values, function, I, registry), ...);
    if (!conversion.ok) {
      call.SetError(std::string(binding::errorText(conversion)));
      return;
    }
    Vorn::RemotingTypedResult<Result> answer = handler_(call, std::move(std::get<I>(natives))...);
    if (!answer.ok()) {
      call.SetStatus(answer.status());
      call.SetError(answer.message());
      return;
    }
    if constexpr (!std::is_void_v<Result>) {
      binding::BindingConversionResult produced;
      binding::ProduceMember(produced, produced.value, answer.value(), registry);
      if (!produced.ok) {
        call.SetStatus(400);
        call.SetError(std::string(binding::errorText(produced)));
        return;
      }
      result = std::move(produced.value);
    }
  }

  typename Traits::Function handler_;
};

}  // namespace endpoint_internal

// Declares the arguments of the endpoint just registered, in the handler's order. Valid until
// the router finishes registration; use it on the registering thread.
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
  std::vector<std::string>* problems_;  // the router's registration problems
  std::size_t next_argument_ = 0;
};

// The endpoints of one plug-in. Registration and Finish run on the loading thread; afterwards
// everything is read-only and requests may be dispatched from any thread.
class RequestRouter {
 public:
  // `registry` must outlive the router.
  explicit RequestRouter(binding::BindingTypeRegistry& registry) : registry_(registry) {}
  RequestRouter(const RequestRouter&) = delete;
  RequestRouter& operator=(const RequestRouter&) = delete;

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
  // `catalogue` must outlive the router's use by the host.
  void Finish(binding::TypeCatalogueHolder& catalogue);

  // What registration found wrong, one line each, in registration order: declared arguments
  // that do not match the handler's parameters (a count that differs, two arguments of one
  // name, a path argument where the handler takes a record or list, a body argument where it
  // takes a bool, number or enumeration). Each was also logged as an error when found. Tests
  // check it is empty (testing/endpoint_checks.h).
  const std::vector<std::string>& registrationProblems() const { return problems_; }

  std::span<const std::unique_ptr<EndpointRoute>> routes() const { return routes_; }
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

#endif  // PLUGIN_RUNTIME_ENDPOINT_ROUTER_H_
