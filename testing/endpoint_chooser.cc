#include "testing/endpoint_chooser.h"

#include <cstring>

namespace ulix_testing {
namespace {

// Fits `path` from `p` to the template from `t`; counts the literal characters it matched.
bool Fits(std::string_view tmpl, std::size_t t, std::string_view path, std::size_t p,
          std::size_t& literals) {
  while (t < tmpl.size()) {
    if (tmpl[t] == '{') {
      const std::size_t close = tmpl.find('}', t);
      if (close == std::string_view::npos) return false;
      const bool rest = t + 1 < tmpl.size() && (tmpl[t + 1] == '+' || tmpl[t + 1] == '#');
      std::size_t end = rest ? path.size() : path.find('/', p);
      if (end == std::string_view::npos) end = path.size();
      for (std::size_t stop = end + 1; stop-- > p;) {
        std::size_t counted = literals;
        if (Fits(tmpl, close + 1, path, stop, counted)) {
          literals = counted;
          return true;
        }
      }
      return false;
    }
    if (p >= path.size() || path[p] != tmpl[t]) return false;
    ++t;
    ++p;
    ++literals;
  }
  return p == path.size();
}

}  // namespace

EndpointChooser::EndpointChooser(const TypeCatalogue& catalogue) {
  const auto* endpoint = static_cast<const CatalogueEndpoint*>(catalogue.functions);
  for (std::uint32_t i = 0; i < catalogue.functionCount && endpoint != nullptr; ++i) {
    endpoints_.push_back(endpoint);
    endpoint = static_cast<const CatalogueEndpoint*>(endpoint->function.next);
  }
}

const CatalogueEndpoint* EndpointChooser::Choose(std::uint32_t method, std::string_view path,
                                                 std::string_view custom_method) const {
  path = path.substr(0, path.find('?'));
  const CatalogueEndpoint* best = nullptr;
  std::size_t best_literals = 0;
  for (const CatalogueEndpoint* endpoint : endpoints_) {
    const std::uint32_t wanted = endpoint->method;
    if (wanted != kHostMethodAny && wanted != method) continue;
    if (wanted == kHostMethodCustom &&
        std::string_view(endpoint->customMethod ? endpoint->customMethod : "") != custom_method) {
      continue;
    }
    const char* tmpl = endpoint->pathTemplate;
    std::size_t literals = 0;
    if (tmpl == nullptr || !Fits(tmpl, 0, path, 0, literals)) continue;
    if (best == nullptr || literals > best_literals) {
      best = endpoint;
      best_literals = literals;
    }
  }
  return best;
}

const CatalogueEndpoint* EndpointChooser::Find(std::string_view name) const {
  for (const CatalogueEndpoint* endpoint : endpoints_) {
    const char* own = endpoint->function.name;
    if (own != nullptr && name == own) return endpoint;
  }
  return nullptr;
}

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
