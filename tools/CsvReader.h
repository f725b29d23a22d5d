// CsvReader: the records of a delimited text file, streamed a line at a time through a buffer, so
// that a file of any size costs the buffer and one record. Fields may be double-quoted ("" inside is
// a quote) when the quote opens the field; a quote elsewhere is text. A quoted field does not span
// lines. Blank lines and lines starting with '#' are skipped. The first block of the file (its first
// 256 KiB, or all of a smaller file) decides what the whole file is taken as: its delimiter, unless
// given, and its encoding: UTF-8 when the block is, Latin-1 (an instrument's export) otherwise; a
// later field that is not UTF-8 is read as Latin-1 too. Reads the InputFile it is given, which must
// outlive it; used from one thread.
#ifndef DBIF_TOOLS_CSVREADER_H
#define DBIF_TOOLS_CSVREADER_H

#include <QByteArray>
#include <QByteArrayView>
#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>
#include <vector>

#include "InputFile.h"

class CsvReader {
public:
    // A record with its fields as the file's bytes, unquoted and trimmed; the fields are valid until
    // the next call of next().
    struct Record {
        int line = 0;
        std::vector<QByteArrayView> fields;
    };
    // A record that owns its fields.
    struct HeldRecord {
        int line = 0;
        QList<QByteArray> fields;
    };
    // A record with its fields as text.
    struct TextRecord {
        int line = 0;
        QStringList fields;
    };

    // Reads the first block of the file at path (named in messages); a null delimiter is found from
    // it: of tab, ';' and ',', in this order, the first that splits its last lines into the same number
    // (above one) of fields; ',' when none does. A ';' file with decimal commas also splits evenly at
    // its commas, so ';' goes first. Throws ToolError when the file cannot be read.
    CsvReader(const QString& path, InputFile& file, QChar delimiter = QLatin1Char(','));

    // The records of the whole lines of the first block, for a look at the file before it is read.
    // Throws ToolError "file:line: a quoted field is not closed".
    QVector<HeldRecord> firstRecords() const;
    // The next record, from the file's first; false after the last. Throws ToolError
    // "file:line: a quoted field is not closed", or when the file cannot be read.
    bool next(Record& record);
    // A field as text, in the file's encoding.
    QString text(QByteArrayView field) const;
    QChar delimiter() const { return separator; }
    // The share of the file read so far (0 to 1); 0 for a file of unknown size (a pipe).
    double done() const;
    // The file's lines, counted in a first pass over a regular file (which costs little beside the
    // parsing) so that progress can say how many rows a file has; -1 for a pipe.
    qint64 lineCount() const { return lines; }

    // The records of a whole (small) file at path whose fields are separated by commas. Throws
    // ToolError as the constructor and next() do.
    static QVector<TextRecord> readAll(const QString& path);
    // One field as CSV writes it: quoted when it holds a comma, a quote or a line break.
    static QString quote(const QString& field);

private:
    // The next line without its line break, valid until the next call; false at the end.
    bool nextLine(QByteArrayView& line);
    // Reads more of the file behind the bytes not used yet; false at its end.
    bool fill();

    QString path;
    InputFile& file;
    QChar separator;
    bool utf8 = true;
    QByteArray buffer;
    qsizetype begin = 0;       // the first byte not used yet
    qsizetype end = 0;         // the end of the bytes read
    qsizetype textStart = 0;   // after a byte order mark
    qsizetype firstBlock = 0;  // the whole lines of the first block end here, while it is in the buffer
    bool atEnd = false;
    int lineNumber = 0;
    qint64 lines = -1;
    qint64 used = 0;      // bytes of the file before begin
    QByteArray unquoted;  // the fields of a line with quotes, which differ from the line's bytes
};

#endif
