// A plug-in built on the runtime, loaded and started against a fake host for the duration of a
// test, then stopped as the host would stop it.
#ifndef TESTING_STARTED_PLUGIN_H_
#define TESTING_STARTED_PLUGIN_H_

#include "plugin_runtime/plugin_base.h"
#include "testing/fake_host.h"

namespace ulix_testing {

class StartedPlugin {
 public:
  // `host` must outlive this object. Takes `plugin`, which stop deletes.
  explicit StartedPlugin(FakeHost& host,
                         plugin_runtime::PluginBase* plugin = new plugin_runtime::PluginBase())
      : plugin_(plugin) {
    HostInitBlock block{};
    block.major = 18;
    plugin_->handshake(&block, "test");
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

  plugin_runtime::PluginBase* operator->() const { return plugin_; }
  plugin_runtime::PluginBase& operator*() const { return *plugin_; }

 private:
  plugin_runtime::PluginBase* plugin_;
};

}  // namespace ulix_testing

#endif  // TESTING_STARTED_PLUGIN_H_
