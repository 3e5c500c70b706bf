#include "storage/snapshot_store.h"

#include <cerrno>
#include <map>
#include <mutex>
#include <system_error>

#include "model/wire.h"
#include "storage/container.h"
#include "storage/file_io.h"
#include "storage/log.h"

namespace tessel {

namespace {

constexpr const char* currentName = "snapshot.json";
constexpr const char* previousName = "previous.json";

// Domains: "POSIX" with errno for reads; "JSON" with 1 key not found, 2 type mismatch,
// 3 data corrupted for decoding.
long jsonCode(DecodingError::Kind kind) {
    switch (kind) {
    case DecodingError::Kind::KeyNotFound:
        return 1;
    case DecodingError::Kind::TypeMismatch:
        return 2;
    case DecodingError::Kind::DataCorrupted:
        return 3;
    }
    return 3;
}

void logReadFailure(const char* file, const char* domain, long code) {
    std::string message = "Snapshot read failed: file=";
    message += file;
    message += ", domain=";
    message += domain;
    message += ", code=" + std::to_string(code);
    message += ", group=" + SharedContainer::groupID();
    Log::error("Snapshot", std::move(message));
}

// A usable schema-1 snapshot, or nothing (logged unless it was only another schema, or the
// file is missing, which the caller judges, or `log` is false). `lists`: false keeps only the last
// element of each list (Wire::check). `identity` receives the file's identity when it is usable.
std::optional<Snapshot> readSnapshot(const std::filesystem::path& directory, const char* name,
                                     bool* missing = nullptr, bool lists = true,
                                     FileIO::Identity* identity = nullptr, bool log = true) {
    std::string bytes;
    FileIO::Identity read;
    try {
        bytes = FileIO::read(directory / name, FileIO::readLimit, &read);
    } catch (const std::system_error& e) {
        if (missing && e.code().value() == ENOENT)
            *missing = true;
        else if (log)
            logReadFailure(name, "POSIX", e.code().value());
        return std::nullopt;
    }
    try {
        // Given away to the decoder: a large file's text goes before its records are made.
        Snapshot snapshot =
            lists ? Wire::decode<Snapshot>(std::move(bytes)) : Wire::check<Snapshot>(bytes);
        if (snapshot.schema == Snapshot::currentSchema) {
            if (identity)
                *identity = read;
            return snapshot;
        }
    } catch (const DecodingError& e) {
        if (log)
            logReadFailure(name, "JSON", jsonCode(e.kind()));
    }
    return std::nullopt;
}

// The snapshot files this process wrote or read last, by path, with the identity they had then.
// Only a file that is still exactly that one may skip the check before it becomes the backup:
// the process wrote it from a snapshot of the current schema, and what the encoder writes always
// reads back, or it read it whole and found it good. A file replaced or rewritten by anyone
// since has another identity and is checked.
class Written {
public:
    static bool verified(const std::filesystem::path& file) {
        const auto now = FileIO::identity(file);
        const std::lock_guard lock(mutex());
        const auto found = files().find(file.string());
        return now && found != files().end() && found->second == *now;
    }
    static void record(const std::filesystem::path& file, std::optional<FileIO::Identity> id) {
        const std::lock_guard lock(mutex());
        if (id)
            files()[file.string()] = *id;
        else
            files().erase(file.string());
    }

private:
    // Never destroyed: a worker may still save while the process ends.
    static std::mutex& mutex() {
        static auto& m = *new std::mutex;
        return m;
    }
    static std::map<std::string, FileIO::Identity>& files() {
        static auto& f = *new std::map<std::string, FileIO::Identity>;
        return f;
    }
};

} // namespace

SnapshotStore::SnapshotStore() : directory_(SharedContainer::directory()) {}

SnapshotStore::SnapshotStore(std::optional<std::filesystem::path> directory)
    : directory_(std::move(directory)) {}

Snapshot SnapshotStore::load(bool log) const {
    return read(true, log);
}

Snapshot SnapshotStore::summary() const {
    return read(false, true);
}

Snapshot SnapshotStore::read(bool lists, bool log) const {
    if (!directory_)
        return Snapshot{};
    // Before the first save neither file exists, and after it previous.json may not: that is
    // no failure. A current file gone while its backup is there is one.
    bool missing = false;
    FileIO::Identity identity;
    const auto current = *directory_ / currentName;
    if (auto snapshot = readSnapshot(*directory_, currentName, &missing, lists, &identity, log)) {
        // Read whole and found good: the next save need not read it again to back it up.
        Written::record(current, identity);
        return std::move(*snapshot);
    }
    std::error_code ignored;
    if (log && missing && std::filesystem::exists(*directory_ / previousName, ignored))
        logReadFailure(currentName, "POSIX", ENOENT);
    if (auto snapshot = readSnapshot(*directory_, previousName, &missing, lists, nullptr, log))
        return std::move(*snapshot);
    return Snapshot{};
}

void SnapshotStore::save(const Snapshot& snapshot) const {
    if (!directory_)
        throw std::system_error(ENOENT, std::generic_category());
    FileIO::makeDirectory(*directory_);

    // Only a good current file becomes the backup: damage must never spread to previous.json.
    const auto file = *directory_ / currentName;
    // Judged as a summary reads it, silently: a large file's text is gone before the new one is
    // encoded.
    const bool backup =
        Written::verified(file) ||
        readSnapshot(*directory_, currentName, nullptr, false, nullptr, false).has_value();
    FileIO::Identity written;
    try {
        FileIO::replace(
            file, [&snapshot](const FileIO::Write& write) { Wire::encode(snapshot, write); },
            backup ? std::optional(*directory_ / previousName) : std::nullopt, &written);
    } catch (...) {
        Written::record(file, std::nullopt);
        throw;
    }
    Written::record(file, snapshot.schema == Snapshot::currentSchema ? std::optional(written)
                                                                     : std::nullopt);
}

} // namespace tessel
