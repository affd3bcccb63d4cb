// Turns HTTP requests into calls of the plug-in: picks the endpoint record of the type catalogue
// that serves the method and path, fills a request record, calls the record's dispatch entry
// and turns the response record into an HTTP answer with a JSON body.
#ifndef DEVHOST_CATALOGUE_ROUTER_H_
#define DEVHOST_CATALOGUE_ROUTER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plugin_host_interface.h"
#include "wire/endpoint_chooser.h"

namespace devhost {

struct ApiRequest {
  std::string method;  // as sent: "GET", "POST", ... or any other token
  std::string path;    // without the query
  std::string query;   // after "?", may be empty
  std::vector<std::pair<std::string, std::string>> headers;
  std::string content_type;  // empty when the request has none
  std::string body;
};

struct ApiAnswer {
  int status = 200;
  std::string content_type;  // empty with an empty body
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

// The method code of a method name (upper case); kHostMethodCustom for any other name.
std::uint32_t MethodCode(std::string_view name);

// The error body every failure carries. Bytes of `message` that are not well-formed UTF-8
// become U+FFFD, so that the body stays valid JSON whatever a client sent.
std::string ErrorBody(int status, std::string_view message);

// Hears every request the router dispatches, on the dispatching thread: Before just ahead of the
// plug-in's call (the events the plug-in sends while it serves the request come between the
// two), After with its answer.
class RouterObserver {
 public:
  virtual ~RouterObserver() = default;
  virtual void Before(const ApiRequest& request) = 0;
  virtual void After(const ApiRequest& request, const ApiAnswer& answer) = 0;
};

class CatalogueRouter {
 public:
  // Reads the endpoint records of `catalogue`, which must outlive the router.
  explicit CatalogueRouter(const TypeCatalogue& catalogue);

  // Dispatches `request` to the plug-in on this thread. Never throws for a plug-in answer.
  ApiAnswer Handle(const ApiRequest& request) const;

  // Set before the router serves; `observer` must outlive it. Null: none.
  void SetObserver(RouterObserver* observer) { observer_ = observer; }

 private:
  ApiAnswer Dispatch(const ApiRequest& request) const;

  wire::EndpointChooser chooser_;
  RouterObserver* observer_ = nullptr;
};

}  // namespace devhost

#endif  // DEVHOST_CATALOGUE_ROUTER_H_
