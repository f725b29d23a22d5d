// InputFile.cpp: the checks on a file a manifest lists, and reading no more than it held when opened.
#include "InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ToolError.h"

namespace {

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

ToolError refused(const InputFile::ManifestRow& row, const QString& reason) {
    return ToolError(
        QStringLiteral("%1:%2: file %3: %4").arg(row.manifest).arg(row.line).arg(row.written, reason));
}

}  // namespace

InputFile::InputFile(const QString& path) : path(path), file(path) {
    // Unbuffered: the reader has its own buffer, and a second copy of every byte would cost time.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw ToolError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    bytes = file.isSequential() ? -1 : file.size();
}

InputFile::InputFile(const QString& path, const ManifestRow& row) : path(path), row(row) {
    if (row.written.isEmpty())
        throw ToolError(QStringLiteral("%1:%2: no file named").arg(row.manifest).arg(row.line));
    // stat, unlike open, neither blocks on a FIFO nor wakes a device.
    struct stat found;
    if (::stat(QFile::encodeName(path).constData(), &found) != 0)
        throw refused(row, systemError());
    if (!S_ISREG(found.st_mode))
        throw refused(row, QStringLiteral("not a regular file (a device, FIFO or folder is never read)"));
    // The file once '..' and symbolic links are resolved is the one checked, opened and read.
    const QString real = QFileInfo(path).canonicalFilePath();
    const QString folder =
        QFileInfo(QFileInfo(row.manifest).absolutePath()).canonicalFilePath() + QLatin1Char('/');
    if (real.isEmpty())
        throw refused(row, QStringLiteral("cannot resolve %1").arg(path));
    if (!row.allowOutside && folder != QLatin1String("//") && !real.startsWith(folder)) {
        throw refused(row, QStringLiteral("%1 is outside the manifest's folder %2 (--allow-outside reads it)")
                               .arg(real, folder.chopped(1)));
    }
    // O_NONBLOCK keeps a FIFO swapped in since stat from blocking the open; O_NOFOLLOW refuses a
    // symbolic link swapped in. The descriptor must then still be the regular file that was checked.
    const int fd = ::open(QFile::encodeName(real).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    struct stat opened;
    if (fd < 0)
        throw refused(row, systemError());
    if (::fstat(fd, &opened) != 0) {
        const ToolError error = refused(row, systemError());
        ::close(fd);
        throw error;
    }
    if (!S_ISREG(opened.st_mode) || opened.st_dev != found.st_dev || opened.st_ino != found.st_ino) {
        ::close(fd);
        throw refused(row, QStringLiteral("replaced while it was opened"));
    }
    // The QFile owns the descriptor from here on.
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw refused(row, file.errorString());
    }
    // A file that grows while it is read is read up to the size it had when opened.
    bytes = static_cast<qint64>(opened.st_size);
    left = bytes;
}

qint64 InputFile::readSome(char* into, qint64 most) {
    if (left >= 0)
        most = std::min(most, left);
    if (most <= 0)
        return 0;
    const qint64 count = file.read(into, most);
    if (count < 0) {
        if (row.manifest.isEmpty())
            throw ToolError(QStringLiteral("%1: %2").arg(path, file.errorString()));
        throw refused(row, file.errorString());
    }
    if (left >= 0)
        left -= count;
    return count;
}

bool InputFile::rewind() {
    if (file.isSequential() || !file.seek(0))
        return false;
    if (left >= 0)
        left = bytes;
    return true;
}

QByteArray InputFile::readAll() {
    QByteArray all;
    qsizetype done = 0;
    // A regular file is read in one piece of its size (the byte beyond finds its end); a pipe in
    // pieces of unknown number.
    all.resize(bytes > 0 ? bytes + 1 : 65536);
    for (;;) {
        if (done == all.size())
            all.resize(all.size() * 2);
        const qint64 count = readSome(all.data() + done, all.size() - done);
        if (count == 0)
            break;
        done += count;
    }
    all.truncate(done);
    return all;
}
