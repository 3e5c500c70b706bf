#include <gtest/gtest.h>

#include <sys/wait.h>

#include <fstream>
#include <iterator>

#include "support/temp_dir.h"
#include "support/test_gateway.h"

using tessel::test::TempDir;
using tessel::test::TestGateway;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Runs the real tesselctl with `input` on its standard input.
Result tesselctl(const std::string& args, const std::string& input = "") {
    TempDir dir;
    dir.write("in", input);
    const auto p = dir.path();
    const std::string command = std::string("'") + TESSELCTL + "' " + args + " <'" +
                                (p / "in").string() + "' >'" + (p / "out").string() + "' 2>'" +
                                (p / "err").string() + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(p / "out"), slurp(p / "err")};
}

} // namespace

TEST(Tesselctl, ValidateReportsTheVerdictByExitStatus) {
    EXPECT_EQ(tesselctl("validate http://localhost:9000/").out, "http://localhost:9000/\n");
    const auto remote = tesselctl("validate http://192.168.1.20:3425");
    EXPECT_EQ(remote.status, 1);
    EXPECT_EQ(remote.err, "远程 Gateway 需要 HTTPS。\n");
    EXPECT_EQ(tesselctl("validate").status, 2);
}

TEST(Tesselctl, FetchReadsTheKeyFromStandardInputOnly) {
    TestGateway gw;
    gw.serveSample();
    const auto hello =
        tesselctl("fetch --endpoint " + gw.endpoint() + " --token-stdin hello", "s3cret\n");
    EXPECT_EQ(hello.status, 0) << hello.err;
    EXPECT_EQ(hello.out, "{\"name\":\"tessel\",\"version\":\"1.4.2\"}\n");
    EXPECT_EQ(gw.requests().at(0).header("Authorization"), "Bearer s3cret");

    const auto usage = tesselctl("fetch --endpoint " + gw.endpoint() + " usage week");
    EXPECT_EQ(usage.status, 0) << usage.err;
    EXPECT_EQ(usage.out.rfind("{\"period\":\"7d\"", 0), 0u) << usage.out;
    EXPECT_EQ(gw.requests().back().header("Authorization"), std::nullopt);

    int closedPort;
    {
        TestGateway gone;
        closedPort = gone.port();
    }
    const auto down =
        tesselctl("fetch --endpoint http://127.0.0.1:" + std::to_string(closedPort) + " quotas");
    EXPECT_EQ(down.status, 1);
    EXPECT_EQ(down.err, "网络连接失败（-1004），请确认 Tessel 正在运行。\n");
    EXPECT_EQ(down.out, "");
}
