#include "devhost/event_hub.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "devhost/host_value_json.h"

namespace devhost {
namespace {

TEST(ServerSentEvent, FramesNameAndEachDataLine) {
  const std::tuple<const char*, const char*, const char*> rows[] = {
      {"OnJsonApiEvent", R"({"a":1})", "event: OnJsonApiEvent\ndata: {\"a\":1}\n\n"},
      {"x", "[1,\n2,\n3]", "event: x\ndata: [1,\ndata: 2,\ndata: 3]\n\n"},
      {"bad\nname", "null", "event: bad name\ndata: null\n\n"},
      {"cr\rname", "null", "event: cr name\ndata: null\n\n"},
  };
  for (const auto& [name, json, frame] : rows) EXPECT_EQ(FormatServerSentEvent(name, json), frame);
}

// The frames a listener can read without waiting.
std::vector<std::string> Drain(EventHub& hub, EventHub::Listener& listener) {
  std::vector<std::string> frames;
  std::string frame;
  bool closed = false;
  while (hub.Next(listener, frame, std::chrono::milliseconds(0), closed)) frames.push_back(frame);
  return frames;
}

void Record(const HostEventDelivery* delivery) {
  static_cast<std::vector<std::string>*>(delivery->context)
      ->push_back(std::string(delivery->name) + " " + HostValueToJson(delivery->value));
}

TEST(EventHub, DeliversToSubscribersOfTheNameUntilTheyUnsubscribe) {
  EventHub hub;
  std::vector<std::string> first, second;
  hub.Subscribe("A", 1, &Record, &first);
  hub.Subscribe("A", 2, &Record, &second);
  hub.Subscribe("B", 1, &Record, &first);
  hub.Subscribe("B", 1, &Record, &first);  // the pair again: replaces, adds nothing
  const OwnedHostValue value = OwnedHostValue::TextObject({{"state", "PluginsInitialized"}});
  hub.Publish("A", value.record());
  hub.Unsubscribe("A", 2);
  for (const char* name : {"A", "C", "B"}) hub.Publish(name, value.record());
  EXPECT_EQ(first, (std::vector<std::string>{R"(A {"state":"PluginsInitialized"})",
                                             R"(A {"state":"PluginsInitialized"})",
                                             R"(B {"state":"PluginsInitialized"})"}));
  EXPECT_EQ(second.size(), 1u);
  EXPECT_EQ(hub.SubscriptionCount(), 2u);
}

TEST(EventHub, ListenersGetFramesInOrderEarlierOnesOnlyWhenTheyAskAndWakeOnClose) {
  EventHub hub;
  const OwnedHostValue one = OwnedHostValue::TextList({"1"}), two = OwnedHostValue::TextList({"2"});
  hub.Publish("early", one.record());
  auto fresh = hub.Listen();
  auto replaying = hub.Listen(true);
  hub.Publish("later", two.record());
  EXPECT_EQ(Drain(hub, *fresh), (std::vector<std::string>{"event: later\ndata: [\"2\"]\n\n"}));
  EXPECT_EQ(Drain(hub, *replaying), (std::vector<std::string>{"event: early\ndata: [\"1\"]\n\n",
                                                              std::string(EventHub::kHistoryEnd),
                                                              "event: later\ndata: [\"2\"]\n\n"}));
  // A waiting reader is woken by Close, however long it meant to wait.
  std::string frame;
  bool closed = false;
  std::thread closer([&hub] { hub.Close(); });
  EXPECT_FALSE(hub.Next(*fresh, frame, std::chrono::hours(1), closed));
  EXPECT_TRUE(closed);
  closer.join();
  hub.Forget(fresh);
}

TEST(EventHub, KeepsTheNewestFramesTheTighterOfItsBoundsAllowsAndOneAloneHoweverLarge) {
  // Frames published, and the bytes of the data of each.
  const std::pair<std::size_t, std::size_t> rows[] = {{EventHub::kHistoryFrames + 5, 10},
                                                      {40, EventHub::kHistoryBytes / 8},
                                                      {1, EventHub::kHistoryBytes + 1}};
  for (const auto& [count, data_bytes] : rows) {
    SCOPED_TRACE(data_bytes);
    EventHub hub;
    for (std::size_t i = 0; i < count; ++i) {
      const std::string tag = std::to_string(i) + ":";
      const OwnedHostValue value =
          OwnedHostValue::TextList({tag + std::string(data_bytes - tag.size(), 'x')});
      hub.Publish("n", value.record());
    }
    std::vector<std::string> frames = Drain(hub, *hub.Listen(true));
    ASSERT_EQ(frames.back(), EventHub::kHistoryEnd);
    frames.pop_back();
    ASSERT_FALSE(frames.empty());
    const std::size_t fit = std::max<std::size_t>(EventHub::kHistoryBytes / frames[0].size(), 1);
    EXPECT_EQ(frames.size(), std::min({count, EventHub::kHistoryFrames, fit}));
    EXPECT_NE(frames.back().find("\"" + std::to_string(count - 1) + ":"), std::string::npos);
  }
}

TEST(EventHub, AStalledListenerLosesTheOldestFrames) {
  EventHub hub;
  auto listener = hub.Listen();
  for (std::size_t i = 0; i < EventHub::kMaxQueuedFrames + 2; ++i) {
    const OwnedHostValue value = OwnedHostValue::TextList({std::to_string(i)});
    hub.Publish("n", value.record());
  }
  const std::vector<std::string> frames = Drain(hub, *listener);
  ASSERT_EQ(frames.size(), EventHub::kMaxQueuedFrames);
  EXPECT_EQ(frames[0], "event: n\ndata: [\"2\"]\n\n");
}

}  // namespace
}  // namespace devhost
