// The application of every Qt test, and the sample gateway with a settings file naming it.
#pragma once

#include <gtest/gtest.h>

#include <QSettings>
#include <QThreadPool>
#ifdef QT_WIDGETS_LIB
#include <QApplication>
#else
#include <QCoreApplication>
#endif

#include "support/event_loop.h"
#include "support/temp_dir.h"
#include "support/test_gateway.h"
#include "sync/settings.h"
#include "sync/workers.h"

namespace tessel::test {

// A QApplication where the program links the widgets, a QCoreApplication otherwise.
inline QCoreApplication& app() {
#ifdef QT_WIDGETS_LIB
    using Application = QApplication;
#else
    using Application = QCoreApplication;
#endif
    static int argc = 1;
    static char name[] = "tessel_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's own statics are gone by the time a static application would be.
    static Application* instance = new Application(argc, argv);
    return *instance;
}

// Runs the event loop until the workers are done and their results handed back.
inline bool settle(int limitMs = 10000) {
    int quiet = 0;
    return spin(
        [&] {
            quiet = Workers::pool()->activeThreadCount() == 0 ? quiet + 1 : 0;
            return quiet >= 3;
        },
        limitMs);
}

class GatewayTest : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        gateway.serveSample();
        setting(AppSettings::endpoint, QString::fromStdString(gateway.endpoint()));
    }
    QString settingsPath() const {
        return QString::fromStdString((dir.path() / "config/quorvane/TesselWidget.ini").string());
    }
    // Another program writes the settings file, as tesselctl or an editor would.
    void setting(const AppSettings::Key& key, const QVariant& value) const {
        QSettings(settingsPath(), QSettings::IniFormat).setValue(key.key(), value);
    }

    TempDir dir;
    ScopedEnv config{"XDG_CONFIG_HOME", (dir.path() / "gateway-config").string()};
    // Window sizes and positions are kept here, never in the user's own state directory.
    ScopedEnv state{"XDG_STATE_HOME", (dir.path() / "state").string()};
    TestGateway gateway;
};

} // namespace tessel::test
