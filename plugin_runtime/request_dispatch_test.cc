// Incoming requests driven as a host drives them: the plug-in's catalogue, an endpoint chosen by
// method and path, the request record handed to the endpoint's dispatch entry.
#include "plugin_runtime/request_dispatch.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
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
using ulix_testing::EndpointChooser;
using ulix_testing::TestRequest;
using Vorn::RemotingError;
using Vorn::RemotingTypedResult;
using Headers = std::vector<std::pair<std::string, std::string>>;

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
    registerEndpoint(kHostMethodGet, "/stream",
                     [this](CallState& call) -> RemotingTypedResult<std::string> {
                       call.SetStream(ResponseStream{&ReadNothing, &CloseNothing, this, 12});
                       return std::string();
                     });
    registerEndpoint(kHostMethodPost, "/brew/{pot}",
                     [this](CallState& call,
                            std::string) -> RemotingTypedResult<binding::BindingAsyncCancelEvent> {
                       if (call.async_request() != nullptr) async_request = *call.async_request();
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
  void SetUp() override {
    plugin_ = std::make_unique<RoutingPlugin>();
    chooser_ = std::make_unique<EndpointChooser>(*Handshake(*plugin_, "ulix-auth").catalogue);
  }

  // Chooses the endpoint as the host would and dispatches; an unmatched request fails the test.
  void Send(const TestRequest& request, DispatchedResponse& response) {
    const CatalogueEndpoint* endpoint =
        chooser_->Choose(request.method, request.path, request.custom_method);
    ASSERT_NE(endpoint, nullptr) << request.path;
    ulix_testing::Dispatch(*endpoint, request, response);
  }
  // The handler's string answer, or "error <status>: <text>".
  std::string Answer(const TestRequest& request) {
    DispatchedResponse response;
    Send(request, response);
    if (!response.ok()) {
      return "error " + std::to_string(response.status()) + ": " + response.error();
    }
    HostValue value;
    std::memcpy(&value, &response.record().value, sizeof value);
    if (value.kind != kHostValueText && value.kind != kHostValueOwnedText) return "not a text";
    return value.payload.text.data;
  }
  // Status, error, value kind (with the number of a signed one), error flag, format, text and
  // headers of a response, on one line.
  static std::string Summary(const DispatchedResponse& response) {
    const HostResponse& record = response.record();
    HostValue value;
    std::memcpy(&value, &record.value, sizeof value);
    std::string out = std::to_string(response.status()) + " '" + response.error() + "' kind " +
                      std::to_string(value.kind);
    if (value.kind == kHostValueSigned) out += "=" + std::to_string(value.payload.int64);
    out += " flag " + std::to_string(record.errorFlag) + " format " +
           std::to_string(record.format) + " '" + response.text() + "'";
    for (const auto& [name, text] : response.headers()) out += " " + name + ": " + text;
    return out;
  }
  static TestRequest Req(std::string path, std::uint32_t method = kHostMethodGet,
                         Headers headers = {}) {
    TestRequest request;
    request.method = method;
    request.path = std::move(path);
    request.headers = std::move(headers);
    return request;
  }

  std::unique_ptr<RoutingPlugin> plugin_;
  std::unique_ptr<EndpointChooser> chooser_;
};

TEST_F(RequestDispatch, MatchesTheWholePathDecodesCapturesAndPassesTheCaller) {
  const std::pair<const char*, const char*> rows[] = {
      {"/ulix-auth/v1/config/P7", "P7"},
      {"/ulix-auth/v1/config/%41%2B+", "A+ "},
      {"/ulix-auth/v1/config/", "error 0: Expected value for argument 'platformId'."},
      // The host chose the endpoint; the runtime still checks the whole text, query included.
      {"/ulix-auth/v1/config/P7?x=1",
       "error 0: Unknown argument 'x' for 'GetUlixAuthV1ConfigByPlatformId'."},
      {"/x/p/q/r", "p/q/r"},
      {"/x/p%2Fq?s=1", "error 0: Unknown argument 's' for 'GetXByRest'."},
      {"/a/b", "ab"},
  };
  for (const auto& [path, answer] : rows) {
    SCOPED_TRACE(path);
    TestRequest request = Req(path);
    request.caller_context = 0xC0FFEE;
    EXPECT_EQ(Answer(request), answer);
  }
  EXPECT_EQ(plugin_->last_caller, 0xC0FFEEu);
}

TEST_F(RequestDispatch, AnswersInvalidFunctionWhenPathOrMethodDisagree) {
  const CatalogueEndpoint* config = chooser_->Find("GetUlixAuthV1ConfigByPlatformId");
  const CatalogueEndpoint* literal = chooser_->Find("GetAB");
  ASSERT_NE(config, nullptr);
  ASSERT_NE(literal, nullptr);
  const std::tuple<const CatalogueEndpoint*, std::uint32_t, const char*> rows[] = {
      {config, kHostMethodGet, "/ulix-auth/v1/config/P7/x"},
      {config, kHostMethodPost, "/ulix-auth/v1/config/P7"},
      {config, kHostMethodCustom, "/ulix-auth/v1/config/P7"},
      {literal, kHostMethodGet, "/a/b/"},
      {literal, kHostMethodGet, "/a/b?x=1"},
  };
  for (const auto& [endpoint, method, path] : rows) {
    SCOPED_TRACE(path);
    DispatchedResponse response;
    ulix_testing::Dispatch(*endpoint, Req(path, method), response);
    EXPECT_EQ(Summary(response), "404 'Invalid function' kind 0 flag 0 format 0 ''");
  }
}

TEST_F(RequestDispatch, ServesACustomMethodOnlyUnderItsNameAndMarksItThreadSafe) {
  const CatalogueEndpoint* pot = chooser_->Choose(kHostMethodCustom, "/pot", "BREW");
  ASSERT_NE(pot, nullptr);
  EXPECT_EQ(pot->function.threadSafe, 1u);
  EXPECT_STREQ(pot->customMethod, "BREW");
  TestRequest request = Req("/pot", kHostMethodCustom);
  request.custom_method = "BREW";
  EXPECT_EQ(Answer(request), "brewed");
  request.custom_method = "STIR";
  DispatchedResponse response;
  ulix_testing::Dispatch(*pot, request, response);
  EXPECT_EQ(response.error(), "Invalid function");
}

TEST_F(RequestDispatch, HandsTheHostTheStreamTheHandlerSet) {
  DispatchedResponse response;
  Send(Req("/stream"), response);
  ASSERT_TRUE(response.ok()) << response.error();
  const HostResponse& record = response.record();
  EXPECT_TRUE(record.read == &RoutingPlugin::ReadNothing &&
              record.close == &RoutingPlugin::CloseNothing &&
              record.streamContext == plugin_.get() && record.streamSize == 12u);
}

TEST_F(RequestDispatch, AsynchronousHandlersSeeARecordOfTheirRequest) {
  TestRequest request = Req("/brew/p1", kHostMethodPost, {{"X-Trace", "t1"}});
  request.caller_context = 9;
  DispatchedResponse response;
  Send(request, response);
  ASSERT_TRUE(response.ok()) << response.error();
  ASSERT_TRUE(plugin_->async_request.has_value());
  const AsyncRequestRecord& record = *plugin_->async_request;
  EXPECT_EQ(std::to_string(record.callerContext) + " " + std::to_string(record.method) + " " +
                record.path + " " + record.asyncMarker,
            "9 6 /brew/p1 BindingAsyncCancelEvent");
  EXPECT_EQ(record.headers, (Headers{{"X-Trace", "t1"}}));
}

TEST_F(RequestDispatch, FillsQueryArgumentsThroughDottedPaths) {
  const std::pair<const char*, const char*> rows[] = {
      {"/search/s", "[] quiet 0"},
      {"/search/s?filter.items.3=7", "[0,0,0,7,] quiet 0"},
      {"/search/s?filter.name=a%20b&verbose&count=5", "a b[] verbose 5"},
      {"/search/s?&&count=1&count=2&", "[] quiet 2"},
      {"/search/s?filter.items.0=1&filter.items.1=2&filter.name=n", "n[1,2,] quiet 0"},
      {"/search/s?filter", "[] quiet 0"},
      {"/search/s?filter.items.3x=7", "error 0: Index 3x is in an incorrect format"},
      {"/search/s?filter.items.99999999999999999999=7",
       "error 0: Index 99999999999999999999 is out of range"},
      // The format is checked before the range.
      {"/search/s?filter.items.100000x=7", "error 0: Index 100000x is in an incorrect format"},
      {"/search/s?filter.items.2147483648=7", "error 0: Index 2147483648 is out of range"},
      // At most 65 536 elements made by all keys of a request together.
      {"/search/s?filter.65536.65536=7", "error 0: Index 65536 is out of range"},
      {"/search/s?filter.a.30000=1&filter.b.35534=2", "[] quiet 0"},
      {"/search/s?filter.a.30000=1&filter.b.35535=2", "error 0: Index 35535 is out of range"},
      {"/search/s?filter.a.65535=1&filter.a.3=2", "[] quiet 0"},
      {"/search/s?filter.a.3=1&filter.b.65532=2", "error 0: Index 65532 is out of range"},
      {"/search/s?count", "error 0: Expected value for argument 'count'."},
      {"/search/s?count=x", "error 0: Value x for 'count' of type int32 is in an incorrect format"},
      {"/search/s?limit=3", "error 0: Unknown argument 'limit' for 'GetSearchByScope'."},
  };
  for (const auto& [path, answer] : rows) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Answer(Req(path)), answer);
  }

  // At most 512 segments in one key, the argument's name included: a 30 KB key is an error, not
  // a tree too deep to tear down.
  std::string deepest = "/search/s?filter";
  for (int i = 1; i < 512; ++i) deepest += ".m";
  EXPECT_EQ(Answer(Req(deepest + "=1")), "[] quiet 0");
  EXPECT_EQ(Answer(Req(deepest + ".z=1")), "error 0: Index z is out of range");
  std::string long_key = "/search/s?filter";
  for (int i = 0; i < 15000; ++i) long_key += ".0";
  EXPECT_EQ(Answer(Req(long_key + "=1")), "error 0: Index 0 is out of range");
}

TEST_F(RequestDispatch, DeserializesTextsByContentTypeOrSniffing) {
  // Headers carry the texts: a query would end up inside the path parameter's capture too. An
  // expected answer ending in a space is a prefix of the answer.
  const std::string not_a_structure =
      "error 0: Couldn't assign value to 'filter' of type TestFilter because the input not a "
      "structure.";
  // Content type ("": none), header, value, answer.
  const std::tuple<const char*, const char*, const char*, std::string> rows[] = {
      {"", "filter", "{\"name\":\"j\"}", "j[] quiet 0"},
      {"", "filter", " [1]", not_a_structure},
      {"", "filter", "---\nname: yy", "yy[] quiet 0"},
      {"", "filter", "\x81\xa4name\xa1m", "m[] quiet 0"},
      {"", "filter", "plain", not_a_structure},
      {"", "count", "{1}",
       "error 0: Value {1} for 'count' of type int32 is in an incorrect format"},
      {"Application/JSON; charset=utf-8", "count", "12", "[] quiet 12"},
      {"application/json", "count", "{",
       "error 0: Couldn't deserialize JSON value for parameter 'count' of 'GetSearchByScope': "
       "Error: Missing a name for object member. at offset 1."},
      {"text/x-yaml", "filter", "name: yy", "yy[] quiet 0"},
      {"text/x-yaml", "count", "[", "error 0: Couldn't deserialize YAML value for parameter "},
      {"application/x-msgpack", "count", "\x07", "[] quiet 7"},
      {"application/x-msgpack", "count", "\xc1",
       "error 0: Couldn't deserialize MessagePack value for parameter 'count' of "},
  };
  for (const auto& [content_type, header, value, expected] : rows) {
    SCOPED_TRACE(value);
    // The path parameter is deserialized too, so it is valid in every format.
    TestRequest request = Req("/search/7", kHostMethodGet, {{header, value}});
    if (*content_type != '\0') request.content_type = content_type;
    const std::string answer = Answer(request);
    EXPECT_EQ(expected.ends_with(" ") ? answer.substr(0, expected.size()) : answer, expected);
  }
}

TEST_F(RequestDispatch, LaterSourcesOverrideEarlierOnes) {
  HostValue three{};
  three.kind = kHostValueText;
  three.payload.text.data = "named";
  three.payload.text.length = 5;

  TestRequest request = Req("/items/i1?tag=query", kHostMethodPut,
                            {{"tag", "header"}, {"Note", "ignored"}, {"note", "header-note"}});
  // The segment parameter stops at "/" only, so it takes the query along.
  EXPECT_EQ(Answer(request), "i1?tag=query|query|header-note");

  request.named_values = {HostNamedValue{"tag", three}};
  EXPECT_EQ(Answer(request), "i1?tag=query|named|header-note");

  // Unnamed values continue after the arguments the path filled: position 0 is "tag".
  request.named_values = {HostNamedValue{nullptr, three}, HostNamedValue{nullptr, three}};
  EXPECT_EQ(Answer(request), "i1?tag=query|named|named");

  request.named_values.push_back(HostNamedValue{nullptr, three});
  EXPECT_EQ(Answer(request), "error 0: Unknown argument '3' for 'PutItemsById'.");

  request.named_values = {HostNamedValue{"other", three}};
  EXPECT_EQ(Answer(request), "error 0: Unknown argument 'other' for 'PutItemsById'.");
}

TEST_F(RequestDispatch, RefusesMissingOrMisplacedArgumentsWithoutCallingTheHandler) {
  const std::tuple<std::uint32_t, const char*, Headers, const char*> rows[] = {
      {kHostMethodPut, "/items/i1", {}, "error 0: A value for 'tag' is required."},
      {kHostMethodPut, "/items/i1?note=n", {}, "error 0: A value for 'tag' is required."},
      {kHostMethodPut,
       "/items/i1?id=2&tag=t",
       {},
       "error 0: Argument 'id' for 'PutItemsById' was specified in an invalid location."},
      // An optional argument keeps its default.
      {kHostMethodPut, "/items/i1?tag=t", {}, "i1?tag=t|t|"},
      {kHostMethodPost, "/login", {}, "error 0: A value for 'credentials' is required."},
      // A required bool starts as false, so only the others can be missing.
      {kHostMethodPost, "/switch", {{"filter", ""}}, "error 0: A value for 'level' is required."},
      {kHostMethodPost, "/switch", {{"level", "2"}}, "error 0: A value for 'filter' is required."},
      {kHostMethodPost, "/switch", {{"level", "2"}, {"filter", ""}}, "gentle 2 []"},
      {kHostMethodPost,
       "/switch",
       {{"level", "2"}, {"filter", "{\"name\":\"f\"}"}, {"force", ""}},
       "force 2 f[]"},
  };
  for (const auto& [method, path, headers, answer] : rows) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Answer(Req(path, method, headers)), answer);
  }
  EXPECT_EQ(plugin_->item_calls, 1);

  // A value the host sends as null is missing too.
  TestRequest request = Req("/items/i1", kHostMethodPut);
  request.named_values = {HostNamedValue{"tag", HostValue{}}};
  EXPECT_EQ(Answer(request), "error 0: A value for 'tag' is required.");
  EXPECT_EQ(plugin_->item_calls, 1);
}

TEST_F(RequestDispatch, DecodesBodiesByContentType) {
  const std::string json = R"({"user":"ann","password":"pw","attempts":3})";
  const std::string yaml = "user: ann\npassword: pw\nattempts: 3\n";
  const std::string msgpack = "\x81\xa4user\xa3\x61nn";  // {"user": "ann"}
  const std::tuple<const char*, std::string, const char*> rows[] = {
      {"application/json", json, "ann:pw:3"},
      {"APPLICATION/VND.API+JSON", json, "ann:pw:3"},
      {"application/x-yaml", yaml, "ann:pw:3"},
      {"application/x-msgpack", msgpack, "ann::0"},
      {"application/x-msgpack-ext", msgpack, "ann::0"},
      {"application/x-msgpack", msgpack + "\x01", "error 0: Extra MessgePack data found in body"},
      {"text/plain", json, "error 0: Unsupported body content type"},
      {"text/x-yaml", yaml, "error 0: Unsupported body content type"},
      {"application/json", "{\"user\":", "error 0: Error: Invalid value. at offset 8."},
  };
  for (const auto& [content_type, body, answer] : rows) {
    SCOPED_TRACE(content_type);
    TestRequest request = Req("/login", kHostMethodPost);
    request.content_type = content_type;
    request.body = body;
    EXPECT_EQ(Answer(request), answer);
  }
}

TEST_F(RequestDispatch, FillsTheResponseFromTheCallStateAndTurnsFailuresIntoErrors) {
  // The handler sets status 201, text "Created", flag 1, format YAML and a header, then answers
  // 42 or fails.
  const std::pair<const char*, const char*> rows[] = {
      {"/answer/0", "201 '' kind 2=42 flag 1 format 2 'Created' X-Trace: t1"},
      // A fault: nothing of what the handler set reaches the host.
      {"/answer/1", "500 'Internal server error' kind 0 flag 1 format 0 ''"},
      {"/answer/2", "409 'Refresh is stale.' kind 0 flag 0 format 0 ''"},
      {"/answer/3", "503 'Try later.' kind 0 flag 1 format 2 'Created' X-Trace: t1"},
  };
  for (const auto& [path, summary] : rows) {
    SCOPED_TRACE(path);
    DispatchedResponse response;
    Send(Req(path, kHostMethodDelete), response);
    EXPECT_EQ(Summary(response), summary);
  }
}

TEST_F(RequestDispatch, DescribesEndpointsInTheCatalogue) {
  // Names, templates and methods are what the other tests choose endpoints by.
  const CatalogueEndpoint* endpoint = chooser_->Choose(kHostMethodPut, "/items/9");
  ASSERT_NE(endpoint, nullptr);
  ASSERT_EQ(endpoint->function.argumentCount, 3u);
  std::vector<std::uint32_t> locations;
  for (const CatalogueArgumentLocation* at = endpoint->argumentLocations; at != nullptr;
       at = at->next) {
    locations.push_back(at->location);
  }
  EXPECT_EQ(locations, (std::vector<std::uint32_t>{2, 0, 0}));
  const char* const* tags = endpoint->function.tags;
  EXPECT_EQ(std::vector<std::string>(tags, tags + endpoint->function.tagCount),
            (std::vector<std::string>{"Plugins", "Plugin ulix-auth"}));
  EXPECT_EQ(chooser_->endpoints().size(), 11u);
}

TEST_F(RequestDispatch, MatchingDeclarationsLeaveNoRegistrationProblem) {
  ulix_testing::ExpectEndpointsMatchHandlers(plugin_->endpointRegistry());
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
    binding::BindingStructBuilder<TestFilter>(typeRegistry())
        .AddField(&TestFilter::items, "items")
        .AddField(&TestFilter::name, "name");
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
    registerEndpoint(
        kHostMethodPost, "/swapped/{id}",
        [](CallState&, TestFilter, std::int32_t) -> RemotingTypedResult<void> { return {}; })
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
}

TEST(EndpointRegistration, TheTestHelperFailsOncePerProblem) {
  SlipPlugin plugin(/*only_one=*/true);
  Handshake(plugin, "slip");
  EXPECT_NONFATAL_FAILURE(ulix_testing::ExpectEndpointsMatchHandlers(plugin.endpointRegistry()),
                          "GetFewer declares no argument for handler parameter 1 (of 2)");
}

}  // namespace
}  // namespace plugin_runtime
