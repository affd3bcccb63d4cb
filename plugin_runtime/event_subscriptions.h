// The bridge's event tables: one handler per host event name, the counted subscriptions of
// resource-event families, the names subscribed at the host, and the resource observers (by
// exact path and by wildcard pattern).
//
// Lock: one shared mutex guards all five tables. Writers are the loading and starting thread
// (service-proxy handlers, observers), stop (Take/Clear), and any host thread on which a handler
// subscribes, unsubscribes or observes; readers are the host's event-delivery threads. Lookups
// hand out shared pointers and release the lock before anything runs, so a handler may call back
// in here. Nothing in this component calls the host.
#ifndef PLUGIN_RUNTIME_EVENT_SUBSCRIPTIONS_H_
#define PLUGIN_RUNTIME_EVENT_SUBSCRIPTIONS_H_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/binding_value.h"
#include "plugin_runtime/runtime_builtin_types.h"

namespace plugin_runtime {

class EventSubscriptions {
 public:
  // Converts and hands one payload to a handler; false (and `error` set) drops the event.
  using EventDelivery =
      std::function<bool(const binding::BindingValue& payload, std::string& error)>;
  using ResourceObserver = std::function<void(const Vorn::Client::PluginResourceEvent& event)>;

  // Replaces the handler of `name`.
  void SetHandler(std::string name, EventDelivery delivery);
  std::shared_ptr<const EventDelivery> FindHandler(std::string_view name) const;

  // Counts one more subscriber of `name`. For the first, installs `delivery` as its handler and
  // records the name as subscribed at the host, then returns true: the caller subscribes there.
  bool AddSubscription(const std::string& name, EventDelivery delivery);
  // Counts one subscriber less. For the last, removes the handler and the host record and
  // returns true: the caller unsubscribes at the host. A name never subscribed gives false.
  bool RemoveSubscription(const std::string& name);
  // Records a name the caller subscribes at the host outside the counted families.
  void RecordHostSubscription(std::string name);

  // A `path` containing "*" adds a wildcard observer; any other replaces the observer of exactly
  // that path. Returns the stored observer.
  std::shared_ptr<const ResourceObserver> AddObserver(const std::string& path,
                                                      ResourceObserver observer);
  // The observer of exactly `path`, then every wildcard observer whose pattern matches it.
  std::vector<std::shared_ptr<const ResourceObserver>> ObserversOf(const std::string& path) const;

  // Hands over the names subscribed at the host (the caller unsubscribes them) and forgets them.
  std::vector<std::string> TakeHostSubscriptions();
  // Empties the handler, subscription and observer tables.
  void Clear();

 private:
  mutable std::shared_mutex mutex_;
  std::map<std::string, std::shared_ptr<const EventDelivery>, std::less<>> handlers_;
  std::map<std::string, std::int32_t, std::less<>> subscription_counts_;
  std::vector<std::string> host_subscriptions_;
  std::map<std::string, std::shared_ptr<const ResourceObserver>, std::less<>> exact_observers_;
  std::vector<std::pair<std::string, std::shared_ptr<const ResourceObserver>>> wildcard_observers_;
};

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_EVENT_SUBSCRIPTIONS_H_
