// A host that breaks the rules of the host interface: null texts, counts without arrays, value
// kinds outside the table, missing release functions, responses released twice or late, HTTP
// answers that announce a body they do not carry, events nobody subscribed to and delayed
// callbacks fired twice or after stop. Each must end in an error value or be ignored; the
// sanitised builds (asan, tsan) turn a crash, a leak or a race into a failure here.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "testing/endpoint_chooser.h"
#include "testing/fake_host.h"
#include "testing/plugin_test_host.h"

namespace ulix_auth {
namespace {

using ulix_testing::AccessTokenFor;
using ulix_testing::EndpointChooser;
using ulix_testing::FakeHost;
using ulix_testing::kTokenUrl;
using ulix_testing::kUserInfoUrl;
using ulix_testing::PluginTestHost;
using ulix_testing::TokenReply;

constexpr const char* kCredentials = R"({"username":"ann","password":"pw","platformId":"NA1"})";

// What the plug-in answered to one hand-built request record, its response released once.
struct Outcome {
  std::uint32_t status = 0;
  std::string error;  // "" on success
};

Outcome DispatchRecord(const CatalogueEndpoint& endpoint, HostRequest record) {
  record.function = &endpoint;
  HostResponse response;
  std::memset(static_cast<void*>(&response), 0xA5, sizeof response);  // the host need not zero it
  endpoint.dispatch(&response, &record);
  Outcome outcome;
  outcome.status = response.status;
  const char* error = response.errorText;
  if (error != nullptr) outcome.error = error;
  HostResponseRelease release = response.release;
  if (release != nullptr) release(&response);
  return outcome;
}

HostRequest RequestFor(std::uint32_t method, const char* path) {
  HostRequest record{};
  record.method = method;
  record.path = path;
  return record;
}

TEST(MisbehavingHost, MalformedRequestRecordsGetAnErrorOrAreIgnored) {
  PluginTestHost test;
  test.Start();
  EndpointChooser chooser(test.catalogue());
  const CatalogueEndpoint* gas = chooser.Choose(kHostMethodPost, "/ulix-auth/v1/authorization/gas");
  const CatalogueEndpoint* config = chooser.Choose(kHostMethodGet, "/ulix-auth/v1/config/NA1");
  const CatalogueEndpoint* status = chooser.Choose(kHostMethodGet, "/ulix-auth/v1/status/NA1");
  ASSERT_NE(gas, nullptr);
  ASSERT_NE(config, nullptr);
  ASSERT_NE(status, nullptr);

  HostNamedValue odd_kind{};
  odd_kind.name = "platformId";
  odd_kind.value.kind = 99;
  HostNamedValue null_text{};
  null_text.name = "platformId";
  null_text.value.kind = kHostValueText;
  null_text.value.payload.text.data = nullptr;
  null_text.value.payload.text.length = 12;
  HostNamedValue null_entries{};
  null_entries.name = "creds";
  null_entries.value.kind = kHostValueObject;
  null_entries.value.payload.object.entries = nullptr;
  null_entries.value.payload.object.count = 5;
  HostNamedValue null_items{};
  null_items.name = "creds";
  null_items.value.kind = kHostValueArray;
  null_items.value.payload.array.items = nullptr;
  null_items.value.payload.array.count = 5;
  HostObjectEntry null_key_entry{};
  null_key_entry.key = nullptr;
  null_key_entry.value.kind = kHostValueText;
  null_key_entry.value.payload.text.data = "ann";
  null_key_entry.value.payload.text.length = 3;
  HostNamedValue null_key{};
  null_key.name = "creds";
  null_key.value.kind = kHostValueObject;
  null_key.value.payload.object.entries = &null_key_entry;
  null_key.value.payload.object.count = 1;
  HostNamedValue unnamed_odd_kind{};
  unnamed_odd_kind.value.kind = 0xFFFFFFFFu;
  const HostHeaderPair null_pairs[] = {{nullptr, nullptr}, {"X-Test", nullptr}, {nullptr, "v"}};
  const char json_body[] = R"({"username":"ann","password":"pw","platformId":"NA1"})";

  struct Case {
    const char* what;
    const CatalogueEndpoint* endpoint;
    HostRequest record;
    // Failures of the request record itself carry no status; 512: the record read as an empty
    // sign-on, which then finds no service to exchange with.
    std::uint32_t status;
    bool ok;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, const CatalogueEndpoint* endpoint, HostRequest record,
                 std::uint32_t want_status, bool ok) {
    cases.push_back({what, endpoint, record, want_status, ok});
  };
  {
    HostRequest r = RequestFor(kHostMethodGet, nullptr);
    add("null path", config, r, 404, false);
  }
  {
    HostRequest r = RequestFor(kHostMethodGet, "/ulix-auth/v1/status/NA1");
    r.namedValueCount = 3;
    add("named-value count without an array", status, r, 0, true);
  }
  {
    HostRequest r = RequestFor(kHostMethodGet, "/ulix-auth/v1/status/NA1");
    r.headerCount = 4;
    add("header count without an array", status, r, 0, true);
  }
  {
    HostRequest r = RequestFor(kHostMethodGet, "/ulix-auth/v1/status/NA1");
    r.headers = null_pairs;
    r.headerCount = 3;
    add("header pairs with null texts", status, r, 0, true);
  }
  {
    HostRequest r = RequestFor(kHostMethodPost, "/ulix-auth/v1/authorization/gas");
    r.contentType = "application/json";
    r.bodyLength = 100;
    add("body length without a body", gas, r, 0, false);
  }
  {
    HostRequest r = RequestFor(kHostMethodPost, "/ulix-auth/v1/authorization/gas");
    r.contentType = nullptr;
    r.body = json_body;
    r.bodyLength = sizeof json_body - 1;
    add("body without a content type", gas, r, 0, false);
  }
  {
    HostRequest r = RequestFor(kHostMethodGet, "/ulix-auth/v1/status/NA1");
    r.namedValues = &odd_kind;
    r.namedValueCount = 1;
    add("value kind 99", status, r, 0, false);
  }
  {
    HostRequest r = RequestFor(kHostMethodGet, "/ulix-auth/v1/status/NA1");
    r.namedValues = &unnamed_odd_kind;
    r.namedValueCount = 1;
    add("unnamed value of kind 0xFFFFFFFF", status, r, 0, false);
  }
  {
    HostRequest r = RequestFor(kHostMethodGet, "/ulix-auth/v1/status/NA1");
    r.namedValues = &null_text;
    r.namedValueCount = 1;
    add("text value without its text", status, r, 0, true);
  }
  {
    HostRequest r = RequestFor(kHostMethodPost, "/ulix-auth/v1/authorization/gas");
    r.namedValues = &null_entries;
    r.namedValueCount = 1;
    add("object count without entries", gas, r, 512, false);
  }
  {
    HostRequest r = RequestFor(kHostMethodPost, "/ulix-auth/v1/authorization/gas");
    r.namedValues = &null_items;
    r.namedValueCount = 1;
    add("array count without items", gas, r, 0, false);
  }
  {
    HostRequest r = RequestFor(kHostMethodPost, "/ulix-auth/v1/authorization/gas");
    r.namedValues = &null_key;
    r.namedValueCount = 1;
    add("object entry without a key", gas, r, 512, false);
  }
  {
    HostRequest r = RequestFor(kHostMethodCustom, "/ulix-auth/v1/status/NA1");
    r.customMethod = nullptr;
    add("custom method without its name", status, r, 404, false);
  }
  {
    HostRequest r = RequestFor(kHostMethodGet, "/ulix-auth/v1/status/NA1");
    r.contentType = nullptr;
    r.body = "\xff\x00\x01";
    r.bodyLength = 3;
    add("binary body on an endpoint without one", status, r, 0, true);
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome outcome = DispatchRecord(*c.endpoint, c.record);
    EXPECT_EQ(outcome.error.empty(), c.ok) << outcome.error;
    EXPECT_EQ(outcome.status, c.status) << outcome.error;
  }

  // A request record naming no endpoint, and no request record at all.
  HostResponse response{};
  gas->dispatch(&response, nullptr);
  EXPECT_STREQ(response.errorText, "Invalid function");
  response.release(&response);
  HostRequest unnamed = RequestFor(kHostMethodGet, "/ulix-auth/v1/status/NA1");
  gas->dispatch(&response, &unnamed);
  EXPECT_EQ(response.status + 0, 404u);
  response.release(&response);
  gas->dispatch(nullptr, &unnamed);  // nowhere to answer: ignored
}

TEST(MisbehavingHost, ResponsesReleasedTwiceOrOnlyAfterStopAreHarmless) {
  PluginTestHost test;
  test.Start();
  ASSERT_EQ(test.SignOn().error, "");
  EndpointChooser chooser(test.catalogue());
  const CatalogueEndpoint* read =
      chooser.Choose(kHostMethodGet, "/ulix-auth/v1/authorization/access-token");
  const CatalogueEndpoint* failing = chooser.Choose(kHostMethodGet, "/ulix-auth/v1/config/NA1");
  ASSERT_NE(read, nullptr);
  ASSERT_NE(failing, nullptr);

  HostRequest record = RequestFor(kHostMethodGet, "/ulix-auth/v1/authorization/access-token");
  record.function = read;
  HostResponse twice{};
  read->dispatch(&twice, &record);
  ASSERT_EQ(twice.errorText, nullptr);
  const std::uint32_t kind = twice.value.kind;
  EXPECT_EQ(kind, static_cast<std::uint32_t>(kHostValueObject));
  twice.release(&twice);
  twice.release(&twice);  // the record was emptied by the first release

  HostRequest bad = RequestFor(kHostMethodGet, nullptr);
  bad.function = failing;
  HostResponse error_twice{};
  failing->dispatch(&error_twice, &bad);
  ASSERT_NE(error_twice.errorText, nullptr);
  error_twice.release(&error_twice);
  error_twice.release(&error_twice);

  // Held past the plug-in's stop: the release functions and what they free do not depend on the
  // plug-in instance.
  HostResponse late{};
  read->dispatch(&late, &record);
  HostResponse late_error{};
  failing->dispatch(&late_error, &bad);
  test.Stop();
  late.release(&late);
  late_error.release(&late_error);
}

// The host's answers to the plug-in's own resource calls without a release function: the
// plug-in reads them and leaves their memory to the host.
TEST(MisbehavingHost, ResourceAnswersWithoutAReleaseFunctionAreRead) {
  PluginTestHost test;
  std::atomic<int> answered{0};
  test.host().SetResourceHandler([&](const HostRequest& request, HostResponse& response) {
    ++answered;
    static const char kNotFound[] = "not found";
    response.errorText = kNotFound;
    response.errorFlag = 1;
    response.status = 404;
    response.release = nullptr;
    (void)request;
  });
  test.Start();
  EXPECT_GT(answered.load(), 0);
  EXPECT_EQ(test.Send(kHostMethodGet, "/ulix-auth/v1/authorization").status, 404u);
}

TEST(MisbehavingHost, TokenAnswersThatBreakTheRecordRulesFailTheSignOn) {
  const std::string good_body = *TokenReply(AccessTokenFor()).body;
  struct Case {
    const char* what;
    HostHttpResponse answer;
    bool signs_on;
    std::uint32_t status;  // of the failed sign-on
  };
  const HostHeaderPair null_pairs[] = {{nullptr, nullptr}, {"Content-Type", nullptr}};
  std::vector<Case> cases;
  {
    HostHttpResponse a{};
    a.status = 200;
    a.bodyLength = 100;
    cases.push_back({"null body with a length", a, false, 513});
  }
  {
    HostHttpResponse a{};
    a.status = 200;
    a.headerCount = 3;
    a.body = good_body.data();
    a.bodyLength = static_cast<std::uint32_t>(good_body.size());
    cases.push_back({"header count without an array", a, false, 513});
  }
  {
    HostHttpResponse a{};
    a.status = 200;
    a.headers = null_pairs;
    a.headerCount = 2;
    a.body = good_body.data();
    a.bodyLength = static_cast<std::uint32_t>(good_body.size());
    cases.push_back({"header pairs with null texts", a, true, 0});
  }
  {
    HostHttpResponse a{};
    a.status = 200;
    a.body = good_body.data();
    a.bodyLength = static_cast<std::uint32_t>(good_body.size());
    a.release = nullptr;
    cases.push_back({"no release function", a, true, 0});
  }
  {
    HostHttpResponse a{};
    a.transportResult = 3;
    a.bodyLength = 40;
    cases.push_back({"transport failure with a null error text", a, false, 512});
  }
  {
    HostHttpResponse a{};
    a.transportResult = 0xFFFFFFFFu;
    cases.push_back({"transport result outside the table", a, false, 512});
  }
  {
    HostHttpResponse a{};
    a.status = 0xFFFFFFFFu;
    a.body = "{}";
    a.bodyLength = 2;
    cases.push_back({"status outside HTTP", a, false, 0});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PluginTestHost test;
    test.Start();
    test.host().SetHttpHandler([&](const HostHttpRequest& request, HostHttpResponse& response) {
      const std::string url = request.url != nullptr ? request.url : "";
      if (url == kTokenUrl) {
        response = c.answer;
      } else {
        response = HostHttpResponse{};
        response.transportResult = 1;
      }
    });
    const PluginTestHost::Reply reply =
        test.Send(kHostMethodPost, "/ulix-auth/v1/authorization/gas", kCredentials);
    EXPECT_EQ(reply.error.empty(), c.signs_on) << reply.status << " " << reply.error;
    if (!c.signs_on && c.status != 0) {
      EXPECT_EQ(reply.status, c.status) << reply.error;
    }
    // A kept authorization reads back without a status, a missing one as 404.
    EXPECT_EQ(test.Send(kHostMethodGet, "/ulix-auth/v1/authorization").status,
              c.signs_on ? 0u : 404u);
  }
}

// The user-info answer is read as text and only its status decides: a length without a body or
// a header count without headers reads as an empty 200 document. The authorization stays.
TEST(MisbehavingHost, UserInfoAnswersThatBreakTheRecordRulesReadAsEmpty) {
  struct Case {
    const char* what;
    HostHttpResponse answer;
  };
  std::vector<Case> cases;
  {
    HostHttpResponse a{};
    a.status = 200;
    a.bodyLength = 64;
    cases.push_back({"null body with a length", a});
  }
  {
    HostHttpResponse a{};
    a.status = 200;
    a.headerCount = 2;
    a.body = "{}";
    a.bodyLength = 2;
    cases.push_back({"header count without an array", a});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PluginTestHost test;
    test.Start();
    ASSERT_EQ(test.SignOn().error, "");
    test.host().SetHttpHandler([&](const HostHttpRequest& request, HostHttpResponse& response) {
      response = HostHttpResponse{};
      response.transportResult = 1;
      if (request.url != nullptr && std::string(request.url) == kUserInfoUrl) response = c.answer;
    });
    const PluginTestHost::Reply reply =
        test.Send(kHostMethodPost, "/ulix-auth/v1/authorization/userinfo");
    EXPECT_EQ(reply.error, "");
    EXPECT_EQ(reply.json, R"({"userInfo":""})");
    EXPECT_EQ(test.Send(kHostMethodGet, "/ulix-auth/v1/authorization").error, "");
  }
}

TEST(MisbehavingHost, EventsNobodySubscribedToAreIgnored) {
  PluginTestHost test;
  test.Start();
  ASSERT_EQ(test.SignOn().error, "");
  const std::vector<FakeHost::Subscription> subscriptions = test.host().Subscriptions();
  ASSERT_FALSE(subscriptions.empty());
  const FakeHost::Subscription& real = subscriptions.front();
  test.TakeChanges();

  HostObjectEntry entry{};
  entry.key = "uri";
  entry.value.kind = 99;
  HostValue odd_object{};
  odd_object.kind = kHostValueObject;
  odd_object.payload.object.entries = &entry;
  odd_object.payload.object.count = 1;
  HostValue no_entries{};
  no_entries.kind = kHostValueObject;
  no_entries.payload.object.count = 9;
  HostValue odd_kind{};
  odd_kind.kind = 1234;

  struct Case {
    const char* what;
    const char* name;
    HostValue value;
  };
  const Case cases[] = {
      {"a name never subscribed", "OnJsonApiEvent_never_subscribed", HostValue{}},
      {"a null name", nullptr, HostValue{}},
      {"a subscribed name with a value of kind 1234", real.name.c_str(), odd_kind},
      {"a subscribed name with an entry of kind 99", real.name.c_str(), odd_object},
      {"a subscribed name with an entry count and no entries", real.name.c_str(), no_entries},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostEventDelivery delivery{};
    delivery.name = c.name;
    delivery.value = c.value;
    delivery.context = real.context;
    real.callback(&delivery);
  }
  // Nothing changed: the authorization is kept and no change was published.
  EXPECT_EQ(test.Send(kHostMethodGet, "/ulix-auth/v1/authorization").error, "");
  EXPECT_TRUE(test.TakeChanges().empty());
}

// The event callback used to read the subscription's context from a null delivery and call
// through a null context.
TEST(MisbehavingHost, EventDeliveryWithoutADeliveryOrContextIsIgnored) {
  PluginTestHost test;
  test.Start();
  const std::vector<FakeHost::Subscription> subscriptions = test.host().Subscriptions();
  ASSERT_FALSE(subscriptions.empty());
  const FakeHost::Subscription& real = subscriptions.front();
  real.callback(nullptr);
  HostEventDelivery no_context{};
  no_context.name = real.name.c_str();
  real.callback(&no_context);
  EXPECT_EQ(test.Send(kHostMethodGet, "/ulix-auth/v1/status/NA1").error, "");
}

TEST(MisbehavingHost, DelayedCallbacksFiredTwiceOrAfterStopRunOnce) {
  PluginTestHost test;
  test.Start();
  ASSERT_EQ(test.SignOn().error, "");
  const std::vector<FakeHost::ScheduledCallback> scheduled = test.host().Scheduled();
  ASSERT_FALSE(scheduled.empty());
  test.TakeChanges();
  for (const FakeHost::ScheduledCallback& callback : scheduled) {
    SCOPED_TRACE(callback.label);
    callback.callback(callback.context);
    const std::size_t requests = test.service().RequestedUrls().size();
    callback.callback(callback.context);  // the ticket was used up by the first call
    EXPECT_EQ(test.service().RequestedUrls().size(), requests);
  }
  // Contexts the plug-in never gave out.
  scheduled.front().callback(nullptr);
  scheduled.front().callback(reinterpret_cast<void*>(~std::uintptr_t{0}));

  // Callbacks still pending at stop run nothing when the host fires them afterwards.
  test.Send(kHostMethodPost, "/ulix-auth/v1/authorization/refresh");
  const std::vector<FakeHost::ScheduledCallback> pending = test.host().Scheduled();
  const std::size_t requests = test.service().RequestedUrls().size();
  test.Stop();
  for (const FakeHost::ScheduledCallback& callback : pending) callback.callback(callback.context);
  EXPECT_EQ(test.service().RequestedUrls().size(), requests);
}

// All of the above from eight host threads at once on one plug-in.
TEST(MisbehavingHost, EightThreadsMisbehavingAtOnce) {
  PluginTestHost test;
  test.service().Respond(kTokenUrl, [](const std::string&, const std::string&) {
    return TokenReply(AccessTokenFor());
  });
  test.Start();
  EndpointChooser chooser(test.catalogue());
  const CatalogueEndpoint* status = chooser.Choose(kHostMethodGet, "/ulix-auth/v1/status/NA1");
  const CatalogueEndpoint* gas = chooser.Choose(kHostMethodPost, "/ulix-auth/v1/authorization/gas");
  ASSERT_NE(status, nullptr);
  ASSERT_NE(gas, nullptr);
  const FakeHost::Subscription real = test.host().Subscriptions().front();
  HostNamedValue odd_kind{};
  odd_kind.name = "platformId";
  odd_kind.value.kind = 99;

  constexpr int kThreads = 8;
  constexpr int kRounds = 60;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        switch ((round + t) % 6) {
          case 0: {
            HostRequest r = RequestFor(kHostMethodGet, "/ulix-auth/v1/status/NA1");
            r.namedValues = &odd_kind;
            r.namedValueCount = 1;
            DispatchRecord(*status, r);
            break;
          }
          case 1: {
            HostRequest r = RequestFor(kHostMethodPost, "/ulix-auth/v1/authorization/gas");
            r.contentType = "application/json";
            r.body = kCredentials;
            r.bodyLength = static_cast<std::uint32_t>(std::strlen(kCredentials));
            DispatchRecord(*gas, r);
            break;
          }
          case 2: {
            HostRequest r = RequestFor(kHostMethodPost, nullptr);
            r.bodyLength = 77;
            r.headerCount = 5;
            DispatchRecord(*gas, r);
            break;
          }
          case 3: {
            HostEventDelivery delivery{};
            delivery.name = (t % 2 == 0) ? "OnJsonApiEvent_never_subscribed" : real.name.c_str();
            delivery.value.kind = 77;
            delivery.context = real.context;
            real.callback(&delivery);
            break;
          }
          case 4:
            for (const FakeHost::ScheduledCallback& c : test.host().Scheduled()) {
              c.callback(c.context);
              c.callback(c.context);
            }
            break;
          case 5:
            test.Send(kHostMethodPost, "/ulix-auth/v1/authorization/refresh");
            test.Send(kHostMethodGet, "/ulix-auth/v1/authorization/access-token");
            break;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  test.host().FireScheduled();
  EXPECT_EQ(test.Send(kHostMethodGet, "/ulix-auth/v1/status/NA1").error, "");
}

}  // namespace
}  // namespace ulix_auth
