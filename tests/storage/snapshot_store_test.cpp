#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <set>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "model/wire.h"
#include "storage/container.h"
#include "storage/file_io.h"
#include "storage/log.h"
#include "storage/snapshot_store.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace tessel;

namespace {

// Captures every log line for the lifetime of the object.
struct LogCapture {
    std::vector<std::string> lines;
    Log::Sink previous;
    LogCapture() {
        previous = Log::setSink([this](const Log::Record& r) {
            EXPECT_EQ(r.subsystem, "net.quorvane.TesselWidget");
            EXPECT_EQ(r.category, "Snapshot");
            lines.push_back(r.message);
        });
    }
    ~LogCapture() { Log::setSink(previous); }
};

std::string failure(const char* file, const char* domain, long code) {
    return std::string("Snapshot read failed: file=") + file + ", domain=" + domain +
           ", code=" + std::to_string(code) + ", group=" + SharedContainer::groupID();
}

Snapshot snapshotOf(const std::string& endpoint, std::size_t padding = 0) {
    Snapshot s;
    s.endpoint = endpoint;
    if (padding)
        s.issue = std::string(padding, 'x');
    return s;
}

std::string bytesOf(const fs::path& file) {
    return FileIO::read(file);
}

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mode & 07777;
}

bool hasTemporaryFiles(const fs::path& dir) {
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().find(".tmp-") != std::string::npos)
            return true;
    return false;
}

} // namespace

TEST(SharedContainer, FollowsXdgDataHomeThenHomeElseAbsent) {
    EXPECT_EQ(SharedContainer::groupID(), "group.net.quorvane.TesselWidget");
    {
        test::ScopedEnv data("XDG_DATA_HOME", "/srv/data");
        test::ScopedEnv home("HOME", "/home/u");
        EXPECT_EQ(SharedContainer::directory(),
                  fs::path("/srv/data/group.net.quorvane.TesselWidget"));
    }
    {
        // A relative or empty XDG_DATA_HOME is invalid and must not place files in the cwd.
        test::ScopedEnv data("XDG_DATA_HOME", "relative/dir");
        test::ScopedEnv home("HOME", "/home/u");
        EXPECT_EQ(SharedContainer::directory(),
                  fs::path("/home/u/.local/share/group.net.quorvane.TesselWidget"));
    }
    {
        test::ScopedEnv data("XDG_DATA_HOME", std::nullopt);
        test::ScopedEnv home("HOME", "");
        EXPECT_EQ(SharedContainer::directory(), std::nullopt);
    }
}

TEST(SnapshotStore, WithoutContainerLoadsEmptyAndSaveFailsNotFound) {
    LogCapture log;
    SnapshotStore store(std::nullopt);
    EXPECT_EQ(store.load().endpoint, "");
    EXPECT_TRUE(log.lines.empty());
    try {
        store.save(snapshotOf("a"));
        FAIL() << "save without a container succeeded";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
    }
}

TEST(SnapshotStore, SavesCreateThePrivateContainerAndKeepTheFormerFileByteForByte) {
    test::TempDir tmp;
    const fs::path dir = tmp.path() / "a" / "group";
    SnapshotStore store(dir);
    store.save(snapshotOf("first"));
    EXPECT_EQ(modeOf(dir), 0700u);
    EXPECT_EQ(modeOf(dir / "snapshot.json"), 0600u);
    EXPECT_FALSE(fs::exists(dir / "previous.json"));

    const std::string first = bytesOf(dir / "snapshot.json");
    store.save(snapshotOf("second"));
    EXPECT_EQ(bytesOf(dir / "previous.json"), first);
    EXPECT_EQ(modeOf(dir / "previous.json"), 0600u);
    EXPECT_EQ(store.load().endpoint, "second");
    EXPECT_FALSE(hasTemporaryFiles(dir));
}

TEST(SnapshotStore, LoadFallsBackAndLogsEachUnreadableFile) {
    test::TempDir tmp;
    SnapshotStore store(tmp.path());
    {
        LogCapture log;
        EXPECT_EQ(store.load().endpoint, "");
        EXPECT_EQ(log.lines, (std::vector<std::string>{failure("snapshot.json", "POSIX", ENOENT),
                                                       failure("previous.json", "POSIX", ENOENT)}));
    }
    store.save(snapshotOf("good"));
    store.save(snapshotOf("newer"));
    const std::string goodPrevious = bytesOf(tmp.path() / "previous.json");

    // Damaged current files of every kind: each is logged once, previous.json is used, and the
    // next save does not copy the damage into previous.json.
    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"", failure("snapshot.json", "JSON", 3)},
        {"{\"schema\":1,\"endpoint\":\"x\",\"usa", failure("snapshot.json", "JSON", 3)},
        {std::string("\x00\xff\xfe\x01garbage", 11), failure("snapshot.json", "JSON", 3)},
        {R"({"schema":1,"endpoint":"x","usage":{}})", failure("snapshot.json", "JSON", 1)},
        {R"({"schema":"1","endpoint":"x","quotas":[],"usage":{}})",
         failure("snapshot.json", "JSON", 2)},
    };
    for (const auto& [bytes, line] : damaged) {
        tmp.write("snapshot.json", bytes);
        LogCapture log;
        EXPECT_EQ(store.load().endpoint, "good");
        EXPECT_EQ(log.lines, std::vector<std::string>{line});
        store.save(snapshotOf("replacement"));
        EXPECT_EQ(bytesOf(tmp.path() / "previous.json"), goodPrevious);
    }
}

TEST(SnapshotStore, OtherSchemaIsSkippedSilentlyAndNeverBackedUp) {
    test::TempDir tmp;
    SnapshotStore store(tmp.path());
    const std::string schema2 = R"({"schema":2,"endpoint":"future","quotas":[],"usage":{}})";
    tmp.write("snapshot.json", schema2);
    {
        LogCapture log;
        EXPECT_EQ(store.load().endpoint, "");
        EXPECT_EQ(log.lines, std::vector<std::string>{failure("previous.json", "POSIX", ENOENT)});
    }
    store.save(snapshotOf("now"));
    EXPECT_FALSE(fs::exists(tmp.path() / "previous.json"));
    EXPECT_EQ(store.load().endpoint, "now");
}

TEST(SnapshotStore, HugeAndSpecialFilesAreRefusedWithoutBlockingOrExhaustingMemory) {
    test::TempDir tmp;
    SnapshotStore store(tmp.path());
    store.save(snapshotOf("good"));
    store.save(snapshotOf("good2"));
    {
        // Sparse: costs no disk, but a naive reader would allocate all of it.
        std::ofstream(tmp.path() / "snapshot.json", std::ios::trunc).close();
        fs::resize_file(tmp.path() / "snapshot.json", FileIO::readLimit + 1);
        LogCapture log;
        EXPECT_EQ(store.load().endpoint, "good");
        EXPECT_EQ(log.lines, std::vector<std::string>{failure("snapshot.json", "POSIX", EFBIG)});
    }
    {
        // A FIFO with no writer would block a plain open() forever.
        fs::remove(tmp.path() / "snapshot.json");
        ASSERT_EQ(::mkfifo((tmp.path() / "snapshot.json").c_str(), 0600), 0);
        LogCapture log;
        EXPECT_EQ(store.load().endpoint, "good");
        EXPECT_EQ(log.lines, std::vector<std::string>{failure("snapshot.json", "POSIX", EINVAL)});
    }
}

TEST(AtomicWrite, FailureLeavesTheOldFileAndNoTemporaryFile) {
    test::TempDir tmp;
    const fs::path file = tmp.path() / "x.json";
    FileIO::writeAtomically(file, "old");
    // A directory in the way makes the final rename fail after the temporary file is written.
    const fs::path blocked = tmp.path() / "dir.json";
    fs::create_directory(blocked);
    fs::path inner = blocked / "keep";
    std::ofstream(inner).put('k');
    EXPECT_THROW(FileIO::writeAtomically(blocked, "new"), std::system_error);
    EXPECT_FALSE(hasTemporaryFiles(tmp.path()));
    EXPECT_EQ(bytesOf(file), "old");
    // Leftovers of a writer killed mid-way are cleared by the next write.
    tmp.write(".x.json.tmp-AbC123", "partial");
    FileIO::writeAtomically(file, "new");
    EXPECT_FALSE(hasTemporaryFiles(tmp.path()));
    EXPECT_EQ(bytesOf(file), "new");
}
