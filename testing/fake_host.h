// A host for tests: implements the host's function table, records what the plug-in asks of it
// and answers with scripted results. Thread-safe: the plug-in may call it from any thread.
#ifndef TESTING_FAKE_HOST_H_
#define TESTING_FAKE_HOST_H_

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
  FakeValue() = default;  // kind 0
  static FakeValue Bool(bool value);
  static FakeValue Signed(std::int64_t value);
  static FakeValue Unsigned(std::uint64_t value);
  static FakeValue Double(double value);
  static FakeValue Text(std::string text);
  static FakeValue Bytes(std::string bytes);
  static FakeValue Array(std::vector<FakeValue> items);
  static FakeValue Object(std::vector<std::pair<std::string, FakeValue>> entries);
  // A deep copy of a record the plug-in built.
  static FakeValue FromHost(const HostValue& record);

  // Compact JSON: kind 0 is null, bytes are "<n bytes>", object entries in record order.
  std::string Json() const;

  // Builds the record in `storage`, which must outlive it.
  class Storage;
  HostValue Build(Storage& storage) const;

 private:
  std::uint32_t kind_ = kHostValueNone;
  std::int64_t signed_ = 0;
  std::uint64_t unsigned_ = 0;
  double double_ = 0;
  std::string text_;
  std::vector<FakeValue> items_;
  std::vector<std::pair<std::string, FakeValue>> entries_;
};

// Owns the arrays and texts of records built from FakeValues.
class FakeValue::Storage {
 public:
  const char* Keep(std::string text);
  HostValue* Values(std::size_t count);
  HostObjectEntry* Entries(std::size_t count);

 private:
  std::deque<std::string> texts_;
  std::deque<std::vector<HostValue>> values_;
  std::deque<std::vector<HostObjectEntry>> entries_;
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

  std::vector<LogLine> LogLines() const;
  void ClearLog();
  // Forgets what was recorded (log lines, sent events, unsubscriptions, resource and HTTP calls,
  // wait reasons) and keeps what is live (subscriptions, scheduled callbacks, scripts, held
  // responses), so a host that serves one plug-in for a long run stays bounded.
  void ClearRecords();

  std::vector<Subscription> Subscriptions() const;
  std::vector<Unsubscription> Unsubscriptions() const;
  std::vector<std::string> SentEventNames() const;
  std::vector<SentEvent> SentEvents() const;
  // The event bus: every event the plug-in sends reaches the callbacks subscribed to its name
  // (in subscription order, on the sending thread, after the send is recorded). Deliver sends
  // one as the host would.
  void Deliver(const std::string& name, const FakeValue& value);
  // Subscriptions not yet unsubscribed.
  std::size_t ActiveSubscriptionCount() const;

  std::vector<ScheduledCallback> Scheduled() const;
  // Runs every callback scheduled so far (in the order scheduled) and forgets them; callbacks
  // scheduled while firing wait for the next call. Returns how many ran.
  std::size_t FireScheduled();
  // Moves the manual clock forward and runs, in due order, the callbacks that became due
  // (including ones scheduled by them that are due too). Returns how many ran.
  std::size_t AdvanceClock(double seconds);
  double now_seconds() const;

  // Answers calls of `path` (any method) until replaced. Scripts win over the handler.
  void ScriptResource(const std::string& path, ResourceAnswer answer);
  // The same with a 200 answer holding `value`.
  void ScriptResource(const std::string& path, FakeValue value) {
    ResourceAnswer answer;
    answer.value = std::move(value);
    ScriptResource(path, std::move(answer));
  }
  std::vector<ResourceCall> ResourceCalls() const;
  // Scripted responses the plug-in released, and streams it closed.
  int released_responses() const;
  int closed_streams() const;

  // Answers every HTTP request with `answer`: the HTTP handler that does so (for answers by URL,
  // HttpScript).
  void ScriptHttp(HttpAnswer answer);
  std::vector<HttpCall> HttpCalls() const;
  int released_http_responses() const;
  // Answers handed out and not yet released by the plug-in.
  std::size_t outstanding_http_responses() const;
  // Fills `response` from `answer`; the host keeps its texts until the plug-in releases it.
  // For HTTP handlers.
  void HandOut(const HttpAnswer& answer, HostHttpResponse& response);

  void SetResourceHandler(ResourceHandler handler);
  void SetHttpHandler(HttpHandler handler);

  int yield_count() const;
  int finish_wait_count() const;
  std::vector<std::string> WaitReasons() const;

 private:
  struct Table {
    HostFunctionTable functions;
    FakeHost* owner;
  };
  static FakeHost& From(const HostFunctionTable* table);
  struct HeldResponse;
  struct HeldHttpResponse;
  static void ReleaseResponse(HostResponse* response);
  static std::uint8_t ReadStream(void* context, char* buffer, std::uint32_t* length,
                                 std::uint8_t* more_data);
  static void CloseStream(void* context);
  static void ReleaseHttpResponse(HostHttpResponse* response);
  void Answer(const ResourceAnswer& answer, HostResponse& response);

  static void CallResource(const HostFunctionTable* self, HostResponse* response,
                           const HostRequest* request);
  static void SendHttpRequest(const HostFunctionTable* self, const HostHttpRequest* request,
                              HostHttpResponse* response);
  static void SendEvent(const HostFunctionTable* self, const HostEvent* event);
  static void SubscribeEvent(const HostFunctionTable* self, const char* name,
                             std::uint32_t plugin_handle, HostEventCallback callback, void* context,
                             std::int32_t flag);
  static void UnsubscribeEvent(const HostFunctionTable* self, const char* name,
                               std::uint32_t plugin_handle);
  static void ScheduleCallback(const HostFunctionTable* self, const char* label,
                               HostDelayedCallback callback, void* context, double delay_seconds,
                               std::int32_t zero);
  static void YieldWait(const HostFunctionTable* self);
  static void SetWaitReason(const HostFunctionTable* self, const char* text, std::int32_t zero);
  static void FinishWait(const HostFunctionTable* self);
  static void WriteLog(const HostFunctionTable* self, std::int32_t level, const char* message);

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
  std::map<const HeldResponse*, std::unique_ptr<HeldResponse>> held_responses_;
  int released_responses_ = 0;
  int closed_streams_ = 0;
  std::vector<HttpCall> http_calls_;
  std::map<const HostHttpResponse*, std::unique_ptr<HeldHttpResponse>> held_http_;
  int released_http_responses_ = 0;
  std::vector<std::string> wait_reasons_;
  ResourceHandler resource_handler_;
  HttpHandler http_handler_;
  int yield_count_ = 0;
  int finish_wait_count_ = 0;
};

}  // namespace ulix_testing

#endif  // TESTING_FAKE_HOST_H_
