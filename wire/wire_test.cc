// Known answers of the wire helpers: what the laws of wire_properties_test.cc cannot pin (the
// alphabets, what no encoder writes, the pattern text the compiled matcher is held to) and the
// choice of an endpoint.
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "gtest/gtest.h"
#include "wire/base64.h"
#include "wire/endpoint_chooser.h"
#include "wire/resource_event_name.h"
#include "wire/route_pattern.h"
#include "wire/url_decode.h"

namespace wire {
namespace {

// Each helper renders its answer as one text.
const std::map<std::string_view, std::function<std::string(std::string_view)>> kHelpers = {
    {"base64", [](std::string_view in) { return Base64Encode(in) + " " + Base64UrlEncode(in); }},
    {"unbase64", [](std::string_view in) { return Base64UrlDecode(in); }},
    // Malformed escapes read the same in a query and in a path.
    {"decode",
     [](std::string_view in) { return PercentDecode(in, true) + PercentDecode(in, false); }},
    {"event", [](std::string_view in) { return ResourceEventName(in); }},
    {"trim", [](std::string_view in) { return std::string(TrimTemplate(in)); }},
};

TEST(Wire, KnownAnswers) {
  using std::string_view_literals::operator""sv;
  // Each helper with its cases, "<input> -> <answer>".
  const std::pair<std::string_view, std::vector<std::string_view>> rows[] = {
      {"base64", {"foob -> Zm9vYg== Zm9vYg", "\xFB\xFF\xBF -> +/+/ -_-_", "\0\xFF -> AP8= AP8"sv}},
      // One spare character gives no byte; padding or a foreign character ends the bytes.
      {"unbase64",
       {"Zm9vY -> foo", "Zm8=Zm9v -> fo", "Zm9v!Zm9v -> foo", "Zm9vYm.Fy -> foob", "Zm\x80v -> f",
        "* -> "}},
      // A percent sign without two hexadecimal digits after it stays.
      {"decode", {"%zz %41% %%41 %4 -> %zz A% %A %4%zz A% %A %4", "100% -> 100%100%"}},
      // Four pieces, or six under the platform configuration.
      {"event",
       {"/plugin-manager/v1/status -> OnJsonApiEvent_plugin-manager_v1_status",
        "/ulix-auth/v1/authorization/access-token -> OnJsonApiEvent_ulix-auth_v1_authorization",
        "//a//b/ -> OnJsonApiEvent_a_b", "a/b -> OnJsonApiEvent_a_b", " -> OnJsonApiEvent",
        "/kiv-platform-config/v1/a/b/c/d -> OnJsonApiEvent_kiv-platform-config_v1_a_b_c",
        "/x/kiv-platform-config/a/b -> OnJsonApiEvent_x_kiv-platform-config_a"}},
      // One trailing "/" goes from templates longer than it.
      {"trim", {"/a/b/ -> /a/b", "/a/b// -> /a/b/", "/ -> /", " -> "}},
  };
  for (const auto& [helper, cases] : rows) {
    for (const std::string_view text : cases) {
      const std::size_t arrow = text.find(" -> ");
      EXPECT_EQ(kHelpers.at(helper)(text.substr(0, arrow)), text.substr(arrow + 4)) << text;
    }
  }
  std::vector<std::string> names;
  EXPECT_EQ(TemplateToPattern("/a.b/{id}/c+d/{+rest}", &names), "/a\\.b/([^/]*)/c\\+d/(.*)");
  EXPECT_EQ(TemplateToPattern("^$*?()[]|\\-/{#frag}", &names),
            "\\^\\$\\*\\?\\(\\)\\[\\]\\|\\\\-/#(.*)");
  EXPECT_EQ(names, (std::vector<std::string>{"id", "rest", "frag"}));
}

TEST(EndpointChooser, ChoosesByMethodThenTheTemplateThatFixesTheMostBytes) {
  const std::tuple<const char*, std::uint32_t, const char*, const char*> entries[] = {
      {"GetItemById", kHostMethodGet, "/items/{id}", nullptr},
      {"GetNewItem", kHostMethodGet, "/items/new/", nullptr},
      {"GetItemJson", kHostMethodGet, "/items/{id}.json", nullptr},
      {"PostItem", kHostMethodPost, "/items", nullptr},
      {"AnyRest", kHostMethodAny, "/raw/{+rest}", nullptr},
      {"Brew", kHostMethodCustom, "/pot", "BREW"},
      {"NoTemplate", kHostMethodGet, nullptr, nullptr},
      // Ties: as many fixed bytes, or the same literal template twice.
      {"TieFirst", kHostMethodGet, "/t/a/{y}", nullptr},
      {"TieSecond", kHostMethodGet, "/t/{x}/b", nullptr},
      {"SameFirst", kHostMethodGet, "/same", nullptr},
      {"SameSecond", kHostMethodGet, "/same", nullptr},
  };
  // Chained the way the plug-in hands them over.
  std::vector<CatalogueEndpoint> records(std::size(entries));
  for (std::size_t i = 0; i < records.size(); ++i) {
    CatalogueEndpoint& record = records[i];
    std::tie(record.function.name, record.method, record.pathTemplate, record.customMethod) =
        entries[i];
    if (i > 0) records[i - 1].function.next = &record;
  }
  const auto count = static_cast<std::uint32_t>(records.size());
  const TypeCatalogue catalogue{records.data(), count, nullptr, 0, nullptr, 0};
  const EndpointChooser chooser(catalogue);

  // "<method> <path>"; a method not named here is a custom one. "/items/new" loses its "/" and
  // the literal wins; "/t/a/b" goes to the first registered among equals.
  const std::map<std::string_view, std::uint32_t> methods = {
      {"GET", kHostMethodGet}, {"POST", kHostMethodPost}, {"DELETE", kHostMethodDelete}};
  std::string chosen;
  for (const std::string_view request :
       {"GET /items/7", "GET /items/new", "GET /items/7.json?x=1", "GET /items/7/x", "POST /items",
        "GET /items", "DELETE /raw/a/b", "BREW /pot", "STIR /pot", "GET /t/a/b", "GET /same"}) {
    const std::string_view verb = request.substr(0, request.find(' '));
    const auto method = methods.find(verb);
    const CatalogueEndpoint* endpoint =
        chooser.Choose(method != methods.end() ? method->second : std::uint32_t{kHostMethodCustom},
                       request.substr(verb.size() + 1), verb);
    chosen += std::string(endpoint != nullptr ? endpoint->function.name : "-") + " ";
  }
  EXPECT_EQ(chosen,
            "GetItemById GetNewItem GetItemJson - PostItem - AnyRest Brew - TieFirst SameFirst ");
  EXPECT_TRUE(chooser.KnowsPath("/items") && !chooser.KnowsPath("/nothing"));
  EXPECT_EQ(chooser.Find("Brew"), &records[5]);
  EXPECT_EQ(chooser.Find("Missing"), nullptr);
}

}  // namespace
}  // namespace wire
