// SPDX-License-Identifier: GPL-3.0-or-later
// The render loop in frames per second, beside the C library's random() as the peer for the
// random source. Run: build/bench/render_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "export/ExportLoop.h"
#include "synth/ParallelRenderer.h"
#include "synth/Renderer.h"

namespace brinesong {
namespace {

constexpr uint32_t kExportBlock = kExportBlockFrames;

void renderBlocks(benchmark::State& state, bool envelope, double fade, double runLength) {
    Preferences prefs;
    prefs.setAmplitudeGenerator(envelope);
    RandomSource random(1);
    Renderer renderer(prefs, random);
    RenderRun run(renderer, fade, runLength);
    const uint32_t frames = static_cast<uint32_t>(state.range(0));
    std::vector<int16_t> left(frames), right(frames);
    AudioBufferList list{2, {{1, frames * 2, left.data()}, {1, frames * 2, right.data()}}};
    for (auto _ : state) {
        if (run.frameCount > 44100u * 3600u) {
            run.frameCount = 0;
        }
        RendererData request{nullptr, nullptr, 0, frames, &list};
        run.renderWave(&request);
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);  // frames (both channels) per second
}

// Live playback: small buffers, open end.
void BM_RenderLive(benchmark::State& state) {
    renderBlocks(state, true, 0.01, 0);
}
BENCHMARK(BM_RenderLive)->Arg(441)->Arg(512)->Arg(4096);

// Live playback as the engine renders it, in the stream's requests of 441 frames: steady (its glide
// ready but idle), and with the volume changed every tenth request, so that 40 % of the frames
// glide (the figure beside BM_RenderLive/441 is what a glide costs).
void liveAsPlayed(benchmark::State& state, bool changing) {
    Preferences prefs;
    RandomSource random(1);
    Renderer renderer(prefs, random);
    RenderRun run(renderer, Renderer::kLiveFade);
    constexpr uint32_t kFrames = 441;
    std::vector<int16_t> left(kFrames), right(kFrames);
    AudioBufferList list{2, {{1, kFrames * 2, left.data()}, {1, kFrames * 2, right.data()}}};
    const LiveRendering live{SleepFade{}, nullptr, true};
    uint64_t requests = 0;
    for (auto _ : state) {
        if (run.frameCount > 44100u * 3600u) {
            run.frameCount = 0;
        }
        if (changing && ++requests % 10 == 0) {
            renderer.volume = renderer.volume == 0.5 ? 0.2 : 0.5;
        }
        RendererData request{nullptr, nullptr, 0, kFrames, &list};
        run.renderWave(&request, live);
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

void BM_RenderLiveAsPlayed(benchmark::State& state) {
    liveAsPlayed(state, false);
}
BENCHMARK(BM_RenderLiveAsPlayed);

void BM_RenderLiveGliding(benchmark::State& state) {
    liveAsPlayed(state, true);
}
BENCHMARK(BM_RenderLiveGliding);

// Export blocks: long fades, a set end far away.
void BM_RenderExportBlock(benchmark::State& state) {
    renderBlocks(state, true, 2.0, 7200);
}
BENCHMARK(BM_RenderExportBlock)->Arg(122880);

// The export's way: draws made ahead a stretch at a time, both channels on one thread, then on
// two (wall time; the figure is frames of both channels per second).
void exportBlocks(benchmark::State& state, bool parallel) {
    Preferences prefs;
    RandomSource random(1);
    Renderer renderer(prefs, random);
    RenderRun run(renderer, 2.0, 7200);
    const uint32_t frames = kExportBlock;
    std::vector<int16_t> left(frames), right(frames);
    AudioBufferList list{2, {{1, frames * 2, left.data()}, {1, frames * 2, right.data()}}};
    ParallelRenderer both(run);
    for (auto _ : state) {
        if (run.frameCount > 44100u * 3600u) {
            run.frameCount = 0;
        }
        RendererData request{nullptr, nullptr, 0, frames, &list};
        if (parallel) {
            both.renderWave(&request);
        } else {
            const RenderSpan span = run.beginRequest(&request);
            const RenderSettings settings = run.currentSettings();
            run.renderChannel(left.data(), span, 0, run.randomSource(), settings);
            run.renderChannel(right.data(), span, 1, run.randomSource(), settings);
        }
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

void BM_ExportBlockOneThread(benchmark::State& state) {
    exportBlocks(state, false);
}
BENCHMARK(BM_ExportBlockOneThread);

void BM_ExportBlockTwoThreads(benchmark::State& state) {
    exportBlocks(state, true);
}
BENCHMARK(BM_ExportBlockTwoThreads)->UseRealTime();

void BM_RenderFlatEnvelope(benchmark::State& state) {
    renderBlocks(state, false, 0.01, 0);
}
BENCHMARK(BM_RenderFlatEnvelope)->Arg(4096);

// A long sleep fade or rise (10 and 30 minutes) rendered whole beside the same sound without it,
// from the same seed in the same buffers: the level at its quarter points (10 s about each) as a
// fraction of the plain sound's, against the square of what is left (0.5625, 0.25, 0.0625) or done
// (0.0625, 0.25, 0.5625), and what it costs in render time (faded_s against plain_s).
void BM_LongFade(benchmark::State& state) {
    const uint32_t frames = static_cast<uint32_t>(state.range(0)) * 60 * 44100;
    constexpr uint32_t kBlock = 4096;
    constexpr uint32_t kStart = 44100;  // past the fade-in
    constexpr uint32_t kHalfWindow = 5 * 44100;
    LiveRendering live;
    if (state.range(1) == 0) {
        live.sleepFade = SleepFade{kStart + frames, frames};
    } else {
        live.rise = Rise{kStart + frames, frames};
    }
    Preferences prefs;
    double sums[3][2] = {};  // per quarter point: faded, plain
    double seconds[2] = {};
    std::vector<int16_t> left(kBlock), right(kBlock);
    for (auto _ : state) {
        for (int faded = 0; faded < 2; ++faded) {
            RandomSource random(5);
            Renderer renderer(prefs, random);
            RenderRun run(renderer, Renderer::kLiveFade);
            run.frameCount = kStart;
            double renderSeconds = 0;
            for (uint32_t f = kStart; f < kStart + frames; f += kBlock) {
                AudioBufferList list{2,
                                     {{1, kBlock * 2, left.data()}, {1, kBlock * 2, right.data()}}};
                RendererData request{nullptr, nullptr, 0, kBlock, &list};
                const auto begin = std::chrono::steady_clock::now();
                if (faded != 0) {
                    run.renderWave(&request, live);
                } else {
                    run.renderWave(&request);
                }
                renderSeconds +=
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
                for (int q = 0; q < 3; ++q) {
                    const uint32_t centre = kStart + frames / 4 * (q + 1);
                    const uint32_t from = std::max(f, centre - kHalfWindow);
                    const uint32_t to = std::min(f + kBlock, centre + kHalfWindow);
                    for (uint32_t i = from; i < to; ++i) {
                        sums[q][faded != 0 ? 0 : 1] += double(left[i - f]) * left[i - f];
                    }
                }
            }
            seconds[faded] += renderSeconds;
        }
    }
    const char* const names[3] = {"q25", "q50", "q75"};
    for (int q = 0; q < 3; ++q) {
        state.counters[names[q]] = std::sqrt(sums[q][0] / sums[q][1]);
    }
    state.counters["plain_s"] = seconds[0] / state.iterations();
    state.counters["faded_s"] = seconds[1] / state.iterations();
}
// Second argument: 0 the sleep fade, 1 the rise.
BENCHMARK(BM_LongFade)
    ->Args({10, 0})
    ->Args({30, 0})
    ->Args({10, 1})
    ->Args({30, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// Seconds of processor time this thread has used: what a render costs, whatever else the machine
// runs meanwhile.
double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A night against the plain sound, rendered side by side from the same seed in turns of a block
// each (so both meet the same load on a shared machine), timed in the thread's processor time:
// every 4 minutes a step to the next of the five shipped presets gliding over 2 minutes, so half
// the night glides, and the five percent settings wandering 20 points. First argument: minutes;
// second: 0 live playback's requests of 441 frames with its glide, 1 export blocks with both
// channels on one thread. night_per_plain is what a frame of the night costs against one of the
// plain sound.
void BM_Night(benchmark::State& state) {
    const int64_t minutes = state.range(0);
    const bool exportBlocks = state.range(1) != 0;
    const uint32_t block = exportBlocks ? kExportBlock : 441;
    const NightPoint presets[] = {NightPoint::of(50, 35, 70, 70, 5, false, true),
                                  NightPoint::of(75, 100, 50, 50, 45, false, true),
                                  NightPoint::of(100, 100, 100, 85, 0, true, true),
                                  NightPoint::of(15, 85, 30, 20, 55, false, true),
                                  NightPoint::of(40, 100, 0, 0, 100, false, true)};
    std::vector<NightStep> steps;
    for (int64_t m = 4; m < minutes; m += 4) {
        steps.push_back({m * 60 * 44100, 2 * 60 * 44100, presets[(m / 4) % 5]});
    }
    const Night night(std::move(steps));
    double seconds[2] = {};
    for (auto _ : state) {
        Preferences plainSettings, nightSettings;
        nightSettings.setWander(20);
        RandomSource plainRandom(1), nightRandom(1);
        Renderer plainRenderer(plainSettings, plainRandom),
            nightRenderer(nightSettings, nightRandom);
        RenderRun plain(plainRenderer, Renderer::kLiveFade),
            withNight(nightRenderer, Renderer::kLiveFade);
        withNight.setNight(&night);
        std::vector<int16_t> left(block), right(block);
        const LiveRendering live{SleepFade{}, nullptr, true};
        const uint64_t frames = static_cast<uint64_t>(minutes) * 60 * 44100;
        while (plain.frameCount < frames) {
            for (int n = 0; n < 2; ++n) {
                RenderRun& run = n == 0 ? plain : withNight;
                const uint32_t count = exportBlocks ? block : 44100 / block * block;
                const double begin = threadSeconds();
                for (uint32_t done = 0; done < count; done += block) {
                    AudioBufferList list{
                        2, {{1, block * 2, left.data()}, {1, block * 2, right.data()}}};
                    RendererData request{nullptr, nullptr, 0, block, &list};
                    if (exportBlocks) {
                        run.renderWave(&request);
                    } else {
                        run.renderWave(&request, live);
                    }
                    benchmark::DoNotOptimize(left.data());
                }
                seconds[n] += threadSeconds() - begin;
            }
        }
    }
    state.counters["plain_s"] = seconds[0] / state.iterations();
    state.counters["night_s"] = seconds[1] / state.iterations();
    state.counters["night_per_plain"] = seconds[1] / seconds[0];
}
BENCHMARK(BM_Night)->Args({30, 0})->Args({30, 1})->Iterations(1)->Unit(benchmark::kSecond);

// A night of 400 minutes, the longest export, rendered whole in export blocks on two threads: the
// process's resident memory (kB) an hour in, when every kind of step has come (and the code for it
// been paged in), and at its end.
void BM_NightMemory(benchmark::State& state) {
    const auto residentKilobytes = [] {
        long pages = 0, resident = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
                resident = 0;
            }
            std::fclose(statm);
        }
        return static_cast<double>(resident) * 4.0;
    };
    std::vector<NightStep> steps;
    for (int64_t m = 10; m < 400; m += 10) {
        steps.push_back({m * 60 * 44100, 5 * 60 * 44100,
                         NightPoint::of(double(m % 100), 100, 50, 50, 50, m % 20 == 0, true)});
    }
    const Night night(std::move(steps));
    Preferences prefs;
    prefs.setWander(30);
    RandomSource random(3);
    Renderer renderer(prefs, random);
    std::vector<int16_t> left(kExportBlock), right(kExportBlock);
    double before = 0, after = 0;
    for (auto _ : state) {
        RenderRun run(renderer, Renderer::kExportFade, 400 * 60);
        run.setNight(&night);
        ParallelRenderer both(run);
        while (run.frameCount < uint64_t{400} * 60 * 44100) {
            if (before == 0 && run.frameCount >= 60 * 60 * 44100) {
                before = residentKilobytes();
            }
            AudioBufferList list{
                2, {{1, kExportBlock * 2, left.data()}, {1, kExportBlock * 2, right.data()}}};
            RendererData request{nullptr, nullptr, 0, kExportBlock, &list};
            both.renderWave(&request);
            benchmark::DoNotOptimize(left.data());
        }
        after = residentKilobytes();
    }
    state.counters["rss_minute_60_kB"] = before;
    state.counters["rss_minute_400_kB"] = after;
}
BENCHMARK(BM_NightMemory)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

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
