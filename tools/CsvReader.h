// CsvReader: the records of a comma-separated text file, one per line, with the line they came from.
// Fields may be double-quoted ("" inside is a quote); a quoted field does not span lines. Blank lines
// and lines starting with '#' are skipped. Reads the whole file at construction; a plain value.
#ifndef DBIF_TOOLS_CSVREADER_H
#define DBIF_TOOLS_CSVREADER_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

class CsvReader {
public:
    struct Record {
        int line;
        QStringList fields;
    };

    // Throws ToolError "file: message" for an unreadable file, "file:line: message" for a line whose
    // quotes do not close.
    explicit CsvReader(const QString& path);
    // The records of text already read from the file at path (named in messages).
    CsvReader(const QString& path, const QByteArray& text);

    const QVector<Record>& records() const { return all; }
    // One field as CSV writes it: quoted when it holds a comma, a quote or a line break.
    static QString quote(const QString& field);

private:
    QVector<Record> all;
};

#endif
