// Incoming requests driven as a host drives them: the plug-in's catalogue, an endpoint chosen by
// method and path, the request record handed to the endpoint's dispatch entry.
#include "plugin_runtime/request_dispatch.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "binding/binding_builtins.h"
#include "binding/binding_struct_builder.h"
#include "binding/host_value_conversion.h"
#include "gtest/gtest-spi.h"
#include "gtest/gtest.h"
#include "plugin_runtime/plugin_base.h"
#include "testing/endpoint_checks.h"
#include "testing/endpoint_chooser.h"

namespace plugin_runtime {

struct TestFilter {
  std::vector<std::int32_t> items;
  std::string name;
};
ULIX_BINDING_TYPE(TestFilter, "TestFilter")

struct TestCredentials {
  std::string user;
  std::string password;
  std::uint32_t attempts = 0;
};
ULIX_BINDING_TYPE(TestCredentials, "TestCredentials")

namespace {

using ulix_testing::DispatchedResponse;
using ulix_testing::TestRequest;
using Vorn::RemotingError;
using Vorn::RemotingTypedResult;

// Hands the plug-in the block of a host of major version 18.
HostInitBlock Handshake(PluginBase& plugin, const char* name) {
  HostInitBlock block{};
  block.major = 18;
  plugin.handshake(&block, name);
  return block;
}

// Renders what the handler received so a test can compare one text.
std::string Show(const TestFilter& filter) {
  std::string out = filter.name + "[";
  for (std::int32_t item : filter.items) out += std::to_string(item) + ",";
  return out + "]";
}

class RoutingPlugin : public PluginBase {
 public:
  void registerEndpoints() override {
    binding::BindingTypeRegistry& registry = typeRegistry();
    binding::BindingStructBuilder<TestFilter>(registry)
        .AddField(&TestFilter::items, "items")
        .AddField(&TestFilter::name, "name");
    binding::BindingStructBuilder<TestCredentials>(registry)
        .AddField(&TestCredentials::user, "user")
        .AddField(&TestCredentials::password, "password")
        .AddField(&TestCredentials::attempts, "attempts");

    registerEndpoint(
        kHostMethodGet, "/ulix-auth/v1/config/{platformId}",
        [this](CallState& call, std::string platform) -> RemotingTypedResult<std::string> {
          last_caller = call.caller_context();
          return platform;
        })
        .PathArgument("platformId", "Platform");
    registerEndpoint(kHostMethodGet, "/a/b/", [](CallState&) -> RemotingTypedResult<std::string> {
      return std::string("ab");
    });
    registerEndpoint(
        kHostMethodGet, "/x/{+rest}",
        [](CallState&, std::string rest) -> RemotingTypedResult<std::string> { return rest; })
        .PathArgument("rest", "Rest of the path");
    // A query reaches only templates with parameters: a literal path must equal the whole text.
    registerEndpoint(kHostMethodGet, "/search/{scope}",
                     [](CallState&, binding::BindingValue, TestFilter filter, bool verbose,
                        std::int32_t count) -> RemotingTypedResult<std::string> {
                       return Show(filter) + (verbose ? " verbose " : " quiet ") +
                              std::to_string(count);
                     })
        .PathArgument("scope", "Where to look")
        .Argument("filter", "What to look for", true)
        .Argument("verbose", "More detail", true)
        .Argument("count", "How many", true);
    registerEndpoint(kHostMethodPut, "/items/{id}",
                     [this](CallState&, std::string id, std::string tag,
                            std::string note) -> RemotingTypedResult<std::string> {
                       ++item_calls;
                       return id + "|" + tag + "|" + note;
                     })
        .PathArgument("id", "Item")
        .Argument("tag", "Any source")
        .Argument("note", "Any source", true);
    registerEndpoint(
        kHostMethodPost, "/login",
        [](CallState&, TestCredentials credentials) -> RemotingTypedResult<std::string> {
          return credentials.user + ":" + credentials.password + ":" +
                 std::to_string(credentials.attempts);
        })
        .BodyArgument("credentials", "Who signs on");
    registerEndpoint(kHostMethodDelete, "/answer/{mode}",
                     [](CallState& call, std::int32_t mode) -> RemotingTypedResult<std::int32_t> {
                       if (mode == 1) throw std::runtime_error("handler fault");
                       if (mode == 2) return RemotingError{409, "Refresh is stale."};
                       call.SetStatus(201);
                       call.SetText("Created");
                       call.SetFlag(1);
                       call.SetFormat(kHostFormatYaml);
                       call.AddHeader("X-Trace", "t1");
                       if (mode == 3) return RemotingError{503, "Try later."};
                       return 42;
                     })
        .PathArgument("mode", "What to answer");
    registerEndpoint(kHostMethodPost, "/switch",
                     [](CallState&, bool force, std::int32_t level,
                        TestFilter filter) -> RemotingTypedResult<std::string> {
                       return std::string(force ? "force " : "gentle ") + std::to_string(level) +
                              " " + Show(filter);
                     })
        .Argument("force", "Never missing: starts as false")
        .Argument("level", "Required")
        .Argument("filter", "Required record");
    registerEndpoint(
        kHostMethodCustom, "/pot",
        [](CallState&) -> RemotingTypedResult<std::string> { return std::string("brewed"); })
        .CustomMethod("BREW")
        .ThreadSafe();
    registerEndpoint(kHostMethodPost, "/brew/{pot}",
                     [this](CallState& call,
                            std::string) -> RemotingTypedResult<binding::BindingAsyncCancelEvent> {
                       if (call.async_request() != nullptr) async_request = *call.async_request();
                       call.SetStream(ResponseStream{&ReadNothing, &CloseNothing, this, 12});
                       return binding::BindingAsyncCancelEvent{7};
                     })
        .PathArgument("pot", "Which pot");
  }

  static std::uint8_t ReadNothing(void*, char*, std::uint32_t* length, std::uint8_t* more) {
    *length = 0;
    *more = 0;
    return 1;
  }
  static void CloseNothing(void*) {}

  std::optional<AsyncRequestRecord> async_request;

  std::uint32_t last_caller = 0;
  int item_calls = 0;
};

class RequestDispatch : public ::testing::Test {
 protected:
  // A request as one text: "<method> <path>", then " | <name>: <value>" per header, where the
  // names Content-Type and Body give the content type and the body. A method not named here
  // is a custom one. "@<function> " first sends it to that endpoint whatever the host would
  // choose.
  std::string Answer(std::string_view text, std::vector<HostNamedValue> named_values = {}) {
    const CatalogueEndpoint* endpoint = nullptr;
    if (text.starts_with('@')) {
      endpoint = chooser_.Find(text.substr(1, text.find(' ') - 1));
      text.remove_prefix(text.find(' ') + 1);
    }
    TestRequest request;
    std::size_t bar = text.find(" | ");
    const std::string_view line = text.substr(0, bar);
    const std::string_view verb = line.substr(0, line.find(' '));
    const auto method = kMethods.find(verb);
    request.method = method != kMethods.end() ? method->second : std::uint32_t{kHostMethodCustom};
    request.custom_method = method != kMethods.end() ? std::string_view() : verb;
    request.path = line.substr(verb.size() + 1);
    while (bar != std::string_view::npos) {
      text.remove_prefix(bar + 3);
      bar = text.find(" | ");
      const std::string_view header = text.substr(0, bar);
      const std::string name(header.substr(0, header.find(": ")));
      const std::string value(header.substr(name.size() + 2));
      if (name == "Content-Type") {
        request.content_type = value;
      } else if (name == "Body") {
        request.body = value;
      } else {
        request.headers.emplace_back(name, value);
      }
    }
    request.named_values = std::move(named_values);
    request.caller_context = 0xC0FFEE;
    if (endpoint == nullptr) {
      endpoint = chooser_.Choose(request.method, request.path, request.custom_method);
    }
    if (endpoint == nullptr) return "not chosen";
    DispatchedResponse response;
    ulix_testing::Dispatch(*endpoint, request, response);
    return Reply(response);
  }

  // "[<status> ]<value>" or "[<status> ]error: <message>" (a status of 0 left out), then what
  // else the response carries when it carries any of it.
  static std::string Reply(const DispatchedResponse& response) {
    const HostResponse& record = response.record();
    const HostValue value = record.value;
    std::string out = response.status() != 0 ? std::to_string(response.status()) + " " : "";
    if (!response.ok()) out += "error: " + response.error();
    if (value.kind == kHostValueText || value.kind == kHostValueOwnedText) {
      out += value.payload.text.data;
    } else if (value.kind == kHostValueSigned) {
      out += std::to_string(value.payload.int64);
    } else if (value.kind != kHostValueNone) {
      out += "kind " + std::to_string(value.kind);
    }
    if (record.errorFlag != 0 || record.format != 0 || !response.text().empty()) {
      out += " (flag " + std::to_string(record.errorFlag) + " format " +
             std::to_string(record.format) + " '" + response.text() + "'";
      for (const auto& [name, text] : response.headers()) out += " " + name + ": " + text;
      out += ")";
    }
    return out;
  }

  static inline const std::map<std::string_view, std::uint32_t> kMethods = {
      {"GET", kHostMethodGet},
      {"PUT", kHostMethodPut},
      {"POST", kHostMethodPost},
      {"DELETE", kHostMethodDelete}};
  RoutingPlugin plugin_;
  ulix_testing::EndpointChooser chooser_{*Handshake(plugin_, "ulix-auth").catalogue};
};

TEST_F(RequestDispatch, AnswersEachRequest) {
  const std::string not_a_structure =
      "error: Couldn't assign value to 'filter' of type TestFilter because the input not a "
      "structure.";
  const std::string kJson = R"({"user":"ann","password":"pw","attempts":3})";
  // An expected answer ending in a space is a prefix of the answer.
  const std::pair<std::string, std::string> rows[] = {
      // The whole path must match; captures are decoded.
      {"GET /ulix-auth/v1/config/P7", "P7"},
      {"GET /ulix-auth/v1/config/%41%2B+", "A+ "},
      {"GET /ulix-auth/v1/config/", "error: Expected value for argument 'platformId'."},
      // The host chose the endpoint; the runtime still checks the whole text, query included.
      {"GET /ulix-auth/v1/config/P7?x=1",
       "error: Unknown argument 'x' for 'GetUlixAuthV1ConfigByPlatformId'."},
      {"GET /x/p/q/r", "p/q/r"},
      {"GET /x/p%2Fq?s=1", "error: Unknown argument 's' for 'GetXByRest'."},
      {"GET /a/b", "ab"},
      // An endpoint dispatched a request whose method or path it does not serve.
      {"@GetUlixAuthV1ConfigByPlatformId GET /ulix-auth/v1/config/P7/x",
       "404 error: Invalid function"},
      {"@GetUlixAuthV1ConfigByPlatformId POST /ulix-auth/v1/config/P7",
       "404 error: Invalid function"},
      {"@GetUlixAuthV1ConfigByPlatformId BREW /ulix-auth/v1/config/P7",
       "404 error: Invalid function"},
      {"@GetAB GET /a/b/", "404 error: Invalid function"},
      {"@GetAB GET /a/b?x=1", "404 error: Invalid function"},
      // A custom method is served under its name only, and the host chooses it for no other.
      {"BREW /pot", "brewed"},
      {"GET /pot", "not chosen"},
      {"@Pot STIR /pot", "404 error: Invalid function"},
      // Query arguments, dotted keys filling records and lists.
      {"GET /search/s", "[] quiet 0"},
      {"GET /search/s?filter.items.3=7", "[0,0,0,7,] quiet 0"},
      {"GET /search/s?filter.name=a%20b&verbose&count=5", "a b[] verbose 5"},
      {"GET /search/s?&&count=1&count=2&", "[] quiet 2"},
      {"GET /search/s?filter.items.0=1&filter.items.1=2&filter.name=n", "n[1,2,] quiet 0"},
      {"GET /search/s?filter", "[] quiet 0"},
      {"GET /search/s?filter.items.3x=7", "error: Index 3x is in an incorrect format"},
      {"GET /search/s?filter.items.99999999999999999999=7",
       "error: Index 99999999999999999999 is out of range"},
      // The format is checked before the range.
      {"GET /search/s?filter.items.100000x=7", "error: Index 100000x is in an incorrect format"},
      {"GET /search/s?filter.items.2147483648=7", "error: Index 2147483648 is out of range"},
      // At most 65 536 elements made by all keys of a request together.
      {"GET /search/s?filter.65536.65536=7", "error: Index 65536 is out of range"},
      {"GET /search/s?filter.a.30000=1&filter.b.35534=2", "[] quiet 0"},
      {"GET /search/s?filter.a.30000=1&filter.b.35535=2", "error: Index 35535 is out of range"},
      {"GET /search/s?filter.a.65535=1&filter.a.3=2", "[] quiet 0"},
      {"GET /search/s?filter.a.3=1&filter.b.65532=2", "error: Index 65532 is out of range"},
      {"GET /search/s?count", "error: Expected value for argument 'count'."},
      {"GET /search/s?count=x",
       "error: Value x for 'count' of type int32 is in an incorrect format"},
      {"GET /search/s?limit=3", "error: Unknown argument 'limit' for 'GetSearchByScope'."},
      // Texts in headers, by content type or sniffed. (A query would end up inside the path
      // parameter's capture too; the path parameter is deserialized as well, so it is valid in
      // every format.)
      {"GET /search/7 | filter: {\"name\":\"j\"}", "j[] quiet 0"},
      {"GET /search/7 | filter:  [1]", not_a_structure},
      {"GET /search/7 | filter: ---\nname: yy", "yy[] quiet 0"},
      {"GET /search/7 | filter: \x81\xa4name\xa1m", "m[] quiet 0"},
      {"GET /search/7 | filter: plain", not_a_structure},
      {"GET /search/7 | count: {1}",
       "error: Value {1} for 'count' of type int32 is in an incorrect format"},
      {"GET /search/7 | Content-Type: Application/JSON; charset=utf-8 | count: 12", "[] quiet 12"},
      {"GET /search/7 | Content-Type: application/json | count: {",
       "error: Couldn't deserialize JSON value for parameter 'count' of 'GetSearchByScope': "
       "Error: Missing a name for object member. at offset 1."},
      {"GET /search/7 | Content-Type: text/x-yaml | filter: name: yy", "yy[] quiet 0"},
      {"GET /search/7 | Content-Type: text/x-yaml | count: [",
       "error: Couldn't deserialize YAML value for parameter "},
      {"GET /search/7 | Content-Type: application/x-msgpack | count: \x07", "[] quiet 7"},
      {"GET /search/7 | Content-Type: application/x-msgpack | count: \xc1",
       "error: Couldn't deserialize MessagePack value for parameter 'count' of "},
      // Later sources override earlier ones; header names are exact. The segment parameter
      // stops at "/" only, so it takes the query along.
      {"PUT /items/i1?tag=query | tag: header | Note: ignored | note: header-note",
       "i1?tag=query|query|header-note"},
      // Missing or misplaced arguments; an optional one keeps its default.
      {"PUT /items/i1", "error: A value for 'tag' is required."},
      {"PUT /items/i1?note=n", "error: A value for 'tag' is required."},
      {"PUT /items/i1?id=2&tag=t",
       "error: Argument 'id' for 'PutItemsById' was specified in an invalid location."},
      {"PUT /items/i1?tag=t", "i1?tag=t|t|"},
      {"POST /login", "error: A value for 'credentials' is required."},
      // A required bool starts as false, so only the others can be missing.
      {"POST /switch | filter: ", "error: A value for 'level' is required."},
      {"POST /switch | level: 2", "error: A value for 'filter' is required."},
      {"POST /switch | level: 2 | filter: ", "gentle 2 []"},
      {"POST /switch | level: 2 | filter: {\"name\":\"f\"} | force: ", "force 2 f[]"},
      // Bodies by content type.
      {"POST /login | Content-Type: application/json | Body: " + kJson, "ann:pw:3"},
      {"POST /login | Content-Type: APPLICATION/VND.API+JSON | Body: " + kJson, "ann:pw:3"},
      {"POST /login | Content-Type: application/x-yaml | Body: user: ann\npassword: pw\nattempts: "
       "3",
       "ann:pw:3"},
      {"POST /login | Content-Type: application/x-msgpack | Body: \x81\xa4user\xa3\x61nn",
       "ann::0"},
      {"POST /login | Content-Type: application/x-msgpack-ext | Body: \x81\xa4user\xa3\x61nn",
       "ann::0"},
      {"POST /login | Content-Type: application/x-msgpack | Body: \x81\xa4user\xa3\x61nn\x01",
       "error: Extra MessgePack data found in body"},
      {"POST /login | Content-Type: text/plain | Body: " + kJson,
       "error: Unsupported body content type"},
      {"POST /login | Content-Type: text/x-yaml | Body: user: ann",
       "error: Unsupported body content type"},
      {"POST /login | Content-Type: application/json | Body: {\"user\":",
       "error: Error: Invalid value. at offset 8."},
      // The handler sets status 201, text "Created", flag 1, format YAML and a header, then
      // answers 42 or fails. A fault: nothing of what the handler set reaches the host.
      {"DELETE /answer/0", "201 42 (flag 1 format 2 'Created' X-Trace: t1)"},
      {"DELETE /answer/1", "500 error: Internal server error (flag 1 format 0 '')"},
      {"DELETE /answer/2", "409 error: Refresh is stale."},
      {"DELETE /answer/3", "503 error: Try later. (flag 1 format 2 'Created' X-Trace: t1)"},
  };
  for (const auto& [request, expected] : rows) {
    const std::string answer = Answer(request);
    EXPECT_EQ(expected.ends_with(" ") ? answer.substr(0, expected.size()) : answer, expected)
        << request;
  }
  EXPECT_EQ(plugin_.last_caller, 0xC0FFEEu);
  EXPECT_EQ(plugin_.item_calls, 2);

  // At most 512 segments in one key, the argument's name included: a 30 KB key is an error, not
  // a tree too deep to tear down.
  std::string deepest = "GET /search/s?filter";
  for (int i = 1; i < 512; ++i) deepest += ".m";
  EXPECT_EQ(Answer(deepest + "=1"), "[] quiet 0");
  EXPECT_EQ(Answer(deepest + ".z=1"), "error: Index z is out of range");
  std::string long_key = "GET /search/s?filter";
  for (int i = 0; i < 15000; ++i) long_key += ".0";
  EXPECT_EQ(Answer(long_key + "=1"), "error: Index 0 is out of range");
}

TEST_F(RequestDispatch, NamedValuesOverrideTheRequestAndContinueItsArguments) {
  HostValue named{};
  named.kind = kHostValueText;
  named.payload.text.data = "named";
  named.payload.text.length = 5;
  const std::string request = "PUT /items/i1?tag=query | tag: header | note: header-note";
  EXPECT_EQ(Answer(request, {{"tag", named}}), "i1?tag=query|named|header-note");
  // Unnamed values continue after the arguments the path filled: position 0 is "tag".
  EXPECT_EQ(Answer(request, {{nullptr, named}, {nullptr, named}}), "i1?tag=query|named|named");
  EXPECT_EQ(Answer(request, {{nullptr, named}, {nullptr, named}, {nullptr, named}}),
            "error: Unknown argument '3' for 'PutItemsById'.");
  EXPECT_EQ(Answer(request, {{"other", named}}),
            "error: Unknown argument 'other' for 'PutItemsById'.");
  // A value the host sends as null is missing too.
  EXPECT_EQ(Answer("PUT /items/i1", {{"tag", HostValue{}}}),
            "error: A value for 'tag' is required.");
  EXPECT_EQ(plugin_.item_calls, 2);
}

TEST_F(RequestDispatch, HandsOverStreamsAsyncRecordsAndTheCatalogue) {
  // An asynchronous handler sees a record of its request; the host gets the stream it set.
  TestRequest request;
  request.method = kHostMethodPost;
  request.path = "/brew/p1";
  request.headers = {{"X-Trace", "t1"}};
  request.caller_context = 9;
  DispatchedResponse response;
  ulix_testing::Dispatch(*chooser_.Find("PostBrewByPot"), request, response);
  const HostResponse& record = response.record();
  EXPECT_TRUE(response.ok() && record.read == &RoutingPlugin::ReadNothing &&
              record.close == &RoutingPlugin::CloseNothing && record.streamContext == &plugin_ &&
              record.streamSize == 12u);
  ASSERT_TRUE(plugin_.async_request.has_value());
  const AsyncRequestRecord& async = *plugin_.async_request;
  EXPECT_EQ(std::to_string(async.callerContext) + " " + std::to_string(async.method) + " " +
                async.path + " " + async.asyncMarker + " " + async.headers.at(0).first + ": " +
                async.headers.at(0).second,
            "9 6 /brew/p1 BindingAsyncCancelEvent X-Trace: t1");

  // Names, templates and methods are what the other tests choose endpoints by.
  EXPECT_EQ(chooser_.endpoints().size(), 10u);
  EXPECT_EQ(chooser_.Find("Pot")->function.threadSafe, 1u);
  const CatalogueEndpoint* items = chooser_.Find("PutItemsById");
  std::vector<std::uint32_t> locations;
  for (const CatalogueArgumentLocation* at = items->argumentLocations; at; at = at->next) {
    locations.push_back(at->location);
  }
  EXPECT_EQ(locations, (std::vector<std::uint32_t>{2, 0, 0}));
  const char* const* tags = items->function.tags;
  EXPECT_EQ(std::vector<std::string>(tags, tags + items->function.tagCount),
            (std::vector<std::string>{"Plugins", "Plugin ulix-auth"}));
  ulix_testing::ExpectEndpointsMatchHandlers(plugin_.endpointRegistry());
}

// Each endpoint declares its arguments wrongly in one way.
class SlipPlugin : public PluginBase {
 public:
  explicit SlipPlugin(bool only_one = false) : only_one_(only_one) {}

  void registerEndpoints() override {
    registerEndpoint(
        kHostMethodGet, "/fewer",
        [](CallState&, std::string, std::string) -> RemotingTypedResult<void> { return {}; })
        .Argument("a", "");
    if (only_one_) return;
    registerEndpoint(kHostMethodGet, "/more",
                     [](CallState&, std::string) -> RemotingTypedResult<void> { return {}; })
        .Argument("a", "")
        .Argument("extra", "");
    registerEndpoint(
        kHostMethodGet, "/twice",
        [](CallState&, std::string, std::string) -> RemotingTypedResult<void> { return {}; })
        .Argument("a", "")
        .Argument("a", "");
    // Body and path swapped.
    registerEndpoint(kHostMethodPost, "/swapped/{id}",
                     [](CallState&, std::vector<std::int32_t>,
                        std::int32_t) -> RemotingTypedResult<void> { return {}; })
        .PathArgument("id", "")
        .BodyArgument("filter", "");
  }

 private:
  bool only_one_;
};

TEST(EndpointRegistration, ReportsDeclarationsThatDoNotMatchTheHandler) {
  SlipPlugin plugin;
  ::testing::internal::CaptureStderr();
  Handshake(plugin, "slip");
  const std::string log = ::testing::internal::GetCapturedStderr();

  const std::vector<std::string> expected = {
      "GetMore declares argument 'extra' at position 1 but its handler takes 1 parameters",
      "GetTwice declares argument 'a' twice",
      "PostSwappedById declares path argument 'id' at position 0 where its handler takes a "
      "record or list",
      "PostSwappedById declares body argument 'filter' at position 1 where its handler takes a "
      "bool, number or enumeration",
      "GetFewer declares no argument for handler parameter 1 (of 2)",
  };
  EXPECT_EQ(plugin.endpointRegistry().RegistrationProblems(), expected);
  EXPECT_NE(log.find(" ERROR"), std::string::npos);
  for (const std::string& problem : expected) {
    EXPECT_NE(log.find(problem), std::string::npos) << problem;
  }
  // The test helper fails once per problem.
  SlipPlugin one(/*only_one=*/true);
  Handshake(one, "slip");
  EXPECT_NONFATAL_FAILURE(ulix_testing::ExpectEndpointsMatchHandlers(one.endpointRegistry()),
                          "GetFewer declares no argument for handler parameter 1 (of 2)");
}

}  // namespace
}  // namespace plugin_runtime
