#include "devhost/event_hub.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "devhost/host_value_json.h"

namespace devhost {
namespace {

TEST(ServerSentEvent, FramesNameAndEachDataLine) {
  struct Row {
    const char* name;
    const char* json;
    const char* frame;
  };
  const Row rows[] = {
      {"OnJsonApiEvent", R"({"a":1})", "event: OnJsonApiEvent\ndata: {\"a\":1}\n\n"},
      {"x", "[1,\n2]", "event: x\ndata: [1,\ndata: 2]\n\n"},
      {"bad\nname", "null", "event: bad name\ndata: null\n\n"},
      {"cr\rname", "null", "event: cr name\ndata: null\n\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FormatServerSentEvent(row.name, row.json), row.frame);
  }
}

// The frames a listener can read without waiting.
std::vector<std::string> Drain(EventHub& hub, EventHub::Listener& listener) {
  std::vector<std::string> frames;
  std::string frame;
  bool closed = false;
  while (hub.Next(listener, frame, std::chrono::milliseconds(0), closed)) frames.push_back(frame);
  return frames;
}

struct Received {
  std::vector<std::string> lines;
};

void Record(const HostEventDelivery* delivery) {
  auto* received = static_cast<Received*>(delivery->context);
  received->lines.push_back(std::string(delivery->name) + " " + HostValueToJson(delivery->value));
}

TEST(EventHub, DeliversToSubscribersOfTheNameUntilTheyUnsubscribe) {
  EventHub hub;
  Received first, second;
  hub.Subscribe("A", 1, &Record, &first);
  hub.Subscribe("A", 2, &Record, &second);
  hub.Subscribe("B", 1, &Record, &first);
  hub.Subscribe("B", 1, &Record, &first);  // the pair again: replaces, adds nothing
  const OwnedHostValue value = OwnedHostValue::TextObject({{"state", "PluginsInitialized"}});
  hub.Publish("A", value.record());
  hub.Unsubscribe("A", 2);
  hub.Publish("A", value.record());
  hub.Publish("C", value.record());
  hub.Publish("B", value.record());
  EXPECT_EQ(first.lines, (std::vector<std::string>{R"(A {"state":"PluginsInitialized"})",
                                                   R"(A {"state":"PluginsInitialized"})",
                                                   R"(B {"state":"PluginsInitialized"})"}));
  EXPECT_EQ(second.lines.size(), 1u);
  EXPECT_EQ(hub.SubscriptionCount(), 2u);
}

TEST(EventHub, ListenersGetFramesInOrderAndWakeOnClose) {
  EventHub hub;
  auto listener = hub.Listen();
  const OwnedHostValue one = OwnedHostValue::TextList({"1"});
  const OwnedHostValue two = OwnedHostValue::TextList({"2"});
  hub.Publish("first", one.record());
  hub.Publish("second", two.record());
  EXPECT_EQ(Drain(hub, *listener), (std::vector<std::string>{"event: first\ndata: [\"1\"]\n\n",
                                                             "event: second\ndata: [\"2\"]\n\n"}));
  std::string frame;
  bool closed = false;

  // A waiting reader is woken by Close, however long it meant to wait.
  std::thread closer([&hub] { hub.Close(); });
  EXPECT_FALSE(hub.Next(*listener, frame, std::chrono::hours(1), closed));
  EXPECT_TRUE(closed);
  closer.join();
  hub.Forget(listener);
}

TEST(EventHub, ReplaysEarlierEventsToListenersThatAskForThem) {
  EventHub hub;
  const OwnedHostValue value = OwnedHostValue::TextList({"early"});
  hub.Publish("early", value.record());
  auto fresh = hub.Listen();
  auto replaying = hub.Listen(true);
  EXPECT_TRUE(Drain(hub, *fresh).empty());
  EXPECT_EQ(Drain(hub, *replaying), (std::vector<std::string>{"event: early\ndata: [\"early\"]\n\n",
                                                              std::string(EventHub::kHistoryEnd)}));
}

TEST(EventHub, KeepsAHistoryBoundedInFramesAndInBytes) {
  struct Row {
    std::size_t frames;
    std::size_t data_bytes;
  };
  const Row rows[] = {{EventHub::kHistoryFrames + 5, 10}, {40, EventHub::kHistoryBytes / 8}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.data_bytes);
    EventHub hub;
    for (std::size_t i = 0; i < row.frames; ++i) {
      const std::string tag = std::to_string(i) + ":";
      const OwnedHostValue value =
          OwnedHostValue::TextList({tag + std::string(row.data_bytes - tag.size(), 'x')});
      hub.Publish("n", value.record());
    }
    std::vector<std::string> frames = Drain(hub, *hub.Listen(true));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back(), EventHub::kHistoryEnd);
    frames.pop_back();
    std::size_t bytes = 0;
    for (const std::string& kept : frames) bytes += kept.size();
    EXPECT_LE(frames.size(), EventHub::kHistoryFrames);
    EXPECT_LE(bytes, EventHub::kHistoryBytes);
    // The newest frames are the ones kept, as many as the tighter bound allows.
    EXPECT_NE(frames.back().find("\"" + std::to_string(row.frames - 1) + ":"), std::string::npos);
    EXPECT_TRUE(frames.size() == EventHub::kHistoryFrames ||
                bytes + frames.front().size() > EventHub::kHistoryBytes)
        << frames.size() << " frames, " << bytes << " bytes";
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
