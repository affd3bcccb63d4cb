// The handshake, start and stop of a plug-in built on the runtime, driven in process with the
// fake host.
#include "plugin_runtime/plugin_base.h"

#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "logging/logger.h"
#include "testing/fake_host.h"

namespace plugin_runtime {
namespace {

using ulix_testing::FakeHost;

class TestPlugin : public PluginBase {
 public:
  explicit TestPlugin(bool start_result = true, PluginTypeRecord type = BackendPluginType())
      : PluginBase(std::move(type)), start_result_(start_result) {}
  void registerEndpoints() override { registered = true; }
  bool onStart() override { return start_result_; }
  bool registered = false;

 private:
  bool start_result_;
};

HostInitBlock BlockFor(std::uint32_t major, std::uint32_t minor, std::uint32_t patch) {
  HostInitBlock block{};
  block.major = major;
  block.minor = minor;
  block.patch = patch;
  return block;
}

TEST(PluginBase, HandshakeNamesThePluginAndWritesTheBlockBack) {
  auto* plugin = new TestPlugin();
  HostInitBlock block = BlockFor(18, 3, 0);
  plugin->handshake(&block, "ulix-auth");

  EXPECT_TRUE(plugin->registered);
  EXPECT_EQ(plugin->hostVersion().Text(), "18.3.0");
  // The names derive from the short name the export passes.
  EXPECT_EQ(plugin->names().fullName, "zpk-be-ulix-auth");
  EXPECT_EQ(plugin->identifierName(), "UlixAuth");
  // Host records are packed: read each field into a local before comparing it.
  const HostInitBlock written = block;
  EXPECT_EQ(written.major + 0, 18u);
  EXPECT_EQ(written.minor + 0, 0u);
  EXPECT_EQ(written.patch + 0, 0u);
  const void* context = written.context;
  const PluginEntryTable* entry_table = written.entryTable;
  const TypeCatalogue* catalogue = written.catalogue;
  EXPECT_EQ(context, plugin);
  EXPECT_EQ(entry_table, &plugin->entryTable());
  EXPECT_STREQ(written.shortName, "ulix-auth");
  ASSERT_NE(catalogue, nullptr);

  FakeHost host;
  ASSERT_EQ(block.entryTable->start(block.context, host.context()), 1);
  EXPECT_EQ(plugin->pluginHandle(), 7u);
  EXPECT_EQ(plugin->userAgent(), "VornClient/18.3.0 (ulix-auth)");
  block.entryTable->stop(block.context);
}

TEST(PluginBase, StartReturnsTheResultOfOnStart) {
  for (bool result : {true, false}) {
    auto* plugin = new TestPlugin(result);
    HostInitBlock block = BlockFor(18, 0, 0);
    plugin->handshake(&block, "p");
    FakeHost host;
    EXPECT_EQ(block.entryTable->start(block.context, host.context()), result ? 1 : 0);
    block.entryTable->stop(block.context);
  }
}

TEST(PluginLogTarget, ForwardsTheFormattedMessageAndLevelToTheHost) {
  auto* plugin = new TestPlugin();
  HostInitBlock block = BlockFor(18, 0, 0);
  plugin->handshake(&block, "p");
  FakeHost host;
  ASSERT_EQ(block.entryTable->start(block.context, host.context()), 1);

  logging::Log(logging::kOkay, logging::kGroupDbg, "value %d of %s", 7, "x");
  logging::Log(logging::kAlways, logging::kGroupDbg | 64, "Refreshing tokens in %.1f seconds...",
               42.25);
  // Groups the plug-in start suppresses never reach the host.
  logging::Log(logging::kAlways, logging::kGroupXtr, "hidden");
  EXPECT_EQ(host.LogLines(), (std::vector<FakeHost::LogLine>{
                                 {0, "value 7 of x"},
                                 {3, "Refreshing tokens in 42.2 seconds..."},
                             }));
  block.entryTable->stop(block.context);
}

TEST(PluginLogTarget, IsInstalledOnceForTwoPluginsInOneProcess) {
  auto* first = new TestPlugin();
  auto* second = new TestPlugin();
  HostInitBlock first_block = BlockFor(18, 0, 0);
  HostInitBlock second_block = BlockFor(18, 0, 0);
  first->handshake(&first_block, "one");
  second->handshake(&second_block, "two");
  FakeHost first_host(1);
  FakeHost second_host(2);
  ASSERT_EQ(first_block.entryTable->start(first_block.context, first_host.context()), 1);
  ASSERT_EQ(second_block.entryTable->start(second_block.context, second_host.context()), 1);

  logging::Log(logging::kWarn, logging::kGroupDbg, "once");
  EXPECT_EQ(first_host.LogLines(), (std::vector<FakeHost::LogLine>{{1, "once"}}));
  EXPECT_TRUE(second_host.LogLines().empty());

  second_block.entryTable->stop(second_block.context);
  first_block.entryTable->stop(first_block.context);
}

}  // namespace
}  // namespace plugin_runtime
