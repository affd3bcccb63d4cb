#include "plugin_runtime/endpoint_registry.h"

#include <cctype>

#include "binding/binding_builtins.h"
#include "logging/logger.h"
#include "plugin_runtime/plugin_names.h"
#include "plugin_runtime/request_dispatch.h"
#include "plugin_runtime/resource_paths.h"

namespace plugin_runtime {

using binding::NativeTypeKind;

namespace {

bool IsRecordOrList(NativeTypeKind kind) {
  return kind == NativeTypeKind::kStruct || kind == NativeTypeKind::kVector ||
         kind == NativeTypeKind::kMap;
}

bool IsBoolOrNumber(NativeTypeKind kind) {
  return kind == NativeTypeKind::kEnum ||
         (kind >= NativeTypeKind::kBool && kind <= NativeTypeKind::kDouble);
}

void LogProblem(const std::string& problem) {
  logging::Log(logging::kError, logging::kGroupDbg, "EndpointRegistry: %s", problem.c_str());
}

}  // namespace

EndpointBuilder& EndpointBuilder::Declare(std::string_view name, std::string_view description,
                                          bool optional, std::uint32_t location) {
  // A function registered before keeps the arguments it was declared with.
  if (function_existed_) return *this;
  const std::size_t index = next_argument_++;
  const std::string& function = route_->function->name;
  // A slip in a declaration would otherwise only show as a request that never fills a parameter
  // or fills the wrong one; it is caught here, while the plug-in loads.
  auto report = [&](std::string problem) {
    LogProblem(problem);
    problems_->push_back(std::move(problem));
  };
  for (const binding::BindingArgumentDescriptor& earlier : route_->function->arguments) {
    if (earlier.name == name) {
      report(function + " declares argument '" + std::string(name) + "' twice");
    }
  }
  if (index >= types_.size()) {
    report(function + " declares argument '" + std::string(name) + "' at position " +
           std::to_string(index) + " but its handler takes " + std::to_string(types_.size()) +
           " parameters");
  } else if (location == kLocationPath && IsRecordOrList(types_[index].kind)) {
    report(function + " declares path argument '" + std::string(name) + "' at position " +
           std::to_string(index) + " where its handler takes a record or list");
  } else if (location == kLocationBody && IsBoolOrNumber(types_[index].kind)) {
    report(function + " declares body argument '" + std::string(name) + "' at position " +
           std::to_string(index) + " where its handler takes a bool, number or enumeration");
  }
  binding::BindingTypeIdentifier type =
      index < types_.size() ? types_[index] : binding::BindingTypeIdentifier{};
  binding::BindingArgumentDescriptor& argument =
      route_->function->addArgument(name, description, type, optional);
  argument.location = location;
  return *this;
}

EndpointBuilder& EndpointBuilder::Description(std::string_view text) {
  if (!function_existed_) route_->function->description = std::string(text);
  return *this;
}

EndpointBuilder& EndpointBuilder::Help(std::string_view text) {
  if (!function_existed_) route_->function->help = std::string(text);
  return *this;
}

EndpointBuilder& EndpointBuilder::ThreadSafe(bool thread_safe) {
  if (!function_existed_) route_->function->threadSafe = thread_safe ? 1 : 0;
  return *this;
}

EndpointBuilder& EndpointBuilder::CustomMethod(std::string_view name) {
  route_->custom_method = std::string(name);
  return *this;
}

EndpointBuilder EndpointRegistry::Add(std::uint32_t method, std::string_view path_template,
                                      const std::vector<std::string>& tags,
                                      std::unique_ptr<EndpointInvoker> invoker) {
  auto route = std::make_unique<EndpointRoute>();
  route->path_template = std::string(wire::TrimTemplate(path_template));
  // Compiled once: the template never changes after load, and every request reuses it.
  route->pattern = wire::RoutePattern::Compile(route->path_template);
  route->method = method;
  route->registry = &registry_;
  const std::string name = IdentifierName(route->path_template, HostMethodName(method));
  std::vector<binding::BindingTypeIdentifier> types = invoker->ArgumentTypes(registry_);
  bool existed = false;
  route->function = registry_.registerFunction(name, types.size(), &existed);
  if (!existed) {
    route->function->tags = tags;
    route->function->returnType = invoker->ReturnType(registry_);
    const binding::BindingTypeDescriptor* result = route->function->returnType.descriptor;
    route->function->async = binding::IsAsyncType(result) ? 1 : 0;
    route->declares_function = true;
  }
  route->invoker = std::move(invoker);
  routes_.push_back(std::move(route));
  return EndpointBuilder(routes_.back().get(), std::move(types), existed, &problems_);
}

void EndpointRegistry::Report(std::string problem) {
  LogProblem(problem);
  problems_.push_back(std::move(problem));
}

void EndpointRegistry::Finish(binding::TypeCatalogueHolder& catalogue) {
  const std::size_t count = routes_.size();
  // Too few declarations show only now, once every builder has been used.
  for (const auto& route : routes_) {
    if (!route->declares_function) continue;  // declared by an earlier route
    const std::size_t declared = route->function->arguments.size();
    const std::size_t parameters = route->invoker->ArgumentTypes(registry_).size();
    for (std::size_t i = declared; i < parameters; ++i) {
      Report(route->function->name + " declares no argument for handler parameter " +
             std::to_string(i) + " (of " + std::to_string(parameters) + ")");
    }
  }
  endpoints_ = std::make_unique<CatalogueEndpoint[]>(count);
  locations_.clear();
  for (std::size_t i = 0; i < count; ++i) {
    EndpointRoute& route = *routes_[i];
    const auto& arguments = route.function->arguments;
    route.lower_case_names.clear();
    route.body_argument = static_cast<std::size_t>(-1);
    for (std::size_t a = 0; a < arguments.size(); ++a) {
      std::string lower = arguments[a].name;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      route.lower_case_names.push_back(std::move(lower));
      if (arguments[a].location == kLocationBody && route.body_argument == std::size_t(-1)) {
        route.body_argument = a;
      }
    }

    CatalogueEndpoint& endpoint = endpoints_[i];
    endpoint = CatalogueEndpoint{};
    if (const CatalogueFunction* record = catalogue.FindFunction(route.function->name)) {
      endpoint.function = *record;
    }
    endpoint.function.next = i + 1 < count ? &endpoints_[i + 1] : nullptr;
    endpoint.function.routeData = &route;
    endpoint.dispatch = &DispatchRequest;
    if (!arguments.empty()) {
      auto locations = std::make_unique<CatalogueArgumentLocation[]>(arguments.size());
      for (std::size_t a = 0; a < arguments.size(); ++a) {
        locations[a].next = a + 1 < arguments.size() ? &locations[a + 1] : nullptr;
        locations[a].location = arguments[a].location;
      }
      endpoint.argumentLocations = locations.get();
      locations_.push_back(std::move(locations));
    }
    endpoint.pathTemplate = route.path_template.c_str();
    endpoint.method = route.method <= kHostMethodCustom ? route.method : 0;
    endpoint.textLists = nullptr;
    endpoint.textListCount = 0;
    endpoint.customMethod = route.custom_method.c_str();
  }
  catalogue.ReplaceFunctionArray(count > 0 ? endpoints_.get() : nullptr,
                                 static_cast<std::uint32_t>(count));
}

}  // namespace plugin_runtime
