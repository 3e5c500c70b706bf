// tesselctl as a second process beside an in-process service: the same files, own cycles.
#include <gtest/gtest.h>

#include <QCoreApplication>
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

TEST(Tesselctl, RefreshBesideARunningServiceStatusAndExitCodes) {
    int argc = 1;
    char name[] = "tesselctl_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    test::TempDir dir;
    const auto config = dir.path() / "config", data = dir.path() / "data";
    const auto container = data / SharedContainer::groupID();
    const QString ini = QString::fromStdString((config / "quorvane/TesselWidget.ini").string());
    test::TestGateway gateway;
    gateway.serveSample();
    QSettings(ini, QSettings::IniFormat).setValue("endpoint", gateway.endpoint().c_str());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.c_str());
    env.insert("XDG_DATA_HOME", data.c_str());
    auto start = [&](QProcess& process, const QStringList& args) {
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(TESSELCTL), args);
    };
    auto finish = [](QProcess& process) {
        // waitForFinished spins no event loop of ours; the in-process cycle needs none here.
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(2000);
        }
        return std::pair{process.exitCode(), process.readAllStandardOutput().toStdString()};
    };
    auto run = [&](const QStringList& args) {
        QProcess process;
        start(process, args);
        return finish(process);
    };

    // The in-process service holds its cycle open while tesselctl runs a whole one.
    test::Route slow = test::Route::json(sample::quotas());
    slow.delay = 300ms;
    gateway.on("v1/tessel/quotas", slow);
    DataSyncService::Options options;
    options.container = container;
    options.settingsPath = ini;
    DataSyncService service(options);
    QCoro::Task<> cycle = service.refresh(true);
    QProcess other;
    start(other, {"refresh"});
    EXPECT_EQ(finish(other), std::pair(0, std::string("已同步\n")));
    QCoro::waitFor(cycle);
    EXPECT_FALSE(service.snapshot().issue);
    EXPECT_EQ(gateway.requestCount("api/hello"), 2u);

    const Snapshot stored = SnapshotStore(container).load();
    ASSERT_FALSE(stored.quotas.empty()); // a whole file, whichever writer came last
    QSettings(ini, QSettings::IniFormat).setValue("menuQuota", stored.quotas.back().id().c_str());
    auto line = nlohmann::json::parse(run({"status", "--json"}).second);
    EXPECT_EQ(line.at("text"), menuBarTitle(stored, stored.quotas.back().id()));
    EXPECT_EQ(line.at("tooltip"), "已同步");
    EXPECT_EQ(line.at("class"), "ok");

    gateway.on("v1/tessel/usage", test::Route::json("{}", 500));
    const auto [code, out] = run({"refresh"});
    EXPECT_EQ(code, 1);
    EXPECT_NE(out.find("离线 / 同步异常\ntoday："), std::string::npos) << out;
    line = nlohmann::json::parse(run({"status", "--json"}).second);
    EXPECT_EQ(line.at("class"), "issue");
    EXPECT_EQ(run({"configure", "--endpoint", "http://exa mple"}).first, 1);
    EXPECT_EQ(QSettings(ini, QSettings::IniFormat).value("endpoint"), gateway.endpoint().c_str());
    EXPECT_EQ(run({"configure", "--interval", "x"}).first, 2);
}
