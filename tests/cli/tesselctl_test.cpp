// tesselctl as a real second process on a container in a temporary directory, beside an
// in-process service that shares its files.
#include <gtest/gtest.h>

#include <QProcess>
#include <QSettings>

#include <QCoro/QCoroTask>

#include <fstream>

#include <nlohmann/json.hpp>

#include "model/wire.h"
#include "storage/container.h"
#include "storage/snapshot_store.h"
#include "support/app_fixture.h"
#include "sync/data_sync_service.h"
#include "sync/menu_title.h"
#include "tools/sample-gateway/sample_data.h"

using namespace std::chrono_literals;
using namespace tessel;

namespace {

class Tesselctl : public ::testing::Test {
protected:
    void SetUp() override {
        test::app();
        env.insert("XDG_CONFIG_HOME", config.c_str());
        env.insert("XDG_DATA_HOME", data.c_str());
    }
    void start(QProcess& process, const QStringList& args) const {
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(TESSELCTL), args);
    }
    // -1 for a crash or a hang.
    static std::pair<int, std::string> finish(QProcess& process) {
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(2000);
        }
        const bool exited = process.exitStatus() == QProcess::NormalExit;
        return {exited ? process.exitCode() : -1, process.readAllStandardOutput().toStdString()};
    }
    std::pair<int, std::string> run(const QStringList& args) const {
        QProcess process;
        start(process, args);
        return finish(process);
    }

    test::TempDir dir;
    const std::filesystem::path config = dir.path() / "config", data = dir.path() / "data";
    const std::filesystem::path container = data / SharedContainer::groupID();
    const QString ini = QString::fromStdString((config / "quorvane/TesselWidget.ini").string());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

} // namespace

TEST_F(Tesselctl, SnapshotPrintsWhatTheStoreLoadsAndRejectsArguments) {
    EXPECT_EQ(run({"snapshot"}), std::pair(0, Wire::encode(Snapshot{}) + "\n"));

    // A damaged current file: the command shows the backup, as the widgets would.
    Snapshot first;
    first.endpoint = "http://127.0.0.1:3425";
    SnapshotStore(container).save(first);
    SnapshotStore(container).save(first);
    std::ofstream(container / "snapshot.json", std::ios::trunc) << "{broken";
    EXPECT_EQ(run({"snapshot"}), std::pair(0, Wire::encode(first) + "\n"));
    EXPECT_EQ(run({"snapshot", "--all"}).first, 2);
}

TEST_F(Tesselctl, RefreshBesideARunningServiceStatusAndExitCodes) {
    test::TestGateway gateway;
    gateway.serveSample();
    QSettings(ini, QSettings::IniFormat).setValue("endpoint", gateway.endpoint().c_str());

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
