// CsvReader.cpp: the buffer, the delimiter, the encoding, and splitting lines into fields.
#include "CsvReader.h"

#include <QMap>
#include <QStringDecoder>
#include <algorithm>
#include <cstring>

#include "ToolError.h"

namespace {

// The first block, and the size the buffer starts with; it grows only for a longer line.
const qsizetype BLOCK_BYTES = 256 * 1024;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

QByteArrayView trimmed(QByteArrayView text) {
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && isBlank(text[from]))
        ++from;
    while (to > from && isBlank(text[to - 1]))
        --to;
    return text.sliced(from, to - from);
}

// Splits a line into its fields. The fields of a line without quotes are pieces of it; those of a
// line with quotes are copied into scratch. False when a quote opened in the line is not closed.
bool splitLine(QByteArrayView line, char delimiter, std::vector<QByteArrayView>& fields,
               QByteArray& scratch) {
    fields.clear();
    // Most lines of a sweep hold no quotes: split them in one pass.
    if (line.indexOf('"') < 0) {
        qsizetype from = 0;
        for (;;) {
            const qsizetype at = line.indexOf(delimiter, from);
            if (at < 0) {
                fields.push_back(trimmed(line.sliced(from)));
                return true;
            }
            fields.push_back(trimmed(line.sliced(from, at - from)));
            from = at + 1;
        }
    }
    // The unquoted text of every field, one after the other, and where each one starts; the views are
    // taken once the text is complete, since it may move while it grows.
    scratch.clear();
    std::vector<std::pair<qsizetype, qsizetype>> pieces;
    qsizetype start = 0;
    bool quoted = false;
    const auto finish = [&] {
        const QByteArrayView field = trimmed(QByteArrayView(scratch).sliced(start));
        pieces.emplace_back(field.isEmpty() ? start : field.data() - scratch.constData(), field.size());
    };
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                scratch += c;
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                scratch += c;
            }
        } else if (c == '"' && trimmed(QByteArrayView(scratch).sliced(start)).isEmpty()) {
            // Only a quote that opens a field quotes it; a stray one (5" probe) is text.
            scratch.truncate(start);
            quoted = true;
        } else if (c == delimiter) {
            finish();
            start = scratch.size();
        } else {
            scratch += c;
        }
    }
    finish();
    for (const auto& [at, size] : pieces)
        fields.push_back(QByteArrayView(scratch.constData() + at, size));
    return !quoted;
}

bool skipped(QByteArrayView line) {
    const QByteArrayView text = trimmed(line);
    return text.isEmpty() || text.startsWith('#');
}

// The lines of a piece of text that ends with a whole line, each with its number from 1 and without
// its line break, handed to take until it returns false.
template <typename Take>
void eachLine(QByteArrayView text, Take take) {
    int number = 0;
    qsizetype from = 0;
    while (from < text.size()) {
        qsizetype at = text.indexOf('\n', from);
        if (at < 0)
            at = text.size();
        QByteArrayView line = text.sliced(from, at - from);
        if (line.endsWith('\r'))
            line.chop(1);
        if (!take(++number, line))
            return;
        from = at + 1;
    }
}

}  // namespace

CsvReader::CsvReader(const QString& path, InputFile& file, QChar delimiter)
    : path(path), file(file), buffer(BLOCK_BYTES, Qt::Uninitialized) {
    if (file.size() > 0) {
        qint64 breaks = 0;
        char last = '\n';
        for (qint64 count; (count = file.readSome(buffer.data(), buffer.size())) > 0;) {
            breaks += std::count(buffer.constData(), buffer.constData() + count, '\n');
            last = buffer[count - 1];
        }
        if (file.rewind())
            lines = breaks + (last == '\n' ? 0 : 1);
    }
    while (end < buffer.size() && !atEnd)
        fill();
    // A byte order mark is not part of the first column's name.
    if (QByteArrayView(buffer.constData(), end).startsWith("\xEF\xBB\xBF"))
        begin = used = textStart = 3;
    firstBlock = atEnd ? end : QByteArrayView(buffer.constData(), end).lastIndexOf('\n') + 1;
    firstBlock = std::max(firstBlock, begin);
    const QByteArrayView first(buffer.constData() + begin, firstBlock - begin);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    // The decoder finds errors only while it makes the text.
    const QString decoded = decoder(first);
    utf8 = !decoder.hasError();
    if (!delimiter.isNull()) {
        separator = delimiter;
        return;
    }
    QList<QByteArrayView> last;
    eachLine(first, [&last](int, QByteArrayView line) {
        if (!skipped(line))
            last.append(line);
        return true;
    });
    last = last.mid(std::max<qsizetype>(0, last.size() - 20));
    separator = QLatin1Char(',');
    std::vector<QByteArrayView> fields;
    QByteArray scratch;
    for (const char candidate : {'\t', ';', ','}) {
        QMap<size_t, int> counts;  // fields -> lines
        for (const QByteArrayView line : last) {
            splitLine(line, candidate, fields, scratch);
            ++counts[fields.size()];
        }
        if (!last.isEmpty() && counts.size() == 1 && counts.firstKey() > 1) {
            separator = QLatin1Char(candidate);
            return;
        }
    }
}

QVector<CsvReader::HeldRecord> CsvReader::firstRecords() const {
    QVector<HeldRecord> records;
    std::vector<QByteArrayView> fields;
    QByteArray scratch;
    const char delimiter = separator.toLatin1();
    const QByteArrayView first(buffer.constData() + textStart, firstBlock - textStart);
    eachLine(first, [&](int number, QByteArrayView line) {
        if (skipped(line))
            return true;
        if (!splitLine(line, delimiter, fields, scratch))
            throw ToolError(QStringLiteral("%1:%2: a quoted field is not closed").arg(path).arg(number));
        HeldRecord record{number, {}};
        for (const QByteArrayView field : fields)
            record.fields.append(field.toByteArray());
        records.append(record);
        return true;
    });
    return records;
}

bool CsvReader::fill() {
    // The block is gone once its bytes move.
    firstBlock = 0;
    if (begin > 0) {
        std::memmove(buffer.data(), buffer.constData() + begin, end - begin);
        end -= begin;
        begin = 0;
    }
    if (end == buffer.size())
        buffer.resize(buffer.size() * 2);
    const qint64 count = file.readSome(buffer.data() + end, buffer.size() - end);
    end += count;
    atEnd = count == 0;
    return !atEnd;
}

bool CsvReader::nextLine(QByteArrayView& line) {
    for (;;) {
        const char* const start = buffer.constData() + begin;
        const void* const found = std::memchr(start, '\n', end - begin);
        if (found != nullptr || (atEnd && begin < end)) {
            const qsizetype length = found != nullptr ? static_cast<const char*>(found) - start : end - begin;
            const qsizetype step = found != nullptr ? length + 1 : length;
            begin += step;
            used += step;
            line = QByteArrayView(start, length);
            if (line.endsWith('\r'))
                line.chop(1);
            ++lineNumber;
            return true;
        }
        if (atEnd)
            return false;
        fill();
    }
}

bool CsvReader::next(Record& record) {
    QByteArrayView line;
    while (nextLine(line)) {
        if (skipped(line))
            continue;
        record.line = lineNumber;
        if (!splitLine(line, separator.toLatin1(), record.fields, unquoted))
            throw ToolError(QStringLiteral("%1:%2: a quoted field is not closed").arg(path).arg(lineNumber));
        return true;
    }
    return false;
}

QString CsvReader::text(QByteArrayView field) const {
    if (!utf8)
        return QString::fromLatin1(field);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder(field);
    return decoder.hasError() ? QString::fromLatin1(field) : decoded;
}

double CsvReader::done() const {
    return file.size() > 0 ? std::min(1.0, static_cast<double>(used) / file.size()) : 0.0;
}

QVector<CsvReader::TextRecord> CsvReader::readAll(const QString& path) {
    InputFile file(path);
    CsvReader reader(path, file);
    QVector<TextRecord> records;
    Record record;
    while (reader.next(record)) {
        TextRecord text{record.line, {}};
        for (const QByteArrayView field : record.fields)
            text.fields << reader.text(field);
        records.append(text);
    }
    return records;
}

QString CsvReader::quote(const QString& field) {
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) &&
        !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')))
        return field;
    QString doubled = field;
    doubled.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}
