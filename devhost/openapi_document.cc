#include "devhost/openapi_document.h"

#include <cctype>
#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

#include "rapidjson/prettywriter.h"
#include "rapidjson/stringbuffer.h"
#include "wire/native_type_kind.h"
#include "wire/route_pattern.h"

namespace devhost {
namespace {

using Writer = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

using enum wire::NativeTypeKind;

std::string_view Text(const char* text) { return text != nullptr ? text : ""; }

void Key(Writer& writer, std::string_view key) {
  writer.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
}
void String(Writer& writer, std::string_view text) {
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

void Schema(Writer& writer, std::uint32_t kind, std::uint32_t element_kind,
            std::string_view type_name, bool element = false);

void ScalarSchema(Writer& writer, std::uint32_t kind, std::string_view type_name) {
  writer.StartObject();
  switch (static_cast<wire::NativeTypeKind>(kind)) {
    case kBool:
      Key(writer, "type");
      String(writer, "boolean");
      break;
    case kInt8:
    case kInt16:
    case kInt32:
      Key(writer, "type");
      String(writer, "integer");
      Key(writer, "format");
      String(writer, "int32");
      break;
    case kUInt8:
    case kUInt16:
    case kUInt32:
    case kUInt64:
      Key(writer, "type");
      String(writer, "integer");
      Key(writer, "minimum");
      writer.Int(0);
      if (kind == static_cast<std::uint32_t>(kUInt64)) {
        Key(writer, "format");
        String(writer, "int64");
      }
      break;
    case kInt64:
      Key(writer, "type");
      String(writer, "integer");
      Key(writer, "format");
      String(writer, "int64");
      break;
    case kFloat:
    case kDouble:
      Key(writer, "type");
      String(writer, "number");
      break;
    case kString:
      Key(writer, "type");
      String(writer, "string");
      break;
    case kBlob:
      Key(writer, "type");
      String(writer, "string");
      Key(writer, "contentEncoding");
      String(writer, "base64");
      break;
    case kEnum:
    case kStruct:
      if (!type_name.empty()) {
        Key(writer, "$ref");
        String(writer, "#/components/schemas/" + SchemaName(type_name));
      }
      break;
    default:
      // A generic value, a callback or an unknown kind: any JSON value.
      break;
  }
  writer.EndObject();
}

void Schema(Writer& writer, std::uint32_t kind, std::uint32_t element_kind,
            std::string_view type_name, bool) {
  const auto native_kind = static_cast<wire::NativeTypeKind>(kind);
  if (native_kind == kVector || native_kind == kMap) {
    writer.StartObject();
    Key(writer, "type");
    String(writer, native_kind == kVector ? "array" : "object");
    Key(writer, native_kind == kVector ? "items" : "additionalProperties");
    ScalarSchema(writer, element_kind, type_name);
    writer.EndObject();
    return;
  }
  ScalarSchema(writer, kind, type_name);
}

const char* OperationMethod(std::uint32_t method) {
  switch (method) {
    case kHostMethodDelete:
      return "delete";
    case kHostMethodGet:
      return "get";
    case kHostMethodHead:
      return "head";
    case kHostMethodOptions:
      return "options";
    case kHostMethodPatch:
      return "patch";
    case kHostMethodPost:
      return "post";
    case kHostMethodPut:
      return "put";
    default:
      return nullptr;
  }
}

}  // namespace

std::string OpenApiPath(std::string_view path_template) {
  std::string out;
  wire::ScanTemplate(
      wire::TrimTemplate(path_template), [&out](char c) { out += c; },
      [&out](char, std::string_view name) { out.append("{").append(name).append("}"); });
  return out;
}

// One line on each route of the sign-on plug-in, for plug-ins whose catalogue carries no
// description of its own.
std::string_view KnownSummary(std::string_view method, std::string_view path) {
  struct Entry {
    std::string_view method;
    std::string_view path;
    std::string_view summary;
  };
  static constexpr Entry kSummaries[] = {
      {"get", "/ulix-auth/v1/authorization",
       "The signed-on player: platform, account id and subject (404 when nobody is signed on)"},
      {"delete", "/ulix-auth/v1/authorization",
       "Signs off: revokes the refresh token at the service and drops every token"},
      {"get", "/ulix-auth/v1/authorization/error",
       "The last sign-on error (404 when the last sign-on succeeded or none was tried)"},
      {"get", "/ulix-auth/v1/authorization/access-token",
       "The access token, its scopes and expiry (seconds since 1970)"},
      {"get", "/ulix-auth/v1/authorization/entitlements-token",
       "The entitlements token, its entitlements and expiry"},
      {"get", "/ulix-auth/v1/authorization/id-token", "The ID token and its expiry"},
      {"get", "/ulix-auth/v1/authorization/gas-token",
       "The gas token the service sent with the password sign-on, decoded"},
      {"post", "/ulix-auth/v1/authorization/gas",
       "Signs on with user name, password and platform (gas: the password sign-on)"},
      {"post", "/ulix-auth/v1/authorization/refresh",
       "Refreshes the tokens now, with the refresh token the plug-in holds"},
      {"get", "/ulix-auth/v1/config/{platformId}",
       "The configuration token the plug-in uses for a platform"},
      {"get", "/ulix-auth/v1/status/{platformId}",
       "Whether sign-on is enabled for a platform, and its fallback and user-info settings"},
      {"post", "/ulix-auth/v1/config", "Overrides the configuration with a configuration token"},
      {"put", "/ulix-auth/v1/config", "Overrides the configuration with a configuration token"},
      {"delete", "/ulix-auth/v1/config", "Drops the configuration override"},
      {"post", "/ulix-auth/v2/config", "Overrides the configuration with a public client"},
      {"delete", "/ulix-auth/v2/config", "Drops the configuration override"},
      {"post", "/ulix-auth/v1/device-id",
       "The device fingerprint session: merchant, session, install id and frame URL"},
      {"post", "/ulix-auth/v1/authorization/userinfo",
       "Fetches the player's user info from the service (GET reads it afterwards)"},
      {"get", "/ulix-auth/v1/authorization/userinfo",
       "The user info the last POST fetched (404 before that)"},
  };
  for (const Entry& entry : kSummaries) {
    if (entry.method == method && entry.path == path) return entry.summary;
  }
  return {};
}

namespace {

void ErrorResponse(Writer& writer) {
  writer.StartObject();
  Key(writer, "description");
  String(writer, "The plug-in's or the host's error");
  Key(writer, "content");
  writer.StartObject();
  Key(writer, "application/json");
  writer.StartObject();
  Key(writer, "schema");
  writer.StartObject();
  Key(writer, "$ref");
  String(writer, "#/components/schemas/HostError");
  writer.EndObject();
  writer.EndObject();
  writer.EndObject();
  writer.EndObject();
}

void Operation(Writer& writer, const CatalogueEndpoint& endpoint, std::string_view method,
               std::string_view suffix) {
  const CatalogueFunction& function = endpoint.function;
  writer.StartObject();
  Key(writer, "operationId");
  String(writer, std::string(Text(function.name)) + std::string(suffix));
  const std::string_view summary =
      !Text(function.description).empty()
          ? Text(function.description)
          : KnownSummary(method, OpenApiPath(Text(endpoint.pathTemplate)));
  if (!summary.empty()) {
    Key(writer, "summary");
    String(writer, summary);
  }
  if (!Text(function.help).empty()) {
    Key(writer, "description");
    String(writer, Text(function.help));
  }
  if (function.tagCount > 0 && function.tags != nullptr) {
    Key(writer, "tags");
    writer.StartArray();
    for (std::uint32_t i = 0; i < function.tagCount; ++i) String(writer, Text(function.tags[i]));
    writer.EndArray();
  }

  const CatalogueArgument* body = nullptr;
  bool any_parameter = false;
  const std::uint32_t count = function.argumentCount;
  for (std::uint32_t i = 0; i < count && function.arguments != nullptr; ++i) {
    const CatalogueArgument& argument = function.arguments[i];
    const std::uint32_t location =
        endpoint.argumentLocations != nullptr ? endpoint.argumentLocations[i].location : 0;
    if (location == 5) {
      body = &argument;
      continue;
    }
    if (!any_parameter) {
      Key(writer, "parameters");
      writer.StartArray();
      any_parameter = true;
    }
    writer.StartObject();
    Key(writer, "name");
    String(writer, Text(argument.name));
    Key(writer, "in");
    String(writer, location == 2 ? "path" : location == 4 ? "header" : "query");
    Key(writer, "required");
    writer.Bool(location == 2 || argument.optional == 0);
    if (!Text(argument.description).empty()) {
      Key(writer, "description");
      String(writer, Text(argument.description));
    }
    Key(writer, "schema");
    Schema(writer, argument.kind, argument.elementKind, Text(argument.typeName));
    writer.EndObject();
  }
  if (any_parameter) writer.EndArray();

  if (body != nullptr && method != "get" && method != "head") {
    Key(writer, "requestBody");
    writer.StartObject();
    Key(writer, "required");
    writer.Bool(body->optional == 0);
    Key(writer, "content");
    writer.StartObject();
    for (const char* type : {"application/json", "application/x-yaml", "application/x-msgpack"}) {
      Key(writer, type);
      writer.StartObject();
      Key(writer, "schema");
      Schema(writer, body->kind, body->elementKind, Text(body->typeName));
      writer.EndObject();
    }
    writer.EndObject();
    writer.EndObject();
  }

  Key(writer, "responses");
  writer.StartObject();
  if (function.returnKind == static_cast<std::uint32_t>(kNone)) {
    Key(writer, "204");
    writer.StartObject();
    Key(writer, "description");
    String(writer, "Done");
    writer.EndObject();
  } else {
    Key(writer, "200");
    writer.StartObject();
    Key(writer, "description");
    String(writer, "The result");
    Key(writer, "content");
    writer.StartObject();
    Key(writer, "application/json");
    writer.StartObject();
    Key(writer, "schema");
    Schema(writer, function.returnKind, function.returnElementKind, Text(function.returnTypeName));
    writer.EndObject();
    writer.EndObject();
    writer.EndObject();
  }
  Key(writer, "default");
  ErrorResponse(writer);
  writer.EndObject();
  writer.EndObject();
}

void TypeSchema(Writer& writer, const CatalogueType& type) {
  writer.StartObject();
  if (!Text(type.description).empty()) {
    Key(writer, "description");
    String(writer, Text(type.description));
  }
  if (type.fields != nullptr) {
    Key(writer, "type");
    String(writer, "object");
    Key(writer, "properties");
    writer.StartObject();
    for (std::uint32_t i = 0; i < type.memberCount; ++i) {
      const CatalogueField& field = type.fields[i];
      Key(writer, Text(field.name));
      Schema(writer, field.kind, field.elementKind, Text(field.typeName));
    }
    writer.EndObject();
  } else if (type.memberCount > 0 && type.enumerators != nullptr) {
    // Enumerators travel by name; their numbers are kept for the curious.
    Key(writer, "type");
    String(writer, "string");
    Key(writer, "enum");
    writer.StartArray();
    for (std::uint32_t i = 0; i < type.memberCount; ++i) {
      String(writer, Text(type.enumerators[i].name));
    }
    writer.EndArray();
    Key(writer, "x-enum-values");
    writer.StartObject();
    for (std::uint32_t i = 0; i < type.memberCount; ++i) {
      Key(writer, Text(type.enumerators[i].name));
      writer.Int(type.enumerators[i].value);
    }
    writer.EndObject();
  } else {
    Key(writer, "type");
    String(writer, "object");
  }
  writer.EndObject();
}

}  // namespace

std::string SchemaName(std::string_view type_name) {
  std::string out;
  for (char c : type_name) {
    const bool allowed =
        std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
    out += allowed ? c : '_';
  }
  return out.empty() ? "_" : out;
}

std::string BuildOpenApiDocument(const TypeCatalogue& catalogue, std::string_view title,
                                 std::string_view version, std::string_view server_url) {
  // Endpoints grouped by path, in the catalogue's order within each path.
  std::map<std::string, std::vector<const CatalogueEndpoint*>> paths;
  const auto* endpoint = static_cast<const CatalogueEndpoint*>(catalogue.functions);
  for (std::uint32_t i = 0; i < catalogue.functionCount && endpoint != nullptr; ++i) {
    paths[OpenApiPath(Text(endpoint->pathTemplate))].push_back(endpoint);
    endpoint = static_cast<const CatalogueEndpoint*>(endpoint->function.next);
  }

  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  writer.SetIndent(' ', 2);
  writer.StartObject();
  Key(writer, "openapi");
  String(writer, "3.1.0");
  Key(writer, "info");
  writer.StartObject();
  Key(writer, "title");
  String(writer, title);
  Key(writer, "version");
  String(writer, version);
  writer.EndObject();
  Key(writer, "servers");
  writer.StartArray();
  writer.StartObject();
  Key(writer, "url");
  String(writer, server_url);
  writer.EndObject();
  writer.EndArray();
  Key(writer, "security");
  writer.StartArray();
  writer.StartObject();
  Key(writer, "secret");
  writer.StartArray();
  writer.EndArray();
  writer.EndObject();
  writer.EndArray();

  Key(writer, "paths");
  writer.StartObject();
  for (const auto& [path, endpoints] : paths) {
    Key(writer, path);
    writer.StartObject();
    std::map<std::string, bool> written;
    for (const CatalogueEndpoint* item : endpoints) {
      const std::uint32_t method = item->method;
      if (method == kHostMethodAny) {
        // Any method: one operation per common method, told apart by a suffix.
        for (const char* name : {"get", "post", "put", "delete"}) {
          if (written[name]) continue;
          written[name] = true;
          Key(writer, name);
          Operation(writer, *item, name, std::string("_") + name);
        }
        continue;
      }
      const char* name = OperationMethod(method);
      if (name == nullptr || written[name]) continue;  // custom methods have no OpenAPI form
      written[name] = true;
      Key(writer, name);
      Operation(writer, *item, name, "");
    }
    writer.EndObject();
  }
  // The host's own read routes besides /events.
  for (const auto& [route, id, summary] :
       {std::tuple<const char*, const char*, const char*>{
            "/exchanges", "HostExchanges",
            "The plug-in's outgoing HTTP exchanges, newest last, with secrets masked; each "
            "also arrives on /events as a DevhostExchange event"},
        {"/ready", "HostReady",
         "Whether the start-up work is done (?wait=SECONDS waits, at most 60), whether a "
         "player is signed on, and the last sign-on error"},
        {"/memory", "HostMemory", "The plug-in's memory statistics beside the process heap"}}) {
    Key(writer, route);
    writer.StartObject();
    Key(writer, "get");
    writer.StartObject();
    Key(writer, "operationId");
    String(writer, id);
    Key(writer, "summary");
    String(writer, summary);
    Key(writer, "responses");
    writer.StartObject();
    Key(writer, "200");
    writer.StartObject();
    Key(writer, "description");
    String(writer, "JSON");
    writer.EndObject();
    writer.EndObject();
    writer.EndObject();
    writer.EndObject();
  }
  Key(writer, "/events");
  writer.StartObject();
  Key(writer, "get");
  writer.StartObject();
  Key(writer, "operationId");
  String(writer, "HostEvents");
  Key(writer, "summary");
  String(writer,
         "Every event the plug-in publishes, as Server-Sent Events (name, then JSON data); "
         "?replay=1 first sends the last events published before the request");
  Key(writer, "responses");
  writer.StartObject();
  Key(writer, "200");
  writer.StartObject();
  Key(writer, "description");
  String(writer, "An endless event stream");
  Key(writer, "content");
  writer.StartObject();
  Key(writer, "text/event-stream");
  writer.StartObject();
  writer.EndObject();
  writer.EndObject();
  writer.EndObject();
  writer.EndObject();
  writer.EndObject();
  writer.EndObject();
  writer.EndObject();

  Key(writer, "components");
  writer.StartObject();
  Key(writer, "securitySchemes");
  writer.StartObject();
  Key(writer, "secret");
  writer.StartObject();
  Key(writer, "type");
  String(writer, "http");
  Key(writer, "scheme");
  String(writer, "bearer");
  writer.EndObject();
  writer.EndObject();
  Key(writer, "schemas");
  writer.StartObject();
  Key(writer, "HostError");
  writer.StartObject();
  Key(writer, "type");
  String(writer, "object");
  Key(writer, "properties");
  writer.StartObject();
  Key(writer, "httpStatus");
  writer.StartObject();
  Key(writer, "type");
  String(writer, "integer");
  writer.EndObject();
  Key(writer, "message");
  writer.StartObject();
  Key(writer, "type");
  String(writer, "string");
  writer.EndObject();
  writer.EndObject();
  writer.EndObject();
  const auto* type = static_cast<const CatalogueType*>(catalogue.types);
  for (std::uint32_t i = 0; i < catalogue.typeCount && type != nullptr; ++i) {
    Key(writer, SchemaName(Text(type->name)));
    TypeSchema(writer, *type);
    type = type->next;
  }
  writer.EndObject();
  writer.EndObject();
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace devhost
