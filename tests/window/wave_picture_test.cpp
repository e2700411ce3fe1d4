// SPDX-License-Identifier: GPL-3.0-or-later
// The picture of the waves: the history it keeps of the tap's records (a stretch rendered again
// replaces what was there, a new sound goes on a blank second after the last), when it reads the
// tap (only while the sound plays and it can be seen), and what it draws, in the palette's colours
// and at the device's pixels, with its legend beneath.
#include <QVBoxLayout>
#include <QtTest>

#include "window/WaveHistory.h"
#include "window/WavePicture.h"

using namespace brinesong;

namespace {

TapRecord record(uint32_t sound, uint32_t frame, float envelope, float level,
                 uint32_t frames = 441) {
    TapRecord r;
    r.sound = sound;
    r.frame = frame;
    r.frames = frames;
    r.envelope[0] = envelope;
    r.envelope[1] = 1.0f;
    r.level[0] = level;
    r.level[1] = level;
    return r;
}

// Seconds of sound at a steady envelope and level, as the render path would report it.
void publishSeconds(RenderTap& tap, double seconds, float envelope, float level) {
    for (uint32_t frame = 0; frame < seconds * 44100; frame += 441) {
        tap.publish(record(1, frame, envelope, level));
    }
}

}  // namespace

class WavePictureTest : public QObject {
    Q_OBJECT
private slots:
    void history_rewrittenStretchReplaces_newSoundGoesOnApartFromTheLast() {
        WaveHistory h;
        for (uint32_t i = 0; i < 10; ++i) {
            h.add(record(1, i * 441, 0.5f, 0.1f));
        }
        QCOMPARE(h.end(), 4410u);
        QCOMPARE(h.takeChangedFrom(), 0u);

        // Frames from 2205 on rendered again: what was there goes, the new figures count.
        for (uint32_t i = 5; i < 8; ++i) {
            h.add(record(1, i * 441, 0.9f, 0.2f));
        }
        QCOMPARE(h.end(), 3528u);
        QCOMPARE(h.takeChangedFrom(), 2205u);
        const WaveHistory::Column rewritten = h.column(2205, 3528);
        QVERIFY(rewritten.sounded);
        QCOMPARE(rewritten.envelopeLow[0], 0.9f);
        QCOMPARE(rewritten.envelopeHigh[0], 0.9f);
        QCOMPARE(rewritten.level[0], 0.2f);
        const WaveHistory::Column across = h.column(0, 3528);
        QCOMPARE(across.envelopeLow[0], 0.5f);
        QCOMPARE(across.envelopeHigh[0], 0.9f);
        QVERIFY(!h.column(3528, 5000).sounded);

        // The next sound starts again at frame 0 and follows on the timeline, a blank second
        // after the last.
        h.add(record(2, 0, 0.3f, 0.05f));
        const uint64_t next = 3528 + WaveHistory::kGapFrames;
        QCOMPARE(WaveHistory::kGapFrames, 44100u);
        QCOMPARE(h.end(), next + 441);
        QCOMPARE(h.takeChangedFrom(), 3528u);  // only new frames
        QVERIFY(!h.column(3528, next).sounded);
        QCOMPARE(h.column(next, next + 441).envelopeHigh[0], 0.3f);

        // Far more records than it keeps: the newest are there, the oldest gone.
        for (uint32_t i = 1; i <= WaveHistory::kCapacity + 100; ++i) {
            h.add(record(2, i * 441, 0.7f, 0.1f));
        }
        QVERIFY(!h.column(0, next + 441).sounded);
        QCOMPARE(h.column(h.end() - 441, h.end()).envelopeHigh[0], 0.7f);
    }

    void reading_onlyWhilePlayingAndSeen() {
        RenderTap tap;
        QWidget window;
        auto* picture = new WavePicture(&window);
        (new QVBoxLayout(&window))->addWidget(picture);
        picture->setTap(&tap);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!picture->reading());  // stopped: still

        picture->setPlaying(true);
        QVERIFY(picture->reading());
        picture->hide();
        QVERIFY(!picture->reading());
        publishSeconds(tap, 2.0, 0.5f, 0.1f);  // played while hidden
        picture->show();
        QVERIFY(picture->reading());
        QCOMPARE(picture->history().end(), 88200u);  // read at once on showing
        window.setWindowState(Qt::WindowMinimized);
        QTRY_VERIFY(!picture->reading());
        window.setWindowState(Qt::WindowNoState);
        QTRY_VERIFY(picture->reading());

        // After the stop: one last read of what the tap still holds, then still.
        tap.publish(record(1, 88200, 0.5f, 0.1f));
        picture->setPlaying(false);
        QTRY_VERIFY(!picture->reading());
        QCOMPARE(picture->history().end(), 88641u);
    }

    // CTest runs this on a screen of ratio 1 and, with QT_SCALE_FACTOR=2, of ratio 2.
    void drawing_envelopeOverLevel_inThePalettesColours_atDevicePixels() {
        for (const bool dark : {false, true}) {
            const QColor base = dark ? QColor(0x20, 0x20, 0x24) : QColor(Qt::white);
            const QColor text = dark ? QColor(0xee, 0xee, 0xee) : QColor(Qt::black);
            QPalette palette;
            palette.setColor(QPalette::Base, base);
            palette.setColor(QPalette::Text, text);
            palette.setColor(QPalette::Highlight, QColor(0x30, 0x80, 0xff));
            RenderTap tap;
            // 15 s: the right half of the 30 s picture. Left envelope 0.5, right 1.0; level
            // -20 dB, two thirds up the 60 dB scale.
            publishSeconds(tap, 15.0, 0.5f, 0.1f);
            WavePicture picture;
            picture.setPalette(palette);
            picture.resize(300, 101);
            picture.setTap(&tap);
            picture.readTap();

            const qreal ratio = picture.devicePixelRatioF();
            const QImage image = picture.grab().toImage();
            QCOMPARE(image.size(), QSize(300, 101) * ratio);
            const int w = image.width();
            const int strip = (image.height() - int(ratio)) / 2;
            const auto at = [&image](int x, int y) { return QColor(image.pixel(x, y)); };
            const int x = w * 9 / 10;  // inside the sound, clear of the labels
            const QString where = QStringLiteral("ratio %1 dark %2").arg(ratio).arg(dark);

            // Left strip: nothing above the level, the level's area below it, the line at
            // half height and as thick as 1.5 logical pixels.
            QVERIFY2(at(x, strip / 10) == base, qPrintable(where));
            const QColor area = at(x, strip * 9 / 10);
            QVERIFY2(area != base && area != text, qPrintable(where));
            QVERIFY2(area.blue() > area.red(), qPrintable(where));  // towards the highlight
            const int middle = (strip - 1) / 2;
            QVERIFY2(at(x, middle) == text, qPrintable(where));
            int thickness = 0;
            for (int y = 0; y < strip; ++y) {
                thickness += at(x, y) == text;
            }
            QCOMPARE(thickness, int(std::lround(1.5 * ratio)));
            // The level's top edge two thirds up.
            const int levelTop = int(std::lround((strip - 1) / 3.0));
            QVERIFY2(at(x, levelTop + 1) == area && at(x, levelTop - 1) == base, qPrintable(where));
            // Right strip: the envelope at its top; before the sound began, nothing.
            QVERIFY2(at(x, strip + int(ratio)) == text, qPrintable(where));
            QVERIFY2(at(w / 4, strip * 9 / 10) == base, qPrintable(where));

            // Ten seconds more with the envelope at 0.8, the last five of them gliding: the
            // picture scrolls on, keeping what it drew, and draws the new columns.
            for (uint32_t frame = 15 * 44100; frame < 25 * 44100; frame += 441) {
                TapRecord r = record(1, frame, 0.8f, 0.1f);
                r.gliding = frame >= 20 * 44100;
                tap.publish(r);
            }
            picture.readTap();
            const QImage later = picture.grab().toImage();
            // 25 s of 30: the first 5 s of the width stay empty, then the first envelope.
            QVERIFY2(QColor(later.pixel(w * 2 / 5, middle)) == text, qPrintable(where));
            QVERIFY2(QColor(later.pixel(w / 10, strip * 9 / 10)) == base, qPrintable(where));
            const int high = int(std::lround(0.2 * (strip - 1)));
            QVERIFY2(QColor(later.pixel(x, high)) == text, qPrintable(where));
            QVERIFY2(QColor(later.pixel(x, middle)) != text, qPrintable(where));
            // The glide's band along the foot, where it ran only.
            const QColor highlight = palette.color(QPalette::Highlight);
            const int foot = later.height() - 1;
            QVERIFY2(QColor(later.pixel(x, foot)) == highlight, qPrintable(where));
            QVERIFY2(QColor(later.pixel(x, foot - int(3 * ratio))) != highlight, qPrintable(where));
            QVERIFY2(QColor(later.pixel(w / 2, foot)) != highlight, qPrintable(where));

            // The legend shows each mark in the picture's own colour, and says it in words.
            WaveLegend legend;
            legend.setPalette(palette);
            legend.resize(legend.sizeHint());
            const QImage key = legend.grab().toImage();
            bool lineShown = false;
            bool areaShown = false;
            bool bandShown = false;
            for (int ky = 0; ky < key.height(); ++ky) {
                for (int kx = 0; kx < key.width(); ++kx) {
                    lineShown |= QColor(key.pixel(kx, ky)) == text;
                    areaShown |= QColor(key.pixel(kx, ky)) == area;
                    bandShown |= QColor(key.pixel(kx, ky)) == highlight;
                }
            }
            QVERIFY2(lineShown && areaShown && bandShown, qPrintable(where));
            QCOMPARE(legend.accessibleName(),
                     QStringLiteral("The line is the wave, the area the level heard, from "
                                    "\u221260 to 0 dB; a band along the foot marks where the "
                                    "settings glide"));
        }
    }
};

QTEST_MAIN(WavePictureTest)
#include "wave_picture_test.moc"
