// The plug-in library as a host sees it: opened as a shared library and driven through the block
// and the two function tables only.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "testing/fake_host.h"
#include "testing/plugin_library.h"

namespace {

using ::testing::HasSubstr;
using ulix_testing::FakeHost;
using ulix_testing::PluginInstance;
using ulix_testing::PluginLibrary;

const PluginLibrary& Library() {
  static PluginLibrary* library = new PluginLibrary(ULIX_AUTH_LIBRARY_PATH);
  return *library;
}

TEST(LoadUlixAuth, AcceptsEveryHostOfTheSameMajorVersion) {
  const struct {
    std::uint32_t major, minor, patch;
  } hosts[] = {{18, 0, 0}, {18, 0, 5}, {18, 3, 0}, {18, 4294967295u, 0}};
  for (const auto& host : hosts) {
    SCOPED_TRACE(std::to_string(host.major) + "." + std::to_string(host.minor) + "." +
                 std::to_string(host.patch));
    PluginInstance plugin(Library());
    const HostInitBlock block = plugin.Load(host.major, host.minor, host.patch);
    // The block goes back carrying the plug-in's own API version, whatever the host wrote.
    // Host records are packed: fields are read into locals before they are compared.
    EXPECT_EQ(block.major + 0, 18u);
    EXPECT_EQ(block.minor + 0, 0u);
    EXPECT_EQ(block.patch + 0, 0u);
    const char* short_name = block.shortName;
    const void* catalogue = block.catalogue;
    EXPECT_STREQ(short_name, "ulix-auth");
    ASSERT_NE(catalogue, nullptr);
    FakeHost host_table;
    EXPECT_TRUE(plugin.Start(host_table.context()));
    plugin.Stop();
  }
}

TEST(LoadUlixAuth, ANullBlockReachesNeitherTheHostNorTheAllocator) {
  // A started instance forwards its log lines to the host, so anything the null load logged,
  // called or scheduled would show there; anything it allocated would show in the counters.
  PluginInstance plugin(Library());
  plugin.Load();
  FakeHost host;
  ASSERT_TRUE(plugin.Start(host.context()));
  // What the host has received: log lines, subscriptions, timers, events, resource and HTTP calls.
  const auto received = [&host] {
    return std::vector<std::size_t>{host.LogLines().size(),      host.Subscriptions().size(),
                                    host.Scheduled().size(),     host.SentEvents().size(),
                                    host.ResourceCalls().size(), host.HttpCalls().size()};
  };
  const MemoryStatistics before = plugin.Statistics();
  const std::vector<std::size_t> received_before = received();

  Library().load()(nullptr);

  const MemoryStatistics after = plugin.Statistics();
  EXPECT_EQ(after.allocationCount + 0, before.allocationCount + 0);
  EXPECT_EQ(after.bytesAllocated + 0, before.bytesAllocated + 0);
  EXPECT_EQ(received(), received_before);
  plugin.Stop();
}

TEST(LoadUlixAuthDeathTest, StopsTheProcessForAnIncompatibleHost) {
  EXPECT_DEATH(PluginInstance(Library()).Load(17, 9, 9),
               "Assertion failed!\n\nExpression: ALE-EECF0606\n\nDescription: ulix-auth which "
               "supports plugin API 18.0.0 is not compatible with core's plugin API 17.9.9");
  EXPECT_DEATH(PluginInstance(Library()).Load(19, 0, 0),
               "plugin API 18.0.0 is not compatible with core's plugin API 19.0.0");
}

TEST(MemoryStatistics, CountThePlugInsOwnAllocationsAndBalanceOnceStopped) {
  PluginInstance plugin(Library());
  plugin.Load();
  FakeHost host;
  ASSERT_TRUE(plugin.Start(host.context()));
  const MemoryStatistics running = plugin.Statistics();
  EXPECT_GT(running.allocationCount + 0, running.freeCount + 0);
  EXPECT_GT(running.bytesAllocated + 0, running.bytesFreed + 0);
  EXPECT_GT(running.peakBytesInUse + 0, 0u);
  EXPECT_GT(running.allocationsAtPeak + 0, 0u);
  EXPECT_EQ(running.reserved[0] + 0, 0u);
  EXPECT_EQ(running.reserved[1] + 0, 0u);
  // The host's own new and malloc stay the host's after the library is loaded.
  auto block = std::make_unique<char[]>(1 << 20);
  void* raw = std::malloc(4096);
  std::memset(block.get(), 1, 1 << 20);
  const MemoryStatistics after = plugin.Statistics();
  std::free(raw);
  EXPECT_EQ(after.allocationCount + 0, running.allocationCount + 0);
  EXPECT_EQ(after.bytesAllocated + 0, running.bytesAllocated + 0);
  // Start read the host's resources, subscribed and scheduled the configuration; stop gives
  // back every byte of it, and of the load before it.
  plugin.Stop();
  const MemoryStatistics stopped = plugin.Statistics();
  EXPECT_EQ(stopped.allocationCount + 0, stopped.freeCount + 0);
  EXPECT_EQ(stopped.bytesAllocated + 0, stopped.bytesFreed + 0);
}

TEST(LoadUlixAuth, StopRemovesEverySubscriptionStartMade) {
  PluginInstance plugin(Library());
  plugin.Load();
  FakeHost host;
  ASSERT_TRUE(plugin.Start(host.context()));
  std::vector<std::string> subscribed;
  for (const auto& subscription : host.Subscriptions()) {
    EXPECT_EQ(subscription.plugin_handle, 7u);
    subscribed.push_back(subscription.name);
  }
  EXPECT_THAT(subscribed,
              ::testing::IsSupersetOf({"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent",
                                       "OnServiceProxyAsyncEvent"}));
  plugin.Stop();
  std::vector<std::string> unsubscribed;
  for (const auto& unsubscription : host.Unsubscriptions()) {
    EXPECT_EQ(unsubscription.plugin_handle, 7u);
    unsubscribed.push_back(unsubscription.name);
  }
  EXPECT_THAT(unsubscribed, ::testing::UnorderedElementsAreArray(subscribed));
}

}  // namespace
