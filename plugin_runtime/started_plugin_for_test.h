// A plug-in built on the runtime, loaded and started against a fake host for the duration of a
// test, then stopped as the host would stop it.
#ifndef PLUGIN_RUNTIME_STARTED_PLUGIN_FOR_TEST_H_
#define PLUGIN_RUNTIME_STARTED_PLUGIN_FOR_TEST_H_

#include "plugin_runtime/plugin_base.h"
#include "testing/fake_host.h"

namespace plugin_runtime {

class StartedPlugin {
 public:
  // `host` must outlive this object. Takes `plugin`, which stop deletes.
  explicit StartedPlugin(ulix_testing::FakeHost& host, PluginBase* plugin = new PluginBase())
      : plugin_(plugin) {
    HostInitBlock block{};
    block.major = 18;
    plugin_->Handshake(&block, "test");
    block.entryTable->start(block.context, host.context());
  }
  ~StartedPlugin() { Stop(); }
  StartedPlugin(const StartedPlugin&) = delete;
  StartedPlugin& operator=(const StartedPlugin&) = delete;

  // Runs the host's stop entry; the plug-in deletes itself.
  void Stop() {
    if (plugin_ == nullptr) return;
    plugin_->entryTable().stop(plugin_);
    plugin_ = nullptr;
  }

  PluginBase* operator->() const { return plugin_; }
  PluginBase& operator*() const { return *plugin_; }

 private:
  PluginBase* plugin_;
};

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_STARTED_PLUGIN_FOR_TEST_H_
