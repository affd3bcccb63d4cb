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
using ulix_testing::kSignOnBody;
using ulix_testing::kTokenUrl;
using ulix_testing::kUserInfoUrl;
using ulix_testing::PluginTestHost;
using ulix_testing::TokenReply;

constexpr const char* kGasPath = "/ulix-auth/v1/authorization/gas";
constexpr const char* kStatusPath = "/ulix-auth/v1/status/NA1";

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
  Outcome outcome{response.status, response.errorText != nullptr ? response.errorText : ""};
  if (response.release != nullptr) response.release(&response);
  return outcome;
}

// Records built field by field: only what a case breaks is set, the rest is zero.
struct Record : HostRequest {
  explicit Record(std::uint32_t record_method = 0, const char* record_path = nullptr)
      : HostRequest{} {
    method = record_method;
    path = record_path;
  }
  Record& Values(const HostNamedValue* values, std::uint32_t count) {
    namedValues = values;
    namedValueCount = count;
    return *this;
  }
  Record& Headers(const HostHeaderPair* pairs, std::uint32_t count) {
    headers = pairs;
    headerCount = count;
    return *this;
  }
  Record& Body(const char* type, const void* data, std::uint32_t length) {
    contentType = type;
    body = data;
    bodyLength = length;
    return *this;
  }
};
struct Answer : HostHttpResponse {
  explicit Answer(std::uint32_t answer_status, std::uint32_t transport = 0) : HostHttpResponse{} {
    status = answer_status;
    transportResult = transport;
  }
  Answer& Headers(const HostHeaderPair* pairs, std::uint32_t count) {
    headers = pairs;
    headerCount = count;
    return *this;
  }
  Answer& Body(const void* data, std::uint32_t length) {
    body = data;
    bodyLength = length;
    return *this;
  }
};

// A named value of `kind` whose payload announces `count` characters or members it does not
// carry.
HostNamedValue Announcing(const char* name, std::uint32_t kind, std::uint32_t count) {
  HostNamedValue named{};
  named.name = name;
  named.value.kind = kind;
  if (kind == kHostValueText) named.value.payload.text.length = count;
  if (kind == kHostValueArray) named.value.payload.array.count = count;
  if (kind == kHostValueObject) named.value.payload.object.count = count;
  return named;
}

// The sign-on and status endpoint records, chosen as a host chooses them.
struct Endpoints {
  explicit Endpoints(PluginTestHost& test)
      : chooser(test.catalogue()),
        gas(chooser.Choose(kHostMethodPost, kGasPath)),
        status(chooser.Choose(kHostMethodGet, kStatusPath)) {}
  EndpointChooser chooser;
  const CatalogueEndpoint* gas;
  const CatalogueEndpoint* status;
};

TEST(MisbehavingHost, MalformedRequestRecordsGetAnErrorOrAreIgnored) {
  PluginTestHost test;
  test.Start();
  const Endpoints endpoints(test);
  ASSERT_TRUE(endpoints.gas != nullptr && endpoints.status != nullptr);

  const HostNamedValue odd_kind = Announcing("platformId", 99, 0);
  const HostNamedValue unnamed_odd_kind = Announcing(nullptr, 0xFFFFFFFFu, 0);
  const HostNamedValue null_text = Announcing("platformId", kHostValueText, 12);
  const HostNamedValue null_entries = Announcing("creds", kHostValueObject, 5);
  const HostNamedValue null_items = Announcing("creds", kHostValueArray, 5);
  HostObjectEntry null_key_entry{};
  null_key_entry.value.kind = kHostValueText;
  null_key_entry.value.payload.text.data = "ann";
  null_key_entry.value.payload.text.length = 3;
  HostNamedValue null_key = Announcing("creds", kHostValueObject, 1);
  null_key.value.payload.object.entries = &null_key_entry;
  const HostHeaderPair null_pairs[] = {{nullptr, nullptr}, {"X-Test", nullptr}, {nullptr, "v"}};
  const auto length = static_cast<std::uint32_t>(std::strlen(kSignOnBody));

  const struct {
    const char* what;
    bool sign_on;        // sent as a sign-on, or else as a status read
    HostRequest record;  // its method and path are the endpoint's
    // Failures of the request record itself carry no status; 512: the record read as an empty
    // sign-on, which then finds no service to exchange with.
    std::uint32_t status;
    bool ok;
  } rows[] = {
      // clang-format off
      {"named-value count without an array", false, Record().Values(nullptr, 3), 0, true},
      {"header count without an array", false, Record().Headers(nullptr, 4), 0, true},
      {"header pairs with null texts", false, Record().Headers(null_pairs, 3), 0, true},
      {"body length without a body", true, Record().Body("application/json", nullptr, 100), 0,
       false},
      {"body without a content type", true, Record().Body(nullptr, kSignOnBody, length), 0, false},
      {"binary body on an endpoint without one", false, Record().Body(nullptr, "\xff\x00\x01", 3),
       0, true},
      {"value kind 99", false, Record().Values(&odd_kind, 1), 0, false},
      {"unnamed value of kind 0xFFFFFFFF", false, Record().Values(&unnamed_odd_kind, 1), 0, false},
      {"text value without its text", false, Record().Values(&null_text, 1), 0, true},
      {"object count without entries", true, Record().Values(&null_entries, 1), 512, false},
      {"array count without items", true, Record().Values(&null_items, 1), 0, false},
      {"object entry without a key", true, Record().Values(&null_key, 1), 512, false},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    HostRequest record = row.record;
    record.method = row.sign_on ? kHostMethodPost : kHostMethodGet;
    record.path = row.sign_on ? kGasPath : kStatusPath;
    const Outcome outcome =
        DispatchRecord(row.sign_on ? *endpoints.gas : *endpoints.status, record);
    EXPECT_EQ(outcome.error.empty(), row.ok) << outcome.error;
    EXPECT_EQ(outcome.status, row.status) << outcome.error;
  }
  // No path, and a custom method without its name.
  EXPECT_EQ(DispatchRecord(*endpoints.status, Record(kHostMethodGet, nullptr)).status, 404u);
  const Outcome custom = DispatchRecord(*endpoints.status, Record(kHostMethodCustom, kStatusPath));
  EXPECT_EQ(custom.status, 404u);
  EXPECT_NE(custom.error, "");

  // A request record naming no endpoint, and no request record at all.
  HostResponse response{};
  endpoints.gas->dispatch(&response, nullptr);
  EXPECT_STREQ(response.errorText, "Invalid function");
  response.release(&response);
  Record unnamed(kHostMethodGet, kStatusPath);
  endpoints.gas->dispatch(&response, &unnamed);
  EXPECT_EQ(response.status + 0, 404u);
  response.release(&response);
  endpoints.gas->dispatch(nullptr, &unnamed);  // nowhere to answer: ignored
}

TEST(MisbehavingHost, ResponsesReleasedTwiceOrOnlyAfterStopAreHarmless) {
  PluginTestHost test;
  test.Start();
  ASSERT_EQ(test.SignOn().error, "");
  EndpointChooser chooser(test.catalogue());
  const CatalogueEndpoint* read =
      chooser.Choose(kHostMethodGet, "/ulix-auth/v1/authorization/access-token");
  ASSERT_NE(read, nullptr);
  Record record(kHostMethodGet, "/ulix-auth/v1/authorization/access-token");
  record.function = read;
  Record bad(kHostMethodGet, nullptr);
  bad.function = read;

  // A value and an error, then another of each.
  HostResponse responses[4] = {};
  for (int i = 0; i < 4; ++i) read->dispatch(&responses[i], i % 2 == 0 ? &record : &bad);
  ASSERT_EQ(responses[0].errorText, nullptr);
  EXPECT_EQ(responses[0].value.kind + 0, static_cast<std::uint32_t>(kHostValueObject));
  ASSERT_NE(responses[1].errorText, nullptr);
  // The record was emptied by the first release.
  for (HostResponse* twice : {&responses[0], &responses[0], &responses[1], &responses[1]}) {
    twice->release(twice);
  }
  // Held past the plug-in's stop: the release functions and what they free do not depend on the
  // plug-in instance.
  test.Stop();
  for (HostResponse* late : {&responses[2], &responses[3]}) late->release(late);
}

// The host's answers to the plug-in's own resource calls without a release function: the
// plug-in reads them and leaves their memory to the host.
TEST(MisbehavingHost, ResourceAnswersWithoutAReleaseFunctionAreRead) {
  PluginTestHost test;
  std::atomic<int> answered{0};
  test.host().SetResourceHandler([&](const HostRequest&, HostResponse& response) {
    ++answered;
    response.errorText = "not found";
    response.errorFlag = 1;
    response.status = 404;
    response.release = nullptr;
  });
  test.Start();
  EXPECT_GT(answered.load(), 0);
  EXPECT_EQ(test.Send(kHostMethodGet, "/ulix-auth/v1/authorization").status, 404u);
}

// `answer` at `url`; every other URL is unreachable.
void AnswerBroken(PluginTestHost& test, const char* url, const HostHttpResponse& answer) {
  test.host().SetHttpHandler([url, answer](const HostHttpRequest& request, HostHttpResponse& out) {
    out = Answer(0, 1);
    if (request.url != nullptr && std::strcmp(request.url, url) == 0) out = answer;
  });
}

TEST(MisbehavingHost, TokenAnswersThatBreakTheRecordRulesFailTheSignOn) {
  const std::string good_body = *TokenReply(AccessTokenFor()).body;
  const char* const good = good_body.c_str();
  const auto length = static_cast<std::uint32_t>(good_body.size());
  const HostHeaderPair null_pairs[] = {{nullptr, nullptr}, {"Content-Type", nullptr}};
  const struct {
    const char* what;
    HostHttpResponse answer;  // without a release function, as the host may send it
    std::uint32_t status;     // of the failed sign-on; 0 when it signs on
  } rows[] = {
      // clang-format off
      {"null body with a length", Answer(200).Body(nullptr, 100), 513},
      {"header count without an array", Answer(200).Body(good, length).Headers(nullptr, 3), 513},
      {"header pairs with null texts", Answer(200).Body(good, length).Headers(null_pairs, 2), 0},
      {"no release function", Answer(200).Body(good, length), 0},
      {"transport failure with a null error text", Answer(0, 3).Body(nullptr, 40), 512},
      {"transport result outside the table", Answer(0, 0xFFFFFFFFu), 512},
      {"status outside HTTP", Answer(0xFFFFFFFFu).Body("{}", 2), 0xFFFFFFFFu},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    PluginTestHost test;
    test.Start();
    AnswerBroken(test, kTokenUrl, row.answer);
    const PluginTestHost::Reply reply = test.Send(kHostMethodPost, kGasPath, kSignOnBody);
    EXPECT_EQ(reply.status, row.status) << reply.error;
    EXPECT_EQ(reply.error.empty(), row.status == 0) << reply.error;
    // A kept authorization reads back without a status, a missing one as 404.
    EXPECT_EQ(test.Send(kHostMethodGet, "/ulix-auth/v1/authorization").status,
              row.status == 0 ? 0u : 404u);
  }
}

// The user-info answer is read as text and only its status decides: a length without a body or
// a header count without headers reads as an empty 200 document. The authorization stays.
TEST(MisbehavingHost, UserInfoAnswersThatBreakTheRecordRulesReadAsEmpty) {
  const HostHttpResponse answers[] = {
      Answer(200).Body(nullptr, 64),                  // a length without a body
      Answer(200).Body("{}", 2).Headers(nullptr, 2),  // a header count without headers
  };
  for (const HostHttpResponse& answer : answers) {
    PluginTestHost test;
    test.Start();
    ASSERT_EQ(test.SignOn().error, "");
    AnswerBroken(test, kUserInfoUrl, answer);
    EXPECT_EQ(test.Text(kHostMethodPost, "/ulix-auth/v1/authorization/userinfo"),
              R"({"userInfo":""})");
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
  const struct {
    const char* what;
    const char* name;
    HostValue value;
    void* context;
  } rows[] = {
      {"a name never subscribed", "OnJsonApiEvent_never_subscribed", {}, real.context},
      {"a null name", nullptr, {}, real.context},
      {"no context", real.name.c_str(), {}, nullptr},
      {"a value of kind 1234", real.name.c_str(), Announcing("", 1234, 0).value, real.context},
      {"an entry of kind 99", real.name.c_str(), odd_object, real.context},
      {"an entry count and no entries", real.name.c_str(),
       Announcing("", kHostValueObject, 9).value, real.context},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    HostEventDelivery delivery{};
    delivery.name = row.name;
    delivery.value = row.value;
    delivery.context = row.context;
    real.callback(&delivery);
  }
  real.callback(nullptr);
  // Nothing changed: the authorization is kept and no change was published.
  EXPECT_EQ(test.Send(kHostMethodGet, "/ulix-auth/v1/authorization").error, "");
  EXPECT_TRUE(test.TakeChanges().empty());
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
  const Endpoints endpoints(test);
  ASSERT_TRUE(endpoints.gas != nullptr && endpoints.status != nullptr);
  const FakeHost::Subscription real = test.host().Subscriptions().front();
  const HostNamedValue odd_kind = Announcing("platformId", 99, 0);
  const auto length = static_cast<std::uint32_t>(std::strlen(kSignOnBody));

  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 60; ++round) {
        HostEventDelivery delivery{};
        switch ((round + t) % 6) {
          case 0:
            DispatchRecord(*endpoints.status,
                           Record(kHostMethodGet, kStatusPath).Values(&odd_kind, 1));
            break;
          case 1:
            DispatchRecord(
                *endpoints.gas,
                Record(kHostMethodPost, kGasPath).Body("application/json", kSignOnBody, length));
            break;
          case 2:
            DispatchRecord(
                *endpoints.gas,
                Record(kHostMethodPost, nullptr).Headers(nullptr, 5).Body(nullptr, nullptr, 77));
            break;
          case 3:
            delivery.name = (t % 2 == 0) ? "OnJsonApiEvent_never_subscribed" : real.name.c_str();
            delivery.value.kind = 77;
            delivery.context = real.context;
            real.callback(&delivery);
            break;
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
  EXPECT_EQ(test.Send(kHostMethodGet, kStatusPath).error, "");
}

}  // namespace
}  // namespace ulix_auth
