// SPDX-License-Identifier: GPL-3.0-or-later
// Draws an SVG icon at one size into a PNG, at build time: the installed PNG icons come from the
// SVGs here, through Qt's own SVG image reader (the qsvg plugin the program uses at run time
// too), so the build needs nothing else.
//   render_icon SVG SIZE OUT.png
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 4 || std::atoi(argv[2]) <= 0) {
        std::fputs("usage: render_icon SVG SIZE OUT.png\n", stderr);
        return 2;
    }
    const int size = std::atoi(argv[2]);
    QImageReader reader(QString::fromLocal8Bit(argv[1]), "svg");
    reader.setScaledSize(QSize(size, size));
    const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
    if (image.isNull() || image.size() != QSize(size, size)) {
        std::fprintf(stderr, "render_icon: cannot draw %s: %s\n", argv[1],
                     qPrintable(reader.errorString()));
        return 1;
    }
    if (!image.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
        std::fprintf(stderr, "render_icon: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
