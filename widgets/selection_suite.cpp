#include "widgets/selection_suite.h"

#include <QSettings>
#include <QString>

#include <cmath>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/container.h"
#include "storage/file_io.h"

namespace tessel {

namespace {

// The suite holds a few short keys; anything larger is damage, and parsing it would stall the
// host's provider thread.
constexpr off_t sizeLimit = 1 << 20;

// QSettings treats "/" and "\" as group separators and folds repeated ones, which would make
// different subscription ids share a key. Escaping them (and the escape itself) keeps keys
// distinct; keys without these characters are stored as written.
QString settingsKey(const std::string& key) {
    QString out;
    for (const QChar c : QString::fromStdString(key)) {
        if (c == u'%')
            out += QLatin1String("%25");
        else if (c == u'/')
            out += QLatin1String("%2F");
        else if (c == u'\\')
            out += QLatin1String("%5C");
        else
            out += c;
    }
    return out;
}

// A missing file is an empty suite; a FIFO, a device or a huge file is one that cannot be
// opened.
bool usableFile(const std::filesystem::path& file, bool& exists) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        exists = false;
        return errno == ENOENT;
    }
    exists = true;
    return S_ISREG(info.st_mode) && info.st_size <= sizeLimit;
}

std::int64_t integerOf(const QVariant& value) {
    bool ok = false;
    const qlonglong whole = value.toLongLong(&ok);
    if (ok)
        return whole;
    const double number = value.toDouble(&ok);
    if (ok && std::isfinite(number) && std::abs(number) < 9.2e18)
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

} // namespace

SelectionSuite::SelectionSuite() : SelectionSuite(SharedContainer::directory()) {}

SelectionSuite::SelectionSuite(std::optional<std::filesystem::path> directory)
    : directory_(std::move(directory)) {}

std::int64_t SelectionSuite::integer(const std::string& key) const {
    if (!directory_)
        return 0;
    const std::filesystem::path file = *directory_ / fileName;
    bool exists = false;
    if (!usableFile(file, exists) || !exists)
        return 0;
    const QSettings suite(QString::fromStdString(file.string()), QSettings::IniFormat);
    if (suite.status() == QSettings::AccessError)
        return 0;
    return integerOf(suite.value(settingsKey(key)));
}

bool SelectionSuite::update(const std::string& key,
                            const std::function<std::int64_t(std::int64_t)>& next) const {
    if (!directory_)
        return false;
    try {
        FileIO::makeDirectory(*directory_);
    } catch (const std::system_error&) {
        return false;
    }
    const FileLock lock(*directory_ / ".selection.lock");
    if (!lock.held())
        return false;
    const std::filesystem::path file = *directory_ / fileName;
    bool exists = false;
    if (!usableFile(file, exists))
        return false;
    QSettings suite(QString::fromStdString(file.string()), QSettings::IniFormat);
    // A damaged file is rewritten with what could be read; one we may not read is left alone.
    if (suite.status() == QSettings::AccessError)
        return false;
    const QString name = settingsKey(key);
    suite.setValue(name, qlonglong(next(integerOf(suite.value(name)))));
    suite.sync();
    if (suite.status() == QSettings::AccessError)
        return false;
    ::chmod(file.c_str(), 0600);
    return true;
}

} // namespace tessel
