#include "devhost/test_catalogue.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "devhost/host_value_json.h"

namespace devhost_test {
namespace {

std::atomic<int> outstanding{0};

struct Echo {
  std::string error;
  devhost::OwnedHostValue value;
  std::string stream;
  std::size_t offset = 0;
};

void Release(HostResponse* response) {
  delete static_cast<Echo*>(response->streamContext);
  response->streamContext = nullptr;
  --outstanding;
}

std::uint8_t Read(void* context, char* buffer, std::uint32_t* length, std::uint8_t* more) {
  auto* echo = static_cast<Echo*>(context);
  // Seven bytes at a time, so the host has to come back for more.
  const std::size_t count = std::min<std::size_t>(
      {std::size_t{*length}, std::size_t{7}, echo->stream.size() - echo->offset});
  std::memcpy(buffer, echo->stream.data() + echo->offset, count);
  echo->offset += count;
  *length = static_cast<std::uint32_t>(count);
  *more = echo->offset < echo->stream.size() ? 1 : 0;
  return 1;
}

std::string Quote(std::string_view text) {
  return devhost::HostValueToJson(
      {.kind = kHostValueText,
       .payload = {.text = {text.data(), static_cast<std::uint32_t>(text.size())}}});
}

void Dispatch(HostResponse* response, const HostRequest* request) {
  std::memset(response, 0, sizeof *response);
  auto* echo = new Echo();
  ++outstanding;
  response->streamContext = echo;
  response->release = &Release;
  const auto* endpoint = static_cast<const CatalogueEndpoint*>(request->function);
  const std::string path_template = endpoint->pathTemplate;
  if (path_template == "/fail" || path_template == "/broken") {
    const bool fail = path_template == "/fail";  // "/broken" fails as arguments do: no status
    echo->error = fail ? "Item not found." : "Unsupported body content type";
    response->errorText = echo->error.c_str();
    response->errorFlag = 1;
    response->status = fail ? 404 : 0;
    return;
  }
  if (endpoint->method == kHostMethodDelete) return;
  if (path_template == "/raw/{+rest}") {
    echo->stream = "chunk-1chunk-2";
    response->read = &Read;
    response->close = [](void*) {};
    response->streamSize = echo->stream.size();
    return;
  }
  std::string query = "{";
  for (std::uint32_t i = 0; i < request->namedValueCount; ++i) {
    HostNamedValue named;
    std::memcpy(&named, &request->namedValues[i], sizeof named);
    if (i != 0) query += ",";
    query += Quote(named.name ? named.name : "") + ":" + devhost::HostValueToJson(named.value);
  }
  query += "}";
  // The probe: the value of X-Probe, and of an Authorization header should one ever reach the
  // plug-in (the host keeps its secret to itself).
  std::string header;
  for (std::uint32_t i = 0; i < request->headerCount; ++i) {
    const std::string_view name = request->headers[i].name;
    if (name == "x-probe" || name == "authorization") header += request->headers[i].value;
  }
  const std::string body =
      request->body ? std::string(static_cast<const char*>(request->body), request->bodyLength)
                    : "";
  const std::string json = "{\"method\":" + std::to_string(request->method) +
                           ",\"path\":" + Quote(request->path) + ",\"query\":" + query +
                           ",\"body\":" + Quote(body) +
                           ",\"type\":" + Quote(request->contentType ? request->contentType : "") +
                           ",\"probe\":" + Quote(header) + "}";
  std::string error;
  echo->value = *devhost::OwnedHostValue::ParseJson(json, error);
  response->value = echo->value.record();
  response->format = kHostFormatJson;
  response->status = 200;
}

const char* const kTags[] = {"Plugins", "Plugin echo"};

// Marked optional, as a path argument may be: its path segment is required all the same.
CatalogueArgument kIdArgument[] = {{nullptr, "id", "Item id", 12, 0, "", 1}};
CatalogueArgument kItemArgument[] = {{nullptr, "item", "The new item", 17, 0, "EchoItem", 0}};
CatalogueArgumentLocation kPathLocation[] = {{nullptr, 2}};
CatalogueArgumentLocation kBodyLocation[] = {{nullptr, 5}};

CatalogueField kItemFields[] = {
    {nullptr, "name", "", 0, 12, 0, "", 0},
    {nullptr, "count", "", 8, 9, 0, "", 0},
    {nullptr, "colour", "", 16, 16, 0, "EchoColour", 0},
    {nullptr, "labels", "", 20, 15, 12, "", 0},
};
CatalogueEnumerator kColours[] = {{nullptr, "Blue", "", 1}, {nullptr, "Red", "", 0}};

struct Built {
  CatalogueEndpoint endpoints[7];
  CatalogueType types[2];
  TypeCatalogue catalogue;

  Built() {
    const struct {
      const char* name;
      std::uint32_t method;
      const char* path;
      const CatalogueArgument* argument;
      const CatalogueArgumentLocation* location;
      std::uint32_t return_kind;
      const char* return_type;
    } rows[] = {
        {"GetItems", kHostMethodGet, "/items", nullptr, nullptr, 13, ""},
        {"GetItemsById", kHostMethodGet, "/items/{id}", kIdArgument, kPathLocation, 17, "EchoItem"},
        {"PostItems", kHostMethodPost, "/items", kItemArgument, kBodyLocation, 13, ""},
        {"DeleteItemsById", kHostMethodDelete, "/items/{id}", kIdArgument, kPathLocation, 0, ""},
        {"GetFail", kHostMethodGet, "/fail", nullptr, nullptr, 13, ""},
        {"GetRawByRest", kHostMethodGet, "/raw/{+rest}", nullptr, nullptr, 13, ""},
        {"GetBroken", kHostMethodGet, "/broken", nullptr, nullptr, 13, ""},
    };
    for (int i = 0; i < 7; ++i) {
      const auto& row = rows[i];
      const CatalogueFunction function = {i + 1 < 7 ? &endpoints[i + 1] : nullptr,
                                          nullptr,
                                          nullptr,
                                          row.name,
                                          "echo",
                                          row.argument,
                                          row.argument != nullptr ? 1u : 0u,
                                          row.return_kind,
                                          0,
                                          row.return_type,
                                          "",
                                          "",
                                          0,
                                          "",
                                          kTags,
                                          2};
      endpoints[i] = {function, &Dispatch, row.location, row.path, row.method, 0, nullptr, 0, ""};
    }
    types[0] = CatalogueType{&types[1], "EchoColour", "echo",   4, "A colour", kTags,
                             2,         nullptr,      kColours, 2};
    types[1] = CatalogueType{nullptr, "EchoItem", "echo",      48,      "An item",
                             kTags,   2,          kItemFields, nullptr, 4};
    catalogue = TypeCatalogue{endpoints, 7, types, 2, nullptr, 0};
  }
};

}  // namespace

const TypeCatalogue& EchoCatalogue() {
  static Built built;
  return built.catalogue;
}

int OutstandingEchoResponses() { return outstanding.load(); }

}  // namespace devhost_test
