// A program that holds the gateway key leaves no core file behind when it crashes.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"
#include "support/test_gateway.h"

using namespace std::chrono_literals;
using namespace tessel;
namespace fs = std::filesystem;

TEST(CoreDump, TesselctlHoldingAKeyDumpsNoCore) {
    rlimit core{};
    ASSERT_EQ(::getrlimit(RLIMIT_CORE, &core), 0);
    if (core.rlim_max == 0)
        GTEST_SKIP() << "core files are switched off for this user";

    // The handshake is held until the process is gone, so it dies holding the key.
    std::mutex mutex;
    std::condition_variable changed;
    bool arrived = false;
    bool released = false;
    test::TestGateway gateway;
    gateway.on("api/hello", [&](const test::RecordedRequest&) {
        std::unique_lock lock(mutex);
        arrived = true;
        changed.notify_all();
        changed.wait_for(lock, 60s, [&] { return released; });
        return test::Route::json(R"({"name":"tessel","version":"1"})");
    });
    auto release = [&] {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    };

    test::TempDir dir;
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    const std::string endpoint = gateway.endpoint();
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::dup2(input[0], 0);
        ::close(input[0]);
        ::close(input[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        const rlimit unlimited{core.rlim_max, core.rlim_max};
        ::setrlimit(RLIMIT_CORE, &unlimited);
        if (::chdir(dir.path().c_str()) != 0)
            ::_exit(127);
        ::execl(TESSELCTL_PATH, "tesselctl", "fetch", "--endpoint", endpoint.c_str(),
                "--token-stdin", "hello", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(input[0]);
    const char key[] = "sk-core-dump-test\n";
    ASSERT_EQ(::write(input[1], key, sizeof key - 1), ssize_t(sizeof key - 1));
    ::close(input[1]);

    {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, 60s, [&] { return arrived; });
    }
    const bool asked = arrived;
    ::kill(pid, SIGABRT);
    int status = 0;
    ::waitpid(pid, &status, 0);
    release();

    ASSERT_TRUE(asked) << "tesselctl never sent its request";
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(WCOREDUMP(status));
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().filename().string().rfind("core", 0), 0u) << entry.path();
}
