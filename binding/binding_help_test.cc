// The builtin registration and the help document in both formats.
#include "binding/binding_help.h"

#include <string>
#include <vector>

#include "binding/binding_builtins.h"
#include "binding/binding_struct_builder.h"
#include "binding/json_bridge.h"
#include "gtest/gtest.h"

namespace binding {
namespace {

TEST(BindingBuiltins, RegistersEveryBuiltinTypeAndTheCallbackEvent) {
  BindingTypeRegistry registry;
  registerBuiltins(registry);
  EXPECT_TRUE(registry.builtinsRegistered());
  EXPECT_EQ(registry.typeSnapshot().size(), 15u);
  const BindingTypeDescriptor* state = registry.findType(0x4B896D21u);
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->name, "BindingAsyncState");
  EXPECT_EQ(state->tags, (std::vector<std::string>{"$builtin", "async"}));
  ASSERT_NE(registry.findType(0x2A500213u), nullptr);
  EXPECT_EQ(registry.findType(0x2A500213u)->name, "BindingGenericEvent");
  EXPECT_EQ(registry.findType("BindingGenericEvent")->tags, (std::vector<std::string>{"$builtin"}));
  const BindingEventDescriptor* event = registry.findEvent("OnCallback");
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->payload, registry.findType("BindingCallbackEvent"));
  EXPECT_EQ(event->description, "Fired when a callback is invoked.");
}

TEST(BindingBuiltins, ASecondRegistrationDropsWhatCameAfterTheFirst) {
  BindingTypeRegistry registry;
  registerBuiltins(registry);
  registry.registerFunction("Later", 0);
  registerBuiltins(registry);
  EXPECT_EQ(registry.findFunction("Later"), nullptr);
  EXPECT_EQ(registry.findType("BindingAsyncState")->values.size(), 6u);
  EXPECT_EQ(registry.typeSnapshot().size(), 15u);
  EXPECT_NE(registry.findEvent("OnCallback"), nullptr);
}

TEST(Epytext, EscapesLeadingDashAndBraces) {
  EXPECT_EQ(EpytextEscape("-a{b}"), "E{-}aE{lb}bE{rb}");
  EXPECT_EQ(EpytextEscape("a-b"), "a-b");
  EXPECT_EQ(EpytextEscape(""), "");
}

TEST(Epytext, DescribesEnumerators) {
  BindingTypeRegistry registry;
  registerBuiltins(registry);
  EXPECT_EQ(TypeEpytext(*registry.findType("BindingAsyncState")),
            "Possible states of an asynchronous operation.\r\n\r\n"
            "@cvar None: (0) Invalid state\r\n"
            "@cvar Running: (1) The operation is in flight\r\n"
            "@cvar Cancelling: (2) A request to cancel the operation has been made\r\n"
            "@cvar Cancelled: (3) The operation was cancelled\r\n"
            "@cvar Succeeded: (4) The operation completed successfully\r\n"
            "@cvar Failed: (5) The operation encountered an error\r\n"
            "@tags: $builtin,async\r\n"
            "@size: 4\r\n");
}

TEST(Epytext, DescribesFunctions) {
  BindingTypeRegistry registry;
  registerBuiltins(registry);
  BindingFunctionDescriptor* bare = registry.registerFunction("Bare", 0);
  EXPECT_EQ(FunctionEpytext(*bare), "");

  BindingFunctionDescriptor* full = registry.registerFunction("Full", 2);
  full->description = "-Reads {things}";
  full->help = "Help";
  full->addArgument("id", "The {id}", {NativeTypeKind::kString}, true);
  full->addArgument("raw", "", {NativeTypeKind::kVector, NativeTypeKind::kUInt8}, false);
  full->returnType = {NativeTypeKind::kEnum, NativeTypeKind::kNone,
                      registry.findType("BindingAsyncState")};
  full->tags = {"Plugins", "Plugin ulix-auth"};
  full->threadSafe = 1;
  full->async = 1;
  EXPECT_EQ(FunctionEpytext(*full),
            "E{-}Reads E{lb}thingsE{rb}\r\n\r\n"
            "Help\r\n\r\n"
            "@param id: (optional) The E{lb}idE{rb}\r\n"
            "@type id: string\r\n"
            "@type raw: list[uint8]\r\n"
            "@rtype: L{BindingAsyncState}\r\n"
            "@tags: Plugins,Plugin ulix-auth\r\n"
            "@threadsafe: true\r\n"
            "@async: L{BindingAsyncState}\r\n");
}

TEST(ApiHelp, FullDocumentListsSortedRecords) {
  BindingTypeRegistry registry;
  registerBuiltins(registry);
  BindingFunctionDescriptor* function = registry.registerFunction("GetThing", 1);
  function->addArgument("id", "Which", {NativeTypeKind::kString}, false);
  BindingConversionResult help = buildApiHelp(registry, registry.functionSnapshot(), {},
                                              registry.eventSnapshot(), BindingHelpFormat::kFull);
  ASSERT_TRUE(help.ok);
  EXPECT_EQ(toJson(help.value),
            R"({"events":[{"description":"Fired when a callback is invoked.","name":"OnCallback",)"
            R"("nameSpace":"","tags":["$builtin"],"type":{"elementType":"",)"
            R"("type":"BindingCallbackEvent"}}],"functions":[{"arguments":[{"description":"Which",)"
            R"("name":"id","optional":false,"type":{"elementType":"","type":"string"}}],)"
            R"("async":"","description":"","help":"","name":"GetThing","nameSpace":"",)"
            R"("returns":{"elementType":"","type":""},"tags":[],"threadSafe":false}],)"
            R"("types":null})");

  BindingConversionResult types =
      buildApiHelp(registry, {}, registry.typeSnapshot(), {}, BindingHelpFormat::kFull);
  ASSERT_TRUE(types.ok);
  const BindingValue& list = types.value.field("types");
  ASSERT_EQ(list.size(), 15u);
  EXPECT_EQ(list.element(0).field("name").getString(), "BindingAsyncCancelEvent");
  EXPECT_EQ(list.element(1).field("name").getString(), "BindingAsyncFailureEvent");
  const BindingValue& state = list.element(2);
  EXPECT_EQ(toJson(state.field("values").element(0)),
            R"({"description":"The operation was cancelled","name":"Cancelled","value":3})");
  EXPECT_EQ(state.field("fields").size(), 0u);
}

TEST(ApiHelp, EmptyListsLeaveTheirFieldsEmpty) {
  BindingTypeRegistry registry;
  registerBuiltins(registry);
  for (BindingHelpFormat format : {BindingHelpFormat::kFull, BindingHelpFormat::kEpytext}) {
    SCOPED_TRACE(static_cast<int>(format));
    BindingConversionResult help = buildApiHelp(registry, {}, {}, {}, format);
    ASSERT_TRUE(help.ok);
    ASSERT_EQ(help.value.size(), 3u);
    EXPECT_TRUE(help.value.field("events").isEmpty());
    EXPECT_TRUE(help.value.field("functions").isEmpty());
    EXPECT_TRUE(help.value.field("types").isEmpty());
  }
  BindingConversionResult bad =
      buildApiHelp(registry, {}, {}, {}, static_cast<BindingHelpFormat>(3));
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(errorText(bad), "Unsupported help format 3");
}

TEST(ApiHelp, EpytextDocumentMapsNamesToTexts) {
  BindingTypeRegistry registry;
  registerBuiltins(registry);
  BindingConversionResult help = buildApiHelp(
      registry, {}, registry.typeSnapshot(), registry.eventSnapshot(), BindingHelpFormat::kEpytext);
  ASSERT_TRUE(help.ok);
  EXPECT_EQ(help.value.field("events").field("OnCallback").getString(),
            "Fired when a callback is invoked.\r\n\r\n@tags: $builtin\r\n");
  EXPECT_EQ(help.value.field("types").field("BindingAsyncCancelEvent").getString(),
            "Represents a cancelled asynchronous operation.\r\n\r\n"
            "@ivar asyncToken: Asynchronous operation token\r\n"
            "@type asyncToken: uint32\r\n"
            "@tags: $builtin,async\r\n");
}

}  // namespace
}  // namespace binding
