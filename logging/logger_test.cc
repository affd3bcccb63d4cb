#include "logging/logger.h"

#include <string>
#include <thread>
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

// Stands in for the plug-in's target: keeps every record it is handed; an echoing one logs
// while writing, which must not recurse into it.
class RecordingTarget : public LogTarget {
 public:
  explicit RecordingTarget(std::string name, std::vector<std::string>* journal = nullptr)
      : name_(std::move(name)), journal_(journal) {
    SetLevel(kOkay);
  }
  const char* ClassName() const override { return class_name_; }
  bool Write(const LogRecord& record) override {
    if (echo) Log(kAlways, 0, "echo of %s", std::string(record.message).c_str());
    messages.emplace_back(record.message);
    if (journal_ != nullptr) journal_->push_back(name_ + " " + std::string(record.message));
    return true;
  }
  void Detach() override {
    if (journal_ != nullptr) journal_->push_back(name_ + " detached");
    LogTarget::Detach();
  }

  const char* class_name_ = "RecordingTarget";
  std::vector<std::string> messages;
  bool echo = false;

 private:
  std::string name_;
  std::vector<std::string>* journal_;
};

class LoggerTest : public ::testing::Test {
 protected:
  // Standard error is captured for every test, so the builtin target's lines stay out of the
  // test output; tests that look at them take them.
  void SetUp() override {
    ::testing::internal::CaptureStderr();
    Logger::Acquire();
    previous_sink_ = platform::SetDebuggerSink(
        [this](std::string_view text) { debugger_lines_.emplace_back(text); });
  }
  void TearDown() override {
    platform::SetDebuggerSink(previous_sink_);
    Logger::Release();
    if (!stderr_taken_) ::testing::internal::GetCapturedStderr();
  }

  std::string TakeStderr() {
    stderr_taken_ = true;
    return ::testing::internal::GetCapturedStderr();
  }

  std::vector<std::string> debugger_lines_;

 private:
  platform::DebuggerSink previous_sink_;
  bool stderr_taken_ = false;
};

TEST_F(LoggerTest, WithInitialSettingsWritesOneLineToStdErrAndTheDebugger) {
  Log(kOkay, kGroupDbg, "below the global level");
  Log(kAlways, kGroupDbg, "hello %d", 7);
  std::string err = TakeStderr();

  EXPECT_THAT(err, FullyMatches(ulix_testing::ProgramFileName("logging_test") +
                                "\\(0x[0-9a-f]+\\): ALWAYS\\| hello 7\n"));
  EXPECT_THAT(debugger_lines_, ElementsAre(err));
}

TEST_F(LoggerTest, DropsCallsInSuppressedGroupsWhilePausedOrWritingAndCutsLongMessages) {
  RecordingTarget target("t");
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
  EXPECT_THAT(target.messages, ElementsAre("extra now allowed", std::string(4095, 'y')));
}

TEST(LogTargetFilter, AcceptsByLevelAndGroups) {
  struct Case {
    const char* label;
    std::int32_t target_level;
    std::uint64_t enable;
    std::uint64_t suppress;
    std::int32_t level;
    std::uint64_t groups;
    bool accepted;
  };
  const Case cases[] = {
      {"below the target level", 1, 0, 0, 0, 0, false},
      {"at the target level", 1, 0, 0, 1, 0, true},
      {"no masks take any group", 1, 0, 0, 2, 8, true},
      {"not among the enabled groups", 0, 1, 0, 3, 2, false},
      {"one enabled bit is enough", 0, 1, 0, 3, 3, true},
      {"no groups pass the masks", 0, 1, 2, 3, 0, true},
      {"a suppressed bit wins over an enabled one", 0, 1, 2, 3, 3, false},
      {"suppressed without enabled groups", 0, 0, 4, 3, 5, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RecordingTarget target("t");
    target.SetLevel(c.target_level);
    target.SetGroups(c.enable, c.suppress);
    EXPECT_EQ(target.Accepts({{}, c.level, c.groups, "m"}), c.accepted);
  }
}

TEST_F(LoggerTest, OffersRecordsToTargetsInRegistrationOrderWithTheirOwnFilters) {
  std::vector<std::string> journal;
  RecordingTarget first("first", &journal);
  RecordingTarget second("second", &journal);
  second.SetGroups(kGroupNet, 0);
  Logger::AddTarget(&first);
  Logger::AddTarget(&first);  // already registered: no second entry
  second.Attach();
  Logger::SetGlobalLevel(kOkay);

  Log(kOkay, kGroupNet | kGroupDbg, "both %s", "see this");
  Log(kOkay, kGroupGen, "only first");
  Logger::RemoveTarget(&first);
  Log(kOkay, kGroupNet, "only second");

  EXPECT_THAT(journal, ElementsAre("first both see this", "second both see this",
                                   "first only first", "second only second"));
}

TEST_F(LoggerTest, LastReleaseDetachesTargetsLastFirstAndRestoresDefaults) {
  std::vector<std::string> journal;
  RecordingTarget first("first", &journal);
  RecordingTarget second("second", &journal);
  Logger::AddTarget(&first);
  Logger::AddTarget(&second);
  Logger::SetGlobalLevel(kError);
  Logger::SetSuppressedGroups(0);
  Logger::Acquire();
  Logger::Release();
  EXPECT_TRUE(first.IsRegistered());  // one reference is still held

  Logger::Release();
  EXPECT_THAT(journal, ElementsAre("second detached", "first detached"));
  EXPECT_FALSE(first.IsRegistered());
  EXPECT_EQ(Logger::ReferenceCount(), 0);
  Logger::Release();  // without a reference: ignored
  EXPECT_EQ(Logger::ReferenceCount(), 0);

  Logger::Acquire();
  EXPECT_EQ(Logger::GlobalLevel(), 1);
  EXPECT_EQ(Logger::SuppressedGroups(), 4u);
  EXPECT_EQ(Logger::FindTarget("RecordingTarget"), nullptr);
}

TEST_F(LoggerTest, FindsRegisteredTargetsByClassNameUntilTheyAreDestroyed) {
  EXPECT_EQ(Logger::FindTarget("StdErrLogTarget"), Logger::StdErrTarget());
  EXPECT_EQ(Logger::FindTarget("DebuggerConsoleLogTarget"), Logger::DebuggerTarget());
  EXPECT_EQ(Logger::FindTarget("StdOutLogTarget"), nullptr);  // not registered at start
  EXPECT_EQ(Logger::FindTarget("PluginLogTarget"), nullptr);
  {
    RecordingTarget plugin("plugin");
    plugin.class_name_ = "PluginLogTarget";
    plugin.Attach();
    EXPECT_EQ(Logger::FindTarget("PluginLogTarget"), &plugin);
  }
  // A destroyed target is no longer registered.
  EXPECT_EQ(Logger::FindTarget("PluginLogTarget"), nullptr);
  Log(kAlways, 0, "still fine");
}

TEST_F(LoggerTest, StdOutTargetWritesGenLinesWithItsTemplate) {
  Logger::StdOutTarget()->Attach();
  ::testing::internal::CaptureStdout();
  Log(kAlways, kGroupGen, "to stdout");
  Log(kAlways, kGroupDbg, "not to stdout");
  std::fflush(stdout);
  std::string out = ::testing::internal::GetCapturedStdout();
  std::string err = TakeStderr();
  EXPECT_EQ(out, "to stdout\n");
  EXPECT_THAT(err, FullyMatches(".*: ALWAYS\\| not to stdout\n"));  // GEN is suppressed there
}

TEST_F(LoggerTest, DeliversEveryRecordIntactFromConcurrentThreads) {
  RecordingTarget target("t");
  target.Attach();
  Logger::StdErrTarget()->Detach();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) Log(kWarn, 0, "thread %d line %d", t, i);
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_EQ(target.messages.size(), 800u);
  for (const std::string& message : target.messages) {
    ASSERT_THAT(message, FullyMatches("thread [0-3] line [0-9]+"));
  }
}

TEST_F(LoggerTest, FunctionTablesReachTheSameOperations) {
  const LoggerInterface& logger = Logger::Interface();
  EXPECT_EQ(logger.interface_version(), 1);
  RecordingTarget target("t");
  const LogTargetInterface& calls = target.Interface();
  EXPECT_EQ(calls.interface_version(), 1);
  calls.attach(&target);
  calls.set_groups(&target, 3, 1);
  EXPECT_EQ(calls.get_enabled_groups(&target), 2u);
  logger.log(kAlways, kGroupGen, "via %s", "table");
  EXPECT_THAT(target.messages, ElementsAre("via table"));
  EXPECT_STREQ(calls.class_name(&target), "RecordingTarget");
  EXPECT_EQ(logger.executable_name(), ulix_testing::ProgramFileName("logging_test"));
  EXPECT_EQ(logger.group_names(0x41), "DBG;NET");
}

}  // namespace
}  // namespace logging
