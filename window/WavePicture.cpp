// SPDX-License-Identifier: GPL-3.0-or-later
#include "WavePicture.h"

#include <QAccessibleWidget>
#include <QEvent>
#include <QPainter>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/Localization.h"

namespace brinesong {

namespace {

constexpr int kReadBatch = 256;
constexpr double kLevelFloorDb = -60.0;

// Straight-alpha mix of two colours, premultiplied for the image.
QRgb mixed(const QColor& a, const QColor& b, double t) {
    const auto channel = [t](int x, int y) {
        return static_cast<int>(std::lround(x + (y - x) * t));
    };
    return qRgb(channel(a.red(), b.red()), channel(a.green(), b.green()),
                channel(a.blue(), b.blue()));
}

constexpr int kSwatchWidth = 16;  // logical pixels
constexpr int kLegendSpacing = 6;

// A screen reader meets the picture as an image: its accessible name and description (the tooltip
// stands in for one) are its text alternative.
QAccessibleInterface* accessibleWavePicture(const QString& className, QObject* object) {
    if (className == QLatin1String(WavePicture::staticMetaObject.className()) &&
        object->isWidgetType()) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Graphic);
    }
    return nullptr;
}

}  // namespace

QColor waveLineColour(const QPalette& palette) {
    return palette.color(QPalette::Text);
}

QColor levelAreaColour(const QPalette& palette) {
    return QColor(mixed(palette.color(QPalette::Base), palette.color(QPalette::Highlight), 0.55));
}

QColor glideBandColour(const QPalette& palette) {
    return palette.color(QPalette::Highlight);
}

// The glide band's height in logical pixels: a tick's, clear of most of the level area.
constexpr int kBandHeight = 3;

WaveLegend::WaveLegend(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setAccessibleName(text());
}

QString WaveLegend::lineWords() {
    return Texts::tr("wave");
}

QString WaveLegend::areaWords() {
    return Texts::tr("level heard (%1 to 0 dB)").arg(floorText());
}

QString WaveLegend::bandWords() {
    return Texts::tr("glide");
}

QString WaveLegend::floorText() {
    return QStringLiteral("\u2212%1").arg(-kLevelFloorDb);
}

QString WaveLegend::text() {
    return Texts::tr(
               "The line is the wave, the area the level heard, from %1 to 0 dB; a band along "
               "the foot marks where the settings glide")
        .arg(floorText());
}

QSize WaveLegend::sizeHint() const {
    const QFontMetrics metrics(font());
    return {3 * kSwatchWidth + 9 * kLegendSpacing + metrics.horizontalAdvance(lineWords()) +
                metrics.horizontalAdvance(areaWords()) + metrics.horizontalAdvance(bandWords()),
            metrics.height() + 2};
}

QSize WaveLegend::minimumSizeHint() const {
    return {0, sizeHint().height()};
}

void WaveLegend::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int middle = height() / 2;
    // Each swatch drawn as the picture draws it, before the words about it.
    int x = kLegendSpacing;
    painter.fillRect(QRect(x, middle - 1, kSwatchWidth, 2), waveLineColour(palette()));
    x += kSwatchWidth + kLegendSpacing;
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     lineWords());
    x += metrics.horizontalAdvance(lineWords()) + 3 * kLegendSpacing;
    const int swatchHeight = std::max(4, metrics.ascent() - 2);
    painter.fillRect(QRect(x, middle - swatchHeight / 2, kSwatchWidth, swatchHeight),
                     levelAreaColour(palette()));
    x += kSwatchWidth + kLegendSpacing;
    painter.drawText(QRect(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     areaWords());
    x += metrics.horizontalAdvance(areaWords()) + 3 * kLegendSpacing;
    painter.fillRect(QRect(x, middle + swatchHeight / 2 - kBandHeight, kSwatchWidth, kBandHeight),
                     glideBandColour(palette()));
    x += kSwatchWidth + kLegendSpacing;
    painter.drawText(QRect(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter,
                     bandWords());
}

WavePicture::WavePicture(QWidget* parent) : QWidget(parent), buffer_(kReadBatch) {
    // Once for the process, before anything below asks for the picture's accessible interface.
    [[maybe_unused]] static const bool asImage =
        (QAccessible::installFactory(accessibleWavePicture), true);
    // A precise timer never comes sooner than asked, so the picture reads and repaints at most
    // kStepsPerSecond times a second (well under 30).
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1000 / kStepsPerSecond);
    connect(&timer_, &QTimer::timeout, this, [this] {
        readTap();
        if (finalRead_) {
            finalRead_ = false;
            updateReading();
        }
    });
    setAttribute(Qt::WA_OpaquePaintEvent);
    setToolTip(
        Texts::tr("The last 30 seconds of each channel: the wave envelope as a line, the level as "
                  "an area; a band along the foot where the settings glide"));
    setAccessibleName(Texts::tr("Picture of the waves"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize WavePicture::sizeHint() const {
    return {400, 120};
}

QSize WavePicture::minimumSizeHint() const {
    return {120, 64};
}

void WavePicture::setPlaying(bool playing) {
    playing_ = playing;
    finalRead_ = !playing;
    updateReading();
}

bool WavePicture::canBeSeen() const {
    const QWidget* top = window();
    return isVisible() && top != nullptr && !top->isMinimized();
}

void WavePicture::updateReading() {
    if (tap_ != nullptr && (playing_ || finalRead_) && canBeSeen()) {
        if (!timer_.isActive()) {
            timer_.start();
        }
    } else {
        timer_.stop();
    }
}

uint64_t WavePicture::framesPerColumn(int columns) {
    return (kSpanFrames + columns - 1) / std::max(1, columns);
}

bool WavePicture::readTap() {
    if (tap_ == nullptr) {
        return false;
    }
    for (;;) {
        const size_t n = tap_->read(buffer_.data(), buffer_.size());
        for (size_t i = 0; i < n; ++i) {
            history_.add(buffer_[i]);
        }
        if (n < buffer_.size()) {
            break;
        }
    }
    const int columns = std::max(1, static_cast<int>(std::lround(width() * devicePixelRatioF())));
    const uint64_t perColumn = framesPerColumn(columns);
    // The picture moves slowly (30 s across its width), so a few steps a second of a pixel or
    // two each look as smooth as more, and cost the program a fraction of what it spends on the
    // sound; never more often than a column comes complete.
    timer_.setInterval(
        std::max(1000 / kStepsPerSecond, static_cast<int>(perColumn * 1000 / 44100)));
    const uint64_t complete = history_.end() / perColumn;
    const uint64_t changedColumn = history_.takeChangedFrom() / perColumn;
    rewrittenColumn_ = std::min(rewrittenColumn_, changedColumn);
    const bool changed = complete != shownColumns_ || changedColumn < shownColumns_;
    shownColumns_ = complete;
    if (changed) {
        update();
    }
    return changed;
}

void WavePicture::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (window() != watchedWindow_) {
        if (watchedWindow_ != nullptr) {
            watchedWindow_->removeEventFilter(this);
        }
        watchedWindow_ = window();
        watchedWindow_->installEventFilter(this);
    }
    // Whatever played while it was hidden is in the tap: show it at once.
    readTap();
    updateReading();
}

void WavePicture::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    updateReading();
}

void WavePicture::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        update();
    }
}

bool WavePicture::eventFilter(QObject* watched, QEvent* event) {
    if (watched == watchedWindow_ && event->type() == QEvent::WindowStateChange) {
        updateReading();
        if (reading()) {
            readTap();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void WavePicture::paintEvent(QPaintEvent*) {
    ++paints_;
    QPainter painter(this);
    // The device's own ratio: the screen's, or that of a pixmap the picture is grabbed into.
    const qreal ratio = painter.device()->devicePixelRatioF();
    const int w = std::max(1, static_cast<int>(std::lround(width() * ratio)));
    const int h = std::max(2, static_cast<int>(std::lround(height() * ratio)));
    const uint64_t perColumn = framesPerColumn(w);
    const uint64_t complete = history_.end() / perColumn;

    // The picture is kept between paints and scrolled: only columns that came complete since, or
    // that a stretch rendered again changed, are drawn anew.
    const QRgb base = palette().color(QPalette::Base).rgb();
    const QRgb level = levelAreaColour(palette()).rgb();
    const QRgb line = waveLineColour(palette()).rgb();
    const QRgb rule = palette().color(QPalette::Mid).rgb();
    const QRgb band = glideBandColour(palette()).rgb();
    const std::array<QRgb, 5> colours{base, level, line, rule, band};
    const bool fresh = cache_.size() != QSize(w, h) || cache_.devicePixelRatio() != ratio ||
                       cachedColours_ != colours || complete < cachedColumns_ ||
                       complete - cachedColumns_ >= static_cast<uint64_t>(w);
    const int gap = std::max(1, static_cast<int>(std::lround(ratio)));
    const int stripHeight = (h - gap) / 2;
    const auto columnAt = [&](int64_t k) {
        return k < 0 ? WaveHistory::Column{}
                     : history_.column(static_cast<uint64_t>(k) * perColumn,
                                       static_cast<uint64_t>(k + 1) * perColumn);
    };
    const int64_t rightEdge = static_cast<int64_t>(complete);  // the column just past the right
    if (fresh) {
        if (cache_.size() != QSize(w, h)) {
            cache_ = QImage(w, h, QImage::Format_RGB32);
        }
        cache_.setDevicePixelRatio(ratio);
        cachedColours_ = colours;
        for (int x = 0; x < w; ++x) {
            drawColumn(x, columnAt(rightEdge - w + x), stripHeight, gap, ratio);
        }
    } else {
        const int shift = static_cast<int>(complete - cachedColumns_);
        if (shift > 0) {
            for (int y = 0; y < h; ++y) {
                auto* row = reinterpret_cast<QRgb*>(cache_.scanLine(y));
                std::memmove(row, row + shift, static_cast<size_t>(w - shift) * sizeof(QRgb));
            }
        }
        // The columns that came complete, and any a stretch rendered again has changed.
        const int64_t from = std::max(
            static_cast<int64_t>(std::min(rewrittenColumn_, cachedColumns_)), rightEdge - w);
        for (int64_t k = from; k < rightEdge; ++k) {
            drawColumn(w - static_cast<int>(rightEdge - k), columnAt(k), stripHeight, gap, ratio);
        }
    }
    cachedColumns_ = complete;
    rewrittenColumn_ = std::numeric_limits<uint64_t>::max();

    painter.drawImage(0, 0, cache_);
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const int logicalStrip = static_cast<int>(stripHeight / ratio);
    const QRect left(4, 2, width() - 8, logicalStrip - 4);
    // Each channel's name stands on a patch of the background, so neither the line nor the area
    // runs through its letters (the oldest second or two of the picture go under it).
    const auto name = [&](const QRect& room, const QString& text) {
        const QRect words = painter.boundingRect(room, Qt::AlignLeft | Qt::AlignTop, text);
        painter.fillRect(words.adjusted(-2, -1, 2, 1), QColor(base));
        painter.drawText(words, Qt::AlignLeft | Qt::AlignTop, text);
    };
    name(left, Texts::tr("Left"));
    name(left.translated(0, height() - logicalStrip), Texts::tr("Right"));
}

void WavePicture::drawColumn(int x, const WaveHistory::Column& column, int stripHeight, int gap,
                             qreal ratio) {
    const auto& [base, levelColour, lineColour, rule, band] = cachedColours_;
    const int h = cache_.height();
    auto* bits = reinterpret_cast<QRgb*>(cache_.bits());
    const qsizetype stride = cache_.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    for (int y = 0; y < h; ++y) {
        bits[y * stride + x] = y >= stripHeight && y < stripHeight + gap ? rule : base;
    }
    if (!column.sounded) {
        return;
    }
    const int thickness = std::max(1, static_cast<int>(std::lround(1.5 * ratio)));
    for (int channel = 0; channel < 2; ++channel) {
        const int top = channel == 0 ? 0 : stripHeight + gap;
        const auto rowOf = [&](double fraction) {  // 0 at the strip's foot, 1 at its head
            const double y = (1.0 - std::clamp(fraction, 0.0, 1.0)) * (stripHeight - 1);
            return top + static_cast<int>(std::lround(y));
        };
        const auto fillRun = [&](int fromRow, int toRow, QRgb colour) {  // rows inclusive
            fromRow = std::max(fromRow, top);
            toRow = std::min(toRow, top + stripHeight - 1);
            for (int y = fromRow; y <= toRow; ++y) {
                bits[y * stride + x] = colour;
            }
        };
        const float level = column.level[channel];
        if (level > 0.0f) {
            const double db = 20.0 * std::log10(level);
            const double fraction = (db - kLevelFloorDb) / -kLevelFloorDb;
            if (fraction > 0.0) {
                fillRun(rowOf(fraction), top + stripHeight - 1, levelColour);
            }
        }
        const int high = rowOf(column.envelopeHigh[channel]);
        const int low = rowOf(column.envelopeLow[channel]);
        fillRun(high - thickness / 2, low + (thickness - 1) / 2, lineColour);
    }
    if (column.gliding) {
        const int bandRows = std::max(1, static_cast<int>(std::lround(kBandHeight * ratio)));
        for (int y = std::max(0, h - bandRows); y < h; ++y) {
            bits[y * stride + x] = band;
        }
    }
}

}  // namespace brinesong
