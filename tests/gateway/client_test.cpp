// The client against the test gateway and raw loopback peers, the endpoint rules, and a program
// that holds the gateway key leaving no core file behind when it crashes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "gateway/client.h"
#include "gateway/endpoint.h"
#include "gateway/errors.h"
#include "support/temp_dir.h"
#include "support/test_gateway.h"

extern char** environ;

using namespace tessel;
using namespace std::chrono_literals;
using tessel::test::Route;
using tessel::test::ScopedEnv;
using tessel::test::TempDir;
using tessel::test::TestGateway;

namespace fs = std::filesystem;

namespace {

// Short limits so that the time-out cases take about a second.
ClientOptions quick() {
    return {.requestTimeout = 1s, .resourceTimeout = 5s, .maxBodyBytes = 1 << 20};
}

std::string errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (...) {
        return safeError(std::current_exception());
    }
    return "no error";
}

std::optional<GatewayError> rejection(std::string_view text) {
    try {
        Endpoint::validate(text);
        return std::nullopt;
    } catch (const GatewayError& e) {
        return e;
    }
}

std::string lost(int code) {
    return "网络连接失败（" + std::to_string(code) + "），请确认 Tessel 正在运行。";
}

// A loopback peer that answers one connection with bytes that are not HTTP.
class RawPeer {
public:
    explicit RawPeer(std::string reply) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in addr{.sin_family = AF_INET,
                         .sin_port = 0,
                         .sin_addr = {htonl(INADDR_LOOPBACK)},
                         .sin_zero = {}};
        socklen_t len = sizeof addr;
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), len);
        listen(fd_, 1);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        endpoint = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
        thread_ = std::thread([this, reply] {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 5000) != 1)
                return;
            const int c = accept(fd_, nullptr, nullptr);
            char buffer[4096];
            (void)!read(c, buffer, sizeof buffer);
            (void)!write(c, reply.data(), reply.size());
            close(c);
        });
    }
    ~RawPeer() {
        thread_.join();
        close(fd_);
    }
    std::string endpoint;

private:
    int fd_;
    std::thread thread_;
};

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

TEST(Client, SendsOnlyItsTwoHeadersToOneJoinedUrl) {
    TestGateway gw;
    gw.serveHello();
    TesselClient(gw.endpoint(), std::nullopt).hello();
    TesselClient(gw.endpoint() + "/", "").hello();
    TesselClient(gw.endpoint(), " ").hello();
    TesselClient(gw.endpoint(), "k-1/+=").hello();

    const auto seen = gw.requests();
    ASSERT_EQ(seen.size(), 4u);
    for (const auto& r : seen) {
        EXPECT_EQ(r.method, "GET");
        EXPECT_EQ(r.path, "/api/hello"); // a trailing "/" on the endpoint adds no second slash
        EXPECT_FALSE(r.hasQuery);
        EXPECT_EQ(r.header("User-Agent"), "TesselWidget/1.0");
        for (const char* absent : {"Accept", "Cookie", "Accept-Encoding"})
            EXPECT_EQ(r.header(absent), std::nullopt) << absent;
    }
    EXPECT_EQ(seen[0].header("Authorization"), std::nullopt);
    EXPECT_EQ(seen[1].header("Authorization"), std::nullopt);
    // A key of one space is still a key (the server trims the trailing space off the line).
    EXPECT_EQ(seen[2].header("Authorization"), "Bearer");
    EXPECT_EQ(seen[3].header("Authorization"), "Bearer k-1/+=");
}

TEST(Client, EncodesQueryItemsAndRefusesKeysThatWouldSplitTheRequest) {
    TestGateway gw;
    gw.on("v1/tessel/usage", Route::json("{}"));
    TesselClient(gw.endpoint(), std::nullopt)
        .fetch("v1/tessel/usage", {{"period", "a b&c=d+e#f"}, {"x", "中"}});
    // Nothing that is not header text is sent, and the reason is the key store's own sentence.
    for (const char* key : {"key\r\nX-Injected: 1", "key\tx", "\x1b[2Jkey", "key\a", "key\x7f"})
        EXPECT_EQ(errorOf([&] { TesselClient(gw.endpoint(), key).hello(); }),
                  "Gateway 密钥不能包含换行符、制表符等控制字符。");

    const auto seen = gw.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].param("period"), "a b&c=d+e#f");
    EXPECT_EQ(seen[0].param("x"), "中");
    EXPECT_EQ(seen[0].params.size(), 2u);
}

TEST(Client, EveryStatusButOkFailsWithItsCode) {
    TestGateway gw, target;
    target.serveHello();
    gw.on("api/hello",
          Route{.status = 302, .headers = {{"Location", target.endpoint() + "/api/hello"}}});
    gw.on("v1/tessel/quotas", Route::json(R"({"error":"forbidden"})", 403));
    gw.on("empty", Route::json("", 204));
    gw.on("boom", Route::json(std::string(3 << 20, 'x'), 500)); // larger than the body limit
    const TesselClient client(gw.endpoint(), "secret", quick());

    EXPECT_EQ(errorOf([&] { client.hello(); }), "Gateway HTTP 302");
    EXPECT_EQ(target.requestCount(), 0u); // the key never reaches the redirect target
    EXPECT_EQ(errorOf([&] { client.fetch("v1/tessel/quotas"); }),
              "Gateway HTTP 403：网关密钥无权读取这些统计。");
    EXPECT_EQ(errorOf([&] { client.fetch("missing"); }),
              "Gateway HTTP 404：该 Tessel 版本不支持此接口。");
    EXPECT_EQ(errorOf([&] { client.fetch("empty"); }), "Gateway HTTP 204");
    EXPECT_EQ(errorOf([&] { client.fetch("boom"); }), "Gateway HTTP 500");
}

TEST(Client, HandshakeAcceptsOnlyTheGateway) {
    TestGateway gw;
    const TesselClient client(gw.endpoint(), std::nullopt);
    auto answer = [&](std::string body) {
        gw.on("api/hello", Route::json(std::move(body)));
        return errorOf([&] { EXPECT_EQ(client.hello().version, "2.0.1-beta"); });
    };
    EXPECT_EQ(answer(R"({"name":"tessel","version":"2.0.1-beta","extra":[1]})"), "no error");
    EXPECT_EQ(answer(R"({"name":"Tessel","version":"1"})"), "该服务不是 Tessel。");
    const std::string incompatible = "响应格式不兼容，保留上次有效数据。";
    EXPECT_EQ(answer(R"({"name":"tessel"})"), incompatible);
    EXPECT_EQ(answer(R"({"name":"tessel","version":2})"), incompatible);
    EXPECT_EQ(answer("<html>gateway</html>"), incompatible);

    RawPeer peer("SSH-2.0-OpenSSH_9.2\r\n");
    EXPECT_EQ(errorOf([&] { TesselClient(peer.endpoint, std::nullopt).hello(); }),
              "该服务不是 Tessel。");
}

TEST(Client, TransportFailuresAndOversizeCarryTheirLoadingCodes) {
    const std::string closed = "http://127.0.0.1:" + std::to_string(TestGateway::closedPort());
    EXPECT_EQ(errorOf([&] { TesselClient(closed, std::nullopt, quick()).hello(); }), lost(-1004));

    TestGateway gw;
    const std::string spaces(4000, ' ');
    gw.on("slow", Route{.body = R"({"name":"tessel","version":"1"})", .delay = 3s});
    gw.on("stall", Route{.body = spaces, .stallAfter = 100, .stallFor = 3s});
    gw.on("cut", Route{.body = spaces, .closeAfter = 1000});
    gw.on("silent", Route{.body = "{}", .closeAfter = 0});
    const TesselClient client(gw.endpoint(), std::nullopt, quick());
    EXPECT_EQ(errorOf([&] { client.fetch("slow"); }), lost(-1001));
    EXPECT_EQ(errorOf([&] { client.fetch("stall"); }), lost(-1001));
    EXPECT_EQ(errorOf([&] { client.fetch("cut"); }), lost(-1005));
    EXPECT_EQ(errorOf([&] { client.fetch("silent"); }), lost(-1005));

    // A plain HTTP peer behind an https endpoint fails the TLS handshake.
    const std::string tls = "https://127.0.0.1:" + std::to_string(gw.port());
    EXPECT_EQ(errorOf([&] { TesselClient(tls, std::nullopt, quick()).fetch("slow"); }),
              lost(-1200));

    // Steady data within the stall limit is still cut by the limit of the whole exchange.
    const TesselClient patient(gw.endpoint(), std::nullopt,
                               {.requestTimeout = 10s, .resourceTimeout = 1s});
    EXPECT_EQ(errorOf([&] { patient.fetch("stall"); }), lost(-1001));

    // Oversized answers are cut off at the limit.
    gw.on("declared", Route{.bodySize = (1u << 20) + 1});
    gw.on("endless", Route{.endless = true}); // no length up front: only the write side can stop it
    gw.on("exact", Route{.bodySize = 1u << 20});
    EXPECT_EQ(errorOf([&] { client.fetch("declared"); }), lost(-1103));
    EXPECT_EQ(errorOf([&] { client.fetch("endless"); }), lost(-1103));
    EXPECT_EQ(client.fetch("exact").size(), 1u << 20);
}

TEST(Client, LocalGatewaysBypassAnyProxy) {
    TestGateway gw, proxy;
    gw.serveHello();
    proxy.serveHello();
    const std::string via = proxy.endpoint();
    ScopedEnv a("http_proxy", via), b("HTTP_PROXY", via), c("ALL_PROXY", via), d("all_proxy", via),
        e("no_proxy", std::nullopt), f("NO_PROXY", std::nullopt);
    for (const auto& endpoint : {gw.endpoint(), "http://localhost:" + std::to_string(gw.port())})
        EXPECT_NO_THROW(TesselClient(endpoint, "secret").hello()) << endpoint;
    EXPECT_EQ(gw.requestCount(), 2u);
    EXPECT_EQ(proxy.requestCount(), 0u);
}

TEST(Client, WorkerThreadsEachUseTheirOwnClient) {
    TestGateway gw;
    gw.serveHello();
    std::atomic<int> passed{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&] {
            const TesselClient client(gw.endpoint(), "k");
            for (int i = 0; i < 5; ++i)
                passed += client.hello().name == "tessel";
        });
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(passed, 20);
    EXPECT_EQ(gw.requestCount("api/hello"), 20u);
}

TEST(Endpoint, AcceptsOriginsThatMayCarryTheKeyAndRejectsStructureBeforeInsecurity) {
    EXPECT_EQ(Endpoint::validate("http://127.0.0.1:3425/").text, "http://127.0.0.1:3425/");
    const auto v6 = Endpoint::validate("http://[::1]:3425");
    EXPECT_EQ(v6.host, "::1");
    EXPECT_EQ(v6.port, "3425");
    for (const char* ok :
         {"http://localhost:9000", "https://192.168.1.20", "https://gateway.example.com:8443/"})
        EXPECT_EQ(rejection(ok), std::nullopt) << ok;

    // Structure is judged before insecurity.
    const auto invalid = GatewayError::invalidEndpoint();
    for (const char* bad :
         {"", " http://127.0.0.1:3425", "HTTP://127.0.0.1:3425", "ftp://127.0.0.1",
          "http://127.0.0.1:3425/api", "http://127.0.0.1:3425?", "http://127.0.0.1:3425#",
          "http://user:pw@127.0.0.1:3425", "http://@127.0.0.1:3425", "127.0.0.1:3425",
          "http://127.0.0.1:3425//", "http://", "http://192.168.1.20:3425/api",
          "http://127.0.0.1:3425\n", "http://例子.com"})
        EXPECT_EQ(rejection(bad), invalid) << bad;
    EXPECT_EQ(rejection(std::string_view("http://127.0.0.1\0.evil.com", 26)), invalid);

    for (const char* remote : {"http://192.168.1.20:3425", "http://LOCALHOST:3425",
                               "http://127.0.0.2:3425", "http://[::2]:3425"})
        EXPECT_EQ(rejection(remote), GatewayError::insecureRemote()) << remote;
}

TEST(Endpoint, DetectReadsOnlyAUsablePortFromTheConfigDirectory) {
    TempDir config, home;
    ScopedEnv xdg("XDG_CONFIG_HOME", config.path().string());
    ScopedEnv homeEnv("HOME", home.path().string());
    home.write(".config/tessel/settings.json", R"({"port":4100})");

    EXPECT_EQ(Endpoint::detect(), "http://127.0.0.1:3425"); // missing file; HOME not consulted
    const std::pair<const char*, const char*> cases[] = {
        {R"({"port":8080,"host":"0.0.0.0","routes":[]})", "http://127.0.0.1:8080"},
        {R"({"port":65535})", "http://127.0.0.1:65535"},
        {R"({"port":1})", "http://127.0.0.1:1"},
        {R"({"port":0})", "http://127.0.0.1:3425"},
        {R"({"port":65536})", "http://127.0.0.1:3425"},
        {R"({"port":"8080"})", "http://127.0.0.1:3425"},
        {R"({"port":8080.5})", "http://127.0.0.1:3425"},
        {R"({"port":18446744073709551616})", "http://127.0.0.1:3425"},
        {R"([8080])", "http://127.0.0.1:3425"},
        {R"({"port":80)", "http://127.0.0.1:3425"},
        {"", "http://127.0.0.1:3425"},
    };
    for (const auto& [file, expected] : cases) {
        config.write("tessel/settings.json", file);
        const auto detected = Endpoint::detect();
        EXPECT_EQ(detected, expected) << file;
        EXPECT_NO_THROW(Endpoint::validate(detected));
    }
    // Nesting beyond the reader's limit is refused like any other damage.
    config.write("tessel/settings.json",
                 R"({"port":8081,"x":)" + std::string(300, '[') + std::string(300, ']') + "}");
    EXPECT_EQ(Endpoint::detect(), "http://127.0.0.1:3425");

    ScopedEnv noXdg("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(Endpoint::detect(), "http://127.0.0.1:4100");
    // A directory where the file should be is unreadable as a file, not a crash.
    std::filesystem::remove(home.path() / ".config/tessel/settings.json");
    std::filesystem::create_directories(home.path() / ".config/tessel/settings.json");
    EXPECT_EQ(Endpoint::detect(), "http://127.0.0.1:3425");
}

TEST(Errors, MessagesNeverLeakTheirCause) {
    auto message = [](auto error) { return safeError(std::make_exception_ptr(error)); };
    EXPECT_EQ(message(GatewayError::http(404)), GatewayError::http(404).errorDescription());
    EXPECT_EQ(message(std::runtime_error("secret path /home/x")), "读取失败，保留上次有效数据。");
    EXPECT_EQ(message(42), "读取失败，保留上次有效数据。");
    EXPECT_EQ(safeError(nullptr), "读取失败，保留上次有效数据。");
}

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
