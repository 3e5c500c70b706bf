// What the app tests share: one QApplication, waiting on the event loop, and a test gateway
// serving the sample data with a settings file in a temporary directory that points at it.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>

#include "support/event_loop.h"
#include "support/temp_dir.h"
#include "support/test_gateway.h"

namespace tessel::test {

inline QApplication& app() {
    static int argc = 1;
    static char name[] = "app_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's own statics are gone by the time a static QApplication would be.
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

class GatewayTest : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        gateway.serveSample();
        setting("endpoint", QString::fromStdString(gateway.endpoint()));
    }
    QString settingsPath() const {
        return QString::fromStdString((dir.path() / "config/quorvane/TesselWidget.ini").string());
    }
    void setting(const char* key, const QVariant& value) const {
        QSettings(settingsPath(), QSettings::IniFormat).setValue(key, value);
    }

    TempDir dir;
    ScopedEnv config{"XDG_CONFIG_HOME", (dir.path() / "gateway-config").string()};
    // Window sizes and positions are kept here, never in the user's own state directory.
    ScopedEnv state{"XDG_STATE_HOME", (dir.path() / "state").string()};
    TestGateway gateway;
};

} // namespace tessel::test
