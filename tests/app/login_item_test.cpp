// The autostart entry on a temporary XDG_CONFIG_HOME: register, status, unregister, failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <sys/stat.h>

#include "app/login_item.h"
#include "support/temp_dir.h"

using namespace tessel;
namespace fs = std::filesystem;

namespace {

class LoginItemTest : public ::testing::Test {
protected:
    fs::path entry() const { return dir.path() / "config/autostart" / LoginItem::fileName; }
    std::string entryText() const {
        std::ifstream in(entry());
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    test::TempDir dir;
    test::ScopedEnv config{"XDG_CONFIG_HOME", (dir.path() / "config").string()};
};

TEST_F(LoginItemTest, RegisterWritesAnEnabledQuotedEntryAndUnregisterRemovesIt) {
    EXPECT_EQ(LoginItem::status(), LoginItem::Status::NotRegistered);
    const mode_t umask = ::umask(0); // the user's alone, whatever the umask
    LoginItem::registerItem(QStringLiteral("/home/a b/100%/x\"$`\\y/TesselWidget"));
    ::umask(umask);
    const std::string text = entryText();
    // Exec quoting escapes " $ ` \, then the string level doubles every backslash; % doubles.
    EXPECT_NE(text.find("Exec=\"/home/a b/100%%/x\\\\\"\\\\$\\\\`\\\\\\\\y/TesselWidget\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Type=Application\n"), std::string::npos);
    EXPECT_EQ(fs::status(entry()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(entry().parent_path()).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(dir.path() / "config").permissions(), fs::perms::owner_all);
    EXPECT_EQ(LoginItem::status(), LoginItem::Status::Enabled);

    LoginItem::unregisterItem();
    EXPECT_FALSE(fs::exists(entry()));
    EXPECT_EQ(LoginItem::status(), LoginItem::Status::NotRegistered);
    EXPECT_NO_THROW(LoginItem::unregisterItem()); // already gone counts as done
    EXPECT_THROW(LoginItem::registerItem(QStringLiteral("/bin/x\nHidden=true")), LoginItem::Error);

    // Disabled or hidden entries are not enabled.
    const auto status = [&](const std::string& keys) {
        dir.write(fs::path("config/autostart") / LoginItem::fileName, "[Desktop Entry]\n" + keys);
        return LoginItem::status();
    };
    EXPECT_EQ(status("Type=Application\nExec=x\nHidden=true\n"), LoginItem::Status::NotRegistered);
    EXPECT_EQ(status("Exec=x\nX-GNOME-Autostart-enabled=false\n"),
              LoginItem::Status::NotRegistered);
    // Keys of an action group do not count for the entry.
    EXPECT_EQ(status("Exec=x\n[Desktop Action a]\nHidden=true\n"), LoginItem::Status::Enabled);
}

TEST_F(LoginItemTest, FailuresGiveTheMessageAndTheRealState) {
    // A file where the directory should be: no user (root included) can create the entry.
    dir.write("config/autostart", "not a directory");
    QString message;
    EXPECT_FALSE(LoginItem::apply(true, QStringLiteral("/usr/bin/TesselWidget"), message));
    EXPECT_TRUE(message.startsWith(QStringLiteral("登录项设置失败："))) << message.toStdString();
    EXPECT_GT(message.size(), QStringLiteral("登录项设置失败：").size());

    fs::remove(dir.path() / "config/autostart");
    message.clear();
    EXPECT_TRUE(LoginItem::apply(true, QStringLiteral("/usr/bin/TesselWidget"), message));
    EXPECT_TRUE(message.isEmpty());

    // An entry that cannot be removed: the switch stays on, because the status still says so.
    if (geteuid() != 0) {
        fs::permissions(dir.path() / "config/autostart",
                        fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_TRUE(LoginItem::apply(false, {}, message));
        EXPECT_TRUE(message.startsWith(QStringLiteral("登录项设置失败：")));
        fs::permissions(dir.path() / "config/autostart", fs::perms::owner_all);
    }
    EXPECT_FALSE(LoginItem::apply(false, {}, message));

    // Without a home: refused with a reason.
    test::ScopedEnv noConfig{"XDG_CONFIG_HOME", std::nullopt}, noHome{"HOME", std::nullopt};
    EXPECT_TRUE(LoginItem::entryPath().isEmpty());
    EXPECT_EQ(LoginItem::status(), LoginItem::Status::NotRegistered);
    message.clear();
    EXPECT_FALSE(LoginItem::apply(true, QStringLiteral("/usr/bin/TesselWidget"), message));
    EXPECT_TRUE(message.startsWith(QStringLiteral("登录项设置失败：")));
}

} // namespace
