#include "sync/app_support.h"

#include <QFile>

#include "gateway/secret_memory.h"
#include "storage/file_io.h"

namespace tessel::AppSupport {

void forbidCoreDumps() {
    SecretMemory::forbidCoreDumps();
}

void makePrivateDirectory(const QString& directory) {
    FileIO::makeDirectory(QFile::encodeName(directory).toStdString());
}

void writePrivateFile(const QString& file, const QByteArray& bytes) {
    FileIO::writeAtomically(QFile::encodeName(file).toStdString(),
                            std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

} // namespace tessel::AppSupport
