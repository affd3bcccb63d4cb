// Building and copying BindingValue trees of about 1 MB, against RapidJSON's DOM building the same
// shape, and the produce/assign round trip of a registered record.
#include <cstdint>
#include <string>
#include <vector>

#include "benchmark/benchmark.h"
#include "binding/binding_struct_builder.h"
#include "binding/binding_value.h"
#include "binding/native_conversion.h"
#include "rapidjson/document.h"

namespace bench {

struct Entitlement {
  std::string id;
  std::string group;
  std::uint64_t granted = 0;
  bool active = false;
};
ULIX_BINDING_TYPE(Entitlement, "BenchEntitlement")

struct Account {
  std::string user;
  std::int32_t level = 0;
  std::vector<Entitlement> entitlements;
};
ULIX_BINDING_TYPE(Account, "BenchAccount")

}  // namespace bench

namespace {

constexpr int kRecords = 8000;  // about 1 MB of JSON text for this shape

std::vector<std::string> MakeTexts() {
  std::vector<std::string> texts;
  for (int i = 0; i < kRecords; ++i) texts.push_back("user-" + std::to_string(i * 7919));
  return texts;
}

void BM_BuildBindingTree(benchmark::State& state) {
  std::vector<std::string> texts = MakeTexts();
  for (auto _ : state) {
    binding::BindingValue root;
    binding::BindingValue& items = root.fieldForWrite("items");
    items.reserve(kRecords);
    for (int i = 0; i < kRecords; ++i) {
      binding::BindingValue& item = items.appendElement();
      item.fieldForWrite("active").setBool(i % 2 == 0);
      item.fieldForWrite("groups").appendElement().setString("basic");
      item.fieldForWrite("id").setUnsigned(i);
      item.fieldForWrite("name").setString(texts[i]);
      item.fieldForWrite("score").setFloat(i * 0.5);
      item.fieldForWrite("tag").setString("standard");
    }
    benchmark::DoNotOptimize(root);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_BuildBindingTree)->Unit(benchmark::kMillisecond);

void BM_BuildBindingTreeUnsortedKeys(benchmark::State& state) {
  std::vector<std::string> texts = MakeTexts();
  for (auto _ : state) {
    binding::BindingValue root;
    binding::BindingValue& items = root.fieldForWrite("items");
    for (int i = 0; i < kRecords; ++i) {
      binding::BindingValue& item = items.appendElement();
      item.fieldForWrite("tag").setString("standard");
      item.fieldForWrite("name").setString(texts[i]);
      item.fieldForWrite("id").setUnsigned(i);
      item.fieldForWrite("score").setFloat(i * 0.5);
      item.fieldForWrite("active").setBool(i % 2 == 0);
      item.fieldForWrite("groups").appendElement().setString("basic");
    }
    benchmark::DoNotOptimize(root);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_BuildBindingTreeUnsortedKeys)->Unit(benchmark::kMillisecond);

void BM_BuildRapidJsonDom(benchmark::State& state) {
  std::vector<std::string> texts = MakeTexts();
  for (auto _ : state) {
    rapidjson::Document document;
    document.SetObject();
    auto& allocator = document.GetAllocator();
    rapidjson::Value items(rapidjson::kArrayType);
    items.Reserve(kRecords, allocator);
    for (int i = 0; i < kRecords; ++i) {
      rapidjson::Value item(rapidjson::kObjectType);
      item.AddMember("active", i % 2 == 0, allocator);
      rapidjson::Value groups(rapidjson::kArrayType);
      groups.PushBack(rapidjson::Value("basic", allocator), allocator);
      item.AddMember("groups", groups, allocator);
      item.AddMember("id", static_cast<std::uint64_t>(i), allocator);
      item.AddMember("name", rapidjson::Value(texts[i].c_str(), allocator), allocator);
      item.AddMember("score", i * 0.5, allocator);
      item.AddMember("tag", rapidjson::Value("standard", allocator), allocator);
      items.PushBack(item, allocator);
    }
    document.AddMember("items", items, allocator);
    benchmark::DoNotOptimize(document);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_BuildRapidJsonDom)->Unit(benchmark::kMillisecond);

void BM_CopyBindingTree(benchmark::State& state) {
  std::vector<std::string> texts = MakeTexts();
  binding::BindingValue root;
  for (int i = 0; i < kRecords; ++i) {
    binding::BindingValue& item = root.appendElement();
    item.fieldForWrite("id").setUnsigned(i);
    item.fieldForWrite("name").setString(texts[i]);
  }
  for (auto _ : state) {
    binding::BindingValue copy(root);
    benchmark::DoNotOptimize(copy);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_CopyBindingTree)->Unit(benchmark::kMillisecond);

void BM_RecordRoundTrip(benchmark::State& state) {
  binding::BindingTypeRegistry registry;
  binding::BindingStructBuilder<bench::Entitlement>(registry)
      .AddField(&bench::Entitlement::id, "id")
      .AddField(&bench::Entitlement::group, "group")
      .AddField(&bench::Entitlement::granted, "granted")
      .AddField(&bench::Entitlement::active, "active");
  binding::BindingStructBuilder<bench::Account>(registry)
      .AddField(&bench::Account::user, "user")
      .AddField(&bench::Account::level, "level")
      .AddField(&bench::Account::entitlements, "entitlements");
  bench::Account account{"player", 3, {}};
  for (int i = 0; i < 20; ++i) {
    account.entitlements.push_back({"ent-" + std::to_string(i), "games", 1700000000u + i, true});
  }
  for (auto _ : state) {
    binding::BindingConversionResult produced = binding::toValue(account, registry);
    bench::Account back;
    binding::BindingConversionResult assigned = binding::fromValue(produced.value, back, registry);
    benchmark::DoNotOptimize(assigned);
  }
}
BENCHMARK(BM_RecordRoundTrip)->Unit(benchmark::kMicrosecond);

// Distinct texts of one length that differ only in the middle, as a JSON body of long values
// can hold: interning them stays linear in their number (the reported complexity should be
// O(N)), because every byte goes into the hash.
void BM_InternTextsDifferingInTheMiddle(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  std::vector<std::string> texts;
  texts.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::string text(512, 'x');
    const std::string number = std::to_string(i);
    text.replace(256, number.size(), number);
    texts.push_back(std::move(text));
  }
  for (auto _ : state) {
    binding::BindingValue root;
    root.reserve(count);
    for (const std::string& text : texts) root.appendElement().setString(text);
    benchmark::DoNotOptimize(root);
  }
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(count));
}
BENCHMARK(BM_InternTextsDifferingInTheMiddle)
    ->RangeMultiplier(4)
    ->Range(625, 10000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
