#include <gtest/gtest.h>

#include "gateway/endpoint.h"
#include "gateway/errors.h"
#include "support/temp_dir.h"

using namespace tessel;
using tessel::test::ScopedEnv;
using tessel::test::TempDir;

namespace {

std::optional<GatewayError> rejection(std::string_view text) {
    try {
        Endpoint::validate(text);
        return std::nullopt;
    } catch (const GatewayError& e) {
        return e;
    }
}

} // namespace

TEST(Endpoint, AcceptsOriginsThatMayCarryTheKey) {
    EXPECT_EQ(Endpoint::validate("http://127.0.0.1:3425/").text, "http://127.0.0.1:3425/");
    const auto v6 = Endpoint::validate("http://[::1]:3425");
    EXPECT_EQ(v6.host, "::1");
    EXPECT_EQ(v6.port, "3425");
    for (const char* ok :
         {"http://localhost:9000", "https://192.168.1.20", "https://gateway.example.com:8443/"})
        EXPECT_EQ(rejection(ok), std::nullopt) << ok;
}

TEST(Endpoint, RejectsStructureBeforeInsecurity) {
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
    config.write("tessel/settings.json", R"({"port":8081,"x":)" + std::string(300, '[') +
                                             std::string(300, ']') + "}");
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
    EXPECT_EQ(message(GatewayError::invalidEndpoint()),
              "请输入不含路径、凭证或查询参数的 Gateway 地址。");
    EXPECT_EQ(message(std::runtime_error("secret path /home/x")), "读取失败，保留上次有效数据。");
    EXPECT_EQ(message(42), "读取失败，保留上次有效数据。");
    EXPECT_EQ(safeError(nullptr), "读取失败，保留上次有效数据。");
}
