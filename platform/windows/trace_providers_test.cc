#include "platform/windows/trace_providers.h"

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "gtest/gtest.h"
#include "platform/event_tracing.h"

namespace platform::windows {
namespace {

// A stand-in for the system's event tracing that records what the providers asked of it.
struct Recorded {
  std::vector<GUID> registered;
  std::vector<REGHANDLE> unregistered;
  std::vector<std::string> writes;  // "<handle> <event id> <name> <thread id>"
  // Registration of the provider at this position fails; -1 for none.
  int refuse = -1;
};
Recorded* g_recorded = nullptr;

ULONG WINAPI FakeRegister(LPCGUID id, PENABLECALLBACK, PVOID, PREGHANDLE handle) {
  const int position = static_cast<int>(g_recorded->registered.size());
  g_recorded->registered.push_back(*id);
  if (position == g_recorded->refuse) return ERROR_ACCESS_DENIED;
  *handle = 100 + position;
  return ERROR_SUCCESS;
}

ULONG WINAPI FakeWrite(REGHANDLE handle, PCEVENT_DESCRIPTOR descriptor, ULONG count,
                       PEVENT_DATA_DESCRIPTOR fields) {
  std::string write = std::to_string(handle) + " " + std::to_string(descriptor->Id);
  if (count == 2 && fields[1].Size == sizeof(std::uint32_t)) {
    std::uint32_t thread_id = 0;
    std::memcpy(&thread_id,
                reinterpret_cast<const void*>(static_cast<std::uintptr_t>(fields[1].Ptr)),
                sizeof thread_id);
    write += std::string(" ") +
             reinterpret_cast<const char*>(static_cast<std::uintptr_t>(fields[0].Ptr)) + " " +
             std::to_string(thread_id);
  }
  g_recorded->writes.push_back(write);
  return ERROR_SUCCESS;
}

ULONG WINAPI FakeUnregister(REGHANDLE handle) {
  g_recorded->unregistered.push_back(handle);
  return ERROR_SUCCESS;
}

class TraceProvidersTest : public ::testing::Test {
 protected:
  TraceProvidersTest() { g_recorded = &recorded_; }
  ~TraceProvidersTest() override { g_recorded = nullptr; }

  EventTracingFunctions functions_{&FakeRegister, &FakeWrite, &FakeUnregister};
  Recorded recorded_;
};

TEST_F(TraceProvidersTest, RegisterFourProvidersAndRecordTheLoadingThread) {
  {
    TraceProviders providers(functions_);
    EXPECT_EQ(providers.Register(4242), 4);
    ASSERT_EQ(recorded_.registered.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(std::memcmp(&recorded_.registered[i], &kTraceProviderIds[i], sizeof(GUID)), 0) << i;
      for (std::size_t j = 0; j < i; ++j) {
        EXPECT_NE(std::memcmp(&kTraceProviderIds[i], &kTraceProviderIds[j], sizeof(GUID)), 0) << i;
      }
    }
    // Event 1 of the load provider.
    EXPECT_EQ(recorded_.writes, (std::vector<std::string>{"100 1 Main thread 4242"}));
    EXPECT_EQ(providers.Register(4242), 0);  // a second start registers nothing more
    EXPECT_EQ(recorded_.registered.size(), 4u);
  }
  // Going out of scope is an unload: every provider goes, once.
  EXPECT_EQ(recorded_.unregistered, (std::vector<REGHANDLE>{100, 101, 102, 103}));
}

TEST_F(TraceProvidersTest, AMissingFunctionLeavesTracingOffWithoutCallingTheOthers) {
  const EventTracingFunctions partial[] = {{nullptr, &FakeWrite, &FakeUnregister},
                                           {&FakeRegister, nullptr, &FakeUnregister},
                                           {&FakeRegister, &FakeWrite, nullptr}};
  for (const EventTracingFunctions& functions : partial) {
    TraceProviders providers(functions);
    EXPECT_EQ(providers.Register(1), 0);
    providers.Unregister();
  }
  EXPECT_TRUE(recorded_.registered.empty() && recorded_.writes.empty() &&
              recorded_.unregistered.empty());
}

TEST_F(TraceProvidersTest, AProviderTheSystemRefusesIsLeftOutAndNeverUnregistered) {
  // Which provider is refused, and what is written and unregistered then: without the load
  // provider, no main thread event.
  const std::tuple<int, std::vector<std::string>, std::vector<REGHANDLE>> rows[] = {
      {2, {"100 1 Main thread 7"}, {100, 101, 103}}, {0, {}, {101, 102, 103}}};
  for (const auto& [refuse, writes, unregistered] : rows) {
    recorded_ = Recorded{};
    recorded_.refuse = refuse;
    TraceProviders providers(functions_);
    EXPECT_EQ(providers.Register(7), 3);
    providers.Unregister();
    providers.Unregister();
    EXPECT_EQ(recorded_.writes, writes);
    EXPECT_EQ(recorded_.unregistered, unregistered);
  }
}

TEST(EventTracing, AdvapiOffersTheThreeFunctionsAndTheProvidersRegisterWithIt) {
  // As in a host, which has loaded it long before any plug-in.
  ASSERT_NE(LoadLibraryA("Advapi32.dll"), nullptr);
  const EventTracingFunctions found = FindEventTracingFunctions();
  EXPECT_NE(found.register_provider, nullptr);
  EXPECT_NE(found.write, nullptr);
  EXPECT_NE(found.unregister_provider, nullptr);
  EXPECT_EQ(StartEventTracing(), kTraceProviderCount);
  EXPECT_EQ(StartEventTracing(), 0);
  StopEventTracing();
  StopEventTracing();
}

}  // namespace
}  // namespace platform::windows
