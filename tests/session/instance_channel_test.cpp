// The host runs on its own when the lock file cannot be made, but hands over when another
// process holds the lock: the two failures must stay apart.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <sys/un.h>
#include <unistd.h>

#include "session/instance_channel.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace tessel;

TEST(InstanceChannel, LockIsExclusiveAndTellsHeldFromBroken) {
    test::TempDir dir;
    fs::permissions(dir.path(), fs::perms::owner_all, fs::perm_options::replace);
    test::ScopedEnv runtime{"XDG_RUNTIME_DIR", dir.path().string()};

    const InstanceChannel channel = InstanceChannel::find("net.quorvane.Test");
    ASSERT_TRUE(channel.valid());
    EXPECT_EQ(channel.socketPath, (dir.path() / "net.quorvane.Test.socket").string());
    EXPECT_EQ(channel.lockPath, (dir.path() / "net.quorvane.Test.lock").string());

    const int held = channel.tryLock();
    ASSERT_GE(held, 0);
    // flock belongs to the open file, so a second open in this process is another claimant.
    errno = 0;
    EXPECT_EQ(channel.tryLock(), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    close(held);
    const int again = channel.tryLock();
    EXPECT_GE(again, 0);
    close(again);

    fs::create_directory(dir.path() / "net.quorvane.Broken.lock");
    errno = 0;
    EXPECT_EQ(InstanceChannel::find("net.quorvane.Broken").tryLock(), -1);
    EXPECT_NE(errno, EWOULDBLOCK);

    // A socket address holds at most sun_path bytes: a longer name is no channel at all.
    const std::string longName(sizeof(sockaddr_un::sun_path), 'x');
    EXPECT_FALSE(InstanceChannel::find(longName).valid());
}
