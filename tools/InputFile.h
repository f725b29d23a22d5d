// InputFile: the bytes of a file that an import reads. A file named on the command line is read as
// it is (a pipe too: the user chose it). A file that a manifest lists is someone else's choice, so it
// is read only when it is a regular file, by default only inside the manifest's own folder, and never
// past the size it had when opened: a manifest must not lead the tool to /etc, to a device that never
// ends or to a FIFO that never answers. Stateless; used from one thread.
#ifndef DBIF_TOOLS_INPUTFILE_H
#define DBIF_TOOLS_INPUTFILE_H

#include <QByteArray>
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

    // The whole file. Throws ToolError "path: reason" when it cannot be read.
    static QByteArray read(const QString& path);
    // The file at path, which the row names. Throws ToolError "manifest:line: file: reason" when
    // it is refused or cannot be read.
    static QByteArray read(const QString& path, const ManifestRow& row);
};

#endif
