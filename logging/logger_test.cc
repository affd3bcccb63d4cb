#include "logging/logger.h"

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "logging/console_log_targets.h"
#include "platform/debugger_output.h"
#include "testing/portable_expectations.h"

namespace logging {
namespace {

using ::testing::ElementsAre;
using ulix_testing::FullyMatches;

// Stands in for the plug-in's target: notes "<name> <message>" of every record it is handed and
// "<name> detached"; an echoing one logs while writing, which must not recurse into it.
class RecordingTarget : public LogTarget {
 public:
  RecordingTarget(std::string name, std::vector<std::string>& journal)
      : name_(std::move(name)), journal_(journal) {
    SetLevel(kOkay);
  }
  const char* ClassName() const override { return class_name_; }
  bool Write(const LogRecord& record) override {
    if (echo) Log(kAlways, 0, "echo of %s", std::string(record.message).c_str());
    journal_.push_back(name_ + " " + std::string(record.message));
    return true;
  }
  void Detach() override {
    journal_.push_back(name_ + " detached");
    LogTarget::Detach();
  }

  const char* class_name_ = "RecordingTarget";
  bool echo = false;

 private:
  std::string name_;
  std::vector<std::string>& journal_;
};

class LoggerTest : public ::testing::Test {
 protected:
  // Standard error is captured for every test, so the builtin target's lines stay out of the
  // test output.
  void SetUp() override {
    ::testing::internal::CaptureStderr();
    Logger::Acquire();
  }
  void TearDown() override {
    Logger::Release();
    ::testing::internal::GetCapturedStderr();
  }

  std::vector<std::string> journal_;
};

TEST_F(LoggerTest, WithInitialSettingsWritesOneLineToStdErrAndTheDebuggerAndGenToStdOut) {
  std::vector<std::string> debugger_lines;
  const platform::DebuggerSink previous =
      platform::SetDebuggerSink([&](std::string_view text) { debugger_lines.emplace_back(text); });
  Logger::StdOutTarget()->Attach();  // GEN lines alone: GEN is suppressed on standard error
  ::testing::internal::CaptureStdout();
  Log(kOkay, kGroupDbg, "below the global level");
  Log(kAlways, kGroupDbg, "hello %d", 7);
  Log(kAlways, kGroupGen, "to stdout");
  std::fflush(stdout);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "to stdout\n");
  const std::string err = ::testing::internal::GetCapturedStderr();
  ::testing::internal::CaptureStderr();
  EXPECT_THAT(err, FullyMatches(ulix_testing::ProgramFileName("logging_test") +
                                "\\(0x[0-9a-f]+\\): ALWAYS\\| hello 7\n"));
  platform::SetDebuggerSink(previous);
  EXPECT_THAT(debugger_lines, ElementsAre(err));
}

TEST_F(LoggerTest, DropsCallsInSuppressedGroupsWhilePausedOrWritingAndCutsLongMessages) {
  RecordingTarget target("t", journal_);
  target.echo = true;
  Logger::AddTarget(&target);
  Log(kAlways, kGroupXtr | kGroupDbg, "extra");
  Logger::Pause();
  Log(kAlways, kGroupDbg, "paused");
  Logger::Resume();
  Logger::SetSuppressedGroups(kGroupNet);
  Log(kAlways, kGroupNet, "net");
  Log(kAlways, kGroupXtr, "extra now allowed");
  Log(kAlways, 0, "%s", std::string(5000, 'y').c_str());
  EXPECT_THAT(journal_, ElementsAre("t extra now allowed", "t " + std::string(4095, 'y')));
}

TEST(LogTargetFilter, AcceptsByLevelAndGroups) {
  // Target level, enabled and suppressed groups; the record's level and groups; accepted.
  const std::tuple<std::int32_t, std::uint64_t, std::uint64_t, std::int32_t, std::uint64_t, bool>
      cases[] = {
          {1, 0, 0, 0, 0, false},  // below the target level
          {1, 0, 0, 1, 0, true},   // at the target level
          {1, 0, 0, 2, 8, true},   // no masks take any group
          {0, 1, 0, 3, 2, false},  // not among the enabled groups
          {0, 1, 0, 3, 3, true},   // one enabled bit is enough
          {0, 1, 2, 3, 0, true},   // no groups pass the masks
          {0, 1, 2, 3, 3, false},  // a suppressed bit wins over an enabled one
          {0, 0, 4, 3, 5, false},  // suppressed without enabled groups
      };
  int row = 0;
  for (const auto& [target_level, enable, suppress, level, groups, accepted] : cases) {
    std::vector<std::string> journal;
    RecordingTarget target("t", journal);
    target.SetLevel(target_level);
    target.SetGroups(enable, suppress);
    EXPECT_EQ(target.Accepts({{}, level, groups, "m"}), accepted) << "row " << row++;
  }
}

TEST_F(LoggerTest, OffersRecordsInRegistrationOrderAndTheLastReleaseDetachesLastFirst) {
  RecordingTarget first("first", journal_), second("second", journal_);
  second.SetGroups(kGroupNet, 0);
  Logger::AddTarget(&first);
  Logger::AddTarget(&first);  // already registered: no second entry
  second.Attach();
  Logger::SetGlobalLevel(kOkay);
  Logger::SetSuppressedGroups(0);
  Log(kOkay, kGroupNet | kGroupDbg, "both %s", "see this");
  Log(kOkay, kGroupGen, "only first");
  Logger::RemoveTarget(&first);
  Log(kOkay, kGroupNet, "only second");
  Logger::AddTarget(&first);  // now after second
  Logger::Acquire();
  Logger::Release();
  EXPECT_TRUE(first.IsRegistered());  // one reference is still held
  Logger::Release();
  EXPECT_THAT(journal_,
              ElementsAre("first both see this", "second both see this", "first only first",
                          "second only second", "first detached", "second detached"));
  EXPECT_FALSE(first.IsRegistered() || second.IsRegistered());
  Logger::Release();  // without a reference: ignored
  EXPECT_EQ(Logger::ReferenceCount(), 0);
  // A new first reference starts from the defaults.
  Logger::Acquire();
  EXPECT_EQ(Logger::GlobalLevel(), kWarn);
  EXPECT_EQ(Logger::SuppressedGroups(), kGroupXtr);
  EXPECT_EQ(Logger::FindTarget("RecordingTarget"), nullptr);
}

TEST_F(LoggerTest, FindsTheFirstRegisteredTargetOfAClassUntilItIsDestroyed) {
  EXPECT_EQ(Logger::FindTarget("StdErrLogTarget"), Logger::StdErrTarget());
  EXPECT_EQ(Logger::FindTarget("DebuggerConsoleLogTarget"), Logger::DebuggerTarget());
  EXPECT_EQ(Logger::FindTarget("StdOutLogTarget"), nullptr);  // not registered at start
  {
    RecordingTarget plugin("plugin", journal_), later("later", journal_);
    plugin.class_name_ = later.class_name_ = "PluginLogTarget";
    plugin.Attach();
    later.Attach();
    EXPECT_EQ(Logger::FindTarget("PluginLogTarget"), &plugin);
  }
  // A destroyed target is no longer registered.
  EXPECT_EQ(Logger::FindTarget("PluginLogTarget"), nullptr);
  Log(kAlways, 0, "still fine");
}

TEST_F(LoggerTest, DeliversEveryRecordIntactFromConcurrentThreads) {
  RecordingTarget target("t", journal_);
  target.Attach();
  Logger::StdErrTarget()->Detach();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) Log(kWarn, 0, "thread %d line %d", t, i);
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_EQ(journal_.size(), 800u);
  for (const std::string& line : journal_)
    ASSERT_THAT(line, FullyMatches("t thread [0-3] line [0-9]+"));
}

TEST_F(LoggerTest, FunctionTablesReachTheSameOperations) {
  const LoggerInterface& logger = Logger::Interface();
  RecordingTarget target("t", journal_);
  const LogTargetInterface& calls = target.Interface();
  EXPECT_EQ(logger.interface_version() * 10 + calls.interface_version(), 11);
  calls.attach(&target);
  calls.set_groups(&target, 3, 1);
  EXPECT_EQ(calls.get_enabled_groups(&target), 2u);
  logger.log(kAlways, kGroupGen, "via %s", "table");
  EXPECT_THAT(journal_, ElementsAre("t via table"));
  EXPECT_STREQ(calls.class_name(&target), "RecordingTarget");
  EXPECT_EQ(logger.executable_name(), ulix_testing::ProgramFileName("logging_test"));
  EXPECT_EQ(logger.group_names(0x41), "DBG;NET");
}

}  // namespace
}  // namespace logging
