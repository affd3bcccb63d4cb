// One registered endpoint as dispatch reads it: the function, its compiled route and its handler
// with the argument types erased. The endpoint registry builds these at load; dispatch only reads
// them, so both depend on this header and not on each other.
#ifndef PLUGIN_RUNTIME_ENDPOINT_ROUTE_H_
#define PLUGIN_RUNTIME_ENDPOINT_ROUTE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/binding_native_type.h"
#include "binding/binding_type_registry.h"
#include "binding/binding_value.h"
#include "binding/native_conversion.h"
#include "plugin_runtime/call_state.h"
#include "plugin_runtime/remoting_typed_result.h"
#include "wire/route_pattern.h"

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
  wire::RoutePattern pattern;
  std::uint32_t method = 0;
  std::string custom_method;
  // True for the route that registered its function; a later registration under the same name
  // reuses the function and declares nothing.
  bool declares_function = false;
  std::unique_ptr<EndpointInvoker> invoker;
  const binding::BindingTypeRegistry* registry = nullptr;
  // Filled by EndpointRegistry::Finish from the declared arguments.
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

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_ENDPOINT_ROUTE_H_
