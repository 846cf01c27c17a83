// QELXHashMap against std::unordered_map on pointer keys: insert, find, remove.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include "model/containers.hxx"

namespace {

// Pointer-like keys spread the way heap addresses are: aligned, not consecutive.
std::vector<void*> make_keys(std::size_t n)
{
    std::vector<void*> keys(n);
    std::mt19937_64 rng(42);
    for (auto& k : keys)
        k = reinterpret_cast<void*>((rng() & 0xffffffffffull) << 4);
    return keys;
}

const std::vector<void*>& keys()
{
    static const std::vector<void*> k = make_keys(1000000);
    return k;
}

void HashMapInsert(benchmark::State& state)
{
    for (auto _ : state) {
        QELXHashMap<void*, int> map;
        int i = 0;
        for (void* k : keys())
            map.Add(k, i++);
        benchmark::DoNotOptimize(map.Count());
    }
    state.SetItemsProcessed(state.iterations() * keys().size());
}

void StdMapInsert(benchmark::State& state)
{
    for (auto _ : state) {
        std::unordered_map<void*, int> map;
        int i = 0;
        for (void* k : keys())
            map.emplace(k, i++);
        benchmark::DoNotOptimize(map.size());
    }
    state.SetItemsProcessed(state.iterations() * keys().size());
}

void HashMapFind(benchmark::State& state)
{
    QELXHashMap<void*, int> map;
    int i = 0;
    for (void* k : keys())
        map.Add(k, i++);
    for (auto _ : state) {
        long sum = 0;
        int v = 0;
        for (void* k : keys())
            if (map.Get(k, v))
                sum += v;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * keys().size());
}

void StdMapFind(benchmark::State& state)
{
    std::unordered_map<void*, int> map;
    int i = 0;
    for (void* k : keys())
        map.emplace(k, i++);
    for (auto _ : state) {
        long sum = 0;
        for (void* k : keys()) {
            auto it = map.find(k);
            if (it != map.end())
                sum += it->second;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * keys().size());
}

void HashMapRemove(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        QELXHashMap<void*, int> map;
        int i = 0;
        for (void* k : keys())
            map.Add(k, i++);
        state.ResumeTiming();
        for (void* k : keys())
            map.Remove(k);
        benchmark::DoNotOptimize(map.Count());
    }
    state.SetItemsProcessed(state.iterations() * keys().size());
}

void StdMapRemove(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        std::unordered_map<void*, int> map;
        int i = 0;
        for (void* k : keys())
            map.emplace(k, i++);
        state.ResumeTiming();
        for (void* k : keys())
            map.erase(k);
        benchmark::DoNotOptimize(map.size());
    }
    state.SetItemsProcessed(state.iterations() * keys().size());
}

}  // namespace

BENCHMARK(HashMapInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(StdMapInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(HashMapFind)->Unit(benchmark::kMillisecond);
BENCHMARK(StdMapFind)->Unit(benchmark::kMillisecond);
BENCHMARK(HashMapRemove)->Unit(benchmark::kMillisecond);
BENCHMARK(StdMapRemove)->Unit(benchmark::kMillisecond);
