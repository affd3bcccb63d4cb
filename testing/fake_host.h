// A host for tests: implements the host's function table, records what the plug-in asks of it
// and answers with scripted results. Thread-safe: the plug-in may call it from any thread.
#ifndef TESTING_FAKE_HOST_H_
#define TESTING_FAKE_HOST_H_

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "plugin_host_interface.h"

// Not named after the folder: GoogleTest owns the namespace `testing`.
namespace ulix_testing {

// A host value tree the fake host can hand to the plug-in (scripted answers, delivered events)
// or copy out of what the plug-in sent (arguments, published events), written as JSON for
// assertions.
class FakeValue {
 public:
  using Entries = std::vector<std::pair<std::string, FakeValue>>;
  FakeValue() = default;  // kind 0
  static FakeValue Bool(bool v) { return FakeValue({kHostValueBool, {.boolean = v}}); }
  static FakeValue Signed(std::int64_t v) { return FakeValue({kHostValueSigned, {.int64 = v}}); }
  static FakeValue Unsigned(std::uint64_t v) {
    return FakeValue({kHostValueUnsigned, {.uint64 = v}});
  }
  static FakeValue Double(double v) { return FakeValue({kHostValueDouble, {.float64 = v}}); }
  static FakeValue Text(std::string v) { return FakeValue(kHostValueText, std::move(v)); }
  static FakeValue Bytes(std::string v) { return FakeValue(kHostValueBytes, std::move(v)); }
  static FakeValue Array(std::vector<FakeValue> v) {
    return FakeValue(kHostValueArray, {}, std::move(v));
  }
  static FakeValue Object(Entries v) { return FakeValue(kHostValueObject, {}, {}, std::move(v)); }
  // A deep copy of a record the plug-in built.
  static FakeValue FromHost(const HostValue& record);

  // Compact JSON: kind 0 is null, bytes are "<n bytes>", object entries in record order.
  std::string Json() const;

  // Owns the arrays and texts of records built from FakeValues.
  struct Storage {
    std::deque<std::string> texts;
    std::deque<std::vector<HostValue>> values;
    std::deque<std::vector<HostObjectEntry>> entries;
  };
  // Builds the record in `storage`, which must outlive it.
  HostValue Build(Storage& storage) const;

 private:
  explicit FakeValue(HostValue scalar) : scalar_(scalar) {}
  explicit FakeValue(std::uint32_t kind, std::string text, std::vector<FakeValue> items = {},
                     Entries entries = {})
      : scalar_{kind, {}},
        text_(std::move(text)),
        items_(std::move(items)),
        entries_(std::move(entries)) {}

  HostValue scalar_{};  // the kind, and the payload of a bool or number
  std::string text_;
  std::vector<FakeValue> items_;
  Entries entries_;
};

class FakeHost {
 public:
  struct LogLine {
    std::int32_t level;
    std::string message;
    bool operator==(const LogLine&) const = default;
  };
  struct Subscription {
    std::string name;
    std::uint32_t plugin_handle;
    HostEventCallback callback;
    void* context;
    std::int32_t flag;
  };
  struct Unsubscription {
    std::string name;
    std::uint32_t plugin_handle;
  };
  struct ScheduledCallback {
    std::string label;
    HostDelayedCallback callback;
    void* context;
    double delay_seconds;
    double due_seconds;  // on the host's manual clock
  };
  struct SentEvent {
    std::string name;
    FakeValue value;
  };
  struct ResourceCall {
    std::uint32_t method;
    std::string path;
    std::vector<std::pair<std::string, FakeValue>> arguments;  // unnamed: ""
    std::uint32_t caller_context;
  };
  // A scripted resource answer. A non-empty `error` makes an error response; `stream`, when
  // set, answers with a streamed body handed out one piece per read (pieces of at most 4096
  // bytes; an empty piece announces more data without giving any); `stream_fails` makes the
  // read after the last piece fail.
  struct ResourceAnswer {
    std::uint32_t status = 200;
    std::string error;
    FakeValue value;
    std::optional<std::vector<std::string>> stream;
    bool stream_fails = false;
  };
  struct HttpCall {
    std::uint32_t method;
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::uint32_t timeout;
    std::uint8_t flag;
  };
  // A scripted HTTP answer. `body` unset sends no body; `null_headers` announces headers
  // without an array; `null_body_length` announces that many body bytes without a body.
  struct HttpAnswer {
    std::uint32_t transport = 0;
    std::uint32_t status = 200;
    std::optional<std::string> body = std::nullopt;
    std::vector<std::pair<std::string, std::string>> headers = {};
    bool null_headers = false;
    std::uint32_t null_body_length = 0;
  };
  // Scripted answers. Unscripted resource calls answer 404; unscripted HTTP calls fail in
  // transport.
  using ResourceHandler = std::function<void(const HostRequest& request, HostResponse& response)>;
  using HttpHandler =
      std::function<void(const HostHttpRequest& request, HostHttpResponse& response)>;

  explicit FakeHost(std::uint32_t plugin_handle = 7);
  ~FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  // What start receives. Valid as long as this host.
  const HostContext* context() const { return &context_; }
  const HostFunctionTable* functions() const { return &table_.functions; }
  // The host's own table, for tests that replace an entry (an event sink that drops
  // everything, a scheduler that runs at once). Replace entries before start; the other entries
  // keep working because they find this host through the table's address.
  HostFunctionTable* mutable_functions() { return &table_.functions; }

  std::vector<LogLine> LogLines() const { return Copy(log_lines_); }
  void ClearLog() {
    Locked([this] { log_lines_.clear(); });
  }
  // Forgets what was recorded (log lines, sent events, unsubscriptions, resource and HTTP calls,
  // wait reasons) and keeps what is live (subscriptions, scheduled callbacks, scripts, held
  // responses), so a host that serves one plug-in for a long run stays bounded.
  void ClearRecords();

  std::vector<Subscription> Subscriptions() const { return Copy(subscriptions_); }
  std::vector<Unsubscription> Unsubscriptions() const { return Copy(unsubscriptions_); }
  std::vector<SentEvent> SentEvents() const { return Copy(sent_events_); }
  // The event bus: every event the plug-in sends reaches the callbacks subscribed to its name
  // (in subscription order, on the sending thread, after the send is recorded). Deliver sends
  // one as the host would.
  void Deliver(const std::string& name, const FakeValue& value);
  // Subscriptions not yet unsubscribed.
  std::size_t ActiveSubscriptionCount() const { return Copy(active_subscriptions_).size(); }

  std::vector<ScheduledCallback> Scheduled() const { return Copy(scheduled_); }
  // Runs every callback scheduled so far (in the order scheduled) and forgets them; callbacks
  // scheduled while firing wait for the next call. Returns how many ran.
  std::size_t FireScheduled();
  // Moves the manual clock forward and runs, in due order, the callbacks that became due
  // (including ones scheduled by them that are due too). Returns how many ran.
  std::size_t AdvanceClock(double seconds);

  // Answers calls of `path` (any method) until replaced. Scripts win over the handler.
  void ScriptResource(const std::string& path, ResourceAnswer answer) {
    Locked([&] { resource_scripts_[path] = std::move(answer); });
  }
  // The same with a 200 answer holding `value`.
  void ScriptResource(const std::string& path, FakeValue value) {
    ScriptResource(path, ResourceAnswer{200, {}, std::move(value), {}, false});
  }
  std::vector<ResourceCall> ResourceCalls() const { return Copy(resource_calls_); }
  // Scripted responses the plug-in released, and streams it closed.
  int released_responses() const { return released_responses_; }
  int closed_streams() const { return closed_streams_; }

  // Answers every HTTP request with `answer`: the HTTP handler that does so (for answers by URL,
  // HttpScript).
  void ScriptHttp(HttpAnswer answer);
  std::vector<HttpCall> HttpCalls() const { return Copy(http_calls_); }
  int released_http_responses() const { return released_http_responses_; }
  // Answers handed out and not yet released by the plug-in.
  std::size_t outstanding_http_responses() const;
  // Fills `response` from `answer`; the host keeps its texts until the plug-in releases it.
  // For HTTP handlers.
  void HandOut(const HttpAnswer& answer, HostHttpResponse& response);

  void SetResourceHandler(ResourceHandler handler) {
    Locked([&] { resource_handler_ = std::move(handler); });
  }
  void SetHttpHandler(HttpHandler handler) {
    Locked([&] { http_handler_ = std::move(handler); });
  }

  int yield_count() const { return yield_count_; }
  int finish_wait_count() const { return finish_wait_count_; }
  std::vector<std::string> WaitReasons() const { return Copy(wait_reasons_); }

 private:
  struct Table {
    HostFunctionTable functions;
    FakeHost* owner;
  };
  struct HeldResponse;
  static FakeHost& From(const HostFunctionTable* table);

  template <typename Change>
  void Locked(Change change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change();
  }
  template <typename T>
  T Copy(const T& record) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return record;
  }
  void CallResource(const HostRequest& request, HostResponse& response);
  void SendHttp(const HostHttpRequest& request, HostHttpResponse& response);
  void Answer(const ResourceAnswer& answer, HostResponse& response);
  // The callbacks subscribed to `name`, called outside the lock: a handler may call the host.
  void Notify(const std::string& name, const HostValue& value);

  mutable std::mutex mutex_;
  Table table_;
  HostContext context_;
  std::vector<LogLine> log_lines_;
  std::vector<Subscription> subscriptions_;
  std::vector<Unsubscription> unsubscriptions_;
  std::vector<Subscription> active_subscriptions_;
  std::vector<SentEvent> sent_events_;
  std::vector<ScheduledCallback> scheduled_;
  double now_seconds_ = 0;
  std::map<std::string, ResourceAnswer> resource_scripts_;
  std::vector<ResourceCall> resource_calls_;
  std::map<const void*, std::unique_ptr<HeldResponse>> held_responses_;
  std::vector<HttpCall> http_calls_;
  std::vector<std::string> wait_reasons_;
  ResourceHandler resource_handler_;
  HttpHandler http_handler_;
  std::atomic<int> released_responses_ = 0;
  std::atomic<int> closed_streams_ = 0;
  std::atomic<int> released_http_responses_ = 0;
  std::atomic<int> yield_count_ = 0;
  std::atomic<int> finish_wait_count_ = 0;
};

}  // namespace ulix_testing

#endif  // TESTING_FAKE_HOST_H_
