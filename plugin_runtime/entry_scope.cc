#include "plugin_runtime/entry_scope.h"

#include <utility>
#include <vector>

#include "logging/logger.h"

namespace plugin_runtime {
namespace {

thread_local int depth = 0;
thread_local std::vector<std::function<void()>>* at_exit = nullptr;

}  // namespace

EntryScope::EntryScope() { ++depth; }

EntryScope::~EntryScope() {
  if (--depth > 0 || at_exit == nullptr) return;
  std::vector<std::function<void()>> actions = std::move(*at_exit);
  delete at_exit;
  at_exit = nullptr;
  for (std::function<void()>& action : actions) {
    try {
      action();
    } catch (...) {
      logging::Log(logging::kError, logging::kGroupDbg, "stop: unexpected exception");
    }
  }
}

bool EntryScope::Inside() { return depth > 0; }

void EntryScope::AtExit(std::function<void()> action) {
  if (at_exit == nullptr) at_exit = new std::vector<std::function<void()>>();
  at_exit->push_back(std::move(action));
}

}  // namespace plugin_runtime
