#include "platform/executable_name.h"

#include "gtest/gtest.h"

namespace platform {
namespace {

TEST(ExecutableName, IsTheRunningProgramsFileName) {
#if defined(_WIN32)
  EXPECT_EQ(ExecutableFileName(), "platform_test.exe");
#else
  EXPECT_EQ(ExecutableFileName(), "platform_test");
#endif
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

#if defined(_WIN32)
TEST(ExecutableName, TakesEitherSeparatorOnWindows) {
  EXPECT_EQ(FileNameOfPath("C:\\Program Files\\Client\\client.exe"), "client.exe");
  EXPECT_EQ(FileNameOfPath("C:\\Client/bin\\client.exe"), "client.exe");
  EXPECT_EQ(FileNameOfPath("C:\\Client\\bin/client.exe"), "client.exe");
  EXPECT_EQ(FileNameOfPath("C:client.exe"), "C:client.exe");
}
#else
TEST(ExecutableName, KeepsBackslashesInLinuxNames) {
  EXPECT_EQ(FileNameOfPath("/opt/odd\\name"), "odd\\name");
}
#endif

}  // namespace
}  // namespace platform
