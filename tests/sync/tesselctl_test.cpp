// tesselctl as a second process beside an in-process service: the same files, own cycles.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>

#include <QCoro/QCoroTask>

#include <nlohmann/json.hpp>

#include "storage/container.h"
#include "storage/snapshot_store.h"
#include "support/temp_dir.h"
#include "support/test_gateway.h"
#include "sync/data_sync_service.h"
#include "sync/menu_title.h"
#include "tools/sample-gateway/sample_data.h"

using namespace std::chrono_literals;
using namespace tessel;

namespace {

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

class Tesselctl : public ::testing::Test {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "tesselctl_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
        gateway.serveSample();
        settings().setValue("endpoint", QString::fromStdString(gateway.endpoint()));
        settings().sync();
    }
    QSettings settings() const {
        return QSettings(QString::fromStdString((config / "quorvane/TesselWidget.ini").string()),
                         QSettings::IniFormat);
    }
    // Starts tesselctl; finish() waits at most ten seconds.
    void start(QProcess& process, const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(config.string()));
        env.insert("XDG_DATA_HOME", QString::fromStdString(data.string()));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(TESSELCTL), args);
        ASSERT_TRUE(process.waitForStarted(5000));
    }
    static Outcome finish(QProcess& process) {
        QElapsedTimer clock;
        clock.start();
        while (process.state() != QProcess::NotRunning && clock.elapsed() < 10000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            process.waitForFinished(20);
        }
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(2000);
        }
        return {process.exitCode(), process.readAllStandardOutput().toStdString(),
                process.readAllStandardError().toStdString()};
    }
    Outcome run(const QStringList& args) {
        QProcess process;
        start(process, args);
        return finish(process);
    }
    std::filesystem::path container() const { return data / SharedContainer::groupID(); }

    test::TempDir dir;
    std::filesystem::path config = dir.path() / "config";
    std::filesystem::path data = dir.path() / "data";
    test::ScopedEnv configEnv{"XDG_CONFIG_HOME", config.string()};
    test::TestGateway gateway;
};

} // namespace

TEST_F(Tesselctl, RefreshBesideARunningServiceThenStatusLine) {
    // The in-process service holds its cycle open while tesselctl runs a whole one.
    gateway.on("v1/tessel/quotas", [](const test::RecordedRequest&) {
        test::Route route = test::Route::json(sample::quotas());
        route.delay = 300ms;
        return route;
    });
    DataSyncService::Options options;
    options.container = container();
    options.settingsPath = QString::fromStdString((config / "quorvane/TesselWidget.ini").string());
    DataSyncService service(options);
    QCoro::Task<> cycle = service.refresh(true);
    QProcess other;
    start(other, {"refresh"});
    const Outcome refreshed = finish(other);
    QCoro::waitFor(cycle);
    EXPECT_EQ(refreshed.code, 0) << refreshed.err;
    EXPECT_EQ(refreshed.out, "已同步\n");
    EXPECT_FALSE(service.snapshot().issue);
    EXPECT_EQ(gateway.requestCount("api/hello"), 2u);

    const Snapshot stored = SnapshotStore(container()).load();
    ASSERT_FALSE(stored.quotas.empty()); // a whole file, whichever writer came last
    settings().setValue("menuQuota", QString::fromStdString(stored.quotas.back().id()));
    settings().sync();
    const Outcome status = run({"status", "--json"});
    ASSERT_EQ(status.code, 0) << status.err;
    const auto line = nlohmann::json::parse(status.out);
    EXPECT_EQ(line.at("text"), menuBarTitle(stored, stored.quotas.back().id()));
    EXPECT_EQ(line.at("tooltip"), "已同步");
    EXPECT_EQ(line.at("class"), "ok");
}

TEST_F(Tesselctl, FailuresReachTheExitCode) {
    gateway.on("v1/tessel/usage", test::Route::json("{}", 500));
    const Outcome refreshed = run({"refresh"});
    EXPECT_EQ(refreshed.code, 1);
    EXPECT_NE(refreshed.out.find("离线 / 同步异常\ntoday："), std::string::npos) << refreshed.out;
    const auto line = nlohmann::json::parse(run({"status", "--json"}).out);
    EXPECT_EQ(line.at("class"), "issue");

    const Outcome bad = run({"configure", "--endpoint", "http://exa mple"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_FALSE(bad.err.empty());
    EXPECT_EQ(settings().value("endpoint").toString().toStdString(), gateway.endpoint());
    EXPECT_EQ(run({"configure", "--interval", "x"}).code, 2);
}
