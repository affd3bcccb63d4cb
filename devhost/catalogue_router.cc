#include "devhost/catalogue_router.h"

#include <cstring>
#include <memory>

#include "devhost/host_value_json.h"
#include "wire/url_decode.h"

namespace devhost {
namespace {

constexpr std::uint32_t kReadChunk = 4096;

std::string ReadStream(const HostResponse& response, bool& failed) {
  std::string body;
  const std::uint64_t size = response.streamSize;
  if (size < (1u << 26)) body.reserve(static_cast<std::size_t>(size));
  char buffer[kReadChunk];
  for (;;) {
    std::uint32_t length = kReadChunk;
    std::uint8_t more = 1;
    if (response.read(response.streamContext, buffer, &length, &more) == 0) {
      failed = true;
      break;
    }
    body.append(buffer, std::min(length, kReadChunk));
    if (more == 0) break;
  }
  if (response.close != nullptr) response.close(response.streamContext);
  return body;
}

}  // namespace

std::uint32_t MethodCode(std::string_view name) {
  if (name == "GET") return kHostMethodGet;
  if (name == "POST") return kHostMethodPost;
  if (name == "PUT") return kHostMethodPut;
  if (name == "DELETE") return kHostMethodDelete;
  if (name == "PATCH") return kHostMethodPatch;
  if (name == "HEAD") return kHostMethodHead;
  if (name == "OPTIONS") return kHostMethodOptions;
  return kHostMethodCustom;
}

// `text` with every byte that does not begin a well-formed UTF-8 sequence replaced by U+FFFD:
// an error text may echo a path or a name as the client sent it.
std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    unsigned least = 0;  // the smallest code point of that length (no overlong forms)
    if (byte < 0x80) {
      length = 1;
    } else if (byte >= 0xc2 && byte <= 0xdf) {
      length = 2;
      least = 0x80;
    } else if (byte >= 0xe0 && byte <= 0xef) {
      length = 3;
      least = 0x800;
    } else if (byte >= 0xf0 && byte <= 0xf4) {
      length = 4;
      least = 0x10000;
    }
    unsigned code = length == 1 ? byte : byte & (0x7f >> length);
    bool valid = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xc0) == 0x80;
      code = (code << 6) | (next & 0x3f);
    }
    valid = valid && code >= least && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff);
    if (valid) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      out += "\xef\xbf\xbd";
      ++i;
    }
  }
  return out;
}

std::string ErrorBody(int status, std::string_view raw_message) {
  const std::string message = ValidUtf8(raw_message);
  HostValue text{};
  text.kind = kHostValueText;
  text.payload.text.data = message.data();
  text.payload.text.length = static_cast<std::uint32_t>(message.size());
  return "{\"httpStatus\":" + std::to_string(status) + ",\"message\":" + HostValueToJson(text) +
         "}";
}

CatalogueRouter::CatalogueRouter(const TypeCatalogue& catalogue) : chooser_(catalogue) {}

ApiAnswer CatalogueRouter::Handle(const ApiRequest& request) const {
  if (observer_ == nullptr) return Dispatch(request);
  observer_->Before(request);
  ApiAnswer answer = Dispatch(request);
  observer_->After(request, answer);
  return answer;
}

ApiAnswer CatalogueRouter::Dispatch(const ApiRequest& request) const {
  ApiAnswer answer;
  const std::uint32_t method = MethodCode(request.method);
  const std::string custom = method == kHostMethodCustom ? request.method : "";
  const CatalogueEndpoint* endpoint = chooser_.Choose(method, request.path, custom);
  if (endpoint == nullptr) {
    const bool other_method = chooser_.KnowsPath(request.path);
    answer.status = other_method ? 405 : 404;
    answer.content_type = "application/json";
    answer.body = ErrorBody(
        answer.status, other_method
                           ? "No endpoint serves " + request.method + " on " + request.path + "."
                           : "No endpoint serves " + request.path + ".");
    return answer;
  }

  // Query pieces travel as named text values: the plug-in assigns them to arguments by name.
  const auto pieces = wire::QueryPieces(request.query);
  std::vector<HostNamedValue> named;
  named.reserve(pieces.size());
  for (const auto& [name, value] : pieces) {
    HostNamedValue entry{};
    entry.name = name.c_str();
    entry.value.kind = kHostValueText;
    entry.value.payload.text.data = value.c_str();
    entry.value.payload.text.length = static_cast<std::uint32_t>(value.size());
    named.push_back(entry);
  }
  std::vector<HostHeaderPair> headers;
  headers.reserve(request.headers.size());
  for (const auto& [name, value] : request.headers) {
    headers.push_back(HostHeaderPair{name.c_str(), value.c_str()});
  }
  HostRequest record{};
  record.method = method;
  record.path = request.path.c_str();
  record.namedValues = named.empty() ? nullptr : named.data();
  record.namedValueCount = static_cast<std::uint32_t>(named.size());
  record.function = endpoint;
  record.headers = headers.empty() ? nullptr : headers.data();
  record.headerCount = static_cast<std::uint32_t>(headers.size());
  record.contentType = request.content_type.empty() ? nullptr : request.content_type.c_str();
  record.body = request.body.empty() ? nullptr : request.body.data();
  record.bodyLength = static_cast<std::uint32_t>(request.body.size());
  record.customMethod = custom.c_str();

  HostResponse response{};
  auto give_back = [](HostResponse* held) {
    if (held->release != nullptr) held->release(held);
  };
  std::unique_ptr<HostResponse, decltype(give_back)> held(&response, give_back);
  HostDispatchFunction dispatch = endpoint->dispatch;
  if (dispatch == nullptr) {
    answer.status = 501;
    answer.content_type = "application/json";
    answer.body = ErrorBody(501, "The endpoint has no dispatch entry.");
    return answer;
  }
  dispatch(&response, &record);

  for (std::uint32_t i = 0; i < response.headerCount && response.headers != nullptr; ++i) {
    HostHeaderPair pair;
    std::memcpy(&pair, &response.headers[i], sizeof pair);
    if (pair.name != nullptr) answer.headers.emplace_back(pair.name, pair.value ? pair.value : "");
  }
  const std::uint32_t status = response.status;
  if (response.errorText != nullptr) {
    // Failures before the handler runs (arguments, body) carry no status: they are the
    // request's fault.
    answer.status = status != 0 ? static_cast<int>(status) : 400;
    answer.content_type = "application/json";
    answer.body = ErrorBody(answer.status, response.errorText);
    return answer;
  }
  answer.status = status != 0 ? static_cast<int>(status) : 200;
  if (response.read != nullptr) {
    bool failed = false;
    answer.body = ReadStream(response, failed);
    if (failed) {
      answer.status = 502;
      answer.content_type = "application/json";
      answer.body = ErrorBody(502, "Stream read error");
      return answer;
    }
    answer.content_type = response.format == kHostFormatYaml          ? "application/x-yaml"
                          : response.format == kHostFormatMessagePack ? "application/x-msgpack"
                                                                      : "application/json";
    return answer;
  }
  if (response.value.kind == kHostValueNone && answer.status == 200) {
    answer.status = 204;
    return answer;
  }
  answer.content_type = "application/json";
  answer.body = HostValueToJson(response.value);
  return answer;
}

}  // namespace devhost
