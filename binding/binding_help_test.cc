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

class HelpTest : public ::testing::Test {
 protected:
  HelpTest() { registerBuiltins(registry_); }
  BindingTypeRegistry registry_;
};

TEST_F(HelpTest, BuiltinsRegisterTypesAndTheCallbackEventAndASecondTimeDropWhatCameLater) {
  registry_.registerFunction("Later", 0);
  registerBuiltins(registry_);
  EXPECT_TRUE(registry_.builtinsRegistered());
  EXPECT_EQ(registry_.findFunction("Later"), nullptr);
  EXPECT_EQ(registry_.typeSnapshot().size(), 15u);
  EXPECT_EQ(registry_.findType(0x4B896D21u), registry_.findType("BindingAsyncState"));
  EXPECT_EQ(registry_.findType(0x2A500213u), registry_.findType("BindingGenericEvent"));
  EXPECT_EQ(registry_.findType("BindingGenericEvent")->tags, std::vector<std::string>{"$builtin"});
  const BindingEventDescriptor* event = registry_.findEvent("OnCallback");
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->payload, registry_.findType("BindingCallbackEvent"));
}

TEST_F(HelpTest, EpytextEscapesALeadingDashAndBracesAndListsEnumeratorsByValue) {
  EXPECT_EQ(EpytextEscape("-a{b}-"), "E{-}aE{lb}bE{rb}-");
  EXPECT_EQ(TypeEpytext(*registry_.findType("BindingAsyncState")),
            "Possible states of an asynchronous operation.\r\n\r\n"
            "@cvar None: (0) Invalid state\r\n"
            "@cvar Running: (1) The operation is in flight\r\n"
            "@cvar Cancelling: (2) A request to cancel the operation has been made\r\n"
            "@cvar Cancelled: (3) The operation was cancelled\r\n"
            "@cvar Succeeded: (4) The operation completed successfully\r\n"
            "@cvar Failed: (5) The operation encountered an error\r\n"
            "@tags: $builtin,async\r\n"
            "@size: 4\r\n");
  // Enumerators of one value keep their name order.
  static const BindingStaticType kTie(0x00C0102Cu);
  BindingTypeBuilder tie = registry_.beginType(4, "Tie", kTie, /*isEnum=*/true);
  tie.addEnumValue("b", 1, "");
  tie.addEnumValue("c", 0, "");
  tie.addEnumValue("a", 1, "");
  EXPECT_EQ(TypeEpytext(*tie.descriptor()),
            "@cvar c: (0)\r\n@cvar a: (1)\r\n@cvar b: (1)\r\n@size: 4\r\n");
}

TEST_F(HelpTest, EpytextDescribesFunctions) {
  EXPECT_EQ(FunctionEpytext(*registry_.registerFunction("Bare", 0)), "");
  BindingFunctionDescriptor* full = registry_.registerFunction("Full", 2);
  full->description = "-Reads {things}";
  full->help = "Help";
  full->addArgument("id", "The {id}", {NativeTypeKind::kString}, true);
  full->addArgument("raw", "", {NativeTypeKind::kVector, NativeTypeKind::kUInt8}, false);
  full->returnType = {NativeTypeKind::kEnum, NativeTypeKind::kNone,
                      registry_.findType("BindingAsyncState")};
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

TEST_F(HelpTest, FullDocumentListsSortedRecords) {
  BindingFunctionDescriptor* function = registry_.registerFunction("GetThing", 1);
  function->addArgument("id", "Which", {NativeTypeKind::kString}, false);
  BindingConversionResult help = buildApiHelp(registry_, registry_.functionSnapshot(), {},
                                              registry_.eventSnapshot(), BindingHelpFormat::kFull);
  EXPECT_EQ(toJson(help.value),
            R"({"events":[{"description":"Fired when a callback is invoked.","name":"OnCallback",)"
            R"("nameSpace":"","tags":["$builtin"],"type":{"elementType":"",)"
            R"("type":"BindingCallbackEvent"}}],"functions":[{"arguments":[{"description":"Which",)"
            R"("name":"id","optional":false,"type":{"elementType":"","type":"string"}}],)"
            R"("async":"","description":"","help":"","name":"GetThing","nameSpace":"",)"
            R"("returns":{"elementType":"","type":""},"tags":[],"threadSafe":false}],)"
            R"("types":null})");

  const BindingValue types =
      buildApiHelp(registry_, {}, registry_.typeSnapshot(), {}, BindingHelpFormat::kFull)
          .value.field("types");
  ASSERT_EQ(types.size(), 15u);
  EXPECT_EQ(types.element(0).field("name").getString(), "BindingAsyncCancelEvent");
  EXPECT_EQ(types.element(1).field("name").getString(), "BindingAsyncFailureEvent");
  const BindingValue& state = types.element(2);
  EXPECT_EQ(toJson(state.field("values").element(0)),
            R"({"description":"The operation was cancelled","name":"Cancelled","value":3})");
  EXPECT_EQ(state.field("fields").size(), 0u);
}

TEST_F(HelpTest, EpytextDocumentMapsNamesToTextsAndEmptyListsLeaveTheirFieldsEmpty) {
  BindingConversionResult help =
      buildApiHelp(registry_, {}, registry_.typeSnapshot(), registry_.eventSnapshot(),
                   BindingHelpFormat::kEpytext);
  EXPECT_EQ(help.value.field("events").field("OnCallback").getString(),
            "Fired when a callback is invoked.\r\n\r\n@tags: $builtin\r\n");
  EXPECT_EQ(help.value.field("types").field("BindingAsyncCancelEvent").getString(),
            "Represents a cancelled asynchronous operation.\r\n\r\n"
            "@ivar asyncToken: Asynchronous operation token\r\n"
            "@type asyncToken: uint32\r\n"
            "@tags: $builtin,async\r\n");
  for (BindingHelpFormat format : {BindingHelpFormat::kFull, BindingHelpFormat::kEpytext}) {
    EXPECT_EQ(toJson(buildApiHelp(registry_, {}, {}, {}, format).value),
              R"({"events":null,"functions":null,"types":null})");
  }
  EXPECT_EQ(errorText(buildApiHelp(registry_, {}, {}, {}, static_cast<BindingHelpFormat>(3))),
            "Unsupported help format 3");
}

}  // namespace
}  // namespace binding
