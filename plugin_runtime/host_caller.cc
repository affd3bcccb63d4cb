#include "plugin_runtime/host_caller.h"

#include "binding/binding_type_registry.h"

namespace plugin_runtime {

const binding::BindingTypeRegistry& RegistryOrEmpty(const binding::BindingTypeRegistry* registry) {
  if (registry != nullptr) return *registry;
  static const binding::BindingTypeRegistry* const kEmpty = new binding::BindingTypeRegistry();
  return *kEmpty;
}

void HostCaller::yieldForStream() const {
  host_->setWaitReason("Wait: yield", 0);
  host_->yieldWait();
  host_->finishWait();
}

}  // namespace plugin_runtime
