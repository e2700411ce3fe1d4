// SPDX-License-Identifier: GPL-3.0-or-later
// `brinesong --play` end to end: the program plays into the private server's null sink while
// parecord records the sink's monitor, and the recording is checked sample by sample: silence
// before, the short fade-in, the level, the fade-out after the stop request, silence after.
// `brinesong --serve` the same way, controlled by real media-player clients on a bus of the test's
// own, and `brinesong --play --at` starting at its time. The --play runs are kept off any session
// bus the test itself has.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/MonitorRecorder.h"
#include "support/ServerTools.h"
#include "synth/Preferences.h"
#include "synth/RandomSource.h"
#include "synth/Renderer.h"

namespace brinesong {
namespace {

using testing::MonitorRecorder;
using testing::Program;
using testing::Recording;
using testing::rms;

constexpr int kRate = 44100;
constexpr int kFade = 441;  // 0.01 s

// The renderer as `playAndRecord`'s settings and seed make it in the program.
struct ReferenceRenderer {
    ReferenceRenderer() {
        preferences.setAmplitudeGenerator(false);
        preferences.setBoostSoundLevel(false);
        preferences.setLightWave(75);
        preferences.setHeavyWave(100);
        renderer.volume = 0.5;
    }
    Preferences preferences;
    RandomSource random{11};
    Renderer renderer{preferences, random};
    RenderRun run{renderer, Renderer::kLiveFade};
};

// The level the same settings give when rendered here, away from the fades.
double expectedLevel(int channel) {
    ReferenceRenderer reference;
    RenderRun& run = reference.run;
    std::vector<int16_t> samples;
    std::vector<int16_t> left(441), right(441);
    for (int i = 0; i < 30 * 100; ++i) {  // 30 s: close to the long-run level
        AudioBufferList list{2, {{1, 882, left.data()}, {1, 882, right.data()}}};
        RendererData request{nullptr, nullptr, 0, 441, &list};
        run.renderWave(&request);
        const auto& s = channel == 0 ? left : right;
        samples.insert(samples.end(), s.begin(), s.end());
    }
    return rms(samples, kFade, samples.size());
}

struct PlayRun {
    int exitStatus = -1;
    std::string errors;
    Recording recording;
};

// Records the monitor while `brinesong --play` runs with fixed settings. With `stopSignal` the
// playback is ended by that signal once the sink has played 1.5 s of it; else --minutes ends it.
// Waits go by the frames the monitor has delivered, which follow the sink's own clock.
PlayRun playAndRecord(const std::vector<std::string>& options, int stopSignal) {
    testing::ScratchDir dir("brinesong-play");
    PlayRun run;
    MonitorRecorder recorder("brinesong_test", dir.file("monitor.wav"));
    EXPECT_TRUE(recorder.waitForMoreFrames(kRate / 2));  // silence before the sound

    // Settings given later on the line take the place of these.
    std::vector<std::string> arguments{"--play", "--seed",
                                       "11",     "--volume",
                                       "50",     "--amplitude-generator",
                                       "off",    "--boost-sound-level",
                                       "off",    "--light-wave",
                                       "75",     "--heavy-wave",
                                       "100"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    Program player(testing::brinesong(arguments),
                   {{"XDG_CONFIG_HOME=" + dir.file("config"), "BRINESONG_PLAY_REPORT=1",
                     testing::kNoSessionBus}});
    EXPECT_TRUE(player.started());
    if (stopSignal != 0) {
        EXPECT_TRUE(recorder.waitForMoreFrames(kRate * 3 / 2));
        player.signal(stopSignal);
    }
    run.exitStatus = player.wait();
    EXPECT_TRUE(recorder.waitForMoreFrames(kRate / 2));  // silence after the sound
    EXPECT_EQ(recorder.stop(), 0);
    run.errors = player.err();
    run.recording = recorder.read();
    return run;
}

// The end frame, "played 67164 frames", from the report at exit; 0 when missing.
size_t playedFrames(const std::string& errors) {
    const size_t at = errors.find("played ");
    return at == std::string::npos ? 0 : std::strtoull(errors.c_str() + at + 7, nullptr, 10);
}

// The first and the last frame in which either channel is not silent (first > last when none).
std::pair<size_t, size_t> soundingSpan(const Recording& r) {
    size_t first = r.frames(), last = 0;
    for (size_t i = 0; i < r.frames(); ++i) {
        if (r.left[i] != 0 || r.right[i] != 0) {
            first = std::min(first, i);
            last = i;
        }
    }
    return {first, last};
}

// PipeWire's graph without real-time priority (as here) now and then plays a period of silence in
// a stream's place, paplay's too: there a recording with such a gap (64 frames or more silent in
// both channels mid-sound, which our sound never holds) is made again, twice at most.
PlayRun playAndRecordWithoutDropouts(const std::vector<std::string>& options, int stopSignal) {
    for (int attempt = 1;; ++attempt) {
        PlayRun run = playAndRecord(options, stopSignal);
        if (!testing::resampledServer()) {
            return run;
        }
        const Recording& r = run.recording;
        const auto [first, last] = soundingSpan(r);
        size_t silent = 0, longest = 0;
        for (size_t i = first; i <= last && i < r.frames(); ++i) {
            silent = r.left[i] == 0 && r.right[i] == 0 ? silent + 1 : 0;
            longest = std::max(longest, silent);
        }
        if (longest < 64 || attempt == 3) {
            return run;
        }
        std::printf("the server dropped %zu frames of the sound; recording again\n", longest);
    }
}

void checkSound(const PlayRun& run) {
    const Recording& r = run.recording;
    ASSERT_GT(r.frames(), size_t(kRate));
    const auto [first, last] = soundingSpan(r);
    ASSERT_LT(first, last);
    // Silence recorded before and after the sound.
    EXPECT_GT(first, size_t(kRate / 5));
    EXPECT_GT(r.frames() - last, size_t(kRate / 5));

    // PipeWire's server mixes at 48 kHz, so there the recording went through two resamplers,
    // which smear the first and last frames over a few frames either way.
    const size_t slack = testing::resampledServer() ? 24 : 0;
    // Every frame the renderer handed out was played, nothing beyond its end: the sounding frames
    // number the end frame less one (frame 0 is the fade-in's zero; allow for a few frames being
    // zero by chance). They are counted rather than spanned: a server starved under load may
    // leave a gap of silence in the middle, which is no fault of the program.
    const size_t endFrame = playedFrames(run.errors);
    ASSERT_GT(endFrame, 0u) << run.errors;
    size_t sounding = 0;
    for (size_t i = first; i <= last; ++i) {
        sounding += r.left[i] != 0 || r.right[i] != 0;
    }
    EXPECT_LE(sounding + 1, endFrame + 2 * slack) << run.errors;
    EXPECT_GE(sounding + 1 + 3 + 2 * slack, endFrame) << run.errors;

    // Each end is found from the recording itself. The fade-out ends at the last sound recorded:
    // a burst after the stop would be that last sound and could not pass for the quiet tail of a
    // 10 ms fade; so after the fade-out's last frame the monitor records exact digital silence.
    const size_t start = first - 1;  // frame 0 of the sound
    const size_t end = last + 1;
    const double align = 3.0 + slack;  // frames the found ends may lie off the true ones

    for (int channel = 0; channel < 2; ++channel) {
        const std::vector<int16_t>& s = channel == 0 ? r.left : r.right;
        // The steady level: the volume times the mix, as rendered here.
        const double level = rms(s, start + kFade, end - kFade);
        const double expected = expectedLevel(channel);
        // The brown rumble makes the level of a second or two vary: over 400 stretches of 1.5 s it
        // ranged from 0.85 to 1.28 of its long-run value. A wrong volume (a factor of 2) or a
        // missing source still falls far outside.
        EXPECT_NEAR(level / expected, 1.0, 0.35) << "channel " << channel;

        double peak = 0;
        for (size_t i = start + kFade; i < end - kFade; ++i)
            peak = std::max(peak, std::abs(1.0 * s[i]));
        // The rumble inside a 10 ms fade may drift a little above the steady stretch's peak; the
        // ramp's bound keeps a margin for that and still forces silence at its ends.
        peak *= 1.25;
        // Fade-in from silence: quiet at first, within the ramp throughout.
        for (size_t k = 0; k < kFade; ++k) {
            EXPECT_LE(std::abs(1.0 * s[start + k]), peak * (k + 1.0 + align) / kFade + 2)
                << "fade-in frame " << k << " channel " << channel;
        }
        EXPECT_LT(rms(s, start, start + kFade / 4), rms(s, start + 3 * kFade / 4, start + kFade));
        // Fade-out to silence, within the falling ramp.
        for (size_t k = 0; k < kFade; ++k) {
            EXPECT_LE(std::abs(1.0 * s[end - 1 - k]), peak * (k + 1.0 + align) / kFade + 2)
                << "fade-out frame " << k << " channel " << channel;
        }
        EXPECT_LT(rms(s, end - kFade / 4, end), rms(s, end - kFade, end - 3 * kFade / 4));
    }
}

// The recording is, frame for frame, the renderer driven directly with the stop handed over at
// the frame the fade-out begins: the stop came while a second of sound was queued, and what was
// queued past that frame was rendered again and written over without a seam. (PulseAudio passes a
// lone stream to the sink unchanged; PipeWire's resampling does not.) With `night`, the renderer
// runs through it, as an export of it does.
void checkFramesAgainstRenderer(const PlayRun& run, const Night* night = nullptr) {
    const size_t endFrame = playedFrames(run.errors);
    ASSERT_GT(endFrame, size_t(kFade));
    // The end is 0.01 s after the hand-over, which lies where a render request of 441 frames
    // began: 440 or 441 frames before the end, by rounding.
    const size_t stopAt = (endFrame - kFade + 1) / kFade * kFade;
    ASSERT_LE(stopAt + kFade - 1, endFrame);

    ReferenceRenderer reference;
    RenderRun& sound = reference.run;
    sound.setNight(night);
    std::vector<int16_t> left, right;
    std::vector<int16_t> l(kFade), r(kFade);
    while (left.size() < endFrame) {
        if (sound.frameCount.load() == stopAt) {
            sound.forceStop = true;
        }
        AudioBufferList list{2, {{1, 2 * kFade, l.data()}, {1, 2 * kFade, r.data()}}};
        RendererData request{nullptr, nullptr, 0, kFade, &list};
        sound.renderWave(&request);
        const uint32_t played = list.mBuffers[0].mDataByteSize / 2;
        ASSERT_TRUE(played > 0 || left.size() == endFrame);
        left.insert(left.end(), l.begin(), l.begin() + played);
        right.insert(right.end(), r.begin(), r.begin() + played);
    }
    ASSERT_EQ(left.size(), endFrame);

    // Frame 0 is silent and so may be a frame or two after it: line up on the first 1000 frames.
    const Recording& rec = run.recording;
    size_t first = 0;
    while (first < rec.frames() && rec.left[first] == 0 && rec.right[first] == 0) {
        ++first;
    }
    size_t start = rec.frames();
    for (size_t candidate = first >= 3 ? first - 3 : 0; candidate <= first; ++candidate) {
        if (candidate + endFrame <= rec.frames() &&
            std::equal(left.begin(), left.begin() + 1000, rec.left.begin() + candidate)) {
            start = candidate;
            break;
        }
    }
    ASSERT_LT(start, rec.frames()) << "the recording does not begin as the renderer does";
    size_t differing = 0, firstDifference = endFrame;
    for (size_t f = 0; f < endFrame; ++f) {
        if (rec.left[start + f] != left[f] || rec.right[start + f] != right[f]) {
            ++differing;
            firstDifference = std::min(firstDifference, f);
        }
    }
    EXPECT_EQ(differing, 0u) << "first at frame " << firstDifference << " of " << endFrame
                             << "; the stop was handed over at " << stopAt;
}

TEST(PlayCommandTest, sigterm_fadesOutEndsAndExitsWith143) {
    REQUIRE_SERVER();
    const PlayRun run = playAndRecordWithoutDropouts({}, SIGTERM);
    EXPECT_EQ(run.exitStatus, 128 + SIGTERM) << run.errors;
    checkSound(run);
    if (!testing::resampledServer()) {
        checkFramesAgainstRenderer(run);
    }
}

// A night played is the night exported: a step 0.3 s in glides over the shortest glide, a second,
// to a preset (the amplitude generator cross-fading in), and the recording is still, frame for
// frame, the renderer's sound of that night.
TEST(PlayCommandTest, night_playsTheFramesTheRendererMakesOfIt) {
    REQUIRE_SERVER();
    const PlayRun run =
        playAndRecordWithoutDropouts({"--then", "Distant breakers@0.005/0"}, SIGTERM);
    EXPECT_EQ(run.exitStatus, 128 + SIGTERM) << run.errors;
    if (!testing::resampledServer()) {
        const Night night({{13230, 44100, NightPoint::of(15, 85, 30, 20, 55, false, true)}});
        checkFramesAgainstRenderer(run, &night);
    }
}

TEST(PlayCommandTest, minutesRunOut_fadesOutEndsAndExitsWith0) {
    REQUIRE_SERVER();
    const PlayRun run = playAndRecordWithoutDropouts({"--minutes", "0.02"}, 0);
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    checkSound(run);
}

// The root mean square of samples [begin, end) about their mean: what the pink noise's slowest
// rows add (offsets that change only every few hundred milliseconds) is left out, so the level of
// one short window strays less from the next.
double acLevel(const std::vector<int16_t>& s, size_t begin, size_t end) {
    double mean = 0;
    for (size_t i = begin; i < end; ++i) {
        mean += s[i] / double(end - begin);
    }
    double sum = 0;
    for (size_t i = begin; i < end; ++i) {
        sum += (s[i] - mean) * (s[i] - mean);
    }
    return std::sqrt(sum / double(end - begin));
}

// The sleep fade, shortened to seconds: 3.6 s of pink noise whose last 2.7 s fade out. The noise's
// level still wanders from one 50 ms window to the next, so the fade's shape is read as the
// exponent of a fit of the windows' level against the fraction of the fade left (2 for the square,
// 1 for a straight line, 3 for a cube), each window relative to the level before the fade.
TEST(PlayCommandTest, fadeOut_levelFallsAsTheSquareOfWhatIsLeft_silentAtTheEnd) {
    REQUIRE_SERVER();
    constexpr double kPlay = 3.6, kFade = 2.7;  // seconds
    const PlayRun run = playAndRecord(
        {"--minutes", "0.06", "--fade-out", "0.045", "--light-wave", "100", "--heavy-wave", "0"},
        0);
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    const Recording& r = run.recording;
    const auto [first, last] = soundingSpan(r);
    ASSERT_LT(first, last);
    const size_t start = first - 1;  // frame 0 of the sound
    // The minutes count from the launch: the fade lies where the program says it put it, which
    // is earlier in the sound's frames the longer the connection took.
    long long reportedBegin = -1;
    unsigned reportedEnd = 0;
    const size_t at = run.errors.find("the fade-out ran over frames ");
    ASSERT_NE(at, std::string::npos) << run.errors;
    ASSERT_EQ(std::sscanf(run.errors.c_str() + at, "the fade-out ran over frames %lld to %u",
                          &reportedBegin, &reportedEnd),
              2);
    const double fadeFrames = kFade * kRate;
    EXPECT_NEAR(double(reportedEnd) - double(reportedBegin), fadeFrames, 1.0);
    EXPECT_GT(reportedBegin, (kPlay - kFade - 1.0) * kRate);  // connecting took less than 1 s
    const size_t fadeBegin = start + size_t(reportedBegin);
    // Silent once the fade has run out (the last frames round to zero a little before its end),
    // then the ordinary stop.
    EXPECT_GT(last, fadeBegin + size_t(0.97 * fadeFrames));
    EXPECT_LE(last, fadeBegin + size_t(fadeFrames) + kRate / 50);

    const size_t window = kRate / 20;
    for (int channel = 0; channel < 2; ++channel) {
        const std::vector<int16_t>& s = channel == 0 ? r.left : r.right;
        double before = 0;  // the mean of the windows' levels before the fade
        for (size_t a = start + kRate / 5; a + window <= fadeBegin; a += window) {
            before += acLevel(s, a, a + window) / ((fadeBegin - start - kRate / 5) / window);
        }
        std::vector<double> x, y;
        for (size_t a = fadeBegin; a + window <= fadeBegin + size_t(0.9 * fadeFrames);
             a += window) {
            const double left = 1.0 - (a + window / 2.0 - fadeBegin) / fadeFrames;
            x.push_back(std::log(left));
            y.push_back(std::log(std::max(acLevel(s, a, a + window), 0.5) / before));
        }
        double mx = 0, my = 0;
        for (size_t i = 0; i < x.size(); ++i) {
            mx += x[i] / x.size();
            my += y[i] / x.size();
        }
        double sxy = 0, sxx = 0;
        for (size_t i = 0; i < x.size(); ++i) {
            sxy += (x[i] - mx) * (y[i] - my);
            sxx += (x[i] - mx) * (x[i] - mx);
        }
        const double exponent = sxy / sxx;
        const double offset = my - exponent * mx;  // the level at the fade's start, in log
        // Quarter points, the mean of four windows around each, for the record.
        double quarter[3] = {};
        for (int k = 0; k < 3; ++k) {
            const size_t c = fadeBegin + size_t((k + 1) * fadeFrames / 4) - 2 * window;
            for (size_t a = c; a < c + 4 * window; a += window) {
                quarter[k] += acLevel(s, a, a + window) / 4 / before;
            }
        }
        std::printf(
            "channel %d: exponent %.3f, start level %.3f, quarter points %.3f %.3f %.3f "
            "(expected 0.563 0.250 0.063)\n",
            channel, exponent, std::exp(offset), quarter[0], quarter[1], quarter[2]);
        EXPECT_NEAR(exponent, 2.0, 0.3) << "channel " << channel;
        EXPECT_NEAR(offset, 0.0, 0.3) << "channel " << channel;  // no step at the start
    }
}

// The gentle start, shortened to seconds: the sound rises from silence over its first 1.8 s as the
// square of the fraction done (a quarter of the level halfway). Each window of the recording is
// set against the same window of the sound rendered here without the rise, so the noise's own
// wander drops out and what is left is the rise's gain.
TEST(PlayCommandTest, fadeIn_levelRisesFromSilenceAsTheSquareOfWhatIsDone) {
    REQUIRE_SERVER();
    constexpr double kRise = 1.8;  // seconds
    const PlayRun run = playAndRecordWithoutDropouts({"--minutes", "0.06", "--fade-in", "0.03"}, 0);
    EXPECT_EQ(run.exitStatus, 0) << run.errors;
    const Recording& r = run.recording;
    const size_t endFrame = playedFrames(run.errors);
    const auto [first, last] = soundingSpan(r);
    ASSERT_GT(endFrame, size_t(2.5 * kRate)) << run.errors;
    ASSERT_GT(last + 1, endFrame);
    // The first frames of the rise round to silence: frame 0 is found from the end.
    const size_t start = last + 1 - endFrame;
    EXPECT_GT(first, start + kRate / 200);  // silent for its first few milliseconds
    EXPECT_LT(first, start + kRate / 20);

    ReferenceRenderer reference;
    std::vector<int16_t> plain[2];
    std::vector<int16_t> left(kFade), right(kFade);
    while (plain[0].size() < size_t(2.5 * kRate)) {
        AudioBufferList list{2, {{1, 2 * kFade, left.data()}, {1, 2 * kFade, right.data()}}};
        RendererData request{nullptr, nullptr, 0, kFade, &list};
        reference.run.renderWave(&request);
        plain[0].insert(plain[0].end(), left.begin(), left.end());
        plain[1].insert(plain[1].end(), right.begin(), right.end());
    }
    const size_t window = kRate / 20;
    for (int channel = 0; channel < 2; ++channel) {
        const std::vector<int16_t>& s = channel == 0 ? r.left : r.right;
        const auto levelAt = [&](double done) {
            const size_t middle = size_t(done * kRise * kRate);
            const size_t a = middle - window / 2, b = middle + window / 2;
            return acLevel(s, start + a, start + b) / acLevel(plain[channel], a, b);
        };
        const double levels[] = {levelAt(0.1), levelAt(0.5), levelAt(0.9), levelAt(1.25)};
        std::printf(
            "channel %d: level at 10%% %.3f, 50%% %.3f, 90%% %.3f, after %.3f "
            "(expected 0.01 0.25 0.81 1)\n",
            channel, levels[0], levels[1], levels[2], levels[3]);
        const double expected[] = {0.01, 0.25, 0.81, 1.0};
        for (int k = 0; k < 4; ++k) {
            EXPECT_NEAR(levels[k], expected[k], 0.04) << "channel " << channel << " point " << k;
        }
    }
}

// --at a few seconds ahead: the player says when it starts and waits, the sink silent; the sound
// comes at that second, and its minutes count from there (from the launch, they would have run
// out before it).
TEST(PlayCommandTest, at_silentUntilTheTime_thenPlaysItsMinutesFromThere) {
    REQUIRE_SERVER();
    testing::ScratchDir dir("brinesong-play-at");
    MonitorRecorder recorder("brinesong_test", dir.file("monitor.wav"));
    ASSERT_TRUE(recorder.waitForMoreFrames(kRate / 4));
    using Clock = std::chrono::system_clock;
    const std::time_t at = Clock::to_time_t(Clock::now()) + 4;  // 3 to 4 s from now
    std::tm local{};
    char moment[20];  // "2026-03-14 07:00:00", its time from the 12th byte on
    std::strftime(moment, sizeof moment, "%Y-%m-%d %H:%M:%S", localtime_r(&at, &local));
    Program player(testing::brinesong({"--play", "--at", moment + 11, "--minutes", "0.03",
                                       "--volume", "50", "--amplitude-generator", "off"}),
                   {{"XDG_CONFIG_HOME=" + dir.file("config"), testing::kNoSessionBus}});
    EXPECT_TRUE(testing::eventually([&] {
        return player.err().find(std::string("waiting to start the sound at ") + moment) !=
               std::string::npos;
    })) << player.err();
    std::this_thread::sleep_until(Clock::from_time_t(at) - std::chrono::milliseconds(300));
    const size_t beforeTheTime = recorder.recordedFrames();
    EXPECT_EQ(player.wait(), 0) << player.err();
    ASSERT_TRUE(recorder.waitForMoreFrames(kRate / 2));
    EXPECT_EQ(recorder.stop(), 0);

    const Recording r = recorder.read();
    ASSERT_GT(r.frames(), beforeTheTime);
    const auto [first, last] = soundingSpan(r);
    EXPECT_GT(first, beforeTheTime);                  // nothing before its second
    EXPECT_LT(first, beforeTheTime + kRate * 3 / 2);  // and the sound soon after it
    // 1.8 s of sound: the minutes counted from the start.
    EXPECT_GT(last - first, size_t(kRate) * 3 / 2);
    EXPECT_LT(last - first, size_t(kRate) * 5 / 2);
}

// A signal ends the wait as it ends a playback; the minutes running out without a sound ever
// played are a failure that says why.
TEST(PlayCommandTest, unreachableServer_waitsForItSayingWhy_endsBySignalOrFailsAfterTheMinutes) {
    const testing::RunOptions unreachable{
        {"PULSE_SERVER=unix:/nonexistent/brinesong/native", testing::kNoSessionBus}};
    const std::string waiting = testing::kNoSessionBusLine +
                                "brinesong: waiting for the sound server (Connection refused)\n";
    Program player(testing::brinesong({"--play", "--minutes", "1"}), unreachable);
    ASSERT_TRUE(testing::eventually([&] { return player.err() == waiting; })) << player.err();
    player.signal(SIGTERM);
    EXPECT_EQ(player.wait(), 128 + SIGTERM);
    EXPECT_EQ(player.err(), waiting);

    const testing::ProgramRun run =
        testing::runProgram(testing::brinesong({"--play", "--minutes", "0.05"}), unreachable);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, waiting +
                           "brinesong: no sound was played: the sound server could not be "
                           "reached (Connection refused)\n");
}

// Lengths past a timer's single interval are waited for in steps: 40,000 minutes are still
// ahead, whole, when a signal ends the play; a length past the clock's reach is refused.
TEST(PlayCommandTest, longMinutes_areWaitedForWhole_pastTheClockRefused) {
    const auto launched = std::chrono::steady_clock::now();
    Program player(
        testing::brinesong({"--play", "--minutes", "40000"}),
        {{"PULSE_SERVER=unix:/nonexistent/brinesong/native", "BRINESONG_PLAY_REPORT=1"}});
    ASSERT_TRUE(testing::eventually([&] {
        return player.err().find("waiting for the sound server") != std::string::npos;
    })) << player.err();
    player.signal(SIGTERM);
    EXPECT_EQ(player.wait(), 128 + SIGTERM);
    const double ran =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - launched).count();
    const std::string errors = player.err();
    EXPECT_EQ(errors.find("Timers"), std::string::npos) << errors;
    const size_t at = errors.find(" s of the minutes were left");
    ASSERT_NE(at, std::string::npos) << errors;
    const std::string prefix = "brinesong: ";
    const double left =
        std::strtod(errors.c_str() + errors.rfind(prefix, at) + prefix.size(), nullptr);
    EXPECT_LE(left, 40000 * 60.0);
    EXPECT_GE(left, 40000 * 60.0 - ran - 1.0);

    for (const char* minutes : {"1e30", "100000001"}) {
        const testing::ProgramRun run =
            testing::runProgram(testing::brinesong({"--play", "--minutes", minutes}),
                                {{"PULSE_SERVER=unix:/nonexistent/brinesong/native"}});
        EXPECT_EQ(run.status, 2) << minutes;
        EXPECT_NE(run.err.find("--minutes"), std::string::npos) << run.err;
    }
}

TEST(PlayCommandTest, badOption_exits2BeforeTouchingTheServer) {
    const testing::ProgramRun run =
        testing::runProgram(testing::brinesong({"--play", "--minutes", "soon"}),
                            {{"PULSE_SERVER=unix:/nonexistent/brinesong/native"}});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err,
              "brinesong: --minutes: expected a number of minutes, 0 or more, got 'soon'\n");
}

// --serve is there to be controlled: without a session bus it says why and ends at once.
TEST(PlayCommandTest, serve_withoutASessionBus_exits1SayingWhy) {
    const testing::ProgramRun run = testing::runProgram(
        testing::brinesong({"--serve"}),
        {{"PULSE_SERVER=unix:/nonexistent/brinesong/native", testing::kNoSessionBus}});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "brinesong: --serve waits for Play over the session bus: no session bus (Failed to "
              "connect to socket /nonexistent/brinesong/bus: No such file or directory)\n");
}

// A session bus of the test's own, for the players and their clients.
class PrivateBus {
public:
    // The environment a program on this bus runs with.
    std::string address() {
        testing::eventually([this] { return daemon_.out().find('\n') != std::string::npos; });
        const std::string out = daemon_.out();
        return "DBUS_SESSION_BUS_ADDRESS=" + out.substr(0, out.find('\n'));
    }
    // Runs a client on the bus; its output, trimmed, or "(failed: ...)".
    std::string client(const std::vector<std::string>& command) {
        const testing::ProgramRun run = testing::runProgram(command, {{address()}});
        if (run.status != 0) {
            return "(failed: " + run.err + ")";
        }
        const size_t end = run.out.find_last_not_of(" \n");
        return end == std::string::npos ? std::string() : run.out.substr(0, end + 1);
    }
    std::string playerctl(const std::string& command, const std::string& argument = {}) {
        std::vector<std::string> line{"playerctl", "--player=brinesong", command};
        if (!argument.empty()) {
            line.push_back(argument);
        }
        return client(line);
    }
    // dbus-send to the player's object; `destination` is its bus name.
    std::string call(const std::vector<std::string>& message,
                     const std::string& destination = "org.mpris.MediaPlayer2.brinesong") {
        std::vector<std::string> line{"dbus-send", "--session", "--print-reply",
                                      "--dest=" + destination, "/org/mpris/MediaPlayer2"};
        line.insert(line.end(), message.begin(), message.end());
        return client(line);
    }

private:
    Program daemon_{{"dbus-daemon", "--session", "--nofork", "--print-address=1"}};
};

// --serve through real media-player clients, as media keys, a desktop or a phone's remote reach
// it: it waits in silence for Play, plays (heard on the monitor), plays softer when the volume goes
// down (with the glide), pauses to silence and goes on running, plays again, takes a preset as its
// playlist and title, and ends with its fade-out on Quit. A second player beside it takes an
// instance's name, and a signal ends that one.
TEST(PlayCommandTest, serve_playsPausesAndQuits_overTheBus_volumeAndPresetHeard) {
    REQUIRE_SERVER();
    PrivateBus bus;
    testing::ScratchDir dir("brinesong-serve");
    MonitorRecorder recorder("brinesong_test", dir.file("monitor.wav"));
    ASSERT_TRUE(recorder.waitForMoreFrames(kRate / 4));
    // A steady level, without the wave envelope, so that the volume's step stands out.
    Program server(testing::brinesong({"--serve", "--volume", "50", "--amplitude-generator", "off",
                                       "--heavy-wave", "100", "--light-wave", "75"}),
                   {{bus.address(), "XDG_CONFIG_HOME=" + dir.file("config")}});
    ASSERT_TRUE(testing::eventually([&] { return bus.playerctl("status") == "Stopped"; }))
        << server.err();
    ASSERT_TRUE(recorder.waitForMoreFrames(kRate / 2));
    const size_t served = recorder.recordedFrames();  // silent until Play

    const auto waitForStatus = [&](const std::string& status) {
        return testing::eventually([&] { return bus.playerctl("status") == status; });
    };
    EXPECT_EQ(bus.playerctl("play"), "");
    ASSERT_TRUE(waitForStatus("Playing"));
    ASSERT_TRUE(recorder.waitForMoreFrames(kRate * 2));
    const size_t loud = recorder.recordedFrames();
    EXPECT_EQ(bus.playerctl("volume", "0.1"), "");
    EXPECT_EQ(bus.playerctl("volume"), "0.100000");
    ASSERT_TRUE(recorder.waitForMoreFrames(kRate * 3 / 2));
    const size_t soft = recorder.recordedFrames();

    EXPECT_EQ(bus.playerctl("pause"), "");
    ASSERT_TRUE(waitForStatus("Stopped"));
    ASSERT_TRUE(recorder.waitForMoreFrames(kRate));
    const size_t paused = recorder.recordedFrames();
    EXPECT_FALSE(server.ended());
    EXPECT_EQ(bus.playerctl("play"), "");
    ASSERT_TRUE(waitForStatus("Playing"));

    // The presets by number, in the program's order; "Storm" is the third.
    const std::string playlists =
        bus.call({"org.mpris.MediaPlayer2.Playlists.GetPlaylists", "uint32:0", "uint32:100",
                  "string:UserDefined", "boolean:false"});
    const std::string storm = "/org/kelvane/Brinesong/Preset/2";
    EXPECT_NE(playlists.find("object path \"" + storm + "\"\n         string \"Storm\""),
              std::string::npos)
        << playlists;
    EXPECT_EQ(bus.call({"org.mpris.MediaPlayer2.Playlists.ActivatePlaylist", "objpath:" + storm})
                  .find("(failed"),
              std::string::npos);
    EXPECT_EQ(bus.playerctl("metadata", "xesam:title"), "Storm");
    const std::string active =
        bus.call({"org.freedesktop.DBus.Properties.Get", "string:org.mpris.MediaPlayer2.Playlists",
                  "string:ActivePlaylist"});
    EXPECT_NE(active.find("boolean true"), std::string::npos) << active;
    EXPECT_NE(active.find(storm), std::string::npos) << active;
    ASSERT_TRUE(recorder.waitForMoreFrames(kRate));
    const size_t stormy = recorder.recordedFrames();

    Program second(testing::brinesong({"--serve"}),
                   {{bus.address(), "XDG_CONFIG_HOME=" + dir.file("config")}});
    const std::string instance =
        "org.mpris.MediaPlayer2.brinesong.instance" + std::to_string(second.pid());
    EXPECT_TRUE(testing::eventually([&] {
        return bus.call({"org.mpris.MediaPlayer2.Player.Stop"}, instance).find("(failed") ==
               std::string::npos;
    }));
    second.signal(SIGTERM);
    EXPECT_EQ(second.wait(), 128 + SIGTERM) << second.err();

    EXPECT_EQ(bus.call({"org.mpris.MediaPlayer2.Quit"}).find("(failed"), std::string::npos);
    EXPECT_EQ(server.wait(), 0) << server.err();
    ASSERT_TRUE(recorder.waitForMoreFrames(kRate / 2));
    EXPECT_EQ(recorder.stop(), 0);

    const Recording r = recorder.read();
    ASSERT_GE(r.frames(), stormy);
    const auto sounding = [&r](size_t from, size_t to) {
        return testing::soundingSamples(
            std::vector<int16_t>(r.left.begin() + from, r.left.begin() + to));
    };
    EXPECT_EQ(sounding(0, served), 0u);  // nothing before Play
    // A stretch ends some 0.2 s before the mark that ends it, clear of the change it awaited;
    // over 1.2 s the rumble's own wander stays well inside the volume's step.
    const size_t margin = kRate / 5;
    EXPECT_GT(sounding(loud - kRate, loud - margin), size_t(kRate) / 2);
    const double ratio = rms(r.left, soft - kRate * 7 / 5, soft - margin) /
                         rms(r.left, loud - kRate * 7 / 5, loud - margin);
    std::printf("level after the volume went from 0.5 to 0.1: %.3f of before\n", ratio);
    EXPECT_NEAR(ratio, 0.2, 0.1);
    EXPECT_EQ(sounding(paused - kRate / 2, paused), 0u);  // silent while paused
    EXPECT_GT(sounding(stormy - kRate / 2, stormy - margin), size_t(kRate) / 5);
    EXPECT_EQ(sounding(r.frames() - kRate / 5, r.frames()), 0u);  // silent after Quit
}

}  // namespace
}  // namespace brinesong
