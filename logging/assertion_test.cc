#include "logging/assertion.h"

#include <string>
#include <tuple>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "logging/logger.h"
#include "logging/uuid.h"
#include "platform/debugger_output.h"
#include "testing/portable_expectations.h"

namespace logging {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ulix_testing::FullyMatches;

TEST(AssertionText, ListsOnlyThePartsThatArePresent) {
  // Expression, description, file, line and function; the text.
  const std::tuple<const char*, const char*, const char*, int, const char*, const char*> cases[] = {
      {"x", "", "a", 7, "", "Assertion failed!\n\nFile: a\nLine: 7\n\nExpression: x"},
      {"ALE-8B4DC795", "", "", 0, "", "Assertion failed!\n\nExpression: ALE-8B4DC795"},
      {"p != nullptr", "no peer", "f.cc", 12, "Run()",
       "Assertion failed!\n\nFile: f.cc\nLine: 12\n\nFunction: Run()\n\nExpression: p != "
       "nullptr\n\nDescription: no peer"},
      {"", "only why", "", 0, "", "Assertion failed!\n\n\n\nDescription: only why"},
      {"", "", "", 0, "", "Assertion failed!\n\n"},
  };
  for (const auto& [expression, description, file, line, function, text] : cases) {
    EXPECT_EQ(AssertionText(expression, description, file, line, function), text);
  }
}

TEST(ReportAssertion, LogsTheTextAsAnErrorInGroupDbg) {
  ::testing::internal::CaptureStderr();
  Logger::Acquire();
  std::vector<std::string> lines;
  platform::DebuggerSink previous =
      platform::SetDebuggerSink([&](std::string_view text) { lines.emplace_back(text); });
  ReportAssertion("x", "", "a", 7, "");
  platform::SetDebuggerSink(previous);
  Logger::Release();
  std::string err = ::testing::internal::GetCapturedStderr();

  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], EndsWith("):  ERROR| Assertion failed!\n\nFile: a\nLine: 7\n\n"
                                 "Expression: x\n"));
  EXPECT_EQ(err, lines[0]);
}

// An emulator may add its own report of the abort after ours, so the text is looked for rather
// than required at the end.
auto ReportOf(const char* text) { return AllOf(HasSubstr(text), Not(HasSubstr("Description"))); }

TEST(FatalStopDeathTest, LogsTheCodeAsTheExpressionAndAborts) {
  // A failing UUID generator stops with its code, and no description.
  auto failing = [](platform::UuidBytes&) -> std::int32_t { return 5; };
  EXPECT_DEATH(CreateUuid(failing),
               ReportOf("):  ERROR| Assertion failed!\n\nExpression: ALE-8B4DC795\n"));
  EXPECT_DEATH(FatalStop(kFatalPluginApiMismatch, "plugin API 17.0.0"),
               HasSubstr("):  ERROR| Assertion failed!\n\nExpression: ALE-EECF0606\n\n"
                         "Description: plugin API 17.0.0\n"));
}

TEST(Uuid, CreatesDistinctRandomUuidsWrittenInLowerCaseHexInMemoryOrder) {
  Uuid high = {0xFF, 0xFE, 0xAB, 0xCD, 0xEF, 0x0A, 0x9A, 0xBC,
               0xDE, 0xF0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  EXPECT_EQ(UuidText(high), "fffeabcd-ef0a-9abc-def0-123456789abc");
  Uuid first = CreateUuid();
  EXPECT_NE(first, CreateUuid());
  EXPECT_THAT(UuidText(first),
              FullyMatches("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}"));
}

}  // namespace
}  // namespace logging
