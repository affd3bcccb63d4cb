#include "platform/windows/trace_providers.h"

namespace platform::windows {
namespace {

// GetProcAddress returns a generic function pointer; the name fixes the real type. The cast
// goes through void(*)(), the one function type every other converts to and from cleanly.
template <typename Function>
Function FunctionNamed(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

}  // namespace

const std::array<GUID, kTraceProviderCount> kTraceProviderIds = {{
    // load: the library's load and its loading thread
    {0x226bf2c0, 0x50f8, 0x45f8, {0x80, 0xd4, 0x7c, 0x5b, 0xff, 0xbf, 0x7a, 0x7c}},
    // runtime: the plug-in runtime
    {0xfa1aa685, 0x88e2, 0x405c, {0x95, 0xc8, 0x49, 0xdd, 0x6d, 0x7d, 0xa7, 0x9e}},
    // sign-on: the sign-on plug-in and its protocol client
    {0x249fad55, 0xd7c2, 0x4d91, {0xb8, 0x8a, 0x3d, 0xd5, 0x6d, 0xcd, 0x9d, 0x17}},
    // memory: the plug-in's heap
    {0x95dcc937, 0x040f, 0x4a38, {0xa1, 0x22, 0xf4, 0xee, 0x24, 0x52, 0x8a, 0x25}},
}};

EventTracingFunctions FindEventTracingFunctions() {
  // Only a module the process has already loaded: this runs while the library itself is being
  // loaded, under the system's loader lock, where loading another library may deadlock. A host
  // has normally loaded Advapi32.dll long before its plug-ins; when it has not, tracing stays
  // off.
  HMODULE advapi = GetModuleHandleA("Advapi32.dll");
  if (advapi == nullptr) return {};
  EventTracingFunctions found;
  found.register_provider = FunctionNamed<decltype(&EventRegister)>(advapi, "EventRegister");
  found.write = FunctionNamed<decltype(&EventWrite)>(advapi, "EventWrite");
  found.unregister_provider = FunctionNamed<decltype(&EventUnregister)>(advapi, "EventUnregister");
  if (found.register_provider == nullptr || found.write == nullptr ||
      found.unregister_provider == nullptr) {
    return {};
  }
  return found;
}

int TraceProviders::Register(std::uint32_t thread_id) {
  if (registered_ || functions_.register_provider == nullptr || functions_.write == nullptr ||
      functions_.unregister_provider == nullptr) {
    return 0;
  }
  registered_ = true;
  int count = 0;
  for (std::size_t i = 0; i < kTraceProviderIds.size(); ++i) {
    handles_[i] = 0;
    if (functions_.register_provider(&kTraceProviderIds[i], nullptr, nullptr, &handles_[i]) ==
        ERROR_SUCCESS) {
      ++count;
    } else {
      handles_[i] = 0;
    }
  }
  if (handles_[0] != 0) {
    static const char kName[] = "Main thread";
    EVENT_DESCRIPTOR descriptor{};
    descriptor.Id = kMainThreadEventId;
    descriptor.Level = 4;  // information
    EVENT_DATA_DESCRIPTOR fields[2];
    EventDataDescCreate(&fields[0], kName, sizeof(kName));
    EventDataDescCreate(&fields[1], &thread_id, sizeof(thread_id));
    // Nobody may be listening; a failed write changes nothing for the library.
    functions_.write(handles_[0], &descriptor, 2, fields);
  }
  return count;
}

void TraceProviders::Unregister() {
  if (!registered_) return;
  registered_ = false;
  for (REGHANDLE& handle : handles_) {
    if (handle != 0) functions_.unregister_provider(handle);
    handle = 0;
  }
}

}  // namespace platform::windows
