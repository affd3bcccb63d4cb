#include "plugin_runtime/plugin_base.h"

#include <utility>

#include "binding/binding_builtins.h"
#include "logging/assertion.h"
#include "logging/logger.h"
#include "logging/positional_formatter.h"
#include "platform/memory_counters.h"
#include "plugin_runtime/entry_scope.h"
#include "plugin_runtime/plugin_log_target.h"
#include "plugin_runtime/runtime_builtin_types.h"

namespace plugin_runtime {
namespace {

// The host calls these with the context it received at load. Nothing may unwind into the host.
std::uint8_t StartEntry(void* context, const HostContext* host_context) {
  try {
    return static_cast<PluginBase*>(context)->start(host_context) ? 1 : 0;
  } catch (...) {
    logging::Log(logging::kError, logging::kGroupDbg, "start: unexpected exception");
    return 0;
  }
}

void StopEntry(void* context) {
  try {
    static_cast<PluginBase*>(context)->stop();
  } catch (...) {
    logging::Log(logging::kError, logging::kGroupDbg, "stop: unexpected exception");
  }
}

// The counters belong to the library rather than to one instance, so the context is not read: a
// host that kept this function may pass a null context after stop, to see that every byte the
// plug-in allocated was given back.
void MemoryStatisticsEntry(void* /*context*/, MemoryStatistics* statistics) {
  if (statistics == nullptr) return;
  try {
    PluginBase::fillMemoryStatistics(statistics);
  } catch (...) {
    logging::Log(logging::kError, logging::kGroupDbg, "getMemoryStatistics: unexpected exception");
  }
}

}  // namespace

PluginBase::PluginBase(PluginTypeRecord type) : type_(std::move(type)) {
  logging::Logger::Acquire();
  entry_table_ = PluginEntryTable{&StartEntry, &StopEntry, &MemoryStatisticsEntry};
}

PluginBase::~PluginBase() {
  if (log_target_) log_target_->Detach();
  log_target_.reset();
  logging::Logger::Release();
}

void PluginBase::handshake(HostInitBlock* block, std::string_view short_name) {
  SemanticVersion host{block->major, block->minor, block->patch, {}, {}};
  if (!IsCompatible(host, PluginApiVersion())) {
    logging::FatalStop("ALE-EECF0606",
                       logging::FormatPositional(
                           "%1 which supports plugin API %2 is not compatible with core's plugin "
                           "API %3",
                           {short_name, PluginApiVersion().Text(), host.Text()}));
  }
  host_version_ = std::move(host);
  names_ = MakePluginNames(short_name, type_);
  registration_tags_ = RegistrationTags(short_name);
  identifier_name_ = IdentifierName(short_name);
  // The binding layer's and the runtime's builtin types join the registry here, ahead of the
  // plug-in's own.
  binding::registerBuiltins(registry_);
  RegisterRuntimeBuiltins(registry_);
  attachRegistry(&registry_);
  registerEndpoints();
  // The host sees functions as endpoint records, built from the finished registry.
  catalogue_holder_ = binding::buildTypeCatalogue(
      registry_.functionSnapshot(), registry_.typeSnapshot(), registry_.eventSnapshot());
  endpoint_registry_.Finish(*catalogue_holder_);
  catalogue_ = catalogue_holder_->catalogue();

  block->major = PluginApiVersion().major;
  block->minor = PluginApiVersion().minor;
  block->patch = PluginApiVersion().patch;
  block->entryTable = &entry_table_;
  block->context = this;
  block->shortName = names_.shortName.c_str();
  block->catalogue = &catalogue_;
}

bool PluginBase::start(const HostContext* host_context) {
  host_context_ = host_context;
  installLogTarget();
  std::string user_agent =
      logging::FormatPositional("VornClient/%1 (%2)", {host_version_.Text(), names_.shortName});
  attachHost(host_context->pluginHandle, names_.shortName, std::move(user_agent));
  registerServiceProxyHandlers();
  return onStart();
}

void PluginBase::installLogTarget() {
  if (logging::Logger::FindTarget(PluginLogTarget::kClassName) != nullptr) return;
  logging::Logger::StdErrTarget()->Detach();
  logging::Logger::StdOutTarget()->Detach();
  logging::Logger::DebuggerTarget()->Detach();
  logging::Logger::SetGlobalLevel(logging::kOkay);
  logging::Logger::SetSuppressedGroups(logging::kGroupXtr);
  if (log_target_) log_target_->Detach();
  log_target_ =
      std::make_unique<PluginLogTarget>(host_context_->functions, logging::Logger::GlobalLevel());
  logging::Logger::AddTarget(log_target_.get());
}

void PluginBase::stop() {
  markStopping();
  shutdown();
  // Stopped from inside a call of the host's into this plug-in: the frames below still use it,
  // so the outermost of them frees it on its way out.
  if (EntryScope::Inside()) {
    EntryScope::AtExit([this] { delete this; });
    return;
  }
  delete this;
}

void PluginBase::fillMemoryStatistics(MemoryStatistics* statistics) {
  const platform::MemoryCounters counters = platform::ReadMemoryCounters();
  statistics->peakBytesInUse = counters.peak_bytes_in_use;
  statistics->allocationsAtPeak = counters.allocations_at_peak;
  statistics->bytesAllocated = counters.bytes_allocated;
  statistics->allocationCount = counters.allocations;
  statistics->bytesFreed = counters.bytes_freed;
  statistics->freeCount = counters.frees;
  statistics->reserved[0] = 0;
  statistics->reserved[1] = 0;
}

const HostFunctionTable* PluginBase::host() const { return host_context_->functions; }

void PluginBase::callResource(HostResponse* response, const HostRequest* request) {
  host()->callResource(host(), response, request);
}

void PluginBase::sendHttpRequest(const HostHttpRequest* request, HostHttpResponse* response) {
  host()->sendHttpRequest(host(), request, response);
}

void PluginBase::sendEvent(const HostEvent* event) { host()->sendEvent(host(), event); }

void PluginBase::subscribeEvent(const char* name, std::uint32_t plugin_handle,
                                HostEventCallback callback, void* context, std::int32_t flag) {
  host()->subscribeEvent(host(), name, plugin_handle, callback, context, flag);
}

void PluginBase::unsubscribeEvent(const char* name, std::uint32_t plugin_handle) {
  host()->unsubscribeEvent(host(), name, plugin_handle);
}

void PluginBase::scheduleCallback(const char* label, HostDelayedCallback callback, void* context,
                                  double delay_seconds, std::int32_t zero) {
  host()->scheduleCallback(host(), label, callback, context, delay_seconds, zero);
}

void PluginBase::yieldWait() { host()->yieldWait(host()); }

void PluginBase::setWaitReason(const char* text, std::int32_t zero) {
  host()->setWaitReason(host(), text, zero);
}

void PluginBase::finishWait() { host()->finishWait(host()); }

}  // namespace plugin_runtime
