// The host's side of incoming requests: choosing, among the endpoint records of a catalogue,
// the one that serves a method and path. Header-only, reading the C records alone.
#ifndef WIRE_ENDPOINT_CHOOSER_H_
#define WIRE_ENDPOINT_CHOOSER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "plugin_host_interface.h"
#include "wire/route_pattern.h"

namespace wire {

// Reads the endpoint records of a catalogue, which must outlive the chooser, and compiles their
// templates once. Immutable after construction, so any thread may choose.
class EndpointChooser {
 public:
  explicit EndpointChooser(const TypeCatalogue& catalogue) {
    const auto* endpoint = static_cast<const CatalogueEndpoint*>(catalogue.functions);
    for (std::uint32_t i = 0; i < catalogue.functionCount && endpoint != nullptr; ++i) {
      const char* own = endpoint->pathTemplate;
      const std::string_view path = TrimTemplate(own != nullptr ? own : "");
      endpoints_.push_back(endpoint);
      patterns_.push_back(own != nullptr ? RoutePattern::Compile(path) : RoutePattern());
      const std::uint32_t method = endpoint->method;
      if (!path.empty() && path.find('{') == std::string_view::npos && method != kHostMethodAny &&
          method != kHostMethodCustom) {
        literal_.emplace(LiteralKey(method, path), endpoint);
      }
      endpoint = static_cast<const CatalogueEndpoint*>(endpoint->function.next);
    }
  }

  // The endpoint whose method and template serve the request: the method must be the
  // endpoint's (any for method 0; the custom name too for method 8) and the path, query cut
  // off, must match the template (see RoutePattern). Among several, the one whose template
  // fixes the most bytes wins, the first registered among equals. nullptr when none fits.
  const CatalogueEndpoint* Choose(std::uint32_t method, std::string_view path,
                                  std::string_view custom_method = {}) const {
    path = path.substr(0, path.find('?'));
    if (auto found = literal_.find(LiteralKey(method, path)); found != literal_.end()) {
      return found->second;
    }
    const CatalogueEndpoint* best = nullptr;
    std::size_t best_literals = 0;
    for (std::size_t i = 0; i < endpoints_.size(); ++i) {
      const std::uint32_t wanted = endpoints_[i]->method;
      if (wanted != kHostMethodAny && wanted != method) continue;
      if (wanted == kHostMethodCustom) {
        const char* own = endpoints_[i]->customMethod;
        if (std::string_view(own != nullptr ? own : "") != custom_method) continue;
      }
      if (!Serves(i, path)) continue;
      if (best == nullptr || patterns_[i].LiteralLength() > best_literals) {
        best = endpoints_[i];
        best_literals = patterns_[i].LiteralLength();
      }
    }
    return best;
  }

  // Whether any endpoint's template matches `path`, whatever its method.
  bool KnowsPath(std::string_view path) const {
    for (std::size_t i = 0; i < endpoints_.size(); ++i) {
      if (Serves(i, path)) return true;
    }
    return false;
  }

  // The endpoint whose function is named `name`, or nullptr.
  const CatalogueEndpoint* Find(std::string_view name) const {
    for (const CatalogueEndpoint* endpoint : endpoints_) {
      const char* own = endpoint->function.name;
      if (own != nullptr && name == own) return endpoint;
    }
    return nullptr;
  }

  const std::vector<const CatalogueEndpoint*>& endpoints() const { return endpoints_; }

 private:
  static std::string LiteralKey(std::uint32_t method, std::string_view path) {
    return std::to_string(method) + " " + std::string(path);
  }

  bool Serves(std::size_t i, std::string_view path) const {
    std::vector<std::string_view> captures;
    return endpoints_[i]->pathTemplate != nullptr && patterns_[i].Match(path, captures);
  }

  std::vector<const CatalogueEndpoint*> endpoints_;
  std::vector<RoutePattern> patterns_;  // one per endpoint
  // Literal templates by method code and path: most requests need no template walk.
  std::unordered_map<std::string, const CatalogueEndpoint*> literal_;
};

}  // namespace wire

#endif  // WIRE_ENDPOINT_CHOOSER_H_
