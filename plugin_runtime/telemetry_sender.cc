#include "plugin_runtime/telemetry_sender.h"

#include <utility>

namespace plugin_runtime {

void TelemetrySender::SetCommonData(std::string_view key, const std::string& text) {
  CallArguments arguments;
  arguments.Add(text, caller_.registry());
  (void)CallTyped(caller_, kHostMethodPost, Path(kTelemetryCommonDataPath, key), arguments);
}

std::string TelemetrySender::Path(std::string_view prefix, std::string_view name) {
  std::string path(prefix);
  path += name;
  return path;
}

std::future<Vorn::RemotingTypedResult<void>> TelemetrySender::Satisfied(
    Vorn::RemotingTypedResult<void> result) {
  std::promise<Vorn::RemotingTypedResult<void>> promise;
  promise.set_value(std::move(result));
  return promise.get_future();
}

}  // namespace plugin_runtime
