// Turns HTTP requests into calls of the plug-in: picks the endpoint record of the type catalogue
// that serves the method and path, fills a request record, calls the record's dispatch entry
// and turns the response record into an HTTP answer with a JSON body.
#ifndef DEVHOST_CATALOGUE_ROUTER_H_
#define DEVHOST_CATALOGUE_ROUTER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "plugin_host_interface.h"

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

// Whether `path` fits `path_template`: "{name}" stands for one non-empty-or-empty segment,
// "{+name}" or "{#name}" for the rest of the path. Counts the literal characters matched.
bool TemplateFits(std::string_view path_template, std::string_view path, std::size_t& literals);

// The error body every failure carries. Bytes of `message` that are not well-formed UTF-8
// become U+FFFD, so that the body stays valid JSON whatever a client sent.
std::string ErrorBody(int status, std::string_view message);

class CatalogueRouter {
 public:
  // Reads the endpoint records of `catalogue`, which must outlive the router.
  explicit CatalogueRouter(const TypeCatalogue& catalogue);

  // The endpoint for the request: the method must be the endpoint's (any for method 0, the
  // custom name too for method 8) and the path must fit its template. Among several, the most
  // literal template wins. nullptr when none fits.
  const CatalogueEndpoint* Choose(std::uint32_t method, std::string_view path,
                                  std::string_view custom_method) const;
  // Whether any endpoint's template fits `path`, whatever its method.
  bool KnowsPath(std::string_view path) const;

  // Dispatches `request` to the plug-in on this thread. Never throws for a plug-in answer.
  ApiAnswer Handle(const ApiRequest& request) const;

  const std::vector<const CatalogueEndpoint*>& endpoints() const { return endpoints_; }

 private:
  std::vector<const CatalogueEndpoint*> endpoints_;
  // Literal templates by method code and path: most requests need no template walk.
  std::unordered_map<std::string, const CatalogueEndpoint*> literal_;
};

}  // namespace devhost

#endif  // DEVHOST_CATALOGUE_ROUTER_H_
