// The host's side of incoming requests, for tests: choosing the endpoint record of a catalogue
// that serves a method and path, and calling its dispatch entry with a request record the way a
// host fills one.
#ifndef TESTING_ENDPOINT_CHOOSER_H_
#define TESTING_ENDPOINT_CHOOSER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plugin_host_interface.h"

namespace ulix_testing {

// Reads the endpoint records of a catalogue through the C records only. The catalogue must
// outlive the chooser.
class EndpointChooser {
 public:
  explicit EndpointChooser(const TypeCatalogue& catalogue);

  // The endpoint whose method and template serve the request: the method must be the
  // endpoint's (any for method 0; the custom name too for method 8) and the path, query cut
  // off, must fit the template, where "{name}" stands for one segment and "{+name}" for any
  // rest. Among several, the one with the most literal template characters wins. nullptr when
  // none fits.
  const CatalogueEndpoint* Choose(std::uint32_t method, std::string_view path,
                                  std::string_view custom_method = {}) const;
  // The endpoint whose function is named `name`, or nullptr.
  const CatalogueEndpoint* Find(std::string_view name) const;
  const std::vector<const CatalogueEndpoint*>& endpoints() const { return endpoints_; }

 private:
  std::vector<const CatalogueEndpoint*> endpoints_;
};

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
