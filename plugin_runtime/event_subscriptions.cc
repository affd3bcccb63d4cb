#include "plugin_runtime/event_subscriptions.h"

#include <algorithm>
#include <mutex>

#include "plugin_runtime/resource_paths.h"

namespace plugin_runtime {

void EventSubscriptions::SetHandler(std::string name, EventDelivery delivery) {
  auto shared = std::make_shared<const EventDelivery>(std::move(delivery));
  std::unique_lock lock(mutex_);
  handlers_[std::move(name)] = std::move(shared);
}

std::shared_ptr<const EventSubscriptions::EventDelivery> EventSubscriptions::FindHandler(
    std::string_view name) const {
  std::shared_lock lock(mutex_);
  auto found = handlers_.find(name);
  return found != handlers_.end() ? found->second : nullptr;
}

bool EventSubscriptions::AddSubscription(const std::string& name, EventDelivery delivery) {
  std::unique_lock lock(mutex_);
  if (++subscription_counts_[name] != 1) return false;
  handlers_[name] = std::make_shared<const EventDelivery>(std::move(delivery));
  host_subscriptions_.push_back(name);
  return true;
}

bool EventSubscriptions::RemoveSubscription(const std::string& name) {
  std::unique_lock lock(mutex_);
  auto count = subscription_counts_.find(name);
  if (count == subscription_counts_.end()) return false;
  if (--count->second > 0) return false;
  subscription_counts_.erase(count);
  handlers_.erase(name);
  std::erase(host_subscriptions_, name);
  return true;
}

void EventSubscriptions::RecordHostSubscription(std::string name) {
  std::unique_lock lock(mutex_);
  host_subscriptions_.push_back(std::move(name));
}

std::shared_ptr<const EventSubscriptions::ResourceObserver> EventSubscriptions::AddObserver(
    const std::string& path, ResourceObserver observer) {
  auto shared = std::make_shared<const ResourceObserver>(std::move(observer));
  std::unique_lock lock(mutex_);
  if (path.find('*') != std::string::npos) {
    wildcard_observers_.emplace_back(path, shared);
  } else {
    exact_observers_[path] = shared;
  }
  return shared;
}

std::vector<std::shared_ptr<const EventSubscriptions::ResourceObserver>>
EventSubscriptions::ObserversOf(const std::string& path) const {
  std::vector<std::shared_ptr<const ResourceObserver>> observers;
  std::shared_lock lock(mutex_);
  auto exact = exact_observers_.find(path);
  if (exact != exact_observers_.end()) observers.push_back(exact->second);
  for (const auto& [pattern, observer] : wildcard_observers_) {
    if (MatchesResourcePattern(pattern, path)) observers.push_back(observer);
  }
  return observers;
}

std::vector<std::string> EventSubscriptions::TakeHostSubscriptions() {
  std::vector<std::string> names;
  std::unique_lock lock(mutex_);
  names.swap(host_subscriptions_);
  return names;
}

void EventSubscriptions::Clear() {
  std::unique_lock lock(mutex_);
  handlers_.clear();
  subscription_counts_.clear();
  exact_observers_.clear();
  wildcard_observers_.clear();
}

}  // namespace plugin_runtime
