// An OpenAPI 3.1 description of the plug-in's API, generated from the type catalogue alone, so
// that any OpenAPI tool can explore what the loaded plug-in serves.
#ifndef DEVHOST_OPENAPI_DOCUMENT_H_
#define DEVHOST_OPENAPI_DOCUMENT_H_

#include <string>
#include <string_view>

#include "plugin_host_interface.h"

namespace devhost {

// Paths from the endpoint records (methods, path, query and header parameters, request bodies,
// responses), component schemas from the type records, and the host's own /events route.
// `server_url` goes into "servers"; `title` and `version` (the plug-in's) into "info".
// Pretty-printed JSON.
std::string BuildOpenApiDocument(const TypeCatalogue& catalogue, std::string_view title,
                                 std::string_view version, std::string_view server_url);

// The OpenAPI path of an endpoint's template: one trailing "/" dropped as the router does, and
// "{+rest}" and "{#frag}" written as plain parameters, the only kind OpenAPI knows.
std::string OpenApiPath(std::string_view path_template);
// A component name OpenAPI accepts ([A-Za-z0-9._-]); other characters become "_".
std::string SchemaName(std::string_view type_name);

}  // namespace devhost

#endif  // DEVHOST_OPENAPI_DOCUMENT_H_
