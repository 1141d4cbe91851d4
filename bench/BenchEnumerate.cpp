// The enumeration's own cost per file, natively, on in-memory sequences: no
// file system, no window, only the parsing, skipping and record building a
// scan does for every file. Built without sanitizers (make bench).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "MemorySequence.h"
#include "StreamEnumerator.h"

using vestrel::MemorySequence;

namespace {

std::vector<MemorySequence::Unit> FileUnits(int streams, uint64_t streamSize, bool generated) {
    std::vector<MemorySequence::Unit> units;
    units.push_back(MemorySequence::Main(std::vector<uint8_t>(4096, 'm')));
    for (int s = 0; s < streams; ++s) {
        std::string name = ":stream" + std::to_string(s) + ":$DATA";
        units.push_back(generated ? MemorySequence::NamedGenerated(name.c_str(), streamSize)
                                  : MemorySequence::Named(name.c_str(), std::vector<uint8_t>(streamSize, 's')));
    }
    return units;
}

// Sequences are consumed by reading, so a batch is built ahead with the
// clock stopped and the timed loop takes them one by one.
void EnumerateFiles(benchmark::State& state, int streams, uint64_t streamSize, bool generated) {
    const size_t batch = 512;
    std::vector<MemorySequence> pool;
    size_t next = batch;
    long long found = 0;
    for (auto _ : state) {
        if (next == batch) {
            state.PauseTiming();
            pool.clear();
            for (size_t i = 0; i < batch; ++i)
                pool.push_back(MemorySequence::FromUnits(FileUnits(streams, streamSize, generated)));
            next = 0;
            state.ResumeTiming();
        }
        NtfsStreamList list;
        found += EnumStreamsFromSequence(pool[next++], &list);
        FreeStreamList(&list);
    }
    if (found != static_cast<long long>(state.iterations()) * streams) state.SkipWithError("streams lost");
    state.SetItemsProcessed(state.iterations());
}

void BM_FileWithStreams(benchmark::State& state) {
    EnumerateFiles(state, static_cast<int>(state.range(0)), 300, false);
}
BENCHMARK(BM_FileWithStreams)->Arg(0)->Arg(1)->Arg(3)->Arg(10);

// A stream's data is skipped, not read: the cost must not grow with its size.
void BM_OneStreamOfSize(benchmark::State& state) {
    EnumerateFiles(state, 1, static_cast<uint64_t>(state.range(0)), true);
}
BENCHMARK(BM_OneStreamOfSize)->Arg(5)->Arg(1 << 20)->Arg(int64_t(4) << 30 | 5);

}  // namespace

BENCHMARK_MAIN();
