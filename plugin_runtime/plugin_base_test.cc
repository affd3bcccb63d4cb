// The handshake, start and stop of a plug-in built on the runtime, driven in process with the
// fake host, and the names and versions it derives from its short name and the host's version.
#include "plugin_runtime/plugin_base.h"

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "logging/logger.h"
#include "logging/positional_formatter.h"
#include "platform/memory_counters.h"
#include "plugin_runtime/plugin_log_target.h"
#include "plugin_runtime/plugin_names.h"
#include "plugin_runtime/semantic_version.h"
#include "testing/fake_host.h"
#include "testing/started_plugin.h"

namespace plugin_runtime {
namespace {

using ulix_testing::FakeHost;

class TestPlugin : public PluginBase {
 public:
  explicit TestPlugin(bool start_result = true) : start_result_(start_result) {}
  void registerEndpoints() override { registered = true; }
  bool onStart() override { return start_result_; }
  bool registered = false;

 private:
  bool start_result_;
};

TEST(PluginBase, HandshakeWritesTheBlockBackAndStartAnswersWhatOnStartDoes) {
  for (const bool result : {true, false}) {
    auto* plugin = new TestPlugin(result);
    HostInitBlock block{};
    block.major = 18;
    block.minor = 3;
    plugin->handshake(&block, "ulix-auth");
    // Host records are packed: read through a copy.
    const HostInitBlock written = block;
    EXPECT_EQ(std::to_string(written.major) + "." + std::to_string(written.minor) + "." +
                  std::to_string(written.patch) + " " + written.shortName + " " +
                  plugin->hostVersion().Text() + " " + plugin->names().fullName + " " +
                  plugin->identifierName(),
              "18.0.0 ulix-auth 18.3.0 zpk-be-ulix-auth UlixAuth");
    EXPECT_TRUE(plugin->registered && written.context == plugin &&
                written.entryTable == &plugin->entryTable() && written.catalogue != nullptr);

    FakeHost host;
    EXPECT_EQ(written.entryTable->start(written.context, host.context()), result ? 1 : 0);
    EXPECT_EQ(plugin->userAgent() + " " + std::to_string(plugin->pluginHandle()),
              "VornClient/18.3.0 (ulix-auth) 7");
    written.entryTable->stop(written.context);
  }
}

TEST(PluginBase, MemoryStatisticsAreTheHeapCountersFieldForField) {
  // A free before the peak, so fewer blocks are outstanding at it than were ever allocated.
  platform::Free(platform::Allocate(10));
  void* kept = platform::Allocate(100);
  platform::Free(platform::Allocate(1000));
  MemoryStatistics s;
  std::memset(static_cast<void*>(&s), 0xA5, sizeof s);
  const platform::MemoryCounters c = platform::ReadMemoryCounters();
  PluginBase::fillMemoryStatistics(&s);
  platform::Free(kept);
  const auto text = [](auto... counts) { return ((std::to_string(counts) + " ") + ...); };
  EXPECT_EQ(text(s.peakBytesInUse, s.allocationsAtPeak, s.bytesAllocated, s.allocationCount,
                 s.bytesFreed, s.freeCount, s.reserved[0], s.reserved[1]),
            text(c.peak_bytes_in_use, c.allocations_at_peak, c.bytes_allocated, c.allocations,
                 c.bytes_freed, c.frees, 0u, 0u));
  EXPECT_LT(c.allocations_at_peak, c.allocations);
}

TEST(PluginLogTarget, ForwardsLevelAndMessageToTheHostOfTheFirstPluginOnly) {
  FakeHost first_host(1);
  FakeHost second_host(2);
  ulix_testing::StartedPlugin first(first_host, new TestPlugin());
  ulix_testing::StartedPlugin second(second_host, new TestPlugin());

  logging::Log(logging::kOkay, logging::kGroupDbg, "value %d of %s", 7, "x");
  logging::Log(logging::kAlways, logging::kGroupDbg | 64, "Refreshing tokens in %.1f seconds...",
               42.25);
  // Groups the plug-in start suppresses never reach the host.
  logging::Log(logging::kAlways, logging::kGroupXtr, "hidden");
  logging::Log(logging::kWarn, logging::kGroupDbg, "once");
  // A record longer than the logger's buffer, as a target may be handed one, goes whole.
  const std::string longer(logging::kMessageBufferSize, 'x');
  PluginLogTarget(first_host.functions(), 0)
      .Write({.time = {}, .level = 2, .groups = 0, .message = longer});
  // The full name depends on the exact type, and complains about any other.
  EXPECT_EQ(MakePluginNames("ulix-auth", FrontendPluginType()).fullName + " " +
                MakePluginNames("x", PluginTypeRecord{"Backend", "extra"}).fullName,
            "zpk-fe-ulix-auth zpk-xx-x");
  EXPECT_EQ(first_host.LogLines(),
            (std::vector<FakeHost::LogLine>{
                {0, "value 7 of x"},
                {3, "Refreshing tokens in 42.2 seconds..."},
                {1, "once"},
                {2, longer},
                {2,
                 "            Plugin Manager| GetFullNameFromShortNameAndType(\"x\", "
                 "\"Backend\") called with an unknown type"},
            }));
  EXPECT_TRUE(second_host.LogLines().empty());
}

TEST(IdentifierName, DropsSeparatorsCapitalisesWordsAndSpellsParametersWithBy) {
  const std::tuple<const char*, const char*, const char*> rows[] = {
      {"", "ulix-auth", "UlixAuth"},
      {"", "a!b+c-d.e/f_g", "ABCDEFG"},
      {"", "x{y}z", "XByYz"},
      {"", "{}", "By"},
      {"", "--a", "A"},
      {"", "9lives", "9lives"},
      {"", "", ""},
      {"GET", "/ulix-auth/v1/config/{platformId}", "GetUlixAuthV1ConfigByPlatformId"},
      {"GET", "/ulix-auth/v1/authorization/access-token", "GetUlixAuthV1AuthorizationAccessToken"},
      {"DELETE", "/ulix-auth/v1/authorization", "DeleteUlixAuthV1Authorization"},
      {"get", "/a", "GetA"},
  };
  for (const auto& [prefix, text, identifier] : rows) {
    EXPECT_EQ(IdentifierName(text, prefix), identifier) << prefix << " " << text;
  }
}

TEST(SemanticVersion, TextAndTheHostsThatServeAPlugin) {
  EXPECT_EQ((SemanticVersion{1, 2, 3, "rc.1", ""}.Text()), "1.2.3-rc.1");
  EXPECT_EQ((SemanticVersion{1, 2, 3, "", "b7"}.Text()), "1.2.3+b7");
  EXPECT_EQ((SemanticVersion{4294967295u, 0, 1, "a", "b"}.Text()), "4294967295.0.1-a+b");
  // The same major, and at least the minor and patch.
  const SemanticVersion plugin{18, 2, 5, "", ""};
  const std::pair<SemanticVersion, bool> rows[] = {
      {{18, 2, 5, "", ""}, true},  {{18, 2, 9, "", ""}, true},  {{18, 3, 0, "", ""}, true},
      {{18, 2, 4, "", ""}, false}, {{18, 1, 9, "", ""}, false}, {{17, 9, 9, "", ""}, false},
      {{19, 0, 0, "", ""}, false}, {{19, 2, 5, "", ""}, false},
  };
  for (const auto& [host, compatible] : rows) {
    EXPECT_EQ(IsCompatible(host, plugin), compatible) << host.Text();
  }
}

}  // namespace
}  // namespace plugin_runtime
