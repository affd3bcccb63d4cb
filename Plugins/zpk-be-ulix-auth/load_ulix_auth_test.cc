// The plug-in library as a host sees it: opened as a shared library and driven through the block
// and the two function tables only.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "testing/fake_host.h"
#include "testing/plugin_library.h"

namespace {

using ulix_testing::FakeHost;
using ulix_testing::PluginInstance;
using ulix_testing::PluginLibrary;

const PluginLibrary& Library() {
  static PluginLibrary* library = new PluginLibrary(ULIX_AUTH_LIBRARY_PATH);
  return *library;
}

// A whole cycle for every host of the same major version. The block goes back carrying the
// plug-in's own API version, whatever the host wrote. Start subscribes with the host's handle
// and stop removes every subscription. The counters see the plug-in's own allocations only: not
// the host's new and malloc, nor a load with a null block, which reaches neither the host nor
// the allocator; stop gives back every byte the load and the start took.
TEST(LoadUlixAuth, RunsACycleForEveryHostOfTheSameMajorVersion) {
  const std::uint32_t hosts[][3] = {{18, 0, 0}, {18, 0, 5}, {18, 3, 0}, {18, 4294967295u, 0}};
  for (const auto& [major, minor, patch] : hosts) {
    SCOPED_TRACE(std::to_string(minor) + "." + std::to_string(patch));
    PluginInstance plugin(Library());
    // Host records are packed: fields are read into locals before they are compared.
    const HostInitBlock block = plugin.Load(major, minor, patch);
    const std::uint32_t version[] = {block.major, block.minor, block.patch};
    const std::string short_name = block.shortName;
    EXPECT_THAT(version, ::testing::ElementsAre(18u, 0u, 0u));
    EXPECT_EQ(short_name, "ulix-auth");
    ASSERT_NE(static_cast<const void*>(block.catalogue), nullptr);
    FakeHost host;
    ASSERT_TRUE(plugin.Start(host.context()));

    const auto received = [&host] {
      return std::vector<std::size_t>{host.LogLines().size(),      host.Subscriptions().size(),
                                      host.Scheduled().size(),     host.SentEvents().size(),
                                      host.ResourceCalls().size(), host.HttpCalls().size()};
    };
    const std::vector<std::size_t> received_before = received();
    const MemoryStatistics running = plugin.Statistics();
    Library().load()(nullptr);
    auto block_of_host = std::make_unique<char[]>(1 << 20);
    void* raw = std::malloc(4096);
    std::memset(block_of_host.get(), 1, 1 << 20);
    const MemoryStatistics after = plugin.Statistics();
    std::free(raw);
    EXPECT_EQ(after.allocationCount + 0, running.allocationCount + 0);
    EXPECT_EQ(after.bytesAllocated + 0, running.bytesAllocated + 0);
    EXPECT_EQ(running.reserved[0] + running.reserved[1], 0u);
    EXPECT_EQ(received(), received_before);
    EXPECT_GT(running.allocationCount + 0, running.freeCount + 0);
    EXPECT_GE(running.peakBytesInUse + 0, running.bytesAllocated - running.bytesFreed);
    EXPECT_GT(running.bytesAllocated + 0, running.bytesFreed + 0);
    EXPECT_GT(running.allocationsAtPeak + 0, 0u);

    ASSERT_FALSE(host.Subscriptions().empty());
    for (const auto& subscription : host.Subscriptions()) EXPECT_EQ(subscription.plugin_handle, 7u);
    plugin.Stop();
    EXPECT_EQ(host.ActiveSubscriptionCount(), 0u);
    EXPECT_EQ(host.Unsubscriptions().size(), host.Subscriptions().size());
    const MemoryStatistics stopped = plugin.Statistics();
    EXPECT_EQ(stopped.allocationCount + 0, stopped.freeCount + 0);
    EXPECT_EQ(stopped.bytesAllocated + 0, stopped.bytesFreed + 0);
  }
}

TEST(LoadUlixAuthDeathTest, StopsTheProcessForAnIncompatibleHost) {
  EXPECT_DEATH(PluginInstance(Library()).Load(17, 9, 9),
               "Assertion failed!\n\nExpression: ALE-EECF0606\n\nDescription: ulix-auth which "
               "supports plugin API 18.0.0 is not compatible with core's plugin API 17.9.9");
  EXPECT_DEATH(PluginInstance(Library()).Load(19, 0, 0),
               "plugin API 18.0.0 is not compatible with core's plugin API 19.0.0");
}

}  // namespace
