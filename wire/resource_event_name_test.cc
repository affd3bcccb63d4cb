#include "wire/resource_event_name.h"

#include <gtest/gtest.h>

namespace wire {
namespace {

TEST(ResourceEventName, KeepsFourPiecesOrSixForPlatformConfig) {
  const struct {
    const char* path;
    const char* name;
  } cases[] = {
      {"/plugin-manager/v1/status", "OnJsonApiEvent_plugin-manager_v1_status"},
      {"/ulix-auth/v1/authorization/access-token", "OnJsonApiEvent_ulix-auth_v1_authorization"},
      {"//a//b/", "OnJsonApiEvent_a_b"},
      {"a/b", "OnJsonApiEvent_a_b"},
      {"", "OnJsonApiEvent"},
      {"/kiv-platform-config/v1/a/b/c/d", "OnJsonApiEvent_kiv-platform-config_v1_a_b_c"},
      {"/x/kiv-platform-config/a/b", "OnJsonApiEvent_x_kiv-platform-config_a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ResourceEventName(c.path), c.name);
  }
}

}  // namespace
}  // namespace wire
