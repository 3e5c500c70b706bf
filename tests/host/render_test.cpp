// `tessel-widget-host render` over prepared shared files: --describe, the image, refusals.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "storage/container.h"
#include "storage/snapshot_store.h"
#include "support/app_fixture.h"

using namespace tessel;

namespace {

struct Result {
    int status = -1;
    QJsonObject json;
    QString error;
};

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::app();
        env.insert("XDG_DATA_HOME", root() + "/data");
        env.insert("XDG_CONFIG_HOME", root() + "/config");
        env.insert("TESSEL_WIDGET_PLUGIN_PATH", PLUGIN_DIR);
        env.insert("LC_ALL", "C.UTF-8");

        Snapshot s;
        s.updatedAt = std::chrono::system_clock::now();
        Quota alpha{.provider = "alpha", .name = "Alpha"};
        alpha.windows = std::vector<QuotaWindow>{{.name = "5h", .remaining = 64}};
        Quota beta{.provider = "beta", .name = "Beta", .plan = "Max"};
        beta.windows = std::vector<QuotaWindow>{{.name = "周", .used = 90}};
        s.quotas = {alpha, beta};
        Usage month{.period = "month", .calls = 12, .input = 1000, .output = 234, .cost = 3.5};
        month.series = std::vector<UsagePoint>{{.label = "a", .time = *s.updatedAt, .input = 5},
                                               {.label = "b", .time = *s.updatedAt, .input = 9}};
        s.usage["month"] = month;
        SnapshotStore(std::filesystem::path((root() + "/data").toStdString()) /
                      SharedContainer::groupID())
            .save(s);
    }
    QString root() const { return QString::fromStdString(dir.path().string()); }
    QString config(const QByteArray& json) {
        const auto name = "config-" + std::to_string(++configs) + ".json";
        return QString::fromStdString(dir.write(name, json.toStdString()).string());
    }
    Result run(const QStringList& arguments) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(HOST_BINARY, arguments);
        p.waitForFinished(60000);
        Result r{p.exitCode(), QJsonDocument::fromJson(p.readAllStandardOutput()).object(),
                 QString::fromUtf8(p.readAllStandardError())};
        return r;
    }
    Result describe(const QString& family, const QByteArray& configuration = {}) {
        QStringList arguments{"render", "--family", family, "--describe"};
        if (!configuration.isEmpty())
            arguments << "--config" << config(configuration);
        return run(arguments);
    }
    static QJsonObject item(const QJsonObject& description, const QString& role) {
        for (const QJsonValue& v : description["items"].toArray())
            if (v["role"] == role)
                return v.toObject();
        return {};
    }
    static QStringList texts(const QJsonObject& description) {
        QStringList out;
        for (const QJsonValue& v : description["items"].toArray())
            out.append(v["text"].toString());
        return out;
    }

    test::TempDir dir;
    int configs = 0;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

TEST_F(RenderTest, DescribesWhatAPlacedWidgetShows) {
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const Result small = describe("small");
    ASSERT_EQ(small.status, 0) << small.error.toStdString();
    EXPECT_EQ(small.json.keys(), QStringList({"family", "items", "kind", "reloadAfter", "url"}));
    EXPECT_EQ(small.json["kind"], "TesselDesktopWidget");
    EXPECT_EQ(small.json["family"], "small");
    EXPECT_EQ(small.json["url"], "tesselwidget://overview");
    const QDateTime after =
        QDateTime::fromString(small.json["reloadAfter"].toString(), Qt::ISODate);
    // Fresh data: asked again when the footer would turn stale.
    EXPECT_GE(before.secsTo(after), 179);
    EXPECT_LE(before.secsTo(after), 181);
    const QJsonObject link = item(small.json, "link");
    EXPECT_EQ(link["url"], "tesselwidget://refresh");
    EXPECT_EQ(link["accessibleName"], "打开应用并刷新");
    const QJsonObject button = item(small.json, "button");
    EXPECT_EQ(button["text"], "Alpha");
    EXPECT_EQ(button["accessibleName"], "Alpha，切换到下一个订阅");
    EXPECT_EQ(button["enabled"], true);
    EXPECT_FALSE(button.contains("url"));
    EXPECT_TRUE(texts(small.json).contains("64%"));

    const Result cost = describe("small", R"({"followsAppSettings": false, "metric": "cost",
                                             "period": "month"})");
    ASSERT_EQ(cost.status, 0) << cost.error.toStdString();
    EXPECT_EQ(cost.json["url"], "tesselwidget://usage");
    EXPECT_TRUE(texts(cost.json).contains("30 日"));
    EXPECT_TRUE(texts(cost.json).contains("估算费用 · USD"));

    // Own subscriptions: only Beta; a vanished one changes nothing.
    const Result medium = describe("medium", R"({"followsAppSettings": false,
                                                "subscriptions": ["|beta||", "|gone||"]})");
    ASSERT_EQ(medium.status, 0) << medium.error.toStdString();
    EXPECT_TRUE(texts(medium.json).join('\n').contains("Beta"));
    EXPECT_FALSE(texts(medium.json).join('\n').contains("Alpha"));

    const Result large = describe("large", R"({"followsAppSettings": false, "period": "month"})");
    ASSERT_EQ(large.status, 0) << large.error.toStdString();
    EXPECT_EQ(item(large.json, "chart")["accessibleName"], "Token 用量趋势");
    EXPECT_TRUE(texts(large.json).contains("30 日估算费用"));
}

TEST_F(RenderTest, WritesTheImageAtTheScaleAndTheme) {
    const QString light = root() + "/light.png", dark = root() + "/dark.png";
    ASSERT_EQ(
        run({"render", "--family", "medium", "--scale", "2", "--theme", "light", "--out", light})
            .status,
        0);
    ASSERT_EQ(run({"render", "--family", "medium", "--theme", "dark", "--out", dark}).status, 0);
    const QImage l(light), d(dark);
    EXPECT_EQ(l.size(), QSize(728, 340));
    EXPECT_EQ(d.size(), QSize(364, 170));
    EXPECT_GT(qGray(l.pixel(364, 300)), 180);
    EXPECT_LT(qGray(d.pixel(182, 150)), 80);

    // Standard output under its names, and a named pipe, are written as streams.
    for (const QString& out : {QStringLiteral("-"), QStringLiteral("/dev/stdout")}) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(HOST_BINARY, {"render", "--family", "small", "--out", out});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        EXPECT_EQ(QImage::fromData(p.readAllStandardOutput(), "PNG").size(), QSize(170, 170));
    }
    const QByteArray fifo = QFile::encodeName(root() + "/fifo");
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    // Open first, so the writer never waits; the small image fits the pipe's buffer.
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(run({"render", "--family", "small", "--out", root() + "/fifo"}).status, 0);
    QByteArray streamed(1 << 16, '\0');
    const ssize_t n = ::read(reader, streamed.data(), size_t(streamed.size()));
    ::close(reader);
    streamed.resize(std::max<ssize_t>(n, 0));
    EXPECT_EQ(QImage::fromData(streamed, "PNG").size(), QSize(170, 170));
    struct stat info {};
    ASSERT_EQ(::lstat(fifo.constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST_F(RenderTest, RefusesBadInputWithExitTwo) {
    const QStringList small{"render", "--family", "small", "--describe", "--config"};
    const QList<QStringList> bad = {
        {"render", "--family", "huge", "--describe"},
        small + QStringList{root() + "/missing.json"},
        small + QStringList{config("{\"metric\": ")},
        small + QStringList{config("[1]")},
        small + QStringList{config("{\"metric\": \"weekly\"}")},
        small + QStringList{config("{\"subscriptions\": [1]}")},
        {"render", "--family", "small", "--out", root() + "/no/such/dir/x.png"},
        {"render", "--family", "small", "--scale", "nan", "--describe"},
    };
    for (const QStringList& arguments : bad) {
        const Result r = run(arguments);
        EXPECT_EQ(r.status, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(r.error.contains("tessel-widget-host: ")) << r.error.toStdString();
        EXPECT_TRUE(r.json.isEmpty());
    }
    EXPECT_FALSE(QFile::exists(root() + "/no"));

    // Only a regular file or nothing is replaced; a link's target is never written through.
    const QString socketPath = root() + "/socket", link = root() + "/link.png";
    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(socketPath).constData(),
                 sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const auto target = dir.write("target.png", "mine");
    ASSERT_TRUE(QFile::link(QString::fromStdString(target.string()), link));
    for (const QString& out : {socketPath, link, QStringLiteral("-")}) {
        QStringList arguments{"render", "--family", "small", "--out", out};
        if (out == u"-")
            arguments << "--describe"; // both would go to standard output
        const Result r = run(arguments);
        EXPECT_EQ(r.status, 2) << out.toStdString();
        EXPECT_TRUE(r.error.contains("tessel-widget-host: ")) << r.error.toStdString();
    }
    ::close(listening);
    struct stat info {};
    ASSERT_EQ(::lstat(QFile::encodeName(socketPath).constData(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFile(QString::fromStdString(target.string())).size(), 4);

    const Result version = run({"--version"});
    EXPECT_EQ(version.status, 0);
}

} // namespace
