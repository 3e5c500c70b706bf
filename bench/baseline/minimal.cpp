// The baselines of the start and memory benchmarks: minimal Qt Widgets programs that map Qt's
// libraries and nothing else. A benchmark binary run as its own baseline maps what it links as
// well (libcurl, the TLS stacks, libsecret, GIO), which inflated the baseline by about 10 MiB.
//   bench_baseline window       one frameless window
//   bench_baseline text-window  the same window with a small widget's texts in the same fonts
//   bench_baseline tray         a tray icon and nothing else
// bench_baseline_stack is the same program linked with the HTTP client and keyring libraries the
// application is built on; its tray first does what a sync cycle asks of them (one loopback
// request, one key lookup), so it is the floor of a tray program on that stack.
// Each prints "ready" once shown; the tray once a tray host has placed its icon, if there is one.
// Before Qt's headers, whose `signals` keyword clashes with GLib's.
#ifdef TESSEL_BASELINE_STACK
#include <curl/curl.h>
#include <libsecret/secret.h>
#endif

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

#ifdef TESSEL_BASELINE_STACK
void useStack() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    if (CURL* request = curl_easy_init()) {
        // A closed port: the connection code runs, no data arrives.
        curl_easy_setopt(request, CURLOPT_URL, "http://127.0.0.1:9/");
        curl_easy_perform(request);
        curl_easy_cleanup(request);
    }
    // The key store's attributes; the schema's name is the baseline's own.
    SecretSchema* schema = secret_schema_new("bench.baseline.stack", SECRET_SCHEMA_DONT_MATCH_NAME,
                                             "service", SECRET_SCHEMA_ATTRIBUTE_STRING, "account",
                                             SECRET_SCHEMA_ATTRIBUTE_STRING, nullptr);
    GError* error = nullptr;
    gchar* found = secret_password_lookup_sync(schema, nullptr, &error, "service", "bench",
                                               "account", "baseline", nullptr);
    secret_password_free(found);
    secret_schema_unref(schema);
    if (error)
        g_error_free(error);
}
#endif

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
#ifdef TESSEL_BASELINE_STACK
        useStack();
#endif
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
