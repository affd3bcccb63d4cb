#include "logging/log_groups.h"

#include <array>
#include <atomic>
#include <bit>

namespace logging {
namespace {

constexpr int kPredefinedGroups = 8;
constexpr std::size_t kNameLength = 3;

struct GroupName {
  constexpr GroupName() = default;
  constexpr explicit GroupName(const char* name)
      : text{name[0], name[1], name[2], '\0'}, ready(true) {}

  std::array<char, kNameLength + 1> text{};
  // Set once `text` is complete, so that readers never see half a name.
  std::atomic<bool> ready{false};
};

// Constant-initialised and never destroyed, so logging works during static initialisation and
// at exit.
struct GroupTable {
  std::array<GroupName, kMaxLogGroups> names{{GroupName("DBG"), GroupName("GEN"), GroupName("XTR"),
                                              GroupName("PRF"), GroupName("MEM"), GroupName("DSK"),
                                              GroupName("NET"), GroupName("TST")}};
  std::atomic<int> count{kPredefinedGroups};
};

constinit GroupTable g_groups;

bool NameIs(const GroupName& entry, std::string_view key) {
  return entry.ready.load(std::memory_order_acquire) && std::string_view(entry.text.data()) == key;
}

}  // namespace

std::uint64_t GroupMask(std::string_view name) {
  std::string_view key = name.substr(0, kNameLength);
  if (key.empty()) return 0;
  int count = g_groups.count.load(std::memory_order_acquire);
  for (int i = 0; i < count && i < kMaxLogGroups; ++i) {
    if (NameIs(g_groups.names[i], key)) return std::uint64_t{1} << i;
  }
  // Take the next index without ever moving the count past the table.
  int index = g_groups.count.load(std::memory_order_relaxed);
  do {
    if (index >= kMaxLogGroups) return 0;
  } while (!g_groups.count.compare_exchange_weak(index, index + 1, std::memory_order_acq_rel));
  GroupName& entry = g_groups.names[index];
  for (std::size_t c = 0; c < key.size(); ++c) entry.text[c] = key[c];
  entry.ready.store(true, std::memory_order_release);
  return std::uint64_t{1} << index;
}

std::string GroupNames(std::uint64_t mask) {
  std::string names;
  // Every rendered line asks for this, so visit only the set bits.
  for (; mask != 0; mask &= mask - 1) {
    int bit = std::countr_zero(mask);
    if (!names.empty()) names += ';';
    const GroupName& entry = g_groups.names[bit];
    names += entry.ready.load(std::memory_order_acquire) ? entry.text.data() : "???";
  }
  return names;
}

}  // namespace logging
