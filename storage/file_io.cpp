#include "storage/file_io.h"

#include <cerrno>
#include <cstdlib>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "model/wire.h"

namespace tessel::FileIO {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(int code, const char* what) {
    throw std::system_error(code, std::generic_category(), what);
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // close() can report a deferred write error (NFS, quota); it must not be lost.
    void close() {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 && errno != EINTR)
            fail(errno, "close");
    }

private:
    int fd_;
};

fs::path directoryOf(const fs::path& file) {
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

// Temporary names start with the target's name so that leftovers of a killed writer can be
// found and removed by the next write.
std::string temporaryPrefix(const fs::path& file) {
    return "." + file.filename().string() + ".tmp-";
}

// One pass over the directory for the file and, beside it, its backup's second name.
void removeLeftovers(const fs::path& file, const std::optional<fs::path>& backup = std::nullopt) {
    std::error_code ec;
    std::string prefixes[] = {temporaryPrefix(file), backup ? temporaryPrefix(*backup) : ""};
    for (fs::directory_iterator it(directoryOf(file), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        for (const std::string& prefix : prefixes)
            if (!prefix.empty() && name.size() == prefix.size() + 6 &&
                name.compare(0, prefix.size(), prefix) == 0)
                ::unlink(it->path().c_str());
    }
}

Identity identityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::int64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtim.tv_sec),
            static_cast<std::int64_t>(st.st_mtim.tv_nsec)};
}

} // namespace

std::string read(const fs::path& file, std::size_t limit, Identity* before) {
    Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0)
        fail(errno, "open");
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        fail(errno, "fstat");
    if (!S_ISREG(info.st_mode))
        fail(EINVAL, "not a regular file");
    if (static_cast<std::uintmax_t>(info.st_size) > limit)
        fail(EFBIG, "file too large");
    if (before)
        *before = identityOf(info);

    // The size may change under us; read until end of file but never past the limit. One byte
    // more than the size tells the end without a second buffer.
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size) + 1 + Wire::padding);
    bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (bytes.size() > limit)
                fail(EFBIG, "file too large");
            const std::size_t grown = std::min(limit + 1, bytes.size() * 2);
            bytes.reserve(grown + Wire::padding);
            bytes.resize(grown);
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno, "read");
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    if (used > limit)
        fail(EFBIG, "file too large");
    bytes.resize(used);
    return bytes;
}

void makeDirectory(const fs::path& directory) {
    // Every save asks; the directory is almost always there already.
    struct stat existing {};
    if (::stat(directory.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode))
        return;
    fs::path partial;
    for (const auto& part : directory) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) == 0) {
            // mkdir's mode passes through the umask; ours must not (0277 would leave 0500, in
            // which nothing could be written).
            if (::chmod(partial.c_str(), 0700) != 0)
                fail(errno, "chmod");
            continue;
        }
        if (errno != EEXIST)
            fail(errno, "mkdir");
    }
    struct stat info {};
    if (::stat(directory.c_str(), &info) != 0)
        fail(errno, "stat");
    if (!S_ISDIR(info.st_mode))
        fail(ENOTDIR, "not a directory");
}

namespace {

// A complete, synced 0600 temporary file beside `file`; its name is returned.
std::string writeTemporary(const fs::path& file, const Producer& produce, Identity* written) {
    std::string name = (directoryOf(file) / (temporaryPrefix(file) + "XXXXXX")).string();
    // mkostemp opens with O_CREAT | O_EXCL and mode 0600.
    Fd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (fd.get() < 0)
        fail(errno, "mkostemp");
    try {
        // The umask applies to mkostemp's 0600 too; the user's files are 0600 whatever it is.
        if (::fchmod(fd.get(), 0600) != 0)
            fail(errno, "fchmod");
        off_t offset = 0;
        produce([&fd, &offset](std::string_view bytes) {
            std::size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
                if (n < 0) {
                    if (errno == EINTR)
                        continue;
                    fail(errno, "write");
                }
                done += static_cast<std::size_t>(n);
            }
            // The disk starts on this piece while the next one is produced, so that the fsync
            // below waits only for the last; a file system that cannot is synced there all the
            // same.
            ::sync_file_range(fd.get(), offset, off_t(done), SYNC_FILE_RANGE_WRITE);
            offset += off_t(done);
        });
        if (::fsync(fd.get()) != 0)
            fail(errno, "fsync");
        struct stat st {};
        if (written) {
            if (::fstat(fd.get(), &st) != 0)
                fail(errno, "fstat");
            *written = identityOf(st);
        }
        fd.close();
    } catch (...) {
        ::unlink(name.c_str());
        throw;
    }
    return name;
}

// A fresh name for a second link to `file`, as the temporary files are named.
std::string linkBeside(const fs::path& file, const fs::path& backup) {
    static constexpr char letters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::minstd_rand random(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix(6, 'A');
        for (char& c : suffix)
            c = letters[random() % (sizeof letters - 1)];
        const std::string name =
            (directoryOf(backup) / (temporaryPrefix(backup) + suffix)).string();
        if (::link(file.c_str(), name.c_str()) == 0)
            return name;
        if (errno != EEXIST)
            fail(errno, "link");
    }
    fail(EEXIST, "link");
}

// The renames are durable only once the directory entry is on disk; they have happened, so a
// failure here is reported but nothing is undone.
void syncDirectory(const fs::path& file) {
    Fd dir(::open(directoryOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        fail(errno, "open directory");
    if (::fsync(dir.get()) != 0 && errno != EINVAL)
        fail(errno, "fsync directory");
}

} // namespace

void writeAtomically(const fs::path& file, std::string_view bytes) {
    replace(file, bytes, std::nullopt);
}

std::optional<Identity> identity(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return std::nullopt;
    return identityOf(st);
}

void replace(const fs::path& file, std::string_view bytes, const std::optional<fs::path>& backup) {
    replace(
        file, [bytes](const Write& write) { write(bytes); }, backup);
}

void replace(const fs::path& file, const Producer& produce, const std::optional<fs::path>& backup,
             Identity* written) {
    if (backup && directoryOf(*backup) != directoryOf(file)) {
        removeLeftovers(*backup);
        removeLeftovers(file);
    } else {
        removeLeftovers(file, backup);
    }
    const std::string temporary = writeTemporary(file, produce, written);
    try {
        if (backup) {
            // The old file's bytes are on disk already: a second name costs no copy and no
            // sync. Where links are not supported, a copy with its own syncs does the same.
            std::string link;
            try {
                link = linkBeside(file, *backup);
            } catch (const std::system_error& e) {
                const int code = e.code().value();
                if (code != EPERM && code != ENOTSUP && code != EOPNOTSUPP && code != EMLINK &&
                    code != EXDEV)
                    throw;
                writeAtomically(*backup, read(file));
            }
            if (!link.empty() && ::rename(link.c_str(), backup->c_str()) != 0) {
                const int code = errno;
                ::unlink(link.c_str());
                fail(code, "rename");
            }
        }
        if (::rename(temporary.c_str(), file.c_str()) != 0)
            fail(errno, "rename");
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    syncDirectory(file);
}

} // namespace tessel::FileIO
