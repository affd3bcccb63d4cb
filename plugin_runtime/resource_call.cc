#include "plugin_runtime/resource_call.h"

#include <algorithm>
#include <memory>

#include "binding/host_value_conversion.h"
#include "binding/json_bridge.h"
#include "plugin_runtime/resource_paths.h"

namespace plugin_runtime {
namespace {

constexpr std::uint32_t kStreamChunk = 4096;
constexpr std::int32_t kNotSentStatus = 400;
// Reading or converting what the host sent back is our failure, not the resource's.
constexpr std::int32_t kUnreadableStatus = 500;

// The host value records of the arguments, freed when the call is over.
class HostArguments {
 public:
  HostArguments(const CallArguments& arguments, const binding::BindingTypeRegistry* registry) {
    records_.reserve(arguments.arguments().size());
    for (const CallArguments::Argument& argument : arguments.arguments()) {
      HostNamedValue record{};
      record.name = argument.name.empty() ? nullptr : argument.name.c_str();
      record.value = binding::toHostValue(argument.value, registry);
      records_.push_back(record);
    }
  }
  ~HostArguments() {
    for (HostNamedValue& record : records_) {
      HostValue value = record.value;
      binding::ReleaseHostValue(value);
    }
  }
  HostArguments(const HostArguments&) = delete;
  HostArguments& operator=(const HostArguments&) = delete;

  const HostNamedValue* data() const { return records_.empty() ? nullptr : records_.data(); }
  std::uint32_t size() const { return static_cast<std::uint32_t>(records_.size()); }

 private:
  std::vector<HostNamedValue> records_;
};

// Reads a streamed body to its end. False with `error` set when the host's read fails. The
// close function runs on every path.
bool ReadStream(const HostCaller& caller, const HostResponse& response, std::string& text,
                std::string& error) {
  void* context = response.streamContext;
  HostStreamRead read = response.read;
  HostStreamClose close = response.close;
  const std::uint64_t size_hint = response.streamSize;
  // A hint is only a hint; never let it reserve more than a sane body.
  text.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(size_hint, 64u << 20)));
  bool ok = true;
  char buffer[kStreamChunk];
  for (;;) {
    std::uint32_t length = kStreamChunk;
    std::uint8_t more_data = 1;
    if (read(context, buffer, &length, &more_data) == 0) {
      error = "Stream read error";
      ok = false;
      break;
    }
    length = std::min(length, kStreamChunk);
    text.append(buffer, length);
    if (more_data == 0) break;
    if (length < kStreamChunk) {
      // The host has more but not yet: let its work run before asking again.
      caller.yieldForStream();
    }
  }
  if (close != nullptr) close(context);
  return ok;
}

}  // namespace

std::string FillCallMessage(std::string_view pattern, std::string_view method, std::string_view url,
                            std::string_view error) {
  std::string message;
  message.reserve(pattern.size() + method.size() + url.size() + error.size());
  std::size_t at = 0;
  while (at < pattern.size()) {
    std::size_t open = pattern.find('{', at);
    if (open == std::string_view::npos) break;
    message.append(pattern.substr(at, open - at));
    std::string_view rest = pattern.substr(open);
    if (rest.starts_with("{method}")) {
      message.append(method);
      at = open + 8;
    } else if (rest.starts_with("{url}")) {
      message.append(url);
      at = open + 5;
    } else if (rest.starts_with("{error}")) {
      message.append(error);
      at = open + 7;
    } else {
      message.push_back('{');
      at = open + 1;
    }
  }
  message.append(pattern.substr(std::min(at, pattern.size())));
  return message;
}

Vorn::RemotingError ResponseConversionError(std::uint32_t method, std::string_view path,
                                            std::string_view error) {
  return Vorn::RemotingError{
      kUnreadableStatus, FillCallMessage("Error converting response for {method} {url}: {error}",
                                         HostMethodName(method), path, error)};
}

RawCallResult CallResourceRaw(const HostCaller& caller, std::uint32_t method, std::string_view path,
                              const CallArguments& arguments, CallResultShape shape) {
  RawCallResult result;
  const std::string_view method_name = HostMethodName(method);
  if (!arguments.error().empty()) {
    result.ok = false;
    result.error = {kNotSentStatus,
                    FillCallMessage("Request not sent: Error converting parameters for {method} "
                                    "{url}: {error}",
                                    method_name, path, arguments.error())};
    return result;
  }

  const binding::BindingTypeRegistry* registry = caller.registryOrNull();
  HostArguments host_arguments(arguments, registry);
  const std::string path_text(path);
  HostRequest request{};
  request.method = method;
  request.path = path_text.c_str();
  request.namedValues = host_arguments.data();
  request.namedValueCount = host_arguments.size();
  request.callerContext = caller.pluginHandle();

  HostResponse response{};
  auto give_back = [](HostResponse* r) {
    if (r->release != nullptr) r->release(r);
  };
  caller.host().callResource(&response, &request);
  std::unique_ptr<HostResponse, decltype(give_back)> held(&response, give_back);

  if (response.errorText != nullptr) {
    result.ok = false;
    result.error = {static_cast<std::int32_t>(response.status),
                    FillCallMessage("Error response for {method} {url}: {error}", method_name, path,
                                    response.errorText)};
    return result;
  }
  if (shape == CallResultShape::kNone) return result;

  if (response.read != nullptr) {
    std::string body;
    std::string error;
    bool read = ReadStream(caller, response, body, error);
    if (read && shape == CallResultShape::kValue) {
      binding::BindingConversionResult parsed = binding::parseJson(body.c_str());
      if (parsed.ok) {
        result.value = std::move(parsed.value);
      } else {
        read = false;
        error = std::string(binding::errorText(parsed));
      }
    }
    if (!read) {
      result.ok = false;
      result.error = {kUnreadableStatus,
                      FillCallMessage("Error reading streamed response for {method} {url}: {error}",
                                      method_name, path, error)};
      return result;
    }
    if (shape == CallResultShape::kStreamedText) result.text = std::move(body);
    return result;
  }

  binding::BindingConversionResult value = binding::fromHostValue(response.value, "<result>");
  if (!value.ok) {
    result.ok = false;
    result.error = ResponseConversionError(method, path, binding::errorText(value));
    return result;
  }
  if (shape == CallResultShape::kStreamedText) {
    result.text = binding::toJson(value.value, registry);
  } else {
    result.value = std::move(value.value);
  }
  return result;
}

}  // namespace plugin_runtime
