// The ten host operations of the development host, behind the C function table the plug-in
// receives at start: resources (command line, region, data store, telemetry, plug-in manager
// status), HTTP through libcurl, events, delayed callbacks, waits and log lines.
#ifndef DEVHOST_HOST_OPERATIONS_H_
#define DEVHOST_HOST_OPERATIONS_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devhost/data_store.h"
#include "devhost/event_hub.h"
#include "devhost/exchange_log.h"
#include "devhost/host_log.h"
#include "devhost/timer_queue.h"
#include "plugin_host_interface.h"

namespace devhost {

struct HostSettings {
  std::vector<std::string> plugin_arguments;  // served as "/vornclient/command-line-args"
  std::optional<std::string> region;          // served in "/vornclient/region-locale"
  std::string telemetry_file;                 // JSON lines appended here
  ExchangeLog* exchanges = nullptr;           // hears every HTTP exchange; must outlive the host
};

// The name of the host's own /events frame announcing a delayed callback the plug-in scheduled.
inline constexpr const char* kTimerEventName = "DevhostTimer";

class HostOperations {
 public:
  // The store, hub, timers and log must outlive this object.
  HostOperations(HostSettings settings, DataStore& store, EventHub& events, TimerQueue& timers,
                 HostLog& log);
  HostOperations(const HostOperations&) = delete;
  HostOperations& operator=(const HostOperations&) = delete;

  // What the plug-in's start receives; valid as long as this object.
  const HostFunctionTable* functions() const { return &table_.functions; }

  // Sets the plug-in manager's state and publishes the change on "/plugin-manager/v1/status".
  void PublishPluginManagerState(bool initialized);

  // Publishes a PluginResourceEvent {uri, eventType, data} for `path`, as the host does for its
  // own resources, under the path's event name and under "OnJsonApiEvent".
  void PublishResourceEvent(std::string_view path, std::string_view event_type,
                            std::string_view data_json);

  // Responses handed to the plug-in and not yet given back (0 when nothing leaks).
  static std::size_t OutstandingResponses();

 private:
  struct Table {
    HostFunctionTable functions;
    HostOperations* owner;
  };
  static HostOperations& From(const HostFunctionTable* table);

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
  void AnnounceTimer(std::string_view label, double delay_seconds);
  static void ScheduleCallback(const HostFunctionTable* self, const char* label,
                               HostDelayedCallback callback, void* context, double delay_seconds,
                               std::int32_t zero);
  static void YieldWait(const HostFunctionTable* self);
  static void SetWaitReason(const HostFunctionTable* self, const char* text, std::int32_t zero);
  static void FinishWait(const HostFunctionTable* self);
  static void WriteLog(const HostFunctionTable* self, std::int32_t level, const char* message);

  void AnswerResource(const HostRequest& request, HostResponse& response);
  void AppendTelemetry(std::string_view path, std::string_view json);

  HostSettings settings_;
  DataStore& store_;
  EventHub& events_;
  TimerQueue& timers_;
  HostLog& log_;
  std::atomic<bool> plugins_initialized_{false};
  std::mutex telemetry_mutex_;
  Table table_;
};

}  // namespace devhost

#endif  // DEVHOST_HOST_OPERATIONS_H_
