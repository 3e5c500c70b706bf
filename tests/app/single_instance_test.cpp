// The real program started twice with a private XDG_RUNTIME_DIR: the second start hands its URL
// to the first and exits; the first acts on it (seen at the test gateway it polls).
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <csignal>
#include <filesystem>
#include <unistd.h>

#include "app/single_instance.h"
#include "support/app_fixture.h"

using namespace tessel;
using test::spin;
namespace fs = std::filesystem;

namespace {

class Instances : public test::GatewayTest {
protected:
    void SetUp() override {
        GatewayTest::SetUp();
        setting(AppSettings::interval, 3600);
        fs::create_directories(runtime());
        fs::permissions(runtime(), fs::perms::owner_all, fs::perm_options::replace);
    }
    void TearDown() override {
        for (auto& p : processes)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
    }
    fs::path runtime() const { return dir.path() / "runtime"; }
    fs::path socket() const { return runtime() / "net.quorvane.TesselWidget.socket"; }
    fs::path snapshot() const {
        return dir.path() / "data/group.net.quorvane.TesselWidget/snapshot.json";
    }
    QProcess& launch(const QStringList& arguments) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString root = QString::fromStdString(dir.path().string());
        env.insert("HOME", root + "/home");
        env.insert("XDG_CONFIG_HOME", root + "/config");
        env.insert("XDG_DATA_HOME", root + "/data");
        env.insert("XDG_RUNTIME_DIR", root + "/runtime");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QStringLiteral(TESSELWIDGET), arguments);
        EXPECT_TRUE(p->waitForStarted(10000));
        processes.push_back(std::move(p));
        return *processes.back();
    }
    // A start that must hand over and leave with 0.
    void handOver(const QString& argument) {
        QProcess& second = launch({argument});
        EXPECT_TRUE(second.waitForFinished(15000)) << argument.left(40).toStdString();
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0) << argument.left(40).toStdString();
    }
    // The first instance has no tray here, so it opens the dashboard and polls once at start.
    QProcess& startFirst() {
        QProcess& first = launch({});
        EXPECT_TRUE(spin([&] { return fs::exists(snapshot()); }));
        EXPECT_TRUE(spin([&] { return fs::exists(socket()); }));
        EXPECT_EQ(gateway.requestCount("api/hello"), 1u);
        return first;
    }

    std::vector<std::unique_ptr<QProcess>> processes;
};

TEST_F(Instances, SecondStartHandsItsUrlOverAndExits) {
    QProcess& first = startFirst();
    handOver(QStringLiteral("tesselwidget://refresh"));
    EXPECT_TRUE(spin([&] { return gateway.requestCount("api/hello") == 2; }));

    // Odd arguments reach the running instance without harming it.
    handOver(QString::fromUtf8("\xff\xfe binary \x01"));
    handOver(QStringLiteral("tesselwidget://") + QString(100000, u'r'));
    handOver(QStringLiteral("https://refresh"));
    handOver(QString());
    ASSERT_EQ(first.state(), QProcess::Running);
    handOver(QStringLiteral("tesselwidget://refresh"));
    EXPECT_TRUE(spin([&] { return gateway.requestCount("api/hello") == 3; }));

    // A session's SIGTERM ends it normally.
    const auto pid = static_cast<pid_t>(first.processId());
    ASSERT_GT(pid, 0); // kill(0) would end the whole test run
    ::kill(pid, SIGTERM);
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
}

TEST_F(Instances, CrashedInstanceLeavesNothingInTheWay) {
    QProcess& first = startFirst();
    first.kill(); // SIGKILL: the socket file stays behind
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_TRUE(fs::exists(socket()));

    // The next start with a URL finds no one to hand it to and handles it itself.
    QProcess& next = launch({QStringLiteral("tesselwidget://refresh")});
    EXPECT_TRUE(spin([&] { return gateway.requestCount("api/hello") >= 2; }));
    EXPECT_EQ(next.state(), QProcess::Running);
    handOver(QStringLiteral("tesselwidget://usage"));
    EXPECT_EQ(next.state(), QProcess::Running);
}

TEST_F(Instances, NoRuntimeDirectoryOfOthers) {
    // A runtime directory that others may write is not trusted for the channel.
    test::ScopedEnv runtimeDir{"XDG_RUNTIME_DIR", runtime().string()};
    const fs::path fallback = "/tmp/tesselwidget-" + std::to_string(geteuid());
    const bool hadFallback = fs::exists(fallback);
    fs::permissions(runtime(), fs::perms::all, fs::perm_options::replace);
    const SingleInstance::Channel channel = SingleInstance::channel();
    EXPECT_EQ(channel.socketPath.rfind(runtime().string(), 0), std::string::npos);
    if (!hadFallback)
        fs::remove(fallback);
    fs::permissions(runtime(), fs::perms::owner_all, fs::perm_options::replace);
    EXPECT_EQ(SingleInstance::channel().socketPath, socket().string());
    EXPECT_EQ(SingleInstance::send(SingleInstance::channel(), "x", std::chrono::milliseconds(100)),
              SingleInstance::Handover::NoInstance);
}

} // namespace
