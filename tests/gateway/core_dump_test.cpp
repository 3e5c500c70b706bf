// A program that holds the gateway key leaves no core file behind when it crashes.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_dir.h"
#include "support/test_gateway.h"

extern char** environ;

using namespace std::chrono_literals;
using namespace tessel;
namespace fs = std::filesystem;

namespace {

// Runs `argv` (cores allowed) and aborts it at the handshake `gateway` holds: mid-cycle.
bool abortWhileAsking(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& input, const fs::path& dir,
                      const test::TestGateway& gateway, int& status) {
    std::vector<std::string> envText(env);
    for (char** e = environ; *e; ++e)
        envText.emplace_back(*e); // the first of a name wins in getenv
    std::vector<char*> args, envp;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : envText)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    int pipe[2];
    if (::pipe(pipe) != 0)
        return false;
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::dup2(pipe[0], 0);
        ::close(pipe[0]);
        ::close(pipe[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        rlimit core{};
        ::getrlimit(RLIMIT_CORE, &core);
        core.rlim_cur = core.rlim_max;
        ::setrlimit(RLIMIT_CORE, &core);
        if (::chdir(dir.c_str()) == 0)
            ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(pipe[0]);
    [[maybe_unused]] const ssize_t written = ::write(pipe[1], input.data(), input.size());
    ::close(pipe[1]);
    bool asked = false;
    for (int i = 0; pid > 0 && !asked && i < 6000; ++i) {
        asked = gateway.requestCount("api/hello") > 0;
        ::usleep(10000);
    }
    if (pid > 0) {
        ::kill(pid, SIGABRT);
        ::waitpid(pid, &status, 0);
    }
    return asked;
}

void expectNoCore(int status, const fs::path& dir) {
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(WCOREDUMP(status));
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        EXPECT_NE(entry.path().filename().string().rfind("core", 0), 0u) << entry.path();
}

class CoreDump : public ::testing::Test {
protected:
    void SetUp() override {
        gateway.on("api/hello", test::Route::json(R"({"name":"tessel","version":"1"})", 200, 600s));
        rlimit core{};
        ASSERT_EQ(::getrlimit(RLIMIT_CORE, &core), 0);
        if (core.rlim_max == 0)
            GTEST_SKIP() << "core files are switched off for this user";
    }
    test::TempDir dir;
    test::TestGateway gateway;
};

} // namespace

TEST_F(CoreDump, TesselctlHoldingAKeyDumpsNoCore) {
    int status = 0;
    ASSERT_TRUE(abortWhileAsking(
        {TESSELCTL_PATH, "fetch", "--endpoint", gateway.endpoint(), "--token-stdin", "hello"}, {},
        "sk-core-dump-test\n", dir.path(), gateway, status));
    expectNoCore(status, dir.path());
}

#ifdef TESSELWIDGET_PATH
// Without a tray the application opens its dashboard, which starts the first cycle.
TEST_F(CoreDump, ApplicationInACycleDumpsNoCore) {
    dir.write("config/quorvane/TesselWidget.ini",
              "[General]\nendpoint=" + gateway.endpoint() + "\n");
    fs::create_directories(dir.path() / "run");
    fs::permissions(dir.path() / "run", fs::perms::owner_all);
    const std::string home = dir.path().string();
    int status = 0;
    ASSERT_TRUE(
        abortWhileAsking({TESSELWIDGET_PATH},
                         {"XDG_CONFIG_HOME=" + home + "/config", "XDG_DATA_HOME=" + home + "/data",
                          "XDG_RUNTIME_DIR=" + home + "/run", "QT_QPA_PLATFORM=offscreen"},
                         "", dir.path(), gateway, status));
    expectNoCore(status, dir.path());
}
#endif
