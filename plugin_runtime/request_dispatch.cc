#include "plugin_runtime/request_dispatch.h"

#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_static_type.h"
#include "binding/host_value_conversion.h"
#include "binding/json_bridge.h"
#include "binding/message_pack_reader.h"
#include "binding/yaml_bridge.h"
#include "logging/logger.h"
#include "logging/positional_formatter.h"
#include "platform/monotonic_clock.h"
#include "plugin_runtime/endpoint_route.h"
#include "plugin_runtime/entry_scope.h"
#include "wire/url_decode.h"

namespace plugin_runtime {
namespace {

using binding::BindingArgumentDescriptor;
using binding::BindingValue;
using binding::NativeTypeKind;

// The host frees nothing it did not get from us, and an empty text needs no copy.
constexpr char kNoText[] = "";

// Dotted keys ("filter.items.3") build value trees from request text. These bound what one
// request can make the plug-in spend: the depth of one key (a deep tree is also torn down
// recursively) and the elements all keys of a request create together. Going past either is
// answered as an index out of range.
constexpr std::size_t kMaxKeySegments = 512;
constexpr std::uint64_t kMaxCreatedElements = 65536;
// Indexes are 31-bit numbers.
constexpr std::uint64_t kIndexLimit = std::uint64_t{1} << 31;

bool StartsWithIgnoringCase(const char* text, std::string_view prefix) {
  if (text == nullptr) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == 0) return false;
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
    if (c != static_cast<unsigned char>(prefix[i])) return false;
  }
  return true;
}

// The JSON reader wants a NUL at the end, which host texts and bodies do not promise, and its
// SSE2 scanners load the whole aligned 16-byte block holding that NUL: the copy keeps the block
// inside its own allocation.
std::string JsonText(std::string_view text) {
  std::string copy;
  copy.reserve(text.size() + 16);
  copy.assign(text);
  return copy;
}

// Frees the copies a dispatched response holds, then what the binding layer put there.
void ReleaseDispatchResponse(HostResponse* response) {
  if (response == nullptr) return;
  const char* text = response->text;
  if (text != nullptr && text != kNoText) delete[] text;
  response->text = nullptr;
  const HostHeaderPair* headers = response->headers;
  const std::uint32_t count = response->headerCount;
  for (std::uint32_t i = 0; i < count; ++i) {
    HostHeaderPair pair;
    std::memcpy(&pair, headers + i, sizeof pair);
    delete[] pair.name;
    delete[] pair.value;
  }
  delete[] headers;
  response->headers = nullptr;
  response->headerCount = 0;
  binding::ReleasePluginResponse(response);
}

// The fill steps and the handler call for one request. Lives on the dispatching thread's stack.
class Dispatch {
 public:
  Dispatch(const EndpointRoute& route, const HostRequest& request)
      : route_(route),
        request_(request),
        function_(*route.function),
        call_(request.callerContext),
        content_type_(request.contentType) {}

  void Run(HostResponse& response);

 private:
  bool MethodAgrees() const;
  bool Fill();
  bool FillHeaders();
  bool FillPath();
  bool FillQuery();
  bool FillNamedValues();
  bool FillBody();
  // Assigns a header, path or query text under `key` ("name" or "name.member.3").
  bool AssignText(std::string_view key, std::string_view text, std::uint32_t location);
  bool AssignToArgument(std::size_t index, std::string_view rest, bool has_rest,
                        std::string_view text);
  bool Deserialize(const BindingArgumentDescriptor& argument, std::string_view text,
                   BindingValue& target);
  // Index of the argument named `name`, or npos.
  std::size_t FindArgument(std::string_view name) const;
  bool Fail(std::string message) {
    call_.SetError(std::move(message));
    return false;
  }
  bool FailUnknown(std::string_view name) {
    return Fail(logging::FormatPositional("Unknown argument '%1' for '%2'.",
                                          {name, std::string_view(function_.name)}));
  }
  void WriteResponse(HostResponse& response, const BindingValue& result);

  const EndpointRoute& route_;
  const HostRequest& request_;
  const binding::BindingFunctionDescriptor& function_;
  CallState call_;
  const char* content_type_;
  std::string_view path_;
  std::vector<std::string_view> captures_;
  std::vector<BindingValue> values_;
  std::uint64_t created_elements_ = 0;  // by dotted keys, all keys together
};

bool Dispatch::MethodAgrees() const {
  if (route_.method == kHostMethodAny) return true;
  if (request_.method != route_.method) return false;
  const char* custom = request_.customMethod;
  return std::string_view(custom != nullptr ? custom : "") == route_.custom_method;
}

std::size_t Dispatch::FindArgument(std::string_view name) const {
  const std::uint32_t hash = binding::Fnv1a(name);
  const auto& arguments = function_.arguments;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i].nameHash == hash && arguments[i].name == name) return i;
  }
  return std::string_view::npos;
}

void Dispatch::Run(HostResponse& response) {
  const char* path = request_.path;
  path_ = path != nullptr ? std::string_view(path) : std::string_view();
  if (!MethodAgrees() || !route_.pattern.Match(path_, captures_)) {
    call_.SetStatus(404);
    call_.SetError("Invalid function");
    WriteResponse(response, BindingValue::emptyValue());
    return;
  }
  values_.resize(function_.arguments.size());
  for (std::size_t i = 0; i < values_.size(); ++i) {
    const BindingArgumentDescriptor& argument = function_.arguments[i];
    if (!argument.optional && argument.type.kind == NativeTypeKind::kBool) {
      values_[i].setBool(false);
    }
  }
  BindingValue result;
  if (Fill()) {
    if (function_.async) {
      AsyncRequestRecord record;
      record.callerContext = request_.callerContext;
      record.monotonicNanoseconds = platform::MonotonicNanoseconds();
      record.path = std::string(path_);
      record.method = request_.method;
      if (request_.customMethod != nullptr) record.customMethod = request_.customMethod;
      for (std::uint32_t i = 0; i < request_.headerCount; ++i) {
        HostHeaderPair pair;
        std::memcpy(&pair, request_.headers + i, sizeof pair);
        record.headers.emplace_back(pair.name != nullptr ? pair.name : "",
                                    pair.value != nullptr ? pair.value : "");
      }
      if (function_.returnType.descriptor != nullptr) {
        record.asyncMarker = function_.returnType.descriptor->name;
      }
      call_.SetAsyncRequest(std::move(record));
    }
    route_.invoker->Invoke(call_, values_, function_, *route_.registry, result);
  }
  WriteResponse(response, result);
}

bool Dispatch::Fill() {
  return FillHeaders() && FillPath() && FillQuery() && FillNamedValues() && FillBody();
}

bool Dispatch::FillHeaders() {
  if (request_.headers == nullptr) return true;
  const auto& arguments = function_.arguments;
  for (std::uint32_t h = 0; h < request_.headerCount; ++h) {
    HostHeaderPair pair;
    std::memcpy(&pair, request_.headers + h, sizeof pair);
    if (pair.name == nullptr) continue;
    const std::string_view name(pair.name);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      const std::uint32_t location = arguments[i].location;
      if (location != kLocationAny && location != kLocationHeader) continue;
      if (route_.lower_case_names[i] != name) continue;
      if (!AssignToArgument(i, {}, false, pair.value != nullptr ? pair.value : "")) return false;
    }
  }
  return true;
}

bool Dispatch::FillPath() {
  const std::vector<std::string>& names = route_.pattern.ParameterNames();
  for (std::size_t i = 0; i < captures_.size(); ++i) {
    if (!AssignText(names[i], wire::PercentDecode(captures_[i], true), kLocationPath)) return false;
  }
  return true;
}

bool Dispatch::FillQuery() {
  const std::size_t mark = path_.find('?');
  if (mark == std::string_view::npos) return true;
  // A repeated name keeps its last value, in the place where the name first appeared.
  std::vector<std::pair<std::string, std::string>> pieces;
  for (auto& [name, value] : wire::QueryPieces(path_.substr(mark + 1))) {
    bool replaced = false;
    for (auto& [known, known_value] : pieces) {
      if (known == name) {
        known_value = std::move(value);
        replaced = true;
        break;
      }
    }
    if (!replaced) pieces.emplace_back(std::move(name), std::move(value));
  }
  for (const auto& [name, value] : pieces) {
    if (!AssignText(name, value, kLocationQuery)) return false;
  }
  return true;
}

bool Dispatch::FillNamedValues() {
  if (request_.namedValues == nullptr) return true;
  for (std::uint32_t n = 0; n < request_.namedValueCount; ++n) {
    HostNamedValue named;
    std::memcpy(&named, request_.namedValues + n, sizeof named);
    std::size_t index;
    if (named.name != nullptr) {
      index = FindArgument(named.name);
      if (index == std::string_view::npos) return FailUnknown(named.name);
    } else {
      // Unnamed values continue the arguments the path already supplied.
      index = n + captures_.size();
      if (index >= values_.size()) return FailUnknown(std::to_string(index));
    }
    binding::BindingConversionResult converted =
        binding::fromHostValue(named.value, function_.arguments[index].name);
    if (!converted.ok) return Fail(std::string(binding::errorText(converted)));
    values_[index] = std::move(converted.value);
  }
  return true;
}

bool Dispatch::FillBody() {
  if (request_.body == nullptr || request_.bodyLength == 0) return true;
  if (route_.body_argument >= values_.size()) return true;
  const char* data = static_cast<const char*>(request_.body);
  const std::size_t length = request_.bodyLength;
  binding::BindingConversionResult decoded;
  if (StartsWithIgnoringCase(content_type_, "application/x-msgpack")) {
    binding::MessagePackReadResult read = binding::parseMessagePack(data, length);
    if (read.result.ok && read.consumed < length) {
      return Fail("Extra MessgePack data found in body");
    }
    decoded = std::move(read.result);
  } else if (StartsWithIgnoringCase(content_type_, "application/json") ||
             StartsWithIgnoringCase(content_type_, "application/vnd.api+json")) {
    decoded = binding::parseJson(JsonText(std::string_view(data, length)).c_str());
  } else if (StartsWithIgnoringCase(content_type_, "application/x-yaml")) {
    decoded = binding::parseYaml(std::string_view(data, length));
  } else {
    return Fail("Unsupported body content type");
  }
  if (!decoded.ok) return Fail(std::string(binding::errorText(decoded)));
  values_[route_.body_argument] = std::move(decoded.value);
  return true;
}

bool Dispatch::AssignText(std::string_view key, std::string_view text, std::uint32_t location) {
  const std::size_t dot = key.find('.');
  const std::string_view name = key.substr(0, dot);
  const std::size_t index = FindArgument(name);
  if (index == std::string_view::npos) return FailUnknown(name);
  const std::uint32_t declared = function_.arguments[index].location;
  if (declared != kLocationAny && declared != location) {
    return Fail(
        logging::FormatPositional("Argument '%1' for '%2' was specified in an invalid location.",
                                  {name, std::string_view(function_.name)}));
  }
  if (dot == std::string_view::npos) return AssignToArgument(index, {}, false, text);
  return AssignToArgument(index, key.substr(dot + 1), true, text);
}

bool Dispatch::AssignToArgument(std::size_t index, std::string_view rest, bool has_rest,
                                std::string_view text) {
  const BindingArgumentDescriptor& argument = function_.arguments[index];
  BindingValue& value = values_[index];
  if (!has_rest) {
    if (!text.empty()) return Deserialize(argument, text, value);
    switch (argument.type.kind) {
      case NativeTypeKind::kBool:
        value.setBool(true);
        return true;
      case NativeTypeKind::kVector:
        value.clear();
        value.reserve(0);
        return true;
      case NativeTypeKind::kStruct:
      case NativeTypeKind::kObject:
        value.clear();
        value.reserveFields(0);
        return true;
      default:
        return Fail(
            logging::FormatPositional("Expected value for argument '%1'.", {argument.name}));
    }
  }
  BindingValue* target = &value;
  std::size_t segments = 1;  // the argument's name
  while (true) {
    const std::size_t dot = rest.find('.');
    const std::string_view segment = rest.substr(0, dot);
    auto out_of_range = [&] {
      return Fail(logging::FormatPositional("Index %1 is out of range", {segment}));
    };
    if (++segments > kMaxKeySegments) return out_of_range();
    if (!segment.empty() && segment[0] >= '0' && segment[0] <= '9') {
      if (segment.find_first_not_of("0123456789") != std::string_view::npos) {
        return Fail(logging::FormatPositional("Index %1 is in an incorrect format", {segment}));
      }
      std::uint64_t number = 0;
      for (char c : segment) {
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
        if (number >= kIndexLimit) return out_of_range();
      }
      const std::uint64_t existing = target->isCollection() ? target->size() : 0;
      const std::uint64_t created = number >= existing ? number + 1 - existing : 0;
      if (created > kMaxCreatedElements - created_elements_) return out_of_range();
      created_elements_ += created;
      target = &target->elementForWrite(static_cast<std::size_t>(number));
    } else {
      target = &target->fieldForWrite(segment);
    }
    if (dot == std::string_view::npos) break;
    rest = rest.substr(dot + 1);
  }
  BindingValue parsed;
  if (!Deserialize(argument, text, parsed)) return false;
  *target = std::move(parsed);
  return true;
}

bool Dispatch::Deserialize(const BindingArgumentDescriptor& argument, std::string_view text,
                           BindingValue& target) {
  enum class Format { kMessagePack, kJson, kYaml, kBlob, kString } format = Format::kString;
  if (StartsWithIgnoringCase(content_type_, "application/x-msgpack")) {
    format = Format::kMessagePack;
  } else if (StartsWithIgnoringCase(content_type_, "application/json")) {
    format = Format::kJson;
  } else if (StartsWithIgnoringCase(content_type_, "text/x-yaml")) {
    format = Format::kYaml;
  } else if (StartsWithIgnoringCase(content_type_, "application/octet-stream")) {
    format = Format::kBlob;
  } else if ((content_type_ == nullptr || *content_type_ == '\0') &&
             (argument.type.kind == NativeTypeKind::kVector ||
              argument.type.kind == NativeTypeKind::kStruct ||
              argument.type.kind == NativeTypeKind::kObject)) {
    // Without a content type, structured arguments guess the encoding from the first bytes.
    const unsigned char first = text.empty() ? 0 : static_cast<unsigned char>(text[0]);
    const std::size_t start = text.find_first_not_of(" \t\r\n");
    const std::string_view trimmed =
        start == std::string_view::npos ? std::string_view() : text.substr(start);
    if (!text.empty() && ((first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF))) {
      format = Format::kMessagePack;
    } else if (!trimmed.empty() && (trimmed[0] == '{' || trimmed[0] == '[')) {
      format = Format::kJson;
    } else if (trimmed.starts_with("---")) {
      format = Format::kYaml;
    }
  }
  binding::BindingConversionResult parsed;
  std::string_view message;
  switch (format) {
    case Format::kString:
      target.setString(text);
      return true;
    case Format::kBlob:
      target.setBlob(std::span<const std::uint8_t>(
          reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
      return true;
    case Format::kMessagePack: {
      binding::MessagePackReadResult read = binding::parseMessagePack(text.data(), text.size());
      parsed = std::move(read.result);
      message = "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3";
      break;
    }
    case Format::kJson: {
      parsed = binding::parseJson(JsonText(text).c_str());
      message = "Couldn't deserialize JSON value for parameter '%1' of '%2': %3";
      break;
    }
    case Format::kYaml:
      parsed = binding::parseYaml(text);
      message = "Couldn't deserialize YAML value for parameter '%1' of '%2': %3";
      break;
  }
  if (!parsed.ok) {
    return Fail(logging::FormatPositional(
        message, {std::string_view(argument.name), std::string_view(function_.name),
                  binding::errorText(parsed)}));
  }
  target = std::move(parsed.value);
  return true;
}

void Dispatch::WriteResponse(HostResponse& response, const BindingValue& result) {
  response.status = static_cast<std::uint32_t>(call_.status());
  // An error takes the value's place; everything else the handler set goes out either way.
  if (call_.HasError()) {
    response.errorText = binding::CopyHostText(call_.error());
  } else if (!result.isEmpty()) {
    HostValue value = binding::toHostValue(result, route_.registry);
    std::memcpy(&response.value, &value, sizeof value);
  }
  response.errorFlag = call_.flag();
  response.format = static_cast<std::uint32_t>(call_.format());
  response.text = call_.text().empty() ? kNoText : binding::CopyHostText(call_.text());
  const auto& headers = call_.headers();
  if (!headers.empty()) {
    auto* pairs = new HostHeaderPair[headers.size()];
    for (std::size_t i = 0; i < headers.size(); ++i) {
      HostHeaderPair pair{binding::CopyHostText(headers[i].first),
                          binding::CopyHostText(headers[i].second)};
      std::memcpy(pairs + i, &pair, sizeof pair);
    }
    response.headers = pairs;
    response.headerCount = static_cast<std::uint32_t>(headers.size());
  }
  if (const auto& stream = call_.stream()) {
    response.read = stream->read;
    response.close = stream->close;
    response.streamSize = stream->size;
    response.streamContext = stream->context;
  }
}

void FailResponse(HostResponse& response, std::string_view message, std::uint32_t status) {
  binding::FailHostResponse(response, message);
  response.release = &ReleaseDispatchResponse;
  response.status = status;
}

}  // namespace

void DispatchRequest(HostResponse* response, const HostRequest* request) {
  if (response == nullptr) return;
  const EntryScope entry;
  std::memset(static_cast<void*>(response), 0, sizeof(HostResponse));
  response->release = &ReleaseDispatchResponse;
  try {
    const EndpointRoute* route = nullptr;
    if (request != nullptr && request->function != nullptr) {
      const auto* endpoint = static_cast<const CatalogueEndpoint*>(request->function);
      route = static_cast<const EndpointRoute*>(endpoint->function.routeData);
    }
    if (route == nullptr) {
      FailResponse(*response, "Invalid function", 404);
      return;
    }
    Dispatch(*route, *request).Run(*response);
  } catch (const std::bad_alloc&) {
    FailResponse(*response, "Internal server error", 500);
  } catch (...) {
    // Whatever a handler throws stays on this side of the host interface.
    logging::Log(logging::kError, logging::kGroupDbg, "DispatchRequest: unexpected exception");
    FailResponse(*response, "Internal server error", 500);
  }
}

}  // namespace plugin_runtime
