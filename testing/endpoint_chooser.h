// The host's side of incoming requests, for tests: calling the dispatch entry of the endpoint
// record a host chose with a request record the way a host fills one.
#ifndef TESTING_ENDPOINT_CHOOSER_H_
#define TESTING_ENDPOINT_CHOOSER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plugin_host_interface.h"
#include "wire/endpoint_chooser.h"

namespace ulix_testing {

// Chooses endpoints as a host does.
using EndpointChooser = wire::EndpointChooser;

// A request as a host sends it. Texts are kept here; the record handed to the plug-in borrows
// them for the call.
struct TestRequest {
  std::uint32_t method = kHostMethodGet;
  std::string path;
  std::vector<std::pair<std::string, std::string>> headers;
  std::vector<HostNamedValue> named_values;  // names and values borrowed from the test
  std::optional<std::string> content_type;
  std::optional<std::string> body;
  std::uint32_t caller_context = 0;
  std::string custom_method;
};

// The response record of one dispatch, given back through its release function when dropped.
class DispatchedResponse {
 public:
  DispatchedResponse() = default;
  DispatchedResponse(const DispatchedResponse&) = delete;
  DispatchedResponse& operator=(const DispatchedResponse&) = delete;
  ~DispatchedResponse();

  HostResponse& record() { return record_; }
  const HostResponse& record() const { return record_; }
  bool ok() const { return record_.errorText == nullptr; }
  // "" on success.
  std::string error() const;
  std::uint32_t status() const { return record_.status; }
  std::string text() const;
  const HostValue& value() const { return record_.value; }
  std::vector<std::pair<std::string, std::string>> headers() const;

 private:
  HostResponse record_{};
};

// Fills a request record from `request`, names `endpoint` in its function word and calls the
// endpoint's dispatch entry. `response` is released first if it holds an answer.
void Dispatch(const CatalogueEndpoint& endpoint, const TestRequest& request,
              DispatchedResponse& response);

}  // namespace ulix_testing

#endif  // TESTING_ENDPOINT_CHOOSER_H_
