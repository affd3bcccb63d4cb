#include "platform/debugger_output.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace platform {
namespace {

TEST(DebuggerOutput, GoesOnlyToTheInstalledSink) {
  WriteDebuggerOutput("nobody listens\n");  // must be harmless without a sink

  std::vector<std::string> seen;
  DebuggerSink previous = SetDebuggerSink([&](std::string_view text) { seen.emplace_back(text); });
  EXPECT_FALSE(previous);
  WriteDebuggerOutput("first\n");
  WriteDebuggerOutput("second\n");
  DebuggerSink removed = SetDebuggerSink({});
  WriteDebuggerOutput("after removal\n");

  EXPECT_TRUE(removed);
  EXPECT_EQ(seen, (std::vector<std::string>{"first\n", "second\n"}));
}

}  // namespace
}  // namespace platform
