// Version order, feed parsing, and the controller fetching feeds from the test gateway.
#include <gtest/gtest.h>

#include <QSignalSpy>

#include "app/update_controller.h"
#include "app/update_feed.h"
#include "support/app_fixture.h"

using namespace tessel;
using Kind = UpdateController::Result::Kind;

namespace {

std::string feed(const std::string& items) {
    return "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>t</title>" + items +
           "</channel></rss>";
}

std::string item(const std::string& version, const std::string& extra = {}) {
    return "<item><title>Tessel Widget " + version + "</title><version>" + version + "</version>" +
           extra + "</item>";
}

TEST(Versions, OrderNumbersPrereleasesAndRejectGarbage) {
    using UpdateFeed::compareVersions;
    EXPECT_EQ(compareVersions(u"0.10.0", u"0.9.9"), 1);
    EXPECT_EQ(compareVersions(u"1.2", u"1.2.0"), 0);
    EXPECT_EQ(compareVersions(u"v1.2.0", u"1.2.0+build7"), 0);
    EXPECT_EQ(compareVersions(u"1.2.0-beta.2", u"1.2.0"), -1);
    EXPECT_EQ(compareVersions(u"1.2.0-beta.10", u"1.2.0-beta.9"), 1);
    EXPECT_EQ(compareVersions(u"1.2.0-beta", u"1.2.0-alpha"), 1);
    EXPECT_EQ(compareVersions(u"1.2.0-1", u"1.2.0-alpha"), -1);
    EXPECT_EQ(compareVersions(u"1.2.0-rc", u"1.2.0-rc.1"), -1);
    EXPECT_EQ(compareVersions(u"99999999999999999999999.0", u"99999999999999999999998.9"), 1);
    for (const char16_t* bad : {u"", u"1..2", u"1.x", u"latest", u"1.2-", u"١.٢"})
        EXPECT_EQ(compareVersions(bad, u"1.0"), std::nullopt);
}

TEST(Feed, ParsesItemsAndKeepsOnlySafeLinks) {
    const auto releases = UpdateFeed::parse(QByteArray::fromStdString(
        feed(item("0.2.0", "<description>修复 &amp; 改进</description>"
                           "<enclosure url=\"https://example.org/t-0.2.0.tar.gz\"/>") +
             "<item><title>x</title><enclosure url=\"https://example.org/x\" "
             "version=\"0.3.0\"/></item>" +
             item("0.4.0", "<link>javascript:alert(1)</link>") + item("not-a-version") +
             item("0.5.0", "<link>file:///etc/passwd</link>"))));
    ASSERT_EQ(releases.size(), 4u);
    EXPECT_EQ(releases[0].notes, QStringLiteral("修复 & 改进"));
    EXPECT_EQ(releases[0].download, QUrl("https://example.org/t-0.2.0.tar.gz"));
    EXPECT_EQ(releases[1].version, QStringLiteral("0.3.0"));
    EXPECT_TRUE(releases[2].download.isEmpty());
    EXPECT_TRUE(releases[3].download.isEmpty());
    EXPECT_EQ(UpdateFeed::newer(releases, u"0.1.0")->version, QStringLiteral("0.5.0"));
    EXPECT_FALSE(UpdateFeed::newer(releases, u"0.5.0").has_value());

    for (const char* bad : {"", "<rss><channel><item>", "<html></html>", "{\"version\":1}",
                            "<rss version=\"2.0\"></rss>"})
        EXPECT_THROW(UpdateFeed::parse(bad), UpdateFeed::FeedError) << bad;
}

class Updates : public ::testing::Test {
protected:
    void SetUp() override { test::app(); }
    UpdateController::Result check(const std::string& path, const QString& current = "0.1.0") {
        return run(QString::fromStdString(gateway.endpoint() + "/" + path), current);
    }
    UpdateController::Result run(const QString& url, const QString& current = "0.1.0") {
        UpdateController controller(url, current);
        controller.setTimeout(std::chrono::milliseconds(3000));
        QSignalSpy done(&controller, &UpdateController::finished);
        controller.check();
        EXPECT_TRUE(controller.checking());
        controller.check(); // ignored while one runs
        EXPECT_TRUE(done.wait(10000));
        EXPECT_EQ(done.count(), 1);
        EXPECT_FALSE(controller.checking());
        return done.isEmpty() ? UpdateController::Result{}
                              : done.first().first().value<UpdateController::Result>();
    }
    test::TestGateway gateway;
};

TEST_F(Updates, NewerSameAndOlderFeedsAndFailuresSayWhatWentWrong) {
    test::Route rss = test::Route::json(
        feed(item("0.1.5") + item("0.2.0", "<enclosure url=\"https://e.org/t\"/>")));
    rss.contentType = "application/rss+xml";
    gateway.on("feed.xml", rss);
    UpdateController::Result r = check("feed.xml");
    EXPECT_EQ(r.kind, Kind::Available);
    ASSERT_TRUE(r.release.has_value());
    EXPECT_EQ(r.release->version, QStringLiteral("0.2.0"));
    EXPECT_EQ(r.release->download, QUrl("https://e.org/t"));
    EXPECT_EQ(r.message, QStringLiteral("Tessel Widget 0.2.0 已发布，当前版本为 0.1.0。"));

    EXPECT_EQ(check("feed.xml", "0.2.0").kind, Kind::UpToDate);
    EXPECT_EQ(check("feed.xml", "1.0.0").kind, Kind::UpToDate);
    EXPECT_EQ(gateway.requests().front().header("User-Agent").value_or(""), "TesselWidget/0.1.0");

    // Failures say what went wrong.
    gateway.on("broken.xml", test::Route::json("<rss><channel><item>"));
    test::Route huge;
    huge.bodySize = 3 * 1024 * 1024;
    gateway.on("huge.xml", huge);
    const auto starts = [](const UpdateController::Result& r, const QString& text) {
        return r.kind == Kind::Failed && r.message == QStringLiteral("检查更新失败：") + text;
    };
    EXPECT_TRUE(starts(check("missing.xml"), QStringLiteral("更新服务器返回错误（HTTP 404）。")));
    EXPECT_TRUE(starts(check("broken.xml"), QStringLiteral("更新源格式无效。")));
    EXPECT_TRUE(starts(check("huge.xml"), QStringLiteral("更新源过大。")));

    // No feed, or one that is no web address: answered at once.
    for (const QString& url : {QString(), QStringLiteral("file:///etc/passwd")}) {
        UpdateController controller(url, QStringLiteral("0.1.0"));
        QSignalSpy done(&controller, &UpdateController::finished);
        controller.check();
        ASSERT_EQ(done.count(), 1);
        const auto result = done.first().first().value<UpdateController::Result>();
        EXPECT_EQ(result.kind, url.isEmpty() ? Kind::NoFeed : Kind::Failed);
        // Without a feed the package manager updates the build: no failure is reported.
        if (url.isEmpty()) {
            EXPECT_EQ(result.message,
                      QStringLiteral("此版本通过系统的软件包管理器更新，请在那里检查更新。"));
        }
    }

    EXPECT_EQ(
        run(QStringLiteral("http://127.0.0.1:%1/feed.xml").arg(test::TestGateway::closedPort()))
            .message,
        QStringLiteral("检查更新失败：无法连接更新服务器。"));
}

} // namespace
