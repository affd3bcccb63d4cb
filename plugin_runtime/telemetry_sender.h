// Telemetry through the host: events posted under "/telemetry/v1/events/" and common data under
// "/telemetry/v1/common-data/".
#ifndef PLUGIN_RUNTIME_TELEMETRY_SENDER_H_
#define PLUGIN_RUNTIME_TELEMETRY_SENDER_H_

#include <future>
#include <string>
#include <string_view>

#include "binding/native_conversion.h"
#include "plugin_host_interface.h"
#include "plugin_runtime/host_caller.h"
#include "plugin_runtime/remoting_typed_result.h"
#include "plugin_runtime/resource_call.h"

namespace plugin_runtime {

inline constexpr std::string_view kTelemetryEventsPath = "/telemetry/v1/events/";
inline constexpr std::string_view kTelemetryCommonDataPath = "/telemetry/v1/common-data/";

// Keeps no state besides its caller; any thread that may call the host may use it. Created by
// the bridge at start; what `caller` borrows outlives it.
class TelemetrySender {
 public:
  explicit TelemetrySender(HostCaller caller) : caller_(caller) {}

  // POSTs `payload` as the one argument to "/telemetry/v1/events/" + `name`. The returned future
  // is already satisfied with the call's result, error included; callers may drop it.
  template <binding::BindingConvertible Payload>
  std::future<Vorn::RemotingTypedResult<void>> SendEvent(std::string_view name,
                                                         const Payload& payload) {
    CallArguments arguments;
    arguments.Add(payload, caller_.registry());
    return Satisfied(
        CallTyped(caller_, kHostMethodPost, Path(kTelemetryEventsPath, name), arguments));
  }

  // POSTs `text` to "/telemetry/v1/common-data/" + `key`. Errors are dropped: common data is
  // best effort.
  void SetCommonData(std::string_view key, const std::string& text);

 private:
  static std::string Path(std::string_view prefix, std::string_view name);
  static std::future<Vorn::RemotingTypedResult<void>> Satisfied(
      Vorn::RemotingTypedResult<void> result);

  HostCaller caller_;
};

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_TELEMETRY_SENDER_H_
