// tesselctl snapshot, run as a real process on a container in a temporary directory.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sys/wait.h>

#include "model/wire.h"
#include "storage/snapshot_store.h"
#include "support/temp_dir.h"

using namespace tessel;

namespace {

struct Outcome {
    int status;
    std::string out;
};

Outcome tesselctl(const std::filesystem::path& dataHome, const std::string& args) {
    const std::string command =
        "XDG_DATA_HOME='" + dataHome.string() + "' " TESSELCTL_PATH " " + args + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    Outcome run{-1, {}};
    std::array<char, 4096> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
        run.out.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace

TEST(TesselctlSnapshot, PrintsWhatTheStoreLoadsAndRejectsArguments) {
    test::TempDir tmp;
    const Outcome empty = tesselctl(tmp.path(), "snapshot");
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, Wire::encode(Snapshot{}) + "\n");

    // A damaged current file: the command shows the backup, as the widgets would.
    const auto dir = tmp.path() / "group.net.quorvane.TesselWidget";
    Snapshot first;
    first.endpoint = "http://127.0.0.1:3425";
    SnapshotStore(dir).save(first);
    SnapshotStore(dir).save(first);
    tmp.write("group.net.quorvane.TesselWidget/snapshot.json", "{broken");
    const Outcome fallback = tesselctl(tmp.path(), "snapshot");
    EXPECT_EQ(fallback.status, 0);
    EXPECT_EQ(fallback.out, Wire::encode(first) + "\n");

    EXPECT_EQ(tesselctl(tmp.path(), "snapshot --all").status, 2);
}
