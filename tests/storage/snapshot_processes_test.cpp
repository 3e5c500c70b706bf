// The store against killed writers, concurrent readers, full and read-only file systems.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "model/wire.h"
#include "storage/file_io.h"
#include "storage/log.h"
#include "storage/snapshot_store.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace tessel;

namespace {

Snapshot snapshotOf(const std::string& endpoint, std::size_t padding) {
    Snapshot s;
    s.endpoint = endpoint;
    s.issue = std::string(padding, 'p');
    return s;
}

// A child process saving "even" and "odd" snapshots in turn, `rounds` times or until killed.
pid_t startWriter(const SnapshotStore& store, std::size_t size, int rounds = -1) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (int i = 0; rounds < 0 || i < rounds; ++i)
            store.save(snapshotOf(i % 2 ? "odd" : "even", size + i % 7));
        ::_exit(0);
    }
    return pid;
}

bool whole(const std::string& endpoint) {
    return endpoint == "odd" || endpoint == "even";
}

} // namespace

TEST(SnapshotStoreProcesses, WriterKilledAtAnyInstantLeavesWholeFiles) {
    test::TempDir tmp;
    const SnapshotStore store(tmp.path());
    // Large enough that a save spans many write calls; both files exist from the start.
    store.save(snapshotOf("even", 1 << 20));
    store.save(snapshotOf("odd", 1 << 20));
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delay(0, 30000);
    for (int round = 0; round < 40; ++round) {
        const pid_t writer = startWriter(store, 1 << 20);
        ASSERT_GE(writer, 0);
        ::usleep(static_cast<useconds_t>(delay(random)));
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
        for (const char* name : {"snapshot.json", "previous.json"}) {
            SCOPED_TRACE(std::string(name) + " after round " + std::to_string(round));
            std::string endpoint;
            ASSERT_NO_THROW(endpoint =
                                Wire::decode<Snapshot>(FileIO::read(tmp.path() / name)).endpoint);
            EXPECT_TRUE(whole(endpoint)) << endpoint;
        }
    }
}

TEST(SnapshotStoreProcesses, ReaderNeverSeesAPartialFile) {
    test::TempDir tmp;
    const SnapshotStore store(tmp.path());
    store.save(snapshotOf("even", 256 << 10));
    store.save(snapshotOf("odd", 256 << 10));
    const pid_t writer = startWriter(store, 256 << 10, 300);
    ASSERT_GE(writer, 0);
    int failures = 0;
    const Log::Sink previous = Log::setSink([&](const Log::Record&) { ++failures; });
    for (int loads = 0; loads < 5000; ++loads) {
        const std::string endpoint = store.load().endpoint;
        EXPECT_TRUE(whole(endpoint)) << endpoint;
        if (!whole(endpoint) || ::waitpid(writer, nullptr, WNOHANG) == writer)
            break;
    }
    Log::setSink(previous);
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    EXPECT_EQ(failures, 0);
}

namespace {

enum Outcome { passed, failedToFail, wrongError, filesChanged, leftovers, cannotSetUp = 77 };

// A tiny tmpfs in the child's own mount namespace: full or read-only even for root.
bool mountTinyFileSystem(const fs::path& dir) {
    if (::unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
        std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    }
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    return ::mount("tessel-test", dir.c_str(), "tmpfs", 0, "size=256k,mode=0700") == 0;
}

// In a child: a save on the spoiled file system fails with `expected` and changes no file.
int saveOnSpoiledFileSystem(const fs::path& dir, std::errc expected,
                            bool (*spoil)(const fs::path&)) {
    if (!mountTinyFileSystem(dir))
        return cannotSetUp;
    SnapshotStore store(dir);
    store.save(snapshotOf("old", 10));
    store.save(snapshotOf("current", 10));
    const std::string current = FileIO::read(dir / "snapshot.json");
    const std::string previous = FileIO::read(dir / "previous.json");
    if (!spoil(dir))
        return cannotSetUp;
    try {
        store.save(snapshotOf("new", 100 << 10));
        return failedToFail;
    } catch (const std::system_error& e) {
        if (e.code() != expected)
            return wrongError;
    }
    if (FileIO::read(dir / "snapshot.json") != current ||
        FileIO::read(dir / "previous.json") != previous)
        return filesChanged;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().find(".tmp-") != std::string::npos)
            return leftovers;
    return passed;
}

bool fill(const fs::path& dir) {
    const int fd = ::open((dir / "filler").c_str(), O_WRONLY | O_CREAT, 0600);
    const std::string block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
    return errno == ENOSPC;
}

bool makeReadOnly(const fs::path& dir) {
    return ::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

void expectSpoiledSave(const fs::path& dir, std::errc expected, bool (*spoil)(const fs::path&)) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int code = 99;
        try {
            code = saveOnSpoiledFileSystem(dir, expected, spoil);
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const int outcome = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (outcome == cannotSetUp)
        GTEST_SKIP() << "cannot mount a private tmpfs here (no mount namespace)";
    EXPECT_EQ(outcome, passed) << "1 save succeeded, 2 wrong error, 3 files changed, "
                                  "4 temporary file left, other: child crashed";
}

} // namespace

TEST(SnapshotStoreProcesses, FullOrReadOnlyFileSystemFailsAndKeepsBothFiles) {
    test::TempDir tmp;
    {
        SCOPED_TRACE("full");
        expectSpoiledSave(tmp.path(), std::errc::no_space_on_device, fill);
    }
    SCOPED_TRACE("read-only");
    expectSpoiledSave(tmp.path(), std::errc::read_only_file_system, makeReadOnly);
}
