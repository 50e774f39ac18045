// Draws the app's SVG icon as PNG files of the sizes the hicolor theme lists, at build time,
// through Qt's own SVG image plugin: render-icon <svg> <out-folder> <size>...
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QString>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("usage: render-icon <svg> <out-folder> <size>...\n", stderr);
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    const QString svg = QString::fromLocal8Bit(argv[1]);
    const QString folder = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const int size = QString::fromLocal8Bit(argv[i]).toInt();
        QImageReader reader(svg);
        reader.setScaledSize(QSize(size, size));
        const QImage image = reader.read();
        const QString out = folder + QStringLiteral("/%1.png").arg(size);
        if (image.isNull() || !image.save(out)) {
            std::fprintf(stderr, "render-icon: couldn't draw %s at %d: %s\n", argv[1], size,
                         qPrintable(reader.errorString()));
            return 1;
        }
    }
    return 0;
}
