// Decoder throughput over what the instrument really sends: mostly poll
// answers, now and then a finished measurement or a settings report.

#include "link/Protocol.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

Bytes realisticStream(std::size_t size) {
    std::mt19937 rng(5170);
    std::uniform_int_distribution<int> pick(0, 99);
    std::uniform_int_distribution<std::uint32_t> kOm(500, 5000000);
    Bytes s;
    s.reserve(size + 32);
    while (s.size() < size) {
        const int p = pick(rng);
        if (p < 70) {
            s.push_back(0x55);
        } else if (p < 85) { // an absorption or polarization result
            s.push_back(0x5D);
            s.push_back(static_cast<std::uint8_t>(0x61 + p % 2));
            s.push_back(0x63);
            put16(s, 1000);
            s.push_back(0x64);
            put32(s, kOm(rng));
            s.push_back(0x65);
            put32(s, kOm(rng));
            s.push_back(0x66);
            put16(s, 1500);
            s.push_back(0x5E);
            s.push_back(0x5B);
        } else if (p < 92) { // a resistance result
            s.push_back(0x5D);
            s.push_back(0x60);
            s.push_back(0x63);
            put16(s, 2500);
            s.push_back(0x64);
            put32(s, kOm(rng));
            s.push_back(0x5E);
            s.push_back(0x5B);
        } else if (p < 97) { // answers after a new connection
            s.push_back(0x68);
            put16(s, 1234);
            s.push_back(0x69);
            s.push_back(0xC0);
            s.push_back(0x6A);
            put16(s, 1000);
        } else { // line noise
            s.push_back(static_cast<std::uint8_t>(rng()));
        }
    }
    s.resize(size);
    return s;
}

void BM_DecodeStream(benchmark::State& state) {
    const Bytes stream = realisticStream(static_cast<std::size_t>(state.range(0)));
    std::vector<t5170::Event> events;
    events.reserve(stream.size());
    for (auto _ : state) {
        events.clear();
        benchmark::DoNotOptimize(t5170::decode(stream.data(), stream.size(), events));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(stream.size()));
    state.counters["events"] = static_cast<double>(events.size());
}
BENCHMARK(BM_DecodeStream)->Arg(1 << 20);

// One full receive buffer as a tick sees it, events into a fresh vector as
// the window's tick does.
void BM_DecodeFullTick(benchmark::State& state) {
    const Bytes tick = realisticStream(1024);
    for (auto _ : state) {
        std::vector<t5170::Event> events;
        benchmark::DoNotOptimize(t5170::decode(tick.data(), tick.size(), events));
        benchmark::DoNotOptimize(events.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_DecodeFullTick);

// The heaviest tick: nothing but resistance codes with their four data bytes.
void BM_DecodeFullTickResistances(benchmark::State& state) {
    Bytes tick;
    while (tick.size() + 5 <= 1024) {
        tick.push_back(0x64);
        put32(tick, 1234567);
    }
    for (auto _ : state) {
        std::vector<t5170::Event> events;
        benchmark::DoNotOptimize(t5170::decode(tick.data(), tick.size(), events));
        benchmark::DoNotOptimize(events.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(tick.size()));
}
BENCHMARK(BM_DecodeFullTickResistances);

} // namespace

BENCHMARK_MAIN();
