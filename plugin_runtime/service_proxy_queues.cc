#include "plugin_runtime/service_proxy_queues.h"

#include <algorithm>

#include "logging/logger.h"

namespace plugin_runtime {

using Vorn::Client::PluginServiceProxyResponse;

void ServiceProxyQueues::QueueResponse(std::string key,
                                       const PluginServiceProxyResponse& response) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_responses_.emplace_back(std::move(key), response);
  }
  Fulfil();
}

void ServiceProxyQueues::AwaitResponse(std::string key, Handler handler) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_requests_[std::move(key)] = std::move(handler);
  }
  Fulfil();
}

void ServiceProxyQueues::Fulfil() {
  std::string key;
  Handler handler;
  PluginServiceProxyResponse response;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto queued =
        std::find_if(queued_responses_.begin(), queued_responses_.end(),
                     [this](const auto& entry) { return waiting_requests_.contains(entry.first); });
    if (queued == queued_responses_.end()) return;
    auto waiting = waiting_requests_.find(queued->first);
    key = std::move(queued->first);
    response = std::move(queued->second);
    handler = std::move(waiting->second);
    waiting_requests_.erase(waiting);
    queued_responses_.erase(queued);
  }
  // Run outside the lock: completing a request may start the next one.
  if (handler) handler(response);
  logging::Log(logging::kAlways, logging::kGroupDbg, "%s: Fulfilled service proxy request: %s",
               log_name_.c_str(), key.c_str());
}

void ServiceProxyQueues::SetAsyncHandler(std::string key, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  async_handlers_[std::move(key)] = std::move(handler);
}

void ServiceProxyQueues::HandleAsync(const PluginServiceProxyResponse& response) {
  const std::string key = response.serviceName + "." + response.methodName;
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = async_handlers_.find(key);
    if (found != async_handlers_.end()) handler = found->second;
  }
  if (!handler) {
    logging::Log(logging::kError, logging::kGroupDbg,
                 "%s: Could not find registered handler for async service proxy event %s",
                 log_name_.c_str(), key.c_str());
    return;
  }
  handler(response);
}

void ServiceProxyQueues::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  waiting_requests_.clear();
  queued_responses_.clear();
  async_handlers_.clear();
}

}  // namespace plugin_runtime
