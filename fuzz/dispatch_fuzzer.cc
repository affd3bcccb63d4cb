// Arbitrary requests through the dispatch entry of a plug-in with a small endpoint set, driven
// through the C records as a host drives them: no crash, no leak, and every failure answers with
// an error text.
//
// Input: three control bytes (endpoint, method twist, content type), then NUL-separated fields:
// path tail, header name, header value, named value name, named value text, body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "binding/binding_struct_builder.h"
#include "plugin_runtime/plugin_base.h"
#include "testing/endpoint_chooser.h"

namespace fuzz {

struct FuzzFilter {
  std::vector<std::int32_t> items;
  std::map<std::string, std::string> labels;
  std::string name;
  bool exact = false;
};
ULIX_BINDING_TYPE(FuzzFilter, "FuzzFilter")

namespace {

using plugin_runtime::CallState;
using Vorn::RemotingTypedResult;

class FuzzPlugin : public plugin_runtime::PluginBase {
 public:
  void registerEndpoints() override {
    binding::BindingStructBuilder<FuzzFilter>(typeRegistry())
        .AddField(&FuzzFilter::items, "items")
        .AddField(&FuzzFilter::labels, "labels")
        .AddField(&FuzzFilter::name, "name")
        .AddField(&FuzzFilter::exact, "exact");
    registerEndpoint(
        kHostMethodGet, "/ulix-auth/v1/config/{platformId}",
        [](CallState&, std::string id) -> RemotingTypedResult<std::string> { return id; })
        .PathArgument("platformId", "Platform");
    registerEndpoint(kHostMethodGet, "/x/{+rest}",
                     [](CallState& call, std::string rest, std::int64_t limit,
                        bool verbose) -> RemotingTypedResult<std::int64_t> {
                       call.AddHeader("X-Rest", rest);
                       call.SetText(rest);
                       if (verbose) return Vorn::NotFound();
                       return limit;
                     })
        .PathArgument("rest", "Rest")
        .Argument("limit", "Limit", true)
        .Argument("verbose", "Verbose", true);
    registerEndpoint(
        kHostMethodPut, "/search/{scope}/{#frag}",
        [](CallState&, binding::BindingValue scope, FuzzFilter filter, std::vector<double> weights,
           std::string frag) -> RemotingTypedResult<FuzzFilter> {
          if (weights.size() == 3) throw std::runtime_error("three weights");
          return filter;
        })
        .PathArgument("scope", "Scope")
        .Argument("filter", "Filter", true)
        .Argument("weights", "Weights", true)
        .PathArgument("frag", "Fragment");
    registerEndpoint(kHostMethodPost, "/login/{user}",
                     [](CallState&, std::string user, FuzzFilter body,
                        std::uint8_t small) -> RemotingTypedResult<binding::BindingValue> {
                       return binding::BindingValue(user);
                     })
        .PathArgument("user", "User")
        .BodyArgument("body", "Body")
        .Argument("small", "Small", true);
    registerEndpoint(kHostMethodAny, "/any",
                     [](CallState&) -> RemotingTypedResult<> { return {}; });
  }
};

struct Loaded {
  Loaded() {
    HostInitBlock block{};
    block.major = 18;
    plugin->handshake(&block, "ulix-auth");
    ulix_testing::EndpointChooser chooser(*block.catalogue);
    endpoints = chooser.endpoints();
  }
  std::unique_ptr<FuzzPlugin> plugin = std::make_unique<FuzzPlugin>();
  std::vector<const CatalogueEndpoint*> endpoints;
};

const char* const kContentTypes[] = {nullptr,
                                     "application/json",
                                     "Application/VND.API+JSON; x=1",
                                     "application/x-yaml",
                                     "text/x-yaml",
                                     "application/x-msgpack",
                                     "application/octet-stream",
                                     "text/plain",
                                     ""};
const char* const kPrefixes[] = {"/ulix-auth/v1/config/", "/x/", "/search/", "/login/", "/any"};

}  // namespace
}  // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::Loaded* loaded = new fuzz::Loaded();
  if (size < 3) return 0;
  const CatalogueEndpoint* endpoint = loaded->endpoints[data[0] % loaded->endpoints.size()];
  std::vector<std::string> fields(6);
  std::size_t field = 0;
  for (std::size_t i = 3; i < size; ++i) {
    if (data[i] == 0 && field + 1 < fields.size()) {
      ++field;
    } else {
      fields[field].push_back(static_cast<char>(data[i]));
    }
  }
  const std::string path =
      std::string(fuzz::kPrefixes[data[0] % std::size(fuzz::kPrefixes)]) + fields[0];
  std::vector<HostHeaderPair> headers{{fields[1].c_str(), fields[2].c_str()},
                                      {"limit", fields[2].c_str()}};
  HostValue text{};
  text.kind = kHostValueText;
  text.payload.text.data = fields[4].c_str();
  text.payload.text.length = static_cast<std::uint32_t>(fields[4].size());
  std::vector<HostNamedValue> named{{fields[3].empty() ? nullptr : fields[3].c_str(), text}};

  HostRequest request{};
  request.method = data[1] & 0x7;
  if (data[1] & 0x8) request.method = endpoint->method;
  request.path = path.c_str();
  request.namedValues = (data[1] & 0x10) ? named.data() : nullptr;
  request.namedValueCount = (data[1] & 0x10) ? 1 : 0;
  request.function = endpoint;
  request.headers = headers.data();
  request.headerCount = (data[1] & 0x20) ? 2 : 0;
  request.contentType = fuzz::kContentTypes[data[2] % std::size(fuzz::kContentTypes)];
  request.body = fields[5].data();
  request.bodyLength = static_cast<std::uint32_t>(fields[5].size());
  request.customMethod = (data[1] & 0x40) ? fields[1].c_str() : "";

  HostResponse response;
  endpoint->dispatch(&response, &request);
  const char* error = response.errorText;
  if (error != nullptr && error[0] == '\0') std::abort();  // every failure names its cause
  if (response.release == nullptr) std::abort();
  response.release(&response);
  return 0;
}
