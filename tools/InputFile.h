// InputFile: a file that an import reads, in pieces (a sweep is streamed) or whole (a Touchstone file,
// a manifest). A file named on the command line is read as it is (a pipe too: the user chose it). A
// file that a manifest lists is someone else's choice, so it is read only when it is a regular file,
// by default only inside the manifest's own folder, and never past the size it had when opened: a
// manifest must not lead the tool to /etc, to a device that never ends or to a FIFO that never
// answers. Owns its open file, closed with it; used from one thread.
#ifndef DBIF_TOOLS_INPUTFILE_H
#define DBIF_TOOLS_INPUTFILE_H

#include <QByteArray>
#include <QFile>
#include <QString>

class InputFile {
public:
    // Where a manifest lists a file: the manifest's path and line, the file as the row writes it,
    // and whether files outside the manifest's folder may be read (--allow-outside).
    struct ManifestRow {
        QString manifest;
        int line = 0;
        QString written;
        bool allowOutside = false;
    };

    // Opens the file at path. Throws ToolError "path: reason" when it cannot be opened.
    explicit InputFile(const QString& path);
    // Opens the file at path, which the row names. Throws ToolError "manifest:line: file: reason"
    // when it is refused or cannot be opened.
    InputFile(const QString& path, const ManifestRow& row);
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // The file's size when opened; -1 when it has none (a pipe).
    qint64 size() const { return bytes; }
    // Reads up to most bytes into into; 0 at the end. Throws ToolError when the read fails.
    qint64 readSome(char* into, qint64 most);
    // The rest of the file.
    QByteArray readAll();
    // Goes back to the start of a regular file, to be read again as it was; false for a pipe.
    bool rewind();

    // The whole file at path, as the constructors open it.
    static QByteArray read(const QString& path) { return InputFile(path).readAll(); }
    static QByteArray read(const QString& path, const ManifestRow& row) {
        return InputFile(path, row).readAll();
    }

private:
    QString path;
    ManifestRow row;  // the manifest is empty for a file of the command line
    QFile file;
    qint64 bytes = -1;
    qint64 left = -1;  // what a manifest's file may still give; -1: no limit
};

#endif
