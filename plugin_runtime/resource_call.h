// Typed calls of host resources: arguments turned into host value records, the request, the
// response read (plain value or streamed body), its conversion to the caller's type and the
// messages of every failure. Everything goes through a HostCaller; PluginHostBridge::typedCall
// and the telemetry sender are thin forwards to CallTyped.
#ifndef PLUGIN_RUNTIME_RESOURCE_CALL_H_
#define PLUGIN_RUNTIME_RESOURCE_CALL_H_

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/binding_value.h"
#include "binding/native_conversion.h"
#include "plugin_runtime/host_caller.h"
#include "plugin_runtime/remoting_typed_result.h"

namespace binding {
class BindingTypeRegistry;
}

namespace plugin_runtime {

// The arguments of one call, in order, each already a generic value. The first argument that
// fails to convert is remembered and stops the call before anything is sent.
class CallArguments {
 public:
  struct Argument {
    std::string name;  // empty: sent without a name
    binding::BindingValue value;
  };

  template <binding::BindingConvertible T>
  void Add(const T& value, const binding::BindingTypeRegistry& registry,
           std::string_view name = {}) {
    if (!error_.empty()) return;
    if constexpr (std::same_as<T, binding::BindingValue>) {
      arguments_.push_back({std::string(name), value});
    } else {
      binding::BindingConversionResult converted = binding::toValue(value, registry);
      if (!converted.ok) {
        error_ = std::string(binding::errorText(converted));
        return;
      }
      arguments_.push_back({std::string(name), std::move(converted.value)});
    }
  }

  const std::vector<Argument>& arguments() const { return arguments_; }
  // The conversion message of the first argument that failed; empty when all converted.
  const std::string& error() const { return error_; }

 private:
  std::vector<Argument> arguments_;
  std::string error_;
};

// What the caller wants from the response.
enum class CallResultShape {
  kNone,          // only success or error
  kValue,         // the response's value, or its streamed body parsed as JSON
  kStreamedText,  // the streamed body as it came (or the value written as JSON)
};

struct [[nodiscard]] RawCallResult {
  bool ok = true;
  Vorn::RemotingError error;
  binding::BindingValue value;  // kValue
  std::string text;             // kStreamedText
};

// Sends `method` `path` with `arguments` through `caller` and reads the response as `shape`
// asks. Failures carry the messages "Request not sent: Error converting parameters for ...",
// "Error response for ...", "Error reading streamed response for ...". The host's response is
// released on every path. Any thread that may call the host may call it.
RawCallResult CallResourceRaw(const HostCaller& caller, std::uint32_t method, std::string_view path,
                              const CallArguments& arguments, CallResultShape shape);

// `pattern` with "{method}", "{url}" and "{error}" filled in.
std::string FillCallMessage(std::string_view pattern, std::string_view method, std::string_view url,
                            std::string_view error);

// The failure of turning a response value into the caller's type.
Vorn::RemotingError ResponseConversionError(std::uint32_t method, std::string_view path,
                                            std::string_view error);

// Calls `method` (a host method code) on `path` with `arguments` and returns the response as T:
// void for success or error only, binding::BindingValue for the value as it came, or any type
// the binding layer converts. A streamed response is read to its end and parsed as JSON.
// Failures: 400 "Request not sent: Error converting parameters for {method} {url}: {error}";
// the response's status with "Error response for {method} {url}: {error}"; 500 "Error reading
// streamed response for ..." or "Error converting response for ...". Blocks until the host
// answers.
template <typename T = void>
Vorn::RemotingTypedResult<T> CallTyped(const HostCaller& caller, std::uint32_t method,
                                       std::string_view path, const CallArguments& arguments) {
  if constexpr (std::is_void_v<T>) {
    RawCallResult raw = CallResourceRaw(caller, method, path, arguments, CallResultShape::kNone);
    if (!raw.ok) return std::move(raw.error);
    return {};
  } else {
    RawCallResult raw = CallResourceRaw(caller, method, path, arguments, CallResultShape::kValue);
    if (!raw.ok) return std::move(raw.error);
    if constexpr (std::same_as<T, binding::BindingValue>) {
      return std::move(raw.value);
    } else {
      T native{};
      binding::BindingConversionResult assigned =
          binding::fromValue(raw.value, native, caller.registry(), "<result>");
      if (!assigned.ok) return ResponseConversionError(method, path, binding::errorText(assigned));
      return native;
    }
  }
}

// A call whose streamed body is wanted as text, unparsed. A response that is not streamed gives
// its value written as JSON.
inline Vorn::RemotingTypedResult<std::string> CallStreamedText(const HostCaller& caller,
                                                               std::uint32_t method,
                                                               std::string_view path,
                                                               const CallArguments& arguments) {
  RawCallResult raw =
      CallResourceRaw(caller, method, path, arguments, CallResultShape::kStreamedText);
  if (!raw.ok) return std::move(raw.error);
  return std::move(raw.text);
}

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_RESOURCE_CALL_H_
