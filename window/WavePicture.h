// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's live picture of the waves: for each channel, the wave envelope (a line, 0 to
// 1) and the level of what is heard (an area, 60 dB up to full scale) over the last 30 seconds;
// a band along its foot marks where the settings glided (a step of the night, a change-over).
// It scrolls while the sound plays and stands still when it stops, so the ascent, descent and
// wave-interval settings can be watched at work.
//
// It reads the live render tap on a timer of at most 4 times a second, and only while the sound
// plays and the picture can be seen: hidden, or in a minimised window, it reads and draws nothing
// (what the tap gathered meanwhile is read when it shows again). It repaints only when a new
// column of pixels is complete. Colours come from the palette, columns are device pixels.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <array>
#include <limits>
#include <vector>

#include "synth/RenderTap.h"
#include "window/WaveHistory.h"

namespace brinesong {

// The colours of the picture's marks, from the palette.
QColor waveLineColour(const QPalette& palette);
QColor levelAreaColour(const QPalette& palette);
QColor glideBandColour(const QPalette& palette);

// A line beneath the picture that says what its marks are: the line is the wave, the area the
// level heard, on a scale of -60 dB at the foot of each channel to 0 dB (full scale) at its head,
// and the band along the picture's foot a glide of the night.
class WaveLegend : public QWidget {
    Q_OBJECT
public:
    explicit WaveLegend(QWidget* parent = nullptr);
    // What it says, in a sentence: its accessible name.
    static QString text();
    // The words beside the line's swatch and the area's.
    static QString lineWords();
    static QString areaWords();
    static QString bandWords();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static QString floorText();
};

class WavePicture : public QWidget {
    Q_OBJECT
public:
    static constexpr int kStepsPerSecond = 4;               // reads and repaints at most this often
    static constexpr uint64_t kSpanFrames = 30ull * 44100;  // the width of the picture in time

    explicit WavePicture(QWidget* parent = nullptr);

    // The tap the render path writes; read on the main thread.
    void setTap(RenderTap* tap) { tap_ = tap; }
    // Follows the play state: reads the tap while playing (and once more after the end).
    void setPlaying(bool playing);

    // Reads what the tap holds now; true when the picture changed. The timer calls it.
    bool readTap();

    bool reading() const { return timer_.isActive(); }
    const WaveHistory& history() const { return history_; }
    // Repaints so far, for tests and the benchmark.
    int paints() const { return paints_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateReading();
    bool canBeSeen() const;
    static uint64_t framesPerColumn(int columns);
    // Draws column `x` of the kept picture, both channels and the glide band, with the kept
    // colours.
    void drawColumn(int x, const WaveHistory::Column& column, int stripHeight, int gap,
                    qreal ratio);

    RenderTap* tap_ = nullptr;
    QTimer timer_;
    WaveHistory history_;
    std::vector<TapRecord> buffer_;
    bool playing_ = false;
    bool finalRead_ = false;     // one more read after the sound stopped
    uint64_t shownColumns_ = 0;  // complete columns at the last repaint request
    // The picture as last painted: its columns up to cachedColumns_ (the newest at the right
    // edge), in these colours (base, level, line, rule, glide band).
    QImage cache_;
    uint64_t cachedColumns_ = 0;
    std::array<QRgb, 5> cachedColours_{};
    uint64_t rewrittenColumn_ = std::numeric_limits<uint64_t>::max();  // first column to redraw
    QWidget* watchedWindow_ = nullptr;
    int paints_ = 0;
};

}  // namespace brinesong
