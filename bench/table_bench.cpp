// table_bench.cpp - buddy lookups in tables of 10 to 100,000 buddies,
// beside std::unordered_map doing the same lookups, and the heap a buddy
// costs before it ever logs in.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "buddy/buddy.h"

namespace {

std::vector<std::string> user_names(std::size_t n) {
  std::vector<std::string> out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) out.push_back("user" + std::to_string(i));
  return out;
}

zibbet::buddy_table make_buddies(const std::vector<std::string>& names) {
  zibbet::buddy_table t;
  for (const std::string& n : names) t.insert(zibbet::buddy{n, nullptr, nullptr});
  return t;
}

void BM_buddy_find(benchmark::State& state) {
  auto names = user_names(static_cast<std::size_t>(state.range(0)));
  zibbet::buddy_table t = make_buddies(names);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(t.find(names[i]));
    if (++i == names.size()) i = 0;
  }
}
BENCHMARK(BM_buddy_find)->Arg(10)->Arg(1000)->Arg(100000);

void BM_unordered_map_find(benchmark::State& state) {
  auto names = user_names(static_cast<std::size_t>(state.range(0)));
  std::unordered_map<std::string, int> m;
  for (const std::string& n : names) m.emplace(n, 1);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(m.find(names[i]));
    if (++i == names.size()) i = 0;
  }
}
BENCHMARK(BM_unordered_map_find)->Arg(10)->Arg(1000)->Arg(100000);

// Heap per buddy without logins: names of up to 15 bytes live inside the
// string, so this is the record and the table's share.
void BM_heap_per_buddy(benchmark::State& state) {
  auto n = static_cast<std::size_t>(state.range(0));
  auto names = user_names(n);
  double per_buddy = 0;
  for (auto _ : state) {
    std::size_t before = mallinfo2().uordblks;
    zibbet::buddy_table t = make_buddies(names);
    std::size_t after = mallinfo2().uordblks;
    per_buddy = static_cast<double>(after - before) / static_cast<double>(n);
    benchmark::DoNotOptimize(t.size());
  }
  state.counters["bytes_per_buddy"] = per_buddy;
}
BENCHMARK(BM_heap_per_buddy)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
