#include "binding/binding_builtins.h"

#include <algorithm>
#include <string_view>

#include "binding/binding_struct_builder.h"

namespace binding {
namespace {

constexpr std::string_view kBuiltinTag = "$builtin";
constexpr std::string_view kHelpTag = "help";
constexpr std::string_view kAsyncTag = "async";

template <typename Builder>
void Finish(Builder& builder, std::string_view description, std::string_view second_tag = {}) {
  builder.Description(description).Tag(kBuiltinTag).Tag(second_tag);
}

void RegisterHelpTypes(BindingTypeRegistry& registry) {
  BindingEnumBuilder<BindingHelpFormat> format(registry);
  format.AddValue(BindingHelpFormat::kFull, "Full", "Native help format")
      .AddValue(BindingHelpFormat::kEpytext, "Epytext", "Python epytext format");
  Finish(format, "Help format for binding functions and types.", kHelpTag);

  BindingStructBuilder<BindingFullTypeIdentifier> type_identifier(registry);
  type_identifier.AddField(&BindingFullTypeIdentifier::type, "type")
      .AddField(&BindingFullTypeIdentifier::elementType, "elementType");
  Finish(type_identifier, "Describes the type of a value.", kHelpTag);

  BindingStructBuilder<BindingFullArgumentHelp> argument(registry);
  argument.AddField(&BindingFullArgumentHelp::name, "name")
      .AddField(&BindingFullArgumentHelp::description, "description")
      .AddField(&BindingFullArgumentHelp::type, "type")
      .AddField(&BindingFullArgumentHelp::optional, "optional");
  Finish(argument, "Describes a function parameter.", kHelpTag);

  BindingStructBuilder<BindingFullFunctionHelp> function(registry);
  function.AddField(&BindingFullFunctionHelp::name, "name")
      .AddField(&BindingFullFunctionHelp::nameSpace, "nameSpace")
      .AddField(&BindingFullFunctionHelp::arguments, "arguments")
      .AddField(&BindingFullFunctionHelp::returns, "returns")
      .AddField(&BindingFullFunctionHelp::description, "description")
      .AddField(&BindingFullFunctionHelp::help, "help")
      .AddField(&BindingFullFunctionHelp::threadSafe, "threadSafe")
      .AddField(&BindingFullFunctionHelp::async, "async")
      .AddField(&BindingFullFunctionHelp::tags, "tags");
  Finish(function, "Describes a function.", kHelpTag);

  BindingStructBuilder<BindingFullEnumValueHelp> enum_value(registry);
  enum_value.AddField(&BindingFullEnumValueHelp::name, "name")
      .AddField(&BindingFullEnumValueHelp::description, "description")
      .AddField(&BindingFullEnumValueHelp::value, "value");
  Finish(enum_value, "Describes an enumerator.", kHelpTag);

  BindingStructBuilder<BindingFullFieldHelp> field(registry);
  field.AddField(&BindingFullFieldHelp::name, "name")
      .AddField(&BindingFullFieldHelp::description, "description")
      .AddField(&BindingFullFieldHelp::offset, "offset")
      .AddField(&BindingFullFieldHelp::type, "type")
      .AddField(&BindingFullFieldHelp::optional, "optional");
  Finish(field, "Describes a member of a struct.", kHelpTag);

  BindingStructBuilder<BindingFullTypeHelp> type(registry);
  type.AddField(&BindingFullTypeHelp::name, "name")
      .AddField(&BindingFullTypeHelp::nameSpace, "nameSpace")
      .AddField(&BindingFullTypeHelp::size, "size")
      .AddField(&BindingFullTypeHelp::description, "description")
      .AddField(&BindingFullTypeHelp::tags, "tags")
      .AddField(&BindingFullTypeHelp::fields, "fields")
      .AddField(&BindingFullTypeHelp::values, "values");
  Finish(type, "Describes a struct or enum type.", kHelpTag);

  BindingStructBuilder<BindingFullEventHelp> event(registry);
  event.AddField(&BindingFullEventHelp::name, "name")
      .AddField(&BindingFullEventHelp::nameSpace, "nameSpace")
      .AddField(&BindingFullEventHelp::type, "type")
      .AddField(&BindingFullEventHelp::description, "description")
      .AddField(&BindingFullEventHelp::tags, "tags");
  Finish(event, "Describes an event.", kHelpTag);

  BindingStructBuilder<BindingFullApiHelp> api(registry);
  api.AddField(&BindingFullApiHelp::functions, "functions")
      .AddField(&BindingFullApiHelp::types, "types")
      .AddField(&BindingFullApiHelp::events, "events");
  Finish(api, "Describes the exposed native API.", kHelpTag);
}

void RegisterAsyncAndEventTypes(BindingTypeRegistry& registry) {
  BindingEnumBuilder<BindingAsyncState> state(registry);
  state.AddValue(BindingAsyncState::kNone, "None", "Invalid state")
      .AddValue(BindingAsyncState::kRunning, "Running", "The operation is in flight")
      .AddValue(BindingAsyncState::kCancelling, "Cancelling",
                "A request to cancel the operation has been made")
      .AddValue(BindingAsyncState::kCancelled, "Cancelled", "The operation was cancelled")
      .AddValue(BindingAsyncState::kSucceeded, "Succeeded", "The operation completed successfully")
      .AddValue(BindingAsyncState::kFailed, "Failed", "The operation encountered an error");
  Finish(state, "Possible states of an asynchronous operation.", kAsyncTag);

  BindingStructBuilder<BindingGenericEvent> generic(registry);
  generic.AddField(&BindingGenericEvent::data, "data", "Event data");
  Finish(generic, "Represents generic data for an event.");

  BindingStructBuilder<BindingCallbackEvent> callback(registry);
  callback.AddField(&BindingCallbackEvent::id, "id", "ID of the callback being invoked")
      .AddField(&BindingCallbackEvent::parameters, "parameters", "Callback parameters");
  Finish(callback, "Represents the parameters of a call to a provided callback.");

  BindingStructBuilder<BindingGenericAsyncEvent> generic_async(registry);
  generic_async
      .AddField(&BindingGenericAsyncEvent::asyncToken, "asyncToken", "Asynchronous operation token")
      .AddField(&BindingGenericAsyncEvent::data, "data", "Event data");
  Finish(generic_async, "Represents generic data for an asynchronous event.", kAsyncTag);

  BindingStructBuilder<BindingAsyncFailureEvent> failure(registry);
  failure
      .AddField(&BindingAsyncFailureEvent::asyncToken, "asyncToken", "Asynchronous operation token")
      .AddField(&BindingAsyncFailureEvent::error, "error", "Error message");
  Finish(failure, "Represents a failed asynchronous operation.", kAsyncTag);

  BindingStructBuilder<BindingAsyncCancelEvent> cancel(registry);
  cancel.AddField(&BindingAsyncCancelEvent::asyncToken, "asyncToken",
                  "Asynchronous operation token");
  Finish(cancel, "Represents a cancelled asynchronous operation.", kAsyncTag);

  BindingEventDescriptor* event = registry.registerEvent(kCallbackEventName, callback.descriptor());
  event->description = "Fired when a callback is invoked.";
  event->tags = {std::string(kBuiltinTag)};
}

}  // namespace

void registerBuiltins(BindingTypeRegistry& registry) {
  if (registry.builtinsRegistered()) registry.reset();
  RegisterHelpTypes(registry);
  RegisterAsyncAndEventTypes(registry);
  registry.setBuiltinsRegistered(true);
}

bool IsAsyncType(const BindingTypeDescriptor* type) {
  return type != nullptr &&
         std::find(type->tags.begin(), type->tags.end(), kAsyncTag) != type->tags.end();
}

}  // namespace binding
