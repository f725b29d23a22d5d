// CsvReader.cpp: splitting lines into fields.
#include "CsvReader.h"

#include "InputFile.h"
#include "ToolError.h"

namespace {

// False when a quote opened in the line is not closed.
bool splitLine(const QString& line, QStringList& fields) {
    // Most lines of a sweep hold no quotes: split them in one pass.
    if (!line.contains(QLatin1Char('"'))) {
        for (const QStringView field : QStringView(line).split(QLatin1Char(',')))
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
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields << field.trimmed();
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field.trimmed();
    return !quoted;
}

}  // namespace

CsvReader::CsvReader(const QString& path) : CsvReader(path, InputFile::read(path)) {}

CsvReader::CsvReader(const QString& path, const QByteArray& text) {
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (int index = 0; index < lines.size(); ++index) {
        QString line = lines[index];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(QLatin1Char('#')))
            continue;
        Record record{index + 1, {}};
        if (!splitLine(line, record.fields))
            throw ToolError(QStringLiteral("%1:%2: a quoted field is not closed").arg(path).arg(index + 1));
        all.append(record);
    }
}

QString CsvReader::quote(const QString& field) {
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) &&
        !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')))
        return field;
    QString doubled = field;
    doubled.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}
