#include "app/test_hooks/screenshots.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>

#include "app/application.h"
#include "app/dashboard/dashboard_view.h"
#include "app/dashboard/report_view.h"
#include "app/dashboard_window.h"
#include "app/settings/settings_view.h"
#include "app/settings/settings_window.h"
#include "app/shell_settings.h"
#include "app/tray.h"
#include "app/tray_icon.h"
#include "app/tray_popup.h"

namespace tessel {

namespace {

QImage trayStrip(const QString& title) {
    const int sizes[] = {16, 22, 24, 32, 48};
    const QColor panels[] = {QColor(0x24, 0x24, 0x24), QColor(0xf0, 0xf0, 0xf0)};
    QImage strip(360, 2 * 64, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&strip);
    for (int row = 0; row < 2; ++row) {
        painter.fillRect(0, row * 64, strip.width(), 64, panels[row]);
        int x = 8;
        for (const int size : sizes) {
            for (const qreal ratio : {1.0, 2.0}) {
                const QImage icon = TrayIcon::render(title, size, ratio);
                painter.drawImage(QPointF(x, row * 64 + (64 - icon.height()) / 2.0), [&] {
                    QImage i = icon;
                    i.setDevicePixelRatio(1);
                    return i;
                }());
                x += icon.width() + 6;
            }
        }
    }
    return strip;
}

// The three states side by side at the common panel sizes, on a dark and a light panel,
// magnified four times without smoothing so single pixels can be judged.
QImage trayStates(const QString& title) {
    const int sizes[] = {16, 22, 24, 32};
    const TrayIcon::State states[] = {TrayIcon::State::Current, TrayIcon::State::Stale,
                                      TrayIcon::State::Issue};
    const QColor panels[] = {QColor(0x24, 0x24, 0x24), QColor(0xf0, 0xf0, 0xf0)};
    const int cell = 40;
    QImage sheet(3 * 4 * cell, 2 * cell, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&sheet);
    for (int row = 0; row < 2; ++row) {
        painter.fillRect(0, row * cell, sheet.width(), cell, panels[row]);
        int x = 4;
        for (const TrayIcon::State state : states) {
            for (const int size : sizes) {
                QImage icon = TrayIcon::render(title, size, 1.0, state);
                icon.setDevicePixelRatio(1);
                painter.drawImage(QPointF(x, row * cell + (cell - size) / 2.0), icon);
                x += cell;
            }
        }
    }
    painter.end();
    return sheet.scaled(sheet.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

bool save(const QImage& image, const QString& path) {
    const bool ok = image.save(path);
    std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

// The overview and the usage section, light and dark, at the default and the minimum size:
// DIR/dashboard-<section>-<light|dark>-<width>.png.
bool shootDashboard(TesselWidgetApp& app, DashboardWindow* dashboard, const QString& dir) {
    bool ok = true;
    const QString screen = app.sync().screen();
    for (const auto appearance :
         {ShellSettings::Appearance::Light, ShellSettings::Appearance::Dark}) {
        dashboard->setPalette(*ShellSettings::palette(appearance));
        for (const QSize size : {DashboardWindow::defaultSize, DashboardWindow::minimumSize}) {
            dashboard->resize(size);
            for (const char* section : {"overview", "usage", "widgets", "settings"}) {
                // The two embedded views once, at the default size.
                if (section[0] == 'w' || section[0] == 's')
                    if (size != DashboardWindow::defaultSize)
                        continue;
                app.sync().setScreen(QString::fromLatin1(section));
                for (int i = 0; i < 5; ++i)
                    QCoreApplication::processEvents();
                const QString name =
                    QStringLiteral("%1/dashboard-%2-%3-%4.png")
                        .arg(dir, QLatin1StringView(section),
                             appearance == ShellSettings::Appearance::Dark ? u"dark" : u"light")
                        .arg(size.width());
                ok = save(dashboard->grab().toImage(), name) && ok;
                // The whole scrolling page, to see its lower parts too.
                if (size == DashboardWindow::defaultSize &&
                    dashboard->view()->detail() == dashboard->view()->report())
                    ok = save(dashboard->view()->report()->widget()->grab().toImage(),
                              QString(name).replace(QStringLiteral(".png"),
                                                    QStringLiteral("-page.png"))) &&
                         ok;
            }
        }
    }
    dashboard->resize(DashboardWindow::defaultSize);
    dashboard->setPalette(QPalette());
    app.sync().setScreen(screen);
    return ok;
}

// The settings window as the desktop paints it and with the dark palette, and each whole form.
bool shootSettings(TesselWidgetApp& app, const QString& dir) {
    SettingsWindow* window = app.showSettings();
    bool ok = true;
    for (const QString& name : {QStringLiteral("light"), QStringLiteral("dark")}) {
        if (name == u"dark")
            window->setPalette(*ShellSettings::palette(ShellSettings::Appearance::Dark));
        QCoreApplication::processEvents();
        ok = save(window->grab().toImage(), dir + QStringLiteral("/settings-%1.png").arg(name)) &&
             ok;
        ok = save(window->view()->widget()->grab().toImage(),
                  dir + QStringLiteral("/settings-form-%1.png").arg(name)) &&
             ok;
    }
    window->setPalette(QPalette());
    return ok;
}

} // namespace

void takeScreenshots(TesselWidgetApp& app, const QString& dir) {
    QDir().mkpath(dir);
    auto shoot = [&app, dir] {
        DashboardWindow* dashboard = app.showDashboard();
        QScreen* screen = QGuiApplication::primaryScreen();
        const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
        app.showPanel(QRect(area.right() - 40, area.top(), 24, 24));
        // Two paints' worth of events before grabbing, so fonts and layouts have settled.
        QTimer::singleShot(800, &app, [&app, dashboard, dir] {
            bool ok = save(dashboard->grab().toImage(), dir + QStringLiteral("/dashboard.png"));
            if (TrayPopup* popup = app.popup())
                ok = save(popup->grab().toImage(), dir + QStringLiteral("/panel.png")) && ok;
            ok = save(trayStrip(app.tray().title()), dir + QStringLiteral("/tray.png")) && ok;
            ok = save(trayStrip(QStringLiteral("100%")), dir + QStringLiteral("/tray-100.png")) &&
                 ok;
            ok =
                save(trayStates(QStringLiteral("62%")), dir + QStringLiteral("/tray-states.png")) &&
                ok;
            ok = save(trayStates(QStringLiteral("Tessel")),
                      dir + QStringLiteral("/tray-states-plain.png")) &&
                 ok;
            if (TrayPopup* popup = app.popup())
                popup->hide();
            ok = shootDashboard(app, dashboard, dir) && ok;
            ok = shootSettings(app, dir) && ok;
            QCoreApplication::exit(ok ? 0 : 1);
        });
    };
    auto done = std::make_shared<bool>(false);
    auto once = [shoot, done] {
        if (!std::exchange(*done, true))
            shoot();
    };
    QObject::connect(&app.sync(), &DataSyncService::cycleFinished, &app, once);
    app.sync().start();
    QTimer::singleShot(8000, &app, once);
}

} // namespace tessel
