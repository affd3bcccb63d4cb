#include "platform/executable_name.h"

#include "gtest/gtest.h"

namespace platform {
namespace {

TEST(ExecutableName, IsTheRunningProgramsFileName) {
  EXPECT_EQ(ExecutableFileName(), "platform_test");
}

TEST(ExecutableName, KeepsWhatFollowsTheLastSlash) {
  struct Case {
    const char* path;
    const char* expected;
  };
  for (const Case& c :
       {Case{"/usr/bin/host", "host"}, Case{"host", "host"}, Case{"/a/b/", ""}, Case{"", ""}}) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FileNameOfPath(c.path), c.expected);
  }
}

}  // namespace
}  // namespace platform
