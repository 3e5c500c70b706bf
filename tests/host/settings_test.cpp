// The host's settings file: what a restart gets back, and what survives hand-editing.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QSettings>

#include <sys/stat.h>

#include "host/host_settings.h"
#include "support/temp_dir.h"

using namespace tessel;
using namespace tessel::host;

TEST(HostSettings, RoundTripPrivately) {
    test::TempDir dir;
    const auto file = dir.path() / "quorvane" / "tessel-widget-host.ini";
    const QString path = QString::fromStdString(file.string());
    PlacedWidget w{"a1",
                   "TesselDesktopWidget",
                   "medium",
                   {-300, 40},
                   "HDMI-1",
                   QJsonObject{{"followsAppSettings", false},
                               {"subscriptions", QJsonArray{"b|x||", "a|y||"}},
                               {"metric", "cost"}}};
    PlacedWidget v{"b2", "TesselDesktopWidget", "small", {10, 20}, "", {}};
    ASSERT_TRUE(HostSettings::save(path, {w, v}));
    EXPECT_EQ(test::modeOf(file), 0600u);
    EXPECT_EQ(test::modeOf(file.parent_path()), 0700u);

    const QList<PlacedWidget> back = HostSettings::load(path);
    ASSERT_EQ(back.size(), 2);
    EXPECT_EQ(back[0].id, "a1");
    EXPECT_EQ(back[0].family, "medium");
    EXPECT_EQ(back[0].position, QPoint(-300, 40));
    EXPECT_EQ(back[0].screen, "HDMI-1");
    EXPECT_EQ(back[0].configuration, w.configuration);
    EXPECT_EQ(back[1].position, QPoint(10, 20));
    EXPECT_TRUE(back[1].configuration.isEmpty());
    // An empty chosen list differs from none chosen and must survive as such.
    w.configuration = {{"subscriptions", QJsonArray{}}};
    ASSERT_TRUE(HostSettings::save(path, {w}));
    EXPECT_TRUE(HostSettings::load(path)[0].configuration.value("subscriptions").isArray());

    // A dotfile manager's link stays; the file it leads to is replaced whole and kept private.
    const auto target = dir.write("dotfiles/host.ini", "");
    std::filesystem::permissions(target, std::filesystem::perms(0644));
    std::filesystem::remove(file);
    std::filesystem::create_symlink("../dotfiles/host.ini", file);
    struct stat before {};
    ASSERT_EQ(::stat(target.c_str(), &before), 0);
    ASSERT_TRUE(HostSettings::save(path, {v}));
    EXPECT_TRUE(std::filesystem::is_symlink(file));
    struct stat after {};
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(test::modeOf(target), 0600u);
    EXPECT_EQ(HostSettings::load(path)[0].id, "b2");
    // A link that leads to no regular file of the user's is not written through.
    std::filesystem::remove(file);
    std::filesystem::create_symlink("../dotfiles/gone.ini", file);
    EXPECT_FALSE(HostSettings::save(path, {v}));
    EXPECT_TRUE(std::filesystem::is_symlink(file));
}

TEST(HostSettings, HandEditedFileKeepsWhatItCan) {
    test::TempDir dir;
    const QString path = QString::fromStdString(dir.path().string()) + "/host.ini";
    {
        QSettings s(path, QSettings::IniFormat);
        s.beginWriteArray("widgets", 200);
        for (int i = 0; i < 200; ++i) {
            s.setArrayIndex(i);
            s.setValue("id", i == 1 ? QString("w0") : QString("w%1").arg(i));
            s.setValue("kind", i == 2 ? QString() : QString("TesselDesktopWidget"));
            s.setValue("family", i == 3 ? QString("huge") : QString("small"));
            s.setValue("x", i == 4 ? QString("left") : QString::number(i));
            s.setValue("configuration", i == 5 ? QString("{not json") : QString("{}"));
        }
        s.endArray();
    }
    QStringList problems;
    const QList<PlacedWidget> widgets = HostSettings::load(path, &problems);
    // Repeated id, no kind and unknown family dropped; the rest up to the limit.
    ASSERT_EQ(widgets.size(), HostSettings::maxWidgets);
    EXPECT_EQ(widgets[0].id, "w0");
    EXPECT_EQ(widgets[1].id, "w4");
    EXPECT_EQ(widgets[1].position.x(), 0);
    EXPECT_TRUE(widgets[2].configuration.isEmpty());
    EXPECT_EQ(problems.size(), 4);

    QFile garbage(path);
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("\x00\xff[widgets\nsize=banana\n1\\id=\n", 30);
    garbage.close();
    EXPECT_TRUE(HostSettings::load(path).isEmpty());

    // Thousands of unusable records make a handful of lines.
    std::string broken = "[widgets]\nsize=5000\n";
    for (int i = 1; i <= 5000; ++i)
        broken += std::to_string(i) + "\\family=small\n";
    dir.write("host.ini", broken);
    problems.clear();
    EXPECT_TRUE(HostSettings::load(path, &problems).isEmpty());
    ASSERT_LE(problems.size(), 8);
    EXPECT_TRUE(problems.last().contains("4995")) << problems.last().toStdString();

    // A size that claims billions costs what the records there cost; a huge file is not read.
    dir.write("host.ini", "[widgets]\nsize=2000000000\n7\\id=a\n7\\kind=K\n7\\family=small\n");
    const QList<PlacedWidget> one = HostSettings::load(path);
    ASSERT_EQ(one.size(), 1);
    EXPECT_EQ(one[0].id, "a");
    dir.write("host.ini", "[widgets]\nsize=1\n1\\id=a\n1\\kind=K\n1\\family=small\n" +
                              std::string(HostSettings::maxFileBytes, '#'));
    problems.clear();
    EXPECT_TRUE(HostSettings::load(path, &problems).isEmpty());
    EXPECT_EQ(problems.size(), 1);
}
