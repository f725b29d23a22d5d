// CsvReader: the records of a delimited text file, one per line, with the line they came from.
// Fields may be double-quoted ("" inside is a quote) when the quote opens the field; a quote
// elsewhere is text. A quoted field does not span lines. Blank lines and lines starting with '#'
// are skipped. Bytes that are not UTF-8 are read as Latin-1. Reads the whole file at construction;
// a plain value.
#ifndef DBIF_TOOLS_CSVREADER_H
#define DBIF_TOOLS_CSVREADER_H

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

class CsvReader {
public:
    struct Record {
        int line;
        QStringList fields;
    };

    // Throws ToolError "file: message" for an unreadable file, "file:line: message" for a line whose
    // quotes do not close. The fields are separated by commas.
    explicit CsvReader(const QString& path);
    // Told every few thousand lines how many of the text's lines are split, of how many.
    using Progress = std::function<void(qsizetype split, qsizetype lines)>;

    // The records of text already read from the file at path (named in messages), the fields
    // separated by delimiter; a null delimiter is found from the text (detectDelimiter).
    CsvReader(const QString& path, const QByteArray& text, QChar delimiter = QLatin1Char(','),
              const Progress& progress = {});

    const QVector<Record>& records() const { return all; }
    QChar delimiter() const { return separator; }
    // One field as CSV writes it: quoted when it holds a comma, a quote or a line break.
    static QString quote(const QString& field);
    // The text of a file's bytes: UTF-8 when they are, Latin-1 otherwise (an instrument's export).
    static QString decode(const QByteArray& bytes);
    // Of tab, ';' and ',', in this order, the first that splits the last lines of the text into
    // the same number (above one) of fields; ',' when none does. A ';' file with decimal commas
    // also splits evenly at its commas, so ';' goes first.
    static QChar detectDelimiter(const QStringList& lines);

private:
    QVector<Record> all;
    QChar separator;
};

#endif
