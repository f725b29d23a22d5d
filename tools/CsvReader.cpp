// CsvReader.cpp: decoding, the delimiter, and splitting lines into fields.
#include "CsvReader.h"

#include <QMap>
#include <QStringDecoder>

#include "InputFile.h"
#include "ToolError.h"

namespace {

const int PROGRESS_LINES = 1024;

// False when a quote opened in the line is not closed.
bool splitLine(const QString& line, QChar delimiter, QStringList& fields) {
    // Most lines of a sweep hold no quotes: split them in one pass.
    if (!line.contains(QLatin1Char('"'))) {
        for (const QStringView field : QStringView(line).split(delimiter))
            fields << field.trimmed().toString();
        return true;
    }
    QString field;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"') && field.trimmed().isEmpty()) {
            // Only a quote that opens a field quotes it; a stray one (5" probe) is text.
            field.clear();
            quoted = true;
        } else if (c == delimiter) {
            fields << field.trimmed();
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field.trimmed();
    return !quoted;
}

bool skipped(const QString& line) {
    const QString trimmed = line.trimmed();
    return trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#'));
}

}  // namespace

CsvReader::CsvReader(const QString& path) : CsvReader(path, InputFile::read(path)) {}

CsvReader::CsvReader(const QString& path, const QByteArray& text, QChar delimiter, const Progress& progress) {
    QStringList lines = decode(text).split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    separator = delimiter.isNull() ? detectDelimiter(lines) : delimiter;
    for (int index = 0; index < lines.size(); ++index) {
        if (progress && index > 0 && index % PROGRESS_LINES == 0)
            progress(index, lines.size());
        if (skipped(lines[index]))
            continue;
        Record record{index + 1, {}};
        if (!splitLine(lines[index], separator, record.fields))
            throw ToolError(QStringLiteral("%1:%2: a quoted field is not closed").arg(path).arg(index + 1));
        all.append(record);
    }
}

QString CsvReader::decode(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

QChar CsvReader::detectDelimiter(const QStringList& lines) {
    QStringList last;
    for (qsizetype i = lines.size() - 1; i >= 0 && last.size() < 20; --i) {
        if (!skipped(lines[i]))
            last << lines[i];
    }
    for (const QChar candidate : {QLatin1Char('\t'), QLatin1Char(';'), QLatin1Char(',')}) {
        QMap<qsizetype, int> counts;  // fields -> lines
        for (const QString& line : last) {
            QStringList fields;
            splitLine(line, candidate, fields);
            ++counts[fields.size()];
        }
        if (!last.isEmpty() && counts.size() == 1 && counts.firstKey() > 1)
            return candidate;
    }
    return QLatin1Char(',');
}

QString CsvReader::quote(const QString& field) {
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) &&
        !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')))
        return field;
    QString doubled = field;
    doubled.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}
