#include "testing/endpoint_chooser.h"

#include <cstring>

namespace ulix_testing {

DispatchedResponse::~DispatchedResponse() {
  if (record_.release != nullptr) record_.release(&record_);
}

std::string DispatchedResponse::error() const {
  const char* text = record_.errorText;
  return text != nullptr ? text : "";
}

std::string DispatchedResponse::text() const {
  const char* text = record_.text;
  return text != nullptr ? text : "";
}

std::vector<std::pair<std::string, std::string>> DispatchedResponse::headers() const {
  std::vector<std::pair<std::string, std::string>> out;
  const HostHeaderPair* pairs = record_.headers;
  for (std::uint32_t i = 0; i < record_.headerCount; ++i) {
    HostHeaderPair pair;
    std::memcpy(&pair, pairs + i, sizeof pair);
    out.emplace_back(pair.name, pair.value);
  }
  return out;
}

void Dispatch(const CatalogueEndpoint& endpoint, const TestRequest& request,
              DispatchedResponse& response) {
  if (response.record().release != nullptr) response.record().release(&response.record());
  std::vector<HostHeaderPair> headers;
  for (const auto& [name, value] : request.headers) {
    headers.push_back(HostHeaderPair{name.c_str(), value.c_str()});
  }
  HostRequest record{};
  record.method = request.method;
  record.path = request.path.c_str();
  record.namedValues = request.named_values.empty() ? nullptr : request.named_values.data();
  record.namedValueCount = static_cast<std::uint32_t>(request.named_values.size());
  record.function = &endpoint;
  record.headers = headers.empty() ? nullptr : headers.data();
  record.headerCount = static_cast<std::uint32_t>(headers.size());
  record.contentType = request.content_type ? request.content_type->c_str() : nullptr;
  record.body = request.body ? request.body->data() : nullptr;
  record.bodyLength = request.body ? static_cast<std::uint32_t>(request.body->size()) : 0;
  record.callerContext = request.caller_context;
  record.customMethod = request.custom_method.c_str();
  HostDispatchFunction dispatch = endpoint.dispatch;
  dispatch(&response.record(), &record);
}

}  // namespace ulix_testing
