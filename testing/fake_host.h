// A host for tests: implements the host's function table, records what the plug-in asks of it
// and answers with scripted results. Thread-safe: the plug-in may call it from any thread.
#ifndef TESTING_FAKE_HOST_H_
#define TESTING_FAKE_HOST_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "plugin_host_interface.h"

// Not named after the folder: GoogleTest owns the namespace `testing`.
namespace ulix_testing {

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
  };
  // Scripted answers. Unscripted resource calls answer 404; unscripted HTTP calls fail in
  // transport.
  using ResourceHandler = std::function<void(const HostRequest& request, HostResponse& response)>;
  using HttpHandler =
      std::function<void(const HostHttpRequest& request, HostHttpResponse& response)>;

  explicit FakeHost(std::uint32_t plugin_handle = 7);
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  // What start receives. Valid as long as this host.
  const HostContext* context() const { return &context_; }
  const HostFunctionTable* functions() const { return &table_.functions; }

  std::vector<LogLine> LogLines() const;
  void ClearLog();

  std::vector<Subscription> Subscriptions() const;
  std::vector<Unsubscription> Unsubscriptions() const;
  std::vector<std::string> SentEventNames() const;

  std::vector<ScheduledCallback> Scheduled() const;
  // Runs every callback scheduled so far (in the order scheduled) and forgets them; callbacks
  // scheduled while firing wait for the next call. Returns how many ran.
  std::size_t FireScheduled();

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
  std::vector<std::string> sent_events_;
  std::vector<ScheduledCallback> scheduled_;
  std::vector<std::string> wait_reasons_;
  ResourceHandler resource_handler_;
  HttpHandler http_handler_;
  int yield_count_ = 0;
  int finish_wait_count_ = 0;
};

}  // namespace ulix_testing

#endif  // TESTING_FAKE_HOST_H_
