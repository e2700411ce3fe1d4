// The render loop in frames per second, beside the C library's random() as the peer for the
// random source. Run: build/bench/render_bench
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "export/AiffWriter.h"
#include "synth/Renderer.h"

namespace brinesong {
namespace {

void renderBlocks(benchmark::State& state, bool envelope, double fade, double runLength) {
    Preferences prefs;
    prefs.setAmplitudeGenerator(envelope);
    RandomSource random(1);
    Renderer renderer(prefs, random);
    renderer.fadeInOut = fade;
    renderer.runLength = runLength;
    const uint32_t frames = static_cast<uint32_t>(state.range(0));
    std::vector<int16_t> left(frames), right(frames);
    AudioBufferList list{2, {{1, frames * 2, left.data()}, {1, frames * 2, right.data()}}};
    for (auto _ : state) {
        if (renderer.frameCount > 44100u * 3600u) {
            renderer.frameCount = 0;
        }
        RendererData request{nullptr, nullptr, 0, frames, &list};
        renderer.renderWave(&request);
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);  // frames (both channels) per second
}

// Live playback: small buffers, open end.
void BM_RenderLive(benchmark::State& state) {
    renderBlocks(state, true, 0.01, 0);
}
BENCHMARK(BM_RenderLive)->Arg(512)->Arg(4096);

// Export blocks: long fades, a set end far away.
void BM_RenderExportBlock(benchmark::State& state) {
    renderBlocks(state, true, 2.0, 7200);
}
BENCHMARK(BM_RenderExportBlock)->Arg(122880);

void BM_RenderFlatEnvelope(benchmark::State& state) {
    renderBlocks(state, false, 0.01, 0);
}
BENCHMARK(BM_RenderFlatEnvelope)->Arg(4096);

// The random source against the C library's random(), which locks on every call.
void BM_RandomSource(benchmark::State& state) {
    RandomSource random(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(random.next());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RandomSource);

void BM_LibcRandom(benchmark::State& state) {
    srandom(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(random());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LibcRandom);

}  // namespace
}  // namespace brinesong
