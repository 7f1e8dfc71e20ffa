// Saves a picture of the whole X screen (for the headless demo and for
// checking by eye what a window shows): screenshot FILE.png
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrin-screenshot FILE.png\n");
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "kestrin-screenshot: could not save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
