// tesselctl as a real process against the test gateway, beside a service sharing its files.
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
    struct Result {
        int status; // -1 for a crash or a hang
        std::string out;
        std::string err;
    };
    void start(QProcess& process, const QStringList& args, const std::string& input = {}) const {
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(TESSELCTL), args);
        process.write(input.data(), qint64(input.size()));
        process.closeWriteChannel();
    }
    static Result finish(QProcess& process) {
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished(2000);
        }
        const bool exited = process.exitStatus() == QProcess::NormalExit;
        return {exited ? process.exitCode() : -1, process.readAllStandardOutput().toStdString(),
                process.readAllStandardError().toStdString()};
    }
    Result run(const QString& args, const std::string& input = {}) const {
        QProcess process;
        start(process, QProcess::splitCommand(args), input);
        return finish(process);
    }

    test::TempDir dir;
    const std::filesystem::path config = dir.path() / "config", data = dir.path() / "data";
    const std::filesystem::path container = data / SharedContainer::groupID();
    const QString ini = QString::fromStdString((config / "quorvane/TesselWidget.ini").string());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

} // namespace

TEST_F(Tesselctl, ValidateFetchAndSnapshotAnswerByExitStatus) {
    EXPECT_EQ(run("validate http://localhost:9000/").out, "http://localhost:9000/\n");
    const Result remote = run("validate http://192.168.1.20:3425");
    EXPECT_EQ(std::tie(remote.status, remote.err), std::tuple(1, "远程 Gateway 需要 HTTPS。\n"));
    EXPECT_EQ(run("validate").status, 2);

    // The key comes from standard input only, never from the command line.
    test::TestGateway gateway;
    gateway.serveSample();
    const QString endpoint = QString::fromStdString(gateway.endpoint());
    const Result hello = run("fetch --endpoint " + endpoint + " --token-stdin hello", "s3cret\n");
    EXPECT_EQ(hello.status, 0) << hello.err;
    EXPECT_EQ(hello.out, "{\"name\":\"tessel\",\"version\":\"1.4.2\"}\n");
    EXPECT_EQ(gateway.requests().at(0).header("Authorization"), "Bearer s3cret");
    const Result usage = run("fetch --endpoint " + endpoint + " usage week");
    EXPECT_EQ(usage.out.rfind("{\"period\":\"7d\"", 0), 0u) << usage.err;
    EXPECT_EQ(gateway.requests().back().header("Authorization"), std::nullopt);
    // Without --endpoint: the configured address, as the application uses it.
    QSettings(ini, QSettings::IniFormat).setValue(AppSettings::endpoint.key(), endpoint);
    const std::size_t asked = gateway.requestCount("v1/tessel/quotas");
    EXPECT_EQ(run("fetch quotas").status, 0);
    EXPECT_EQ(gateway.requestCount("v1/tessel/quotas"), asked + 1);

    const Result down = run(QStringLiteral("fetch --endpoint http://127.0.0.1:%1 quotas")
                                .arg(test::TestGateway::closedPort()));
    EXPECT_EQ(std::tie(down.status, down.out, down.err),
              std::tuple(1, "", "网络连接失败（-1004），请确认 Tessel 正在运行。\n"));

    // Nothing synced yet is the normal first state, also to a bar that asks every few seconds.
    const Result empty = run("snapshot");
    EXPECT_EQ(empty.out, Wire::encode(Snapshot{}) + "\n");
    EXPECT_EQ(empty.err, "");
    const Result waiting = run("status");
    EXPECT_EQ(waiting.status, 0);
    EXPECT_EQ(waiting.err, "");

    // A damaged current file: the command shows the backup, as the widgets would.
    Snapshot first;
    first.endpoint = "http://127.0.0.1:3425";
    SnapshotStore(container).save(first);
    SnapshotStore(container).save(first);
    std::ofstream(container / "snapshot.json", std::ios::trunc) << "{broken";
    const Result shown = run("snapshot");
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out, Wire::encode(first) + "\n");
    EXPECT_EQ(run("snapshot --all").status, 2);
}

TEST_F(Tesselctl, RefreshBesideARunningServiceStatusAndExitCodes) {
    test::TestGateway gateway;
    gateway.serveSample();
    QSettings(ini, QSettings::IniFormat)
        .setValue(AppSettings::endpoint.key(), gateway.endpoint().c_str());
    // Before the first sync a bar shows the name alone, and no figure.
    auto line = nlohmann::json::parse(run("status --json").out);
    EXPECT_EQ(line.at("text"), "Tessel");
    EXPECT_FALSE(line.contains("percentage"));
    EXPECT_EQ(run("status --line").out, "Tessel · 等待同步\n");

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
    const Result synced = finish(other);
    EXPECT_EQ(std::tie(synced.status, synced.out), std::tuple(0, "已同步\n"));
    QCoro::waitFor(cycle);
    EXPECT_FALSE(service.snapshot().issue);
    EXPECT_EQ(gateway.requestCount("api/hello"), 2u);

    const Snapshot stored = SnapshotStore(container).load();
    ASSERT_GE(stored.quotas.size(), 2u); // a whole file, whichever writer came last
    // The second subscription: the tooltip must name the one the number is of.
    const std::string chosen = stored.quotas[1].id();
    QSettings(ini, QSettings::IniFormat).setValue(AppSettings::menuQuota.key(), chosen.c_str());
    const std::string title = menuBarTitle(stored, chosen);
    ASSERT_NE(title, "Tessel");
    line = nlohmann::json::parse(run("status --json").out);
    EXPECT_EQ(line.at("text"), "Tessel " + title);
    EXPECT_EQ(line.at("percentage"), std::stoi(title));
    EXPECT_EQ(line.at("tooltip"), menuBarSubscription(stored, chosen) + "\n已同步");
    EXPECT_EQ(line.at("class"), nlohmann::json::array({"ok"}));
    EXPECT_EQ(line.at("alt"), "ok");

    gateway.on("v1/tessel/usage", test::Route::json("{}", 500));
    const Result failed = run("refresh");
    EXPECT_EQ(failed.status, 1);
    // What failed is kept whole (a cycle reads only the stored parts its answers leave).
    EXPECT_EQ(SnapshotStore(container).load().usage.at("month").series->size(),
              stored.usage.at("month").series->size());
    EXPECT_NE(failed.out.find("离线 / 同步异常\ntoday："), std::string::npos) << failed.out;
    line = nlohmann::json::parse(run("status --json").out);
    EXPECT_EQ(line.at("class"), nlohmann::json::array({"offline", "issue"}));
    EXPECT_EQ(line.at("alt"), "offline");
    // The bar's tooltip says what went wrong; the one-line form fits a bar.
    EXPECT_NE(line.at("tooltip").get<std::string>().find("离线 / 同步异常\ntoday："),
              std::string::npos);
    EXPECT_EQ(run("status --line").out, "Tessel " + title + " · 离线 / 同步异常\n");

    // Below the share the application warns at, the bar gets its own class.
    Snapshot low = stored;
    low.issue.reset();
    low.updatedAt = std::chrono::system_clock::now();
    low.quotas[1].windows->front().remaining = 14.9;
    low.quotas[1].windows->front().unlimited.reset();
    SnapshotStore(container).save(low);
    line = nlohmann::json::parse(run("status --json").out);
    EXPECT_EQ(line.at("text"), "Tessel 14%");
    EXPECT_EQ(line.at("class"), nlohmann::json::array({"ok", "low"}));
    EXPECT_EQ(line.at("alt"), "low");
    EXPECT_EQ(run("configure --endpoint \"http://exa mple\"").status, 1);
    EXPECT_EQ(QSettings(ini, QSettings::IniFormat).value(AppSettings::endpoint.key()),
              gateway.endpoint().c_str());
    EXPECT_EQ(run("configure --interval x").status, 2);
}
