#include "WavePicture.h"

#include <QEvent>
#include <QPainter>
#include <QWindow>
#include <algorithm>
#include <cmath>

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

}  // namespace

WavePicture::WavePicture(QWidget* parent) : QWidget(parent), buffer_(kReadBatch) {
    // A precise 34 ms never comes sooner than asked, so the picture reads and repaints at most
    // 30 times a second.
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1000 / kMaxFramesPerSecond + 1);
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
                  "an area"));
    setAccessibleName(Texts::tr("Waves"));
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
    const uint64_t framesPerColumn = (kSpanFrames + columns - 1) / columns;
    const uint64_t complete = history_.end() / framesPerColumn;
    const uint64_t changedFrom = history_.takeChangedFrom();
    const bool changed = complete != shownColumns_ || changedFrom / framesPerColumn < shownColumns_;
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
    // The device's own ratio: the screen's, or that of an image the picture is rendered into.
    const qreal ratio = painter.device()->devicePixelRatioF();
    const int w = std::max(1, static_cast<int>(std::lround(width() * ratio)));
    const int h = std::max(2, static_cast<int>(std::lround(height() * ratio)));
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(palette().color(QPalette::Base));

    const uint64_t framesPerColumn = (kSpanFrames + w - 1) / w;
    const uint64_t complete = history_.end() / framesPerColumn;
    const uint64_t firstColumn = complete > static_cast<uint64_t>(w) ? complete - w : 0;
    const int gap = std::max(1, static_cast<int>(std::lround(ratio)));
    const int stripHeight = (h - gap) / 2;
    drawStrip(image, 0, 0, stripHeight, firstColumn, framesPerColumn, ratio);
    drawStrip(image, 1, stripHeight + gap, stripHeight, firstColumn, framesPerColumn, ratio);
    // The line between the two channels.
    const QRgb rule = palette().color(QPalette::Mid).rgb();
    for (int y = stripHeight; y < stripHeight + gap && y < h; ++y) {
        std::fill_n(reinterpret_cast<QRgb*>(image.scanLine(y)), w, rule);
    }
    image.setDevicePixelRatio(ratio);
    painter.drawImage(0, 0, image);
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const int logicalStrip = static_cast<int>(stripHeight / ratio);
    const QRect left(4, 2, width() - 8, logicalStrip - 4);
    painter.drawText(left, Qt::AlignLeft | Qt::AlignTop, Texts::tr("Left"));
    painter.drawText(left.translated(0, height() - logicalStrip), Qt::AlignLeft | Qt::AlignTop,
                     Texts::tr("Right"));
}

void WavePicture::drawStrip(QImage& image, int channel, int top, int height, uint64_t firstColumn,
                            uint64_t framesPerColumn, qreal ratio) const {
    if (height <= 0) {
        return;
    }
    const int w = image.width();
    const QRgb levelColour =
        mixed(palette().color(QPalette::Base), palette().color(QPalette::Highlight), 0.55);
    const QRgb lineColour = palette().color(QPalette::Text).rgb();
    const int thickness = std::max(1, static_cast<int>(std::lround(1.5 * ratio)));
    auto* bits = reinterpret_cast<QRgb*>(image.bits());
    const qsizetype stride = image.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    const auto rowOf = [&](double fraction) {  // 0 at the strip's foot, 1 at its head
        const double y = (1.0 - std::clamp(fraction, 0.0, 1.0)) * (height - 1);
        return top + static_cast<int>(std::lround(y));
    };
    const auto fillRun = [&](int x, int fromRow, int toRow, QRgb colour) {  // rows inclusive
        fromRow = std::max(fromRow, top);
        toRow = std::min(toRow, top + height - 1);
        for (int y = fromRow; y <= toRow; ++y) {
            bits[y * stride + x] = colour;
        }
    };

    const uint64_t columns = std::min<uint64_t>(w, history_.end() / framesPerColumn);
    const int x0 = w - static_cast<int>(columns);
    for (uint64_t k = 0; k < columns; ++k) {
        const uint64_t from = (firstColumn + k) * framesPerColumn;
        const WaveHistory::Column column = history_.column(from, from + framesPerColumn);
        if (!column.sounded) {
            continue;
        }
        const int x = x0 + static_cast<int>(k);
        const float level = column.level[channel];
        if (level > 0.0f) {
            const double db = 20.0 * std::log10(level);
            const double fraction = (db - kLevelFloorDb) / -kLevelFloorDb;
            if (fraction > 0.0) {
                fillRun(x, rowOf(fraction), top + height - 1, levelColour);
            }
        }
        const int high = rowOf(column.envelopeHigh[channel]);
        const int low = rowOf(column.envelopeLow[channel]);
        fillRun(x, high - thickness / 2, low + (thickness - 1) / 2, lineColour);
    }
}

}  // namespace brinesong
