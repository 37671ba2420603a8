// Saves a picture of an X window (or of the whole screen) as PNG: xshot <window id|root> <file>.
// Used by the end-to-end test and to take the pictures of the dialogs for the documentation.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: xshot <window id|root> <file.png>\n");
        return 2;
    }
    const QByteArray which(argv[1]);
    bool ok = true;
    const WId id = which == "root" ? 0 : which.toULongLong(&ok, 0);
    if (!ok) return 2;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return 1;
    const QPixmap picture = screen->grabWindow(id);
    if (picture.isNull()) return 1;
    return picture.save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
}
