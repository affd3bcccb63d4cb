// A host that breaks the rules of the host interface: null texts, counts without arrays, value
// kinds outside the table, missing release functions, responses released twice or late, HTTP
// answers that announce a body they do not carry, events nobody subscribed to and delayed
// callbacks fired twice or after stop. Each must end in an error value or be ignored; the
// sanitised builds (asan, tsan) turn a crash, a leak or a race into a failure here.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "testing/plugin_test_host.h"

// Records name only the fields a case sets; the rest are zero.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace ulix_auth::misbehaving {
namespace {

using ulix_testing::AccessTokenFor;
using ulix_testing::EndpointChooser;
using ulix_testing::FakeHost;
using ulix_testing::kAccessTokenPath;
using ulix_testing::kAuthorizationPath;
using ulix_testing::kPlayer1;
using ulix_testing::kSignOnBody;
using ulix_testing::kStatusPath;
using ulix_testing::kTokenUrl;
using ulix_testing::kUserInfoUrl;
using ulix_testing::PluginTestHost;
using ulix_testing::TokenReply;

constexpr const char* kGasPath = "/ulix-auth/v1/authorization/gas";
constexpr const char* kUnreachable = "512 temporarily_unavailable: Unable to connect to server";

// Values whose payload announces characters, members or a kind they do not carry.
const HostObjectEntry kNullKeyEntry{
    .value = {.kind = kHostValueText, .payload = {.text = {.data = "ann", .length = 3}}}};
const HostNamedValue kOddKind{.name = "platformId", .value = {.kind = 99}};
const HostNamedValue kUnnamedOddKind{.value = {.kind = 0xFFFFFFFFu}};
const HostNamedValue kNullText{
    .name = "platformId", .value = {.kind = kHostValueText, .payload = {.text = {.length = 12}}}};
const HostNamedValue kNullEntries{
    .name = "creds", .value = {.kind = kHostValueObject, .payload = {.object = {.count = 5}}}};
const HostNamedValue kNullItems{
    .name = "creds", .value = {.kind = kHostValueArray, .payload = {.array = {.count = 5}}}};
const HostNamedValue kNullKey{
    .name = "creds",
    .value = {.kind = kHostValueObject,
              .payload = {.object = {.entries = const_cast<HostObjectEntry*>(&kNullKeyEntry),
                                     .count = 1}}}};
const HostHeaderPair kNullPairs[] = {{nullptr, nullptr}, {"X-Test", nullptr}, {nullptr, "v"}};

const struct RecordRow {
  const char* what;
  bool sign_on;  // sent to the sign-on endpoint, or else to the status read
  HostRequest record;
  // Failures of the request record itself carry no status; kUnreachable: the record read as an
  // empty sign-on, which then finds no service to exchange with.
  const char* outcome;
} kRecordRows[] = {
    // clang-format off
    {"named-value count without an array", false, {.namedValueCount = 3}, "0"},
    {"header count without an array", false, {.headerCount = 4}, "0"},
    {"header pairs with null texts", false, {.headers = kNullPairs, .headerCount = 3}, "0"},
    {"body length without a body", true, {.contentType = "application/json", .bodyLength = 100}, "0 A value for 'creds' is required."},
    {"body without a content type", true, {.body = kSignOnBody, .bodyLength = static_cast<std::uint32_t>(std::strlen(kSignOnBody))}, "0 Unsupported body content type"},
    {"binary body on an endpoint without one", false, {.body = "\xff\x00\x01", .bodyLength = 3}, "0"},
    {"value kind 99", false, {.namedValues = &kOddKind, .namedValueCount = 1}, "0 Couldn't assign value to 'platformId' of type object because the input is of an incompatible type ''."},
    {"unnamed value of kind 0xFFFFFFFF", false, {.namedValues = &kUnnamedOddKind, .namedValueCount = 1}, "0 Unknown argument '1' for 'GetUlixAuthV1StatusByPlatformId'."},
    {"text value without its text", false, {.namedValues = &kNullText, .namedValueCount = 1}, "0"},
    {"object count without entries", true, {.namedValues = &kNullEntries, .namedValueCount = 1}, kUnreachable},
    {"array count without items", true, {.namedValues = &kNullItems, .namedValueCount = 1}, "0 Couldn't assign value to 'creds' of type UlixAuthULIXPlayerCredentials because the input not a structure."},
    {"object entry without a key", true, {.namedValues = &kNullKey, .namedValueCount = 1}, kUnreachable},
    {"no path", false, {.method = kHostMethodGet, .path = ""}, "404 Invalid function"},
    {"a custom method without its name", false, {.method = kHostMethodCustom}, "404 Invalid function"},
    // clang-format on
};

// The sign-on and status endpoint records, chosen as a host chooses them.
struct Endpoints {
  explicit Endpoints(PluginTestHost& test) : chooser(test.catalogue()) {}
  // "<status>" or "<status> <error>" of what the plug-in answered to the row's record (its
  // endpoint's method and path filled in when unset), its response released once.
  std::string Send(const RecordRow& row) const {
    HostRequest record = row.record;
    if (record.method == 0) record.method = row.sign_on ? kHostMethodPost : kHostMethodGet;
    if (record.path == nullptr) record.path = row.sign_on ? kGasPath : kStatusPath;
    if (record.path[0] == '\0') record.path = nullptr;
    record.function = row.sign_on ? gas : status;
    HostResponse response;
    std::memset(static_cast<void*>(&response), 0xA5, sizeof response);  // need not be zeroed
    (row.sign_on ? gas : status)->dispatch(&response, &record);
    std::string outcome = std::to_string(response.status);
    if (response.errorText != nullptr) outcome += std::string(" ") + response.errorText;
    if (response.release != nullptr) response.release(&response);
    return outcome;
  }
  EndpointChooser chooser;
  const CatalogueEndpoint* gas = chooser.Choose(kHostMethodPost, kGasPath);
  const CatalogueEndpoint* status = chooser.Choose(kHostMethodGet, kStatusPath);
};

// Deliveries of the first subscription the plug-in made: unknown names, no context, values of
// unknown kinds or announcing entries they do not carry.
std::vector<HostEventDelivery> OddDeliveries(const FakeHost::Subscription& real) {
  static const HostObjectEntry odd_entry{.key = "uri", .value = {.kind = 99}};
  const HostValue odd_object{
      .kind = kHostValueObject,
      .payload = {.object = {.entries = const_cast<HostObjectEntry*>(&odd_entry), .count = 1}}};
  const char* name = real.name.c_str();
  return {{.name = "OnJsonApiEvent_never_subscribed", .context = real.context},
          {.name = nullptr, .context = real.context},
          {.name = name, .context = nullptr},
          {.name = name, .value = {.kind = 1234}, .context = real.context},
          {.name = name, .value = odd_object, .context = real.context},
          {.name = name, .value = kNullEntries.value, .context = real.context}};
}

TEST(MisbehavingHost, MalformedRepeatedAndLateCallsGetAnErrorOrAreIgnored) {
  PluginTestHost test;
  test.Start();
  const Endpoints endpoints(test);
  ASSERT_TRUE(endpoints.gas != nullptr && endpoints.status != nullptr);
  for (const RecordRow& row : kRecordRows) EXPECT_EQ(endpoints.Send(row), row.outcome) << row.what;

  // A request record naming no endpoint, and no request record at all.
  HostRequest unnamed{.method = kHostMethodGet, .path = kStatusPath};
  for (const HostRequest* record : {&unnamed, static_cast<HostRequest*>(nullptr)}) {
    HostResponse response{};
    endpoints.gas->dispatch(&response, record);
    EXPECT_EQ(std::to_string(response.status) + " " + response.errorText, "404 Invalid function");
    response.release(&response);
  }
  endpoints.gas->dispatch(nullptr, &unnamed);  // nowhere to answer: ignored

  // Events: nothing changes, the authorization is kept and no change is published.
  ASSERT_EQ(test.SignOn(), kPlayer1);
  test.TakeChanges();
  const FakeHost::Subscription real = test.host().Subscriptions().front();
  for (HostEventDelivery& delivery : OddDeliveries(real)) real.callback(&delivery);
  real.callback(nullptr);
  EXPECT_EQ(test.Text(kHostMethodGet, kAuthorizationPath), kPlayer1);
  EXPECT_TRUE(test.TakeChanges().empty());

  // Responses released twice or only after stop, delayed callbacks fired twice, with contexts
  // never given out or after stop: each runs once, or not at all once stopped.
  const CatalogueEndpoint* read = endpoints.chooser.Choose(kHostMethodGet, kAccessTokenPath);
  ASSERT_NE(read, nullptr);
  const HostRequest records[] = {
      {.method = kHostMethodGet, .path = kAccessTokenPath, .function = read},
      {.method = kHostMethodGet, .path = nullptr, .function = read}};
  // A value and an error, then another of each.
  HostResponse responses[4] = {};
  for (int i = 0; i < 4; ++i) read->dispatch(&responses[i], &records[i % 2]);
  EXPECT_EQ(responses[0].value.kind + 0, static_cast<std::uint32_t>(kHostValueObject));
  EXPECT_EQ(responses[0].errorText, nullptr);
  EXPECT_NE(responses[1].errorText, nullptr);
  // The record was emptied by the first release.
  for (int i : {0, 0, 1, 1}) responses[i].release(&responses[i]);

  for (const FakeHost::ScheduledCallback& callback : test.host().Scheduled()) {
    const std::size_t requests = test.service().RequestedUrls().size();
    callback.callback(callback.context);
    EXPECT_GT(test.service().RequestedUrls().size(), requests) << callback.label;
    callback.callback(callback.context);  // the ticket was used up by the first call
    EXPECT_EQ(test.service().RequestedUrls().size(), requests + 1) << callback.label;
  }
  test.host().Scheduled().front().callback(nullptr);
  test.host().Scheduled().front().callback(reinterpret_cast<void*>(~std::uintptr_t{0}));

  // Held past the plug-in's stop: the release functions and what they free do not depend on the
  // plug-in instance, and callbacks still pending run nothing.
  test.Text(kHostMethodPost, "/ulix-auth/v1/authorization/refresh");
  const std::vector<FakeHost::ScheduledCallback> pending = test.host().Scheduled();
  const std::size_t requests = test.service().RequestedUrls().size();
  test.Stop();
  for (int i : {2, 3}) responses[i].release(&responses[i]);
  for (const FakeHost::ScheduledCallback& callback : pending) callback.callback(callback.context);
  EXPECT_EQ(test.service().RequestedUrls().size(), requests);
}

// Answers to the plug-in's exchanges that break the record rules (PluginTestHost answers its
// resource calls without a release function, too). `url` answers so, every other URL is
// unreachable; a token answer is read as a sign-on's, a user-info answer as a text whose status
// alone decides.
TEST(MisbehavingHost, ExchangeAnswersThatBreakTheRecordRules) {
  const std::string good = *TokenReply(AccessTokenFor()).body;
  const auto length = static_cast<std::uint32_t>(good.size());
  const HostHeaderPair null_pairs[] = {{nullptr, nullptr}, {"Content-Type", nullptr}};
  const struct {
    const char* what;
    const char* url;
    HostHttpResponse answer;
    const char* outcome;
  } rows[] = {
      // clang-format off
      {"null body with a length", kTokenUrl, {.status = 200, .bodyLength = 100}, "513 server_error: Received invalid JSON"},
      {"header count without an array", kTokenUrl, {.status = 200, .headerCount = 3, .body = good.c_str(), .bodyLength = length}, "513 server_error: Received invalid JSON"},
      {"header pairs with null texts", kTokenUrl, {.status = 200, .headers = null_pairs, .headerCount = 2, .body = good.c_str(), .bodyLength = length}, kPlayer1},
      {"no release function", kTokenUrl, {.status = 200, .body = good.c_str(), .bodyLength = length}, kPlayer1},
      {"transport failure with a null error text", kTokenUrl, {.transportResult = 3, .bodyLength = 40}, kUnreachable},
      {"transport result outside the table", kTokenUrl, {.transportResult = 0xFFFFFFFFu}, kUnreachable},
      {"status outside HTTP", kTokenUrl, {.status = 0xFFFFFFFFu, .body = "{}", .bodyLength = 2}, "4294967295 server_error: Received malformed response."},
      {"user info: a length without a body", kUserInfoUrl, {.status = 200, .bodyLength = 64}, R"({"userInfo":""})"},
      {"user info: a header count without headers", kUserInfoUrl, {.status = 200, .headerCount = 2, .body = "{}", .bodyLength = 2}, R"({"userInfo":""})"},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    PluginTestHost test;
    test.Start();
    const bool user_info = row.url == kUserInfoUrl;
    if (user_info) {
      ASSERT_EQ(test.SignOn(), kPlayer1);
    }
    test.host().SetHttpHandler([&row](const HostHttpRequest& request, HostHttpResponse& out) {
      out = std::strcmp(request.url, row.url) == 0 ? row.answer : HostHttpResponse{1};
    });
    EXPECT_EQ(user_info ? test.Text(kHostMethodPost, "/ulix-auth/v1/authorization/userinfo")
                        : test.Text(kHostMethodPost, kGasPath, kSignOnBody),
              row.outcome);
    // The authorization is kept exactly when the sign-on succeeded.
    const bool signed_on = user_info || row.outcome == kPlayer1;
    EXPECT_EQ(test.Text(kHostMethodGet, kAuthorizationPath),
              signed_on ? kPlayer1 : "404 No authorization currently exists.");
  }
}

// Eight host threads at once on one plug-in: sign-ons, reads, refreshes by hand and by timer
// (some to be retried, a few refused), configuration changes and sign-offs, among all of the
// above. No change event is lost, sent twice or reordered, and the state agrees with the last.
TEST(MisbehavingHost, EightThreadsAtOnceKeepEveryChangeOnceAndInOrder) {
  PluginTestHost test;
  std::atomic<int> next_token{0};
  test.service().Respond(kTokenUrl, [&](const std::string&, const std::string& body) {
    const int n = next_token++;
    const bool refresh = body.find("grant_type=refresh_token") != std::string::npos;
    if (refresh && n % 7 == 3) return FakeHost::HttpAnswer{0, 503, R"({"error":"server_error"})"};
    if (refresh && n % 11 == 5) return FakeHost::HttpAnswer{0, 400, R"({"error":"invalid_grant"})"};
    return TokenReply(AccessTokenFor("p" + std::to_string(n)));
  });
  test.Start();
  test.TakeChanges();
  const Endpoints endpoints(test);
  const FakeHost::Subscription real = test.host().Subscriptions().front();
  std::atomic<int> sign_ons{0}, sign_offs{0};
  const auto config = [&test](int thread) {
    if (thread % 2 != 0) return void(test.Text(kHostMethodDelete, "/ulix-auth/v2/config"));
    test.Text(kHostMethodPost, "/ulix-auth/v2/config",
              R"({"url":"https://auth.test","clientId":"o"})");
  };
  std::vector<std::function<void(int thread)>> steps = {
      [&](int) { sign_ons += test.SignOn().starts_with("{"); },
      [&](int) { test.Text(kHostMethodGet, kAccessTokenPath); },
      [&](int) { test.Text(kHostMethodPost, "/ulix-auth/v1/authorization/refresh"); },
      [&](int) { test.host().FireScheduled(); },
      config,
      [&](int) {
        test.Text(kHostMethodGet, "/ulix-auth/v1/authorization/error");
        test.Text(kHostMethodGet, kAuthorizationPath);
      },
      [&](int) { sign_offs += test.Text(kHostMethodDelete, kAuthorizationPath) == "null"; },
      [&](int) {
        for (const FakeHost::ScheduledCallback& c : test.host().Scheduled()) {
          c.callback(c.context);
          c.callback(c.context);
        }
      },
  };
  // Records that reach the sign-on and succeed are sign-ons too.
  for (const RecordRow& row : kRecordRows) {
    steps.push_back([&](int) { sign_ons += row.sign_on && endpoints.Send(row) == "0"; });
  }
  for (HostEventDelivery delivery : OddDeliveries(real)) {
    steps.push_back([&real, delivery](int) { real.callback(&delivery); });
  }
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (std::size_t round = 0; round < 200; ++round) steps[(round + t) % steps.size()](t);
    });
  }
  for (std::thread& thread : threads) thread.join();

  // TakeChanges fails the test for a change not sent under both names.
  std::vector<std::string> data;
  const std::vector<std::string> changes = test.TakeChanges(&data);
  int refreshed = 0, refused = 0;
  for (const auto& line : test.host().LogLines()) {
    refreshed += line.message == "Refresh successful.";
    refused += line.message.starts_with("Refresh failed - authorization should be deleted");
  }
  int counts[3] = {};    // Creates, Deletes and Updates of the authorization
  bool present = false;  // whether an authorization exists after the changes read so far
  for (const std::string& change : changes) {
    const bool create = change == std::string("Create ") + kAuthorizationPath;
    const bool remove = change == std::string("Delete ") + kAuthorizationPath;
    const bool update = change == std::string("Update ") + kAccessTokenPath;
    if (create || remove || update) {
      EXPECT_EQ(present, !create) << "out of order: " << change;
    }
    present = create || (present && !remove);
    counts[0] += create, counts[1] += remove, counts[2] += update;
  }
  EXPECT_GT(sign_ons.load(), 0);
  EXPECT_EQ(std::vector<int>(counts, counts + 3),
            (std::vector<int>{sign_ons, sign_offs + refused, refreshed}));
  // Sign-on: 4 changes; sign-off: 4; refusal: 6; refresh: 1.
  EXPECT_EQ(changes.size(),
            static_cast<std::size_t>(4 * sign_ons + 4 * sign_offs + 6 * refused + refreshed));
  // The authorization exists exactly when its last change is a Create, and the access token is
  // the one announced last.
  EXPECT_EQ(test.Text(kHostMethodGet, kAuthorizationPath).starts_with("{"), present);
  for (std::size_t i = changes.size(); i-- > 0;) {
    if (changes[i].ends_with(kAccessTokenPath)) {
      EXPECT_EQ(
          test.Text(kHostMethodGet, kAccessTokenPath),
          changes[i].starts_with("Delete") ? "404 No authorization currently exists." : data[i]);
      break;
    }
  }
}

}  // namespace
}  // namespace ulix_auth::misbehaving

#pragma GCC diagnostic pop
