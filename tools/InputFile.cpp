// InputFile.cpp: the checks on a file a manifest lists, and reading no more than it held when opened.
#include "InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "ToolError.h"

namespace {

// Closes the descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

}  // namespace

QByteArray InputFile::read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ToolError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    return file.readAll();
}

QByteArray InputFile::read(const QString& path, const ManifestRow& row) {
    const auto refused = [&row](const QString& reason) {
        return ToolError(
            QStringLiteral("%1:%2: file %3: %4").arg(row.manifest).arg(row.line).arg(row.written, reason));
    };
    if (row.written.isEmpty())
        throw ToolError(QStringLiteral("%1:%2: no file named").arg(row.manifest).arg(row.line));
    // stat, unlike open, neither blocks on a FIFO nor wakes a device.
    struct stat found;
    if (::stat(QFile::encodeName(path).constData(), &found) != 0)
        throw refused(systemError());
    if (!S_ISREG(found.st_mode))
        throw refused(QStringLiteral("not a regular file (a device, FIFO or folder is never read)"));
    // The file once '..' and symbolic links are resolved is the one checked, opened and read.
    const QString real = QFileInfo(path).canonicalFilePath();
    const QString folder =
        QFileInfo(QFileInfo(row.manifest).absolutePath()).canonicalFilePath() + QLatin1Char('/');
    if (real.isEmpty())
        throw refused(QStringLiteral("cannot resolve %1").arg(path));
    if (!row.allowOutside && folder != QLatin1String("//") && !real.startsWith(folder)) {
        throw refused(QStringLiteral("%1 is outside the manifest's folder %2 (--allow-outside reads it)")
                          .arg(real, folder.chopped(1)));
    }
    // O_NONBLOCK keeps a FIFO swapped in since stat from blocking the open; O_NOFOLLOW refuses a
    // symbolic link swapped in. The descriptor must then still be the regular file that was checked.
    const Descriptor file(::open(QFile::encodeName(real).constData(),
                                 O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    struct stat opened;
    if (file.get() < 0 || ::fstat(file.get(), &opened) != 0)
        throw refused(systemError());
    if (!S_ISREG(opened.st_mode) || opened.st_dev != found.st_dev || opened.st_ino != found.st_ino)
        throw refused(QStringLiteral("replaced while it was opened"));
    // A file that grows while it is read is read up to the size it had when opened.
    QByteArray bytes(static_cast<qsizetype>(opened.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t count =
            ::read(file.get(), bytes.data() + done, static_cast<size_t>(bytes.size() - done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            throw refused(systemError());
        if (count == 0)
            break;
        done += count;
    }
    bytes.truncate(done);
    return bytes;
}
