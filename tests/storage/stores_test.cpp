// The files of the shared container and the atomic write beneath them, also against killed
// writers, concurrent readers, full and read-only file systems.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "model/wire.h"
#include "storage/container.h"
#include "storage/file_io.h"
#include "storage/log.h"
#include "storage/snapshot_store.h"
#include "storage/widget_preferences.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using namespace tessel;

namespace {

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

std::vector<std::string> failure(const char* file, const char* domain, long code) {
    return {std::string("Snapshot read failed: file=") + file + ", domain=" + domain +
            ", code=" + std::to_string(code) + ", group=" + SharedContainer::groupID()};
}

// `padding` bytes of issue text make a snapshot as large as needed.
Snapshot snapshotOf(const std::string& endpoint, std::size_t padding = 0) {
    Snapshot s;
    s.endpoint = endpoint;
    if (padding)
        s.issue = std::string(padding, 'p');
    return s;
}

bool hasTemporaryFiles(const fs::path& dir) {
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().find(".tmp-") != std::string::npos)
            return true;
    return false;
}

// What `body` writes to file descriptor 2.
template <class F> std::string standardErrorOf(const fs::path& scratch, F body) {
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int file = ::open(scratch.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(file, 2);
    body();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(file);
    return FileIO::read(scratch);
}

// A datagram socket bound at `path`, as the journal listens.
int listenAt(const fs::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path.c_str());
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    return fd;
}

template <class F> std::error_code errorOf(F body) {
    try {
        body();
    } catch (const std::system_error& e) {
        return e.code();
    }
    return {};
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
    return hasTemporaryFiles(dir) ? leftovers : passed;
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

TEST(SharedContainer, FollowsXdgDataHomeThenHomeElseAbsentWhereStoresLoadDefaultsAndSavesFail) {
    test::ScopedEnv home("HOME", "/home/u");
    {
        test::ScopedEnv data("XDG_DATA_HOME", "/srv/data");
        EXPECT_EQ(SharedContainer::directory(),
                  fs::path("/srv/data/group.net.quorvane.TesselWidget"));
    }
    {
        // A relative XDG_DATA_HOME is invalid and must not place files in the cwd.
        test::ScopedEnv data("XDG_DATA_HOME", "relative/dir");
        EXPECT_EQ(SharedContainer::directory(),
                  fs::path("/home/u/.local/share/group.net.quorvane.TesselWidget"));
    }
    test::ScopedEnv data("XDG_DATA_HOME", std::nullopt);
    test::ScopedEnv noHome("HOME", "");
    EXPECT_EQ(SharedContainer::directory(), std::nullopt);

    // Without it, loads give the defaults and saves fail as not found.
    LogCapture log;
    const SnapshotStore snapshots(std::nullopt);
    const WidgetPreferencesStore preferences(std::nullopt);
    EXPECT_EQ(snapshots.load().endpoint, "");
    EXPECT_EQ(preferences.load(), WidgetPreferences{});
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(errorOf([&] { snapshots.save(snapshotOf("a")); }),
              std::errc::no_such_file_or_directory);
    EXPECT_EQ(errorOf([&] { preferences.save({}); }), std::errc::no_such_file_or_directory);
}

TEST(SnapshotStore, LoadFallsBackAndLogsEachUnreadableFile) {
    test::TempDir tmp;
    SnapshotStore store(tmp.path());
    {
        // Nothing saved yet, or only once: the normal first state, no failure.
        LogCapture log;
        EXPECT_EQ(store.load().endpoint, "");
        store.save(snapshotOf("good"));
        EXPECT_EQ(store.load().endpoint, "good");
        EXPECT_TRUE(log.lines.empty());
    }
    store.save(snapshotOf("newer"));
    const std::string goodPrevious = FileIO::read(tmp.path() / "previous.json");
    {
        // A current file gone beside its backup is damage.
        fs::rename(tmp.path() / "snapshot.json", tmp.path() / "moved.json");
        LogCapture log;
        EXPECT_EQ(store.load().endpoint, "good");
        EXPECT_EQ(log.lines, failure("snapshot.json", "POSIX", ENOENT));
        fs::rename(tmp.path() / "moved.json", tmp.path() / "snapshot.json");
    }

    // Damage is logged once (load(false) is silent), previous.json read; no save copies it.
    const std::pair<std::string, long> damaged[] = {
        {"", 3},
        {"{\"schema\":1,\"endpoint\":\"x\",\"usa", 3},
        {R"({"schema":1,"endpoint":"x","usage":{}})", 1},
        {R"({"schema":"1","endpoint":"x","quotas":[],"usage":{}})", 2},
    };
    for (const auto& [bytes, code] : damaged) {
        tmp.write("snapshot.json", bytes);
        LogCapture log;
        EXPECT_EQ(store.summary().endpoint + store.load(false).endpoint, "goodgood");
        EXPECT_EQ(log.lines, failure("snapshot.json", "JSON", code));
        store.save(snapshotOf("replacement"));
        EXPECT_EQ(FileIO::read(tmp.path() / "previous.json"), goodPrevious);
    }
    // Only the file this process wrote (or read whole) last, still with its device, inode, size
    // and time, is not read again before it is backed up: damage that keeps all four goes unseen.
    const fs::path current = tmp.path() / "snapshot.json";
    const auto written = FileIO::identity(current).value();
    std::string bytes = FileIO::read(current);
    bytes[0] = '[';
    std::fstream(current, std::ios::in | std::ios::out).write(bytes.data(), 1);
    const timespec times[] = {{0, UTIME_OMIT},
                              {written.modifiedSeconds, written.modifiedNanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, current.c_str(), times, 0), 0);
    store.save(snapshotOf("after"));
    EXPECT_EQ(FileIO::read(tmp.path() / "previous.json"), bytes);
}

TEST(SnapshotStore, OtherSchemaIsSkippedSilentlyAndNeverBackedUp) {
    test::TempDir tmp;
    SnapshotStore store(tmp.path());
    tmp.write("snapshot.json", R"({"schema":2,"endpoint":"future","quotas":[],"usage":{}})");
    {
        LogCapture log;
        EXPECT_EQ(store.load().endpoint, "");
        EXPECT_TRUE(log.lines.empty());
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
    const fs::path current = tmp.path() / "snapshot.json";
    {
        // Sparse: costs no disk, but a naive reader would allocate all of it.
        std::ofstream(current, std::ios::trunc).close();
        fs::resize_file(current, FileIO::readLimit + 1);
        LogCapture log;
        EXPECT_EQ(store.load().endpoint, "good");
        EXPECT_EQ(log.lines, failure("snapshot.json", "POSIX", EFBIG));
    }
    // A FIFO with no writer would block a plain open() forever.
    fs::remove(current);
    ASSERT_EQ(::mkfifo(current.c_str(), 0600), 0);
    LogCapture log;
    EXPECT_EQ(store.load().endpoint, "good");
    EXPECT_EQ(log.lines, failure("snapshot.json", "POSIX", EINVAL));
}

// Any values round-trip unchanged; any unusable file reads as complete defaults.
TEST(WidgetPreferencesStore, RoundTripsAnyValuesAndReadsUnusableFilesAsDefaults) {
    test::TempDir tmp;
    WidgetPreferencesStore store(tmp.path());
    store.save({});
    EXPECT_EQ(store.load(), WidgetPreferences{});
    EXPECT_NE(FileIO::read(tmp.path() / "widget-preferences.json").find("\"providerIDs\":[]"),
              std::string::npos);

    // No clamping or validation: readers decide what an odd value means.
    WidgetPreferences odd;
    odd.providerIDs = {WidgetPreferences::noneSelected};
    odd.quotaCount = 7;
    odd.metric = "sideways";
    odd.period = "";
    odd.showQuotas = false;
    odd.showReset = true;
    odd.chartMetric = "价格";
    odd.showAgents = true;
    store.save(odd);
    EXPECT_EQ(store.load(), odd);

    WidgetPreferences custom;
    custom.quotaCount = 1;
    custom.showAgents = true;
    store.save(custom);
    const std::string good = FileIO::read(tmp.path() / "widget-preferences.json");
    ASSERT_EQ(store.load(), custom);

    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };
    // Each is a whole-document failure, never a merge with defaults.
    for (const std::string& bad : {
             replaced(",\"showAgents\":true", ""),
             replaced("\"quotaCount\":1", "\"quotaCount\":\"1\""),
             replaced("\"quotaCount\":1", "\"quotaCount\":1.5"),
             replaced("\"quotaCount\":1", "\"quotaCount\":1.0"),
             replaced("\"quotaCount\":1", "\"quotaCount\":null"),
             replaced("\"showAgents\":true", "\"showAgents\":1"),
             replaced("\"providerIDs\":[]", "\"providerIDs\":[1]"),
             good.substr(0, good.size() / 2),
             std::string("[]"),
         }) {
        tmp.write("widget-preferences.json", bad);
        EXPECT_EQ(store.load(), WidgetPreferences{}) << bad;
    }
}

TEST(AtomicWrite, FailureLeavesTheOldFileAndNoTemporaryFileAndSavesMakeAPrivateContainer) {
    test::TempDir tmp;
    const fs::path file = tmp.path() / "x.json";
    FileIO::writeAtomically(file, "old");
    // A directory in the way makes the final rename fail after the temporary file is written.
    const fs::path blocked = tmp.path() / "dir.json";
    fs::create_directory(blocked);
    std::ofstream(blocked / "keep").put('k');
    EXPECT_THROW(FileIO::writeAtomically(blocked, "new"), std::system_error);
    EXPECT_FALSE(hasTemporaryFiles(tmp.path()));
    EXPECT_EQ(FileIO::read(file), "old");
    // Leftovers of a writer killed mid-way are cleared by the next write.
    tmp.write(".x.json.tmp-AbC123", "partial");
    FileIO::writeAtomically(file, "new");
    EXPECT_FALSE(hasTemporaryFiles(tmp.path()));
    EXPECT_EQ(FileIO::read(file), "new");

    // Saves create the container, keep the former snapshot byte for byte, and are private.
    for (const mode_t mask : {0000, 0277}) {
        test::TempDir fresh;
        const fs::path dir = fresh.path() / "new" / "group";
        const mode_t previous = ::umask(mask);
        SnapshotStore(dir).save(snapshotOf("a"));
        EXPECT_FALSE(fs::exists(dir / "previous.json"));
        const std::string first = FileIO::read(dir / "snapshot.json");
        SnapshotStore(dir).save(snapshotOf("b"));
        WidgetPreferencesStore(dir).save({});
        ::umask(previous);
        EXPECT_EQ(FileIO::read(dir / "previous.json"), first);
        EXPECT_EQ(SnapshotStore(dir).load().endpoint, "b");
        EXPECT_FALSE(hasTemporaryFiles(dir));
        for (const fs::path& folder : {fresh.path() / "new", dir})
            EXPECT_EQ(test::modeOf(folder), 0700u) << folder << " umask " << mask;
        for (const char* name : {"snapshot.json", "previous.json", "widget-preferences.json"})
            EXPECT_EQ(test::modeOf(dir / name), 0600u) << name << " umask " << mask;
    }
}

TEST(Log, GoesToTheJournalOnlyWhereItListensElseToStandardError) {
    test::TempDir tmp;
    const Log::Record record{"net.quorvane.TesselWidget", "Snapshot", "m\nsecond line"};
    const std::string line = "net.quorvane.TesselWidget[Snapshot] error: m\nsecond line\n";

    const int journal = listenAt(tmp.path() / "journal");
    EXPECT_EQ(standardErrorOf(tmp.path() / "err",
                              [&] { Log::journalOrStandardError(tmp.path() / "journal")(record); }),
              "");
    char entry[512];
    const ssize_t n = ::recv(journal, entry, sizeof entry, MSG_DONTWAIT);
    ::close(journal);
    ASSERT_GT(n, 0);
    const std::string text(entry, static_cast<std::size_t>(n));
    EXPECT_EQ(text.substr(0, 28), std::string("MESSAGE\n\x0d\0\0\0\0\0\0\0m\nsecond line\n", 28));
    for (const char* field : {"\nPRIORITY=3\n", "\nSUBSYSTEM=net.quorvane.TesselWidget\n",
                              "\nCATEGORY=Snapshot\n", "\nSYSLOG_IDENTIFIER=TesselWidget\n"})
        EXPECT_NE(text.find(field), std::string::npos) << field;

    // No socket, or a socket nobody listens on any more: the line must not vanish.
    for (const char* name : {"missing", "journal"})
        EXPECT_EQ(standardErrorOf(tmp.path() / "err",
                                  [&] { Log::journalOrStandardError(tmp.path() / name)(record); }),
                  line);
    // The default sink, where this machine has no journal.
    if (!fs::exists(Log::journalSocket)) {
        tmp.write("damaged/snapshot.json", "{");
        EXPECT_EQ(standardErrorOf(tmp.path() / "err",
                                  [&] { SnapshotStore(tmp.path() / "damaged").load(); })
                      .find("Snapshot read failed: file=snapshot.json"),
                  std::string("net.quorvane.TesselWidget[Snapshot] error: ").size());
    }
}

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

TEST(SnapshotStoreProcesses, FullOrReadOnlyFileSystemFailsAndKeepsBothFiles) {
    test::TempDir tmp;
    {
        SCOPED_TRACE("full");
        expectSpoiledSave(tmp.path(), std::errc::no_space_on_device, fill);
    }
    SCOPED_TRACE("read-only");
    expectSpoiledSave(tmp.path(), std::errc::read_only_file_system, makeReadOnly);
}
