// SPDX-License-Identifier: GPL-3.0-or-later
// Saves what an X display shows, the whole screen or one window, as a PNG: the window test's
// screenshots of the real program. Runs on the display in DISPLAY.
//   screen_grab OUT.png [WINDOW-ID]
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: screen_grab OUT.png [WINDOW-ID]\n", stderr);
        return 2;
    }
    const WId window = argc > 2 ? QByteArray(argv[2]).toULongLong() : 0;
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(window);
    if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "screen_grab: could not grab or save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
