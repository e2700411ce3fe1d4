// SPDX-License-Identifier: GPL-3.0-or-later
// Turns a render request into finished 16-bit samples: mix of the two noise sources, the wave
// envelope, the volume, the fade-in from silence and the fade-out to the end of the sound.
//
// Two kinds of object share the work. A `Renderer` holds what the user set, the seven settings
// and the volume, and the random source that sounds draw from one after another; the program has
// one and it lasts as long as the program. A `RenderRun` is one sound, a playback or an export:
// its stop request, its end time, its frame counter, its fades, its generators and its draws. It
// is made when the sound starts, owned by whoever makes it, and nothing of it outlives the sound,
// so nothing a playback leaves behind (a stop request no buffer took up, say) can shape a later
// export, nor the other way round. The formula is written once, in `RenderRun`.
//
// The fields that other threads write or read while a sound runs (the stop request, the volume,
// the end time, the frame counter) are atomics, read once per call, so nothing is read torn; no
// ordering between them is relied on.
//
// Live playback adds what export never has: the rise of a gentle start, the sleep fade of a
// scheduled stop, and the tap that hands the window one record per buffer for its picture of the
// waves. They come with the request (`LiveRendering`), so an export can never pick up any of them.
//
// A night (Night.h) moves the settings by itself: steps fixed when the sound starts, a change-over
// asked for while it plays, the wander. Where none of them moves anything the frames are exactly
// those of the settings as they stand, drawn as they always were.
//
// Frames are counted in 64 bits: a night that goes on past 2^32 frames (27 hours) goes on as it
// was, with no second fade-in and with its stop's fade-out.
//
// Real-time rules: `renderWave` and `render16` allocate nothing, take no lock, make no system call.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "Night.h"
#include "Preferences.h"
#include "RandomSource.h"
#include "RenderTap.h"
#include "WaveGenerators.h"

namespace brinesong {

// One channel's buffer of a render request: native-endian signed 16-bit samples, one per frame.
struct AudioBuffer {
    uint32_t mNumberChannels;
    uint32_t mDataByteSize;  // lowered by the renderer when the sound ends inside the request
    void* mData;
};

// Buffer 0 is the left channel, buffer 1 the right; the renderer reads neither the count nor the
// channel numbers.
struct AudioBufferList {
    uint32_t mNumberBuffers;
    AudioBuffer mBuffers[2];
};

struct AudioTimeStamp;  // passed along unread

// One render request. Only the frame count and the buffer list are used.
struct RendererData {
    uint32_t* ioActionFlags;
    const AudioTimeStamp* inTimeStamp;
    uint32_t inBusNumber;
    uint32_t inNumberFrames;
    AudioBufferList* ioData;
};

// Handed from renderWave to render16 for one request.
struct LevelData {
    double endTime;           // seconds from the first frame of the sound; 0 = no end set
    int32_t framesPerSecond;  // turns frame numbers into seconds
};

// The sleep fade: the gain falls from 1 to silence over `frames` frames, reaching it at frame
// `endFrame` and staying there. A pure function of the frame number and these two values, so any
// stretch rendered again from a saved generator state gets exactly the same gain. The curve is the
// square of the fraction left: loudness goes roughly with the 0.6th power of the amplitude, so the
// ear hears the square fall about evenly, where a straight line would seem to hang on and then
// drop.
struct SleepFade {
    int64_t endFrame = 0;
    int64_t frames = 0;  // 0: no fade

    bool active() const { return frames != 0; }
    // First frame whose gain is below 1 (may lie before frame 0 when a sound starts mid-fade).
    int64_t beginFrame() const { return endFrame - frames; }
    double gainAt(uint64_t f) const {
        const auto frame = static_cast<int64_t>(f);
        if (!active() || frame < beginFrame()) {
            return 1.0;
        }
        if (frame >= endFrame) {
            return 0.0;
        }
        const double left = static_cast<double>(endFrame - frame) / static_cast<double>(frames);
        return left * left;
    }
    bool operator==(const SleepFade&) const = default;
};

// The rise of a gentle start (a wake): the gain climbs from silence to 1 over `frames` frames,
// reaching it at frame `endFrame` and staying there. The mirror of the sleep fade, and like it a
// pure function of the frame number and these two values: a playback fixes its rise before its
// first buffer, and any stretch rendered again gets exactly the same gain. The curve is the square
// of the fraction done: with loudness going roughly as the 0.6th power of the amplitude, the ear
// hears it grow about evenly (within 7 % of a straight line in loudness), where a ramp straight in
// decibels would stay near silence for half its length and come up in its last third.
struct Rise {
    int64_t endFrame = 0;
    int64_t frames = 0;  // 0: no rise

    bool active() const { return frames != 0; }
    // The rise's first frame, silent (before frame 0 when a sound starts halfway up).
    int64_t beginFrame() const { return endFrame - frames; }
    double gainAt(uint64_t f) const {
        const auto frame = static_cast<int64_t>(f);
        if (!active() || frame >= endFrame) {
            return 1.0;
        }
        if (frame <= beginFrame()) {
            return 0.0;
        }
        const double done = static_cast<double>(frame - beginFrame()) / static_cast<double>(frames);
        return done * done;
    }
    bool operator==(const Rise&) const = default;
};

// The levels a change glides between in live playback.
struct GlideLevels {
    double volume = 0.0;
    double lightWeight = 0.0;  // the sources' weights, halved unless the level is boosted
    double heavyWeight = 0.0;
    double envelopeShare = 0.0;  // 1: the wave envelope shapes the sound; 0: the flat 1 does
    bool operator==(const GlideLevels&) const = default;
};

// In live playback a change of the volume, of a source's weight (light wave, heavy wave, boost), of
// the amplitude generator or of the sleep fade glides to its new level over kFrames instead of
// jumping there, which would be heard as a click: a volume from 100 % to 10 % would drop the sound
// 20 dB between two samples, the amplitude generator switched on would drop it to the resting
// envelope's 0.1, a sleep fade dropped halfway would bring the sound back at once. The ascent,
// descent and wave interval only change how fast the envelope moves and how often it turns, never
// where it stands, so they take effect at once.
//
// Each level runs straight in its square root from the level of the frame before the glide to the
// new one: loudness goes roughly with the 0.6th power of the amplitude, and a straight line in the
// amplitude would hurry through the low levels, where the ear hears the most change. The envelope's
// share blends the flat 1 into the envelope e the same way, ((1 - share) + share * sqrt(e))^2, and
// the sleep fade's gain goes from the one heard to the new fade's as that fade runs.
//
// The levels are a pure function of the frame number and of this state, as the sleep fade's gain
// is: a queue rendered again from a saved point inside a glide goes on with it exactly, and one
// rendered again after a change glides from the levels of the frame before it, as heard.
//
// Under a night the levels a glide goes to move with the night's settings: the glide then ends in
// the night's levels of each frame rather than in `to`, which stays what a change is told by.
struct Glide {
    static constexpr uint32_t kFrames = 1764;  // 40 ms

    GlideLevels from;        // the levels of the frame before the glide
    GlideLevels to;          // the levels from endFrame on
    double sleepFrom = 1.0;  // the sleep fade's gain at the frame before the glide
    SleepFade sleepFade;     // the fade the gain goes to, and follows from endFrame on
    uint64_t endFrame = 0;   // the glide's frames are the kFrames - 1 before this one
    bool set = false;        // false until the sound's first request sets the levels
    // What the last frame rendered was given, which a glide begun at the next frame starts from.
    GlideLevels heard;
    double heardSleep = 1.0;
    // Changes of the night that move its levels at once: its wander's depth, and change-overs.
    double wander = 0.0;
    uint32_t changeOvers = 0;

    bool glidesAt(uint64_t f) const { return f < endFrame && endFrame - f < kFrames; }
    // The envelope's value `e` blended with the flat 1 by `share`.
    static double envelopeAt(double e, double share);
    // At the first frame of a request: a glide from the levels heard at the frame before `frame`
    // to `target` and `fade` begins at `frame`, unless the levels already go there and the night
    // changed nothing. The sound's first request only sets them.
    void toward(const GlideLevels& target, const SleepFade& fade, uint64_t frame,
                double wanderDepth = 0.0, uint32_t changeOversTaken = 0);
};

// What live playback adds to a render request.
struct LiveRendering {
    SleepFade sleepFade;
    RenderTap* tap = nullptr;  // receives one record per buffer that sounded
    bool glide = false;        // changes glide (see Glide); an export's jump where the block begins
    Rise rise{};               // multiplies every other gain, the glides' too
    // The change-overs asked for (Night.h): how many in the high 32 bits, the frames of the
    // latest one's glide in the low. A count the sound has not taken up yet begins a change-over
    // at the request's first frame.
    uint64_t changeOver = 0;
};

// Generator parameters and source weights derived from the settings for one rendering call.
struct WaveParameters {
    double ascentRate;      // per-sample growth while rising: (1/44100)/5 at 0 to 1/44100 at 100
    double descentRate;     // per-sample decay while falling: (1/44100)/3 at 0 to 1/44100 at 100
    int32_t waveThreshold;  // largest draw that changes phase: 14,115 at 0 to 2,115 at 100
    double lightWeight;     // weight of the pink source, halved unless the level is boosted
    double heavyWeight;     // weight of the brown source, likewise
};

// The frames a request renders once the stop hand-over and the end of the sound are applied:
// [start, end), with the level data for them.
struct RenderSpan {
    uint64_t start;
    uint64_t end;
    LevelData level;
};

// Everything one rendering reads from the settings and the shared fields, taken once.
struct RenderSettings {
    WaveParameters wave;
    bool amplitudeGenerator;
    double volume;
    double fade;                 // seconds
    SleepFade sleepFade;         // live playback only; an export never has one
    Rise rise;                   // likewise
    Glide glide;                 // likewise: an export's has no frames
    NightPoint base;             // the seven settings as they stand, that `wave` is derived from
    double wander = 0.0;         // points
    Wander wanderPaths;          // the wander where the request begins, when known
    SettingsGlide changeOver;    // live playback's latest change-over
    double envelopeShare = 1.0;  // under a night, the wave envelope's share in the sound
};

// What a night carries from one request of live playback to the next.
struct NightState {
    SettingsGlide changeOver;
    uint32_t changeOversTaken = 0;
    NightPoint heard;  // the settings, before wander, of the last frame rendered
};

// Everything the renderer carries from one frame to the next, taken at a buffer's first frame:
// rendering again from it gives exactly the frames first rendered from there, with the settings
// as they stand now. Live playback keeps these in a ring, so that what is queued but not yet heard
// can be rendered again when the sound changes.
struct RenderCheckpoint {
    uint64_t frameCount = 0;
    double runLength = 0.0;
    bool forceStopFinished = false;
    ChannelWaveState channels[2];
    RandomSource random;
    Glide glide;
    NightState night;
};

WaveParameters deriveWaveParameters(double ascent, double descent, double waveInterval,
                                    double lightWave, double heavyWave, bool boostSoundLevel);
// The same for a night's point, whose boost may lie between off and on: exactly
// deriveWaveParameters where it is either.
WaveParameters parametersOf(const NightPoint& point);

// What every sound shares: the settings and the volume the user set, and the random source that
// sounds draw from one after another. Holds nothing of a sound in progress.
class Renderer {
public:
    static constexpr int32_t kSampleRate = 44100;
    static constexpr double kLiveFade = 0.01;   // seconds
    static constexpr double kExportFade = 2.0;  // seconds

    explicit Renderer(const Preferences& preferences = Preferences::sharedInstance(),
                      RandomSource& random = sharedRandomSource())
        : sharedPreferences(preferences), random_(random) {}
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // The settings read at every call.
    const Preferences& sharedPreferences;
    // 0.0 to 1.0, read at every call.
    std::atomic<double> volume{0.5};
    // Stores `value` held within 0 to 1. A value that is not a number is ignored, and false
    // returned: it would silence every sound and be saved with the settings.
    bool setVolume(double value);

private:
    friend class RenderRun;
    struct SoundStart {
        uint32_t sound;
        RandomSource random;
    };
    // A run takes the source as the last run left it, and hands back where its own draws ended:
    // sounds made one after another draw as from one source. Any thread but the audio thread.
    SoundStart beginSound();
    void returnRandomSource(const RandomSource& source);

    std::mutex randomMutex_;
    RandomSource& random_;  // guarded by randomMutex_
    uint32_t sounds_ = 0;   // sounds begun, for the tap; guarded by randomMutex_
};

// One sound: a playback or an export. Its fields are the stop hand-over's and the gain's; the
// generators and the random source are its own copies.
class RenderRun {
public:
    // A fresh sound from frame 0: generators reset, no stop requested, fading in over `fadeInOut`
    // seconds and ending at `runLength` seconds (0: no end yet). Its draws continue from where the
    // renderer's last run handed them back. Not on the audio thread: it takes a lock.
    RenderRun(Renderer& renderer, double fadeInOut, double runLength = 0.0);
    RenderRun(const RenderRun&) = delete;
    RenderRun& operator=(const RenderRun&) = delete;

    // Hands the random source back to the renderer, so that the next run's draws continue from
    // where this one's ended. Once the run has rendered its last frame (it may render again
    // afterwards, but the next run will not see those draws). Not on the audio thread.
    void returnRandomSource() { renderer_.returnRandomSource(random_); }

    // Puts both channels' generators back to their initial state; the random source goes on.
    // Every run begins with it.
    void resetWaveFunctions();

    // The night this sound runs through, from before its first request: its steps (none: null;
    // they must outlive the run) and the night's frame at the sound's frame 0, which is past 0
    // for a sound started again in the middle of a night.
    void setNight(const Night* night, int64_t origin = 0);
    // What the wander's path is drawn from: by default the point the random source had reached
    // when the sound began, so the same seed gives the same night; a sound started again in the
    // middle of a night takes the first sound's.
    uint64_t wanderSeed() const { return wanderSeed_; }
    void setWanderSeed(uint64_t seed) { wanderSeed_ = seed; }
    int64_t nightOrigin() const { return nightOrigin_; }

    // Fills both buffers of `request` for its frames, or fewer when the sound ends inside it (the
    // buffers' byte sizes are then lowered, to 0 once the end has passed). Turns a pending stop
    // request into an end time `fadeInOut` after the frames already rendered. `frameCount` always
    // advances by the full request. `live` brings the rise, the sleep fade, the tap and the glide
    // of live playback; with the glide the settings are read once for both channels.
    void renderWave(RendererData* request);
    void renderWave(RendererData* request, const LiveRendering& live);

    // The first part of renderWave: the stop hand-over, `frameCount` advanced by the full request,
    // the byte sizes lowered where the sound ends inside it. Returns the frames still to render.
    RenderSpan beginRequest(RendererData* request);

    // The settings, the volume and the fade as they stand now.
    RenderSettings currentSettings() const;

    // Renders `span` of channel `index` (0 left, else right) at `out` with draws from `random`.
    // Called for both channels with the same settings and, the right with a source moved on by
    // the left's draws (`channelDraws`), the two may run on two threads at once. Returns the
    // envelope's last value.
    double renderChannel(int16_t* out, const RenderSpan& span, int32_t index, RandomSource& random,
                         const RenderSettings& settings);
    // The draws one channel takes for `span` from a pink-noise counter at `pinkCounter`, night
    // included.
    uint64_t channelDraws(const RenderSpan& span, const RenderSettings& settings,
                          uint32_t pinkCounter) const;

    RandomSource& randomSource() { return random_; }

    // Real-time safe: copies only.
    void saveCheckpoint(RenderCheckpoint& checkpoint) const;
    // Goes back to `checkpoint`: the next request renders its frame again. A stop requested since
    // is then handed over at that frame, unless it had been before it.
    void restoreCheckpoint(const RenderCheckpoint& checkpoint);

    // Writes samples for frames [startFrame, endFrame) of channel `index` (0 left, else right) at
    // `out`, or nothing when endFrame <= startFrame.
    void render16(int16_t* out, uint64_t startFrame, uint64_t endFrame, const LevelData* levelData,
                  int32_t index);
    void render16(int16_t* out, uint64_t startFrame, uint64_t endFrame, const LevelData* levelData,
                  int32_t index, const SleepFade& sleepFade, const Rise& rise = {});

    ChannelWaveState& channelState(int index) { return waveStates_[index == 0 ? 0 : 1]; }
    Renderer& renderer() { return renderer_; }

    // The control state of this sound, shared across threads.
    std::atomic<int32_t> sampleRate{Renderer::kSampleRate};  // frames per second
    std::atomic<uint64_t> frameCount{0};                     // frames handed out since the start
    std::atomic<double> runLength;               // seconds from the start to the end; 0 = none
    std::atomic<double> fadeInOut;               // seconds of fade-in and fade-out
    std::atomic<bool> forceStop{false};          // a stop of this sound is requested
    std::atomic<bool> forceStopFinished{false};  // the request has been turned into an end time

private:
    RenderRun(Renderer& renderer, Renderer::SoundStart start, double fadeInOut, double runLength);

    // A segment's settings under the night at night frame `frame`: the night's point before
    // wander, and the parameters and envelope share it gives with the wander. `wander` keeps the
    // wander's last stretch, taken anew when the frame lies in another.
    struct Segment {
        NightPoint point;
        WaveParameters wave;
        double share;
    };
    Segment segmentAt(int64_t frame, const RenderSettings& settings, Wander& wander) const;
    // Whether the night moves the settings anywhere in `span`; if not, its frames are the plain
    // sound's and render as such.
    bool nightShapes(const RenderSpan& span, const RenderSettings& settings) const;
    int64_t nightFrame(uint64_t f) const { return static_cast<int64_t>(f) + nightOrigin_; }
    double renderNightChannel(int16_t* out, const RenderSpan& span, ChannelWaveState& channel,
                              RandomSource& random, const RenderSettings& settings);
    // Live playback: begins the change-over asked for in `changeOver` at `frame`, if new.
    void takeUpChangeOver(uint64_t changeOver, uint64_t frame);
    // Live playback: notes what frame `last`, just rendered, was given.
    void noteHeard(uint64_t last, const RenderSettings& settings);

    // Returns what the envelope gave for the last frame.
    template <bool kUseEnvelope>
    static double renderFrames(int16_t* out, const RenderSpan& span, const RenderSettings& settings,
                               ChannelWaveState& channel, DrawBuffer& draws);
    // The tap's one producer call: the record of the buffer just rendered.
    void publishToTap(RenderTap& tap, const RendererData& request, uint64_t startFrame,
                      uint64_t endFrame);

    Renderer& renderer_;
    uint32_t sound_;  // this sound's number, for the tap
    RandomSource random_;
    ChannelWaveState waveStates_[2];
    double lastEnvelope_[2] = {1.0, 1.0};  // what each channel's envelope gave last
    Glide glide_;                          // live playback's, as of the next request's first frame
    const Night* night_ = nullptr;
    int64_t nightOrigin_ = 0;
    uint64_t wanderSeed_;
    NightState nightState_;  // live playback's, as of the next request's first frame
};

}  // namespace brinesong
