// Micro-benchmarks of the per-sample work on the link thread and at the
// display tick: framing check and decoding of a stream message, and the
// store's push and pop under its mutex.

#include "link/StreamMessage.h"
#include "link/SampleStore.h"

#include <benchmark/benchmark.h>

#include <array>

namespace {

std::array<char, StreamMessage::size> sampleMessage()
{
    std::array<char, StreamMessage::size> m{};
    m[1] = ';';
    m[2] = 0x78;
    m[3] = 0x03;
    for (int i = 4; i < 24; ++i)
        m[i] = char(i * 7);
    m[24] = ';';
    return m;
}

void decodeMessage(benchmark::State &state)
{
    const auto message = sampleMessage();
    StreamSample sample;
    int32_t time = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(StreamMessage::isValid(message.data()));
        StreamMessage::decode(message.data(), true, ++time, sample);
        benchmark::DoNotOptimize(sample);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(decodeMessage);

void storePushPop(benchmark::State &state)
{
    SampleStore store(1040);
    StreamSample in, out;
    const int batch = int(state.range(0));
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) {
            in.x1 = int16_t(i);
            store.push(in);
        }
        while (store.pop(out))
            benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations() * batch);
}
// 10 samples: one controller at 500 Hz per 20 ms tick; 501: a full tick's take.
BENCHMARK(storePushPop)->Arg(10)->Arg(501);

} // namespace

BENCHMARK_MAIN();
