// The sign-on plug-in's behaviour as data: the scenarios of testdata/, played by the runner of
// testing/plugin_scenarios.h, which describes their syntax.
#include "gtest/gtest.h"
#include "testing/plugin_scenarios.h"

namespace {

TEST(Scenarios, EveryTranscriptMatches) { ulix_testing::RunScenarioFiles(ULIX_AUTH_TESTDATA); }

}  // namespace
