// In-memory throughput of the SHA-1 engines, 4096-byte pieces as the copy
// job's digest routine feeds them.
#include <benchmark/benchmark.h>

#include <vector>

#include "transfer/sha1.h"

namespace {

void Run(benchmark::State& state, lyr::Sha1Engine engine) {
  if (!lyr::Sha1EngineAvailable(engine)) {
    state.SkipWithError("engine not available on this processor");
    return;
  }
  const size_t size = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> data(size, 0x5A);
  lyr::Sha1Digest digest{};
  for (auto _ : state) {
    lyr::Sha1Context* c = lyr::Sha1Create();
    lyr::Sha1SelectEngine(c, engine);
    for (size_t pos = 0; pos < size; pos += 4096) {
      const bool last = pos + 4096 >= size;
      lyr::Sha1Update(c, data.data() + pos, 4096, last ? digest.data() : nullptr);
    }
    lyr::Sha1Free(c);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void BM_Sha1Portable(benchmark::State& state) { Run(state, lyr::Sha1Engine::Portable); }
void BM_Sha1ShaExtensions(benchmark::State& state) { Run(state, lyr::Sha1Engine::ShaExtensions); }

BENCHMARK(BM_Sha1Portable)->Arg(16 << 20);
BENCHMARK(BM_Sha1ShaExtensions)->Arg(16 << 20);

}  // namespace
