// The builtin types and event every registry holds before any plug-in type: the records of the
// help document, the asynchronous-operation types and the generic event payloads.
#ifndef BINDING_BINDING_BUILTINS_H_
#define BINDING_BINDING_BUILTINS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "binding/binding_native_type.h"
#include "binding/binding_type_registry.h"
#include "binding/binding_value.h"

namespace binding {

enum class BindingHelpFormat : std::int32_t {
  kFull = 1,     // records of the help types below
  kEpytext = 2,  // one epytext text per name
};
ULIX_BINDING_TYPE(BindingHelpFormat, "BindingHelpFormat")

ULIX_BINDING_TYPE(BindingFullTypeIdentifier, "BindingFullTypeIdentifier")

struct BindingFullArgumentHelp {
  std::string name;
  std::string description;
  BindingFullTypeIdentifier type;
  bool optional = false;
};
ULIX_BINDING_TYPE(BindingFullArgumentHelp, "BindingFullArgumentHelp")

struct BindingFullFunctionHelp {
  std::string name;
  std::string nameSpace;
  std::vector<BindingFullArgumentHelp> arguments;
  BindingFullTypeIdentifier returns;
  std::string description;
  std::string help;
  bool threadSafe = false;
  std::string async;
  std::vector<std::string> tags;
};
ULIX_BINDING_TYPE(BindingFullFunctionHelp, "BindingFullFunctionHelp")

struct BindingFullEnumValueHelp {
  std::string name;
  std::string description;
  std::int32_t value = 0;
};
ULIX_BINDING_TYPE(BindingFullEnumValueHelp, "BindingFullEnumValueHelp")

struct BindingFullFieldHelp {
  std::string name;
  std::string description;
  std::uint32_t offset = 0;
  BindingFullTypeIdentifier type;
  bool optional = false;
};
ULIX_BINDING_TYPE(BindingFullFieldHelp, "BindingFullFieldHelp")

struct BindingFullTypeHelp {
  std::string name;
  std::string nameSpace;
  std::uint32_t size = 0;
  std::string description;
  std::vector<std::string> tags;
  std::vector<BindingFullFieldHelp> fields;
  std::vector<BindingFullEnumValueHelp> values;
};
ULIX_BINDING_TYPE(BindingFullTypeHelp, "BindingFullTypeHelp")

struct BindingFullEventHelp {
  std::string name;
  std::string nameSpace;
  BindingFullTypeIdentifier type;
  std::string description;
  std::vector<std::string> tags;
};
ULIX_BINDING_TYPE(BindingFullEventHelp, "BindingFullEventHelp")

struct BindingFullApiHelp {
  std::vector<BindingFullFunctionHelp> functions;
  std::vector<BindingFullTypeHelp> types;
  std::vector<BindingFullEventHelp> events;
};
ULIX_BINDING_TYPE(BindingFullApiHelp, "BindingFullApiHelp")

enum class BindingAsyncState : std::int32_t {
  kNone = 0,
  kRunning = 1,
  kCancelling = 2,
  kCancelled = 3,
  kSucceeded = 4,
  kFailed = 5,
};
ULIX_BINDING_TYPE_WITH_ID(BindingAsyncState, "BindingAsyncState", 0x4B896D21u)

struct BindingGenericEvent {
  BindingValue data;
};
ULIX_BINDING_TYPE_WITH_ID(BindingGenericEvent, "BindingGenericEvent", 0x2A500213u)

struct BindingCallbackEvent {
  std::uint32_t id = 0;
  std::vector<BindingValue> parameters;
};
ULIX_BINDING_TYPE(BindingCallbackEvent, "BindingCallbackEvent")

struct BindingGenericAsyncEvent {
  std::uint32_t asyncToken = 0;
  BindingValue data;
};
ULIX_BINDING_TYPE(BindingGenericAsyncEvent, "BindingGenericAsyncEvent")

struct BindingAsyncFailureEvent {
  std::uint32_t asyncToken = 0;
  std::string error;
};
ULIX_BINDING_TYPE(BindingAsyncFailureEvent, "BindingAsyncFailureEvent")

struct BindingAsyncCancelEvent {
  std::uint32_t asyncToken = 0;
};
ULIX_BINDING_TYPE(BindingAsyncCancelEvent, "BindingAsyncCancelEvent")

inline constexpr const char* kCallbackEventName = "OnCallback";

// Registers the builtin types and the "OnCallback" event, in their fixed order, tagged "$builtin"
// (and "help" or "async"). A registry that held builtins before is reset first, which drops
// everything registered since, so the plug-in registers its own types after this. Call it on
// the loading thread, before anything reads the registry.
void registerBuiltins(BindingTypeRegistry& registry);

// True when `type` is one of the asynchronous-operation types (tagged "async").
bool IsAsyncType(const BindingTypeDescriptor* type);

}  // namespace binding

#endif  // BINDING_BINDING_BUILTINS_H_
