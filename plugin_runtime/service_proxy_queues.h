// The bridge's pending service-proxy work: requests waiting for a response, responses queued
// before anyone waited for them, and the handlers of async service-proxy events, each by key (a
// uuid, or "service.method").
//
// Lock: one mutex guards the three tables. Callers are the host's event-delivery threads
// (responses and async events) and any plug-in thread that waits for a response or sets an async
// handler; stop clears them. Matching takes the lock again after queuing has released it, and
// handlers run with it released, so completing a request may start the next one. Nothing here
// calls the host.
#ifndef PLUGIN_RUNTIME_SERVICE_PROXY_QUEUES_H_
#define PLUGIN_RUNTIME_SERVICE_PROXY_QUEUES_H_

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "plugin_runtime/runtime_builtin_types.h"

namespace plugin_runtime {

class ServiceProxyQueues {
 public:
  using Handler = std::function<void(const Vorn::Client::PluginServiceProxyResponse& response)>;

  // `log_name` (the plug-in's short name) leads the log lines; set once at start.
  void SetLogName(std::string log_name) { log_name_ = std::move(log_name); }

  // Queues `response` under `key`, then completes the first queued response whose key has a
  // waiting request, logging "%s: Fulfilled service proxy request: %s".
  void QueueResponse(std::string key, const Vorn::Client::PluginServiceProxyResponse& response);
  // Waits for the first response under `key`, whether it was queued before or comes after.
  void AwaitResponse(std::string key, Handler handler);
  // Replaces the async handler of `key`.
  void SetAsyncHandler(std::string key, Handler handler);
  // Hands an async event to the handler of "serviceName.methodName"; with none, logs "%s: Could
  // not find registered handler for async service proxy event %s".
  void HandleAsync(const Vorn::Client::PluginServiceProxyResponse& response);

  void Clear();

 private:
  void Fulfil();

  std::string log_name_;  // written at start, read afterwards

  std::mutex mutex_;
  std::map<std::string, Handler, std::less<>> waiting_requests_;
  std::deque<std::pair<std::string, Vorn::Client::PluginServiceProxyResponse>> queued_responses_;
  std::map<std::string, Handler, std::less<>> async_handlers_;
};

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_SERVICE_PROXY_QUEUES_H_
