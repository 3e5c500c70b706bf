// The baselines of the start and memory benchmarks: minimal Qt Widgets programs that map Qt's
// libraries and nothing else. A benchmark binary run as its own baseline maps what it links as
// well (libcurl, the TLS stacks, libsecret, GIO), which inflated the baseline by about 10 MiB.
//   bench_baseline window       one frameless window
//   bench_baseline text-window  the same window with a small widget's texts in the same fonts
//   bench_baseline tray         a tray icon and nothing else
// Each prints "ready" once shown; the tray once a tray host has placed its icon, if there is one.
#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <cstring>

namespace {

void ready() {
    std::puts("ready");
    std::fflush(stdout);
}

// The small widget's texts at its sizes and weights in the application's font, as the widget
// draws them: Han through the CJK faces, Latin and digits through the default face, regular and
// bold. The floor of what drawing them costs, whatever draws them.
void addTexts(QWidget& window) {
    auto* layout = new QVBoxLayout(&window);
    const auto label = [layout](const char* text, int pixels, QFont::Weight weight) {
        auto* shown = new QLabel(QString::fromUtf8(text));
        QFont font = QApplication::font();
        font.setPixelSize(pixels);
        font.setWeight(weight);
        shown->setFont(font);
        layout->addWidget(shown);
    };
    label("TESSEL", 10, QFont::DemiBold);
    label("订阅 0", 17, QFont::DemiBold);
    label("88%", 36, QFont::DemiBold);
    label("5h · 剩余 · 同步于 08:00 · 已过期", 11, QFont::Normal);
}

} // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    const bool texts = std::strcmp(mode, "text-window") == 0;
    if (!texts && std::strcmp(mode, "window") != 0 && std::strcmp(mode, "tray") != 0) {
        std::fputs("usage: bench_baseline window|text-window|tray\n", stderr);
        return 2;
    }
    QApplication app(argc, argv);
    if (std::strcmp(mode, "tray") == 0) {
        QPixmap square(22, 22);
        square.fill(Qt::darkCyan);
        QSystemTrayIcon icon{QIcon(square)};
        icon.show();
        // The application's "ready" rule: the icon placed by a tray host, if any.
        QTimer poll;
        poll.setInterval(1);
        QObject::connect(&poll, &QTimer::timeout, &app, [&] {
            if (QSystemTrayIcon::isSystemTrayAvailable() && icon.geometry().isEmpty())
                return;
            poll.stop();
            ready();
        });
        poll.start();
        return app.exec();
    }
    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    if (texts)
        addTexts(window);
    window.resize(170, 170);
    window.show();
    QTimer::singleShot(0, ready);
    return app.exec();
}
