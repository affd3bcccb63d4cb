#include "testing/fake_host.h"

#include <utility>

namespace ulix_testing {

FakeHost::FakeHost(std::uint32_t plugin_handle)
    : table_{HostFunctionTable{&CallResource, &SendHttpRequest, &SendEvent, &SubscribeEvent,
                               &UnsubscribeEvent, &ScheduleCallback, &YieldWait, &SetWaitReason,
                               &FinishWait, &WriteLog},
             this},
      context_{&table_.functions, plugin_handle} {}

FakeHost& FakeHost::From(const HostFunctionTable* table) {
  // The function table is the first member of Table, so its address is the Table's.
  return *reinterpret_cast<const Table*>(table)->owner;
}

void FakeHost::CallResource(const HostFunctionTable* self, HostResponse* response,
                            const HostRequest* request) {
  FakeHost& host = From(self);
  ResourceHandler handler;
  {
    std::lock_guard<std::mutex> lock(host.mutex_);
    handler = host.resource_handler_;
  }
  if (handler) {
    handler(*request, *response);
  } else {
    response->status = 404;
  }
}

void FakeHost::SendHttpRequest(const HostFunctionTable* self, const HostHttpRequest* request,
                               HostHttpResponse* response) {
  FakeHost& host = From(self);
  HttpHandler handler;
  {
    std::lock_guard<std::mutex> lock(host.mutex_);
    handler = host.http_handler_;
  }
  if (handler) {
    handler(*request, *response);
  } else {
    static const char kNoRoute[] = "no route to host";
    response->transportResult = 1;
    response->body = kNoRoute;
    response->bodyLength = sizeof(kNoRoute) - 1;
  }
}

void FakeHost::SendEvent(const HostFunctionTable* self, const HostEvent* event) {
  FakeHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.mutex_);
  host.sent_events_.emplace_back(event->name ? event->name : "");
}

void FakeHost::SubscribeEvent(const HostFunctionTable* self, const char* name,
                              std::uint32_t plugin_handle, HostEventCallback callback,
                              void* context, std::int32_t flag) {
  FakeHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.mutex_);
  host.subscriptions_.push_back({name, plugin_handle, callback, context, flag});
}

void FakeHost::UnsubscribeEvent(const HostFunctionTable* self, const char* name,
                                std::uint32_t plugin_handle) {
  FakeHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.mutex_);
  host.unsubscriptions_.push_back({name, plugin_handle});
}

void FakeHost::ScheduleCallback(const HostFunctionTable* self, const char* label,
                                HostDelayedCallback callback, void* context, double delay_seconds,
                                std::int32_t) {
  FakeHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.mutex_);
  host.scheduled_.push_back({label ? label : "", callback, context, delay_seconds});
}

void FakeHost::YieldWait(const HostFunctionTable* self) {
  FakeHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.mutex_);
  ++host.yield_count_;
}

void FakeHost::SetWaitReason(const HostFunctionTable* self, const char* text, std::int32_t) {
  FakeHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.mutex_);
  host.wait_reasons_.emplace_back(text ? text : "");
}

void FakeHost::FinishWait(const HostFunctionTable* self) {
  FakeHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.mutex_);
  ++host.finish_wait_count_;
}

void FakeHost::WriteLog(const HostFunctionTable* self, std::int32_t level, const char* message) {
  FakeHost& host = From(self);
  std::lock_guard<std::mutex> lock(host.mutex_);
  host.log_lines_.push_back({level, message ? message : ""});
}

std::vector<FakeHost::LogLine> FakeHost::LogLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_lines_;
}

void FakeHost::ClearLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_lines_.clear();
}

std::vector<FakeHost::Subscription> FakeHost::Subscriptions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return subscriptions_;
}

std::vector<FakeHost::Unsubscription> FakeHost::Unsubscriptions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return unsubscriptions_;
}

std::vector<std::string> FakeHost::SentEventNames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sent_events_;
}

std::vector<FakeHost::ScheduledCallback> FakeHost::Scheduled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return scheduled_;
}

std::size_t FakeHost::FireScheduled() {
  std::vector<ScheduledCallback> due;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    due.swap(scheduled_);
  }
  // Run outside the lock: a callback may schedule the next one.
  for (const ScheduledCallback& callback : due) callback.callback(callback.context);
  return due.size();
}

void FakeHost::SetResourceHandler(ResourceHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  resource_handler_ = std::move(handler);
}

void FakeHost::SetHttpHandler(HttpHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  http_handler_ = std::move(handler);
}

int FakeHost::yield_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return yield_count_;
}

int FakeHost::finish_wait_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finish_wait_count_;
}

std::vector<std::string> FakeHost::WaitReasons() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return wait_reasons_;
}

}  // namespace ulix_testing
