#include "widgets/selection_suite.h"

#include <QString>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "storage/container.h"
#include "storage/file_io.h"

namespace tessel {

namespace {

// The suite holds a few short keys; anything larger is damage, and parsing it would stall the
// host's provider thread.
constexpr std::size_t sizeLimit = 1 << 20;

// The file is read and written here rather than through QSettings: QSettings trusts its
// per-process cache while the file's size and modification time look unchanged, and two
// processes' writes within one clock tick of the file system then lose a click. The format
// stays QSettings' own, keys escaped as it escapes them ("%XX", "%UXXXX" for everything but
// letters, digits, "_", "-" and "."), so "/" and "\" never act as group separators.
std::string escapedKey(const std::string& key) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const QChar qc : QString::fromStdString(key)) {
        const char16_t c = qc.unicode();
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
            c == u'_' || c == u'-' || c == u'.') {
            out += char(c);
        } else if (c <= 0xFF) {
            out += {'%', hex[c >> 4], hex[c & 15]};
        } else {
            out += {'%', 'U', hex[c >> 12], hex[(c >> 8) & 15], hex[(c >> 4) & 15], hex[c & 15]};
        }
    }
    return out;
}

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

using Entries = std::map<std::string, std::string>;

// The [General] section's entries; lines that are no entry are skipped.
Entries parse(std::string_view text) {
    Entries entries;
    bool general = true;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.starts_with('[')) {
            general = line == "[General]";
            continue;
        }
        const auto equals = line.find('=');
        if (general && equals != std::string::npos && equals > 0)
            entries[trimmed(std::string_view(line).substr(0, equals))] =
                trimmed(std::string_view(line).substr(equals + 1));
    }
    return entries;
}

std::int64_t integerOf(const std::string& value) {
    std::int64_t whole = 0;
    const char* end = value.data() + value.size();
    if (auto [at, error] = std::from_chars(value.data(), end, whole);
        error == std::errc() && at == end)
        return whole;
    char* stop = nullptr;
    const double number = std::strtod(value.c_str(), &stop);
    if (!value.empty() && stop == value.c_str() + value.size() && std::isfinite(number) &&
        std::abs(number) < 9.2e18)
        return std::int64_t(number);
    return 0;
}

class FileLock {
public:
    explicit FileLock(const std::filesystem::path& file)
        : fd_(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FileLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_;
};

// The entries of the file; a missing file is an empty suite, any other failure (a FIFO, a
// directory, a huge or unreadable file) one that cannot be opened.
std::optional<Entries> load(const std::filesystem::path& file) {
    try {
        return parse(FileIO::read(file, sizeLimit));
    } catch (const std::system_error& error) {
        if (error.code() == std::errc::no_such_file_or_directory)
            return Entries{};
        return std::nullopt;
    }
}

} // namespace

SelectionSuite::SelectionSuite() : SelectionSuite(SharedContainer::directory()) {}

SelectionSuite::SelectionSuite(std::optional<std::filesystem::path> directory)
    : directory_(std::move(directory)) {}

std::int64_t SelectionSuite::integer(const std::string& key) const {
    if (!directory_)
        return 0;
    const std::optional<Entries> entries = load(*directory_ / fileName);
    if (!entries)
        return 0;
    const auto found = entries->find(escapedKey(key));
    return found == entries->end() ? 0 : integerOf(found->second);
}

bool SelectionSuite::update(const std::string& key,
                            const std::function<std::int64_t(std::int64_t)>& next) const {
    if (!directory_)
        return false;
    try {
        FileIO::makeDirectory(*directory_);
        const FileLock lock(*directory_ / ".selection.lock");
        if (!lock.held())
            return false;
        const std::filesystem::path file = *directory_ / fileName;
        std::optional<Entries> entries = load(file);
        if (!entries)
            return false;
        std::string& value = (*entries)[escapedKey(key)];
        value = std::to_string(next(integerOf(value)));
        std::string text = "[General]\n";
        for (const auto& [name, stored] : *entries)
            text += name + '=' + stored + '\n';
        FileIO::writeAtomically(file, text);
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

} // namespace tessel
