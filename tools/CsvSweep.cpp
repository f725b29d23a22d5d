// CsvSweep.cpp: the header row, the decimal mark, the missing markers and the cells.
#include "CsvSweep.h"

#include <QRegularExpression>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <charconv>
#include <cmath>

#include "CsvReader.h"
#include "ToolError.h"

namespace {

const int PROGRESS_ROWS = 1024;

// Characters as the database counts them: a character beyond the 16 bits of a QChar is one.
qsizetype characters(const QString& text) {
    return text.size() - std::count_if(text.begin(), text.end(), [](QChar c) { return c.isLowSurrogate(); });
}

// A header "Id [mA]": the column is named with the SI unit, "Id [A]", and its values are scaled to
// it, so that files in mA, uA and A share one column and compare alike. A unit that is not an SI unit
// with an optional prefix ("V/dec") stays as it is and its values unscaled.
struct Heading {
    QString name;
    int exponent = 0;  // SI value = value * 10^exponent, a multiple of 3
};

Heading headingOf(const QString& header) {
    static const QRegularExpression bracket(QStringLiteral("^(.*?)\\s*\\[\\s*([^\\]]*?)\\s*\\]\\s*$"));
    static const QStringList units{"A", "V", "W", "Hz", "s", "Ohm", "\u03a9",
                                   "F", "H", "S", "m",  "K", "J",   "C"};
    static const QList<QPair<QString, int>> prefixes{{"f", -15},     {"p", -12},     {"n", -9}, {"u", -6},
                                                     {"\u00b5", -6}, {"\u03bc", -6}, {"m", -3}, {"k", 3},
                                                     {"M", 6},       {"G", 9},       {"T", 12}};
    const QRegularExpressionMatch match = bracket.match(header.trimmed());
    if (!match.hasMatch() || match.captured(2).isEmpty())
        return {header.trimmed().remove(QRegularExpression(QStringLiteral("\\s*\\[\\s*\\]$"))), 0};
    const QString name = match.captured(1);
    if (name.isEmpty())
        return {QString(), 0};
    const QString unit = match.captured(2);
    const auto named = [&name](const QString& si) {
        return name + QStringLiteral(" [") + si + QLatin1Char(']');
    };
    if (units.contains(unit))
        return {named(unit), 0};
    for (const auto& prefix : prefixes) {
        const QString rest = unit.mid(prefix.first.size());
        if (unit.startsWith(prefix.first) && units.contains(rest))
            return {named(rest), prefix.second};
    }
    return {named(unit), 0};
}

// Dividing by an exact power of ten rounds once, so 1.5 mA becomes the double nearest 0.0015 A.
double toSi(double value, int exponent) {
    static const double powers[] = {1, 1e3, 1e6, 1e9, 1e12, 1e15};
    return exponent < 0 ? value / powers[-exponent / 3] : value * powers[exponent / 3];
}

// What instruments and spreadsheets write for a value they do not have.
bool isMissing(QByteArrayView cell) {
    static const char* const markers[] = {"N/A", "NA", "NaN", "-", "--", "#N/A", "null", "none"};
    if (cell.isEmpty())
        return true;
    // A number is never a marker but for its first character; most cells are numbers.
    if (cell.size() > 4)
        return false;
    for (const char* marker : markers) {
        if (qstrnicmp(cell.data(), cell.size(), marker, -1) == 0)
            return true;
    }
    return false;
}

// The number a cell writes with the decimal mark, as QString::toDouble reads it; false when it
// writes none. A Fortran exponent (1.0D-03) is an exponent.
bool toNumberText(QString cell, QChar decimal, double& value) {
    static const QRegularExpression fortran(QStringLiteral("^([+-]?(\\d+\\.?\\d*|\\.\\d+))[dD]([+-]?\\d+)$"));
    if (decimal == QLatin1Char(',')) {
        if (cell.contains(QLatin1Char('.')))
            return false;
        cell.replace(QLatin1Char(','), QLatin1Char('.'));
    }
    const QRegularExpressionMatch match = fortran.match(cell);
    if (match.hasMatch())
        cell = match.captured(1) + QLatin1Char('e') + match.captured(3);
    bool ok = false;
    value = cell.toDouble(&ok);
    return ok;
}

// The same, straight from the file's bytes for the finite numbers in plain notation that make up a
// sweep (std::from_chars reads the nearest double, as toDouble does); any other cell goes the way of
// the text, so that what is read and every message stay as they are.
bool toNumber(QByteArrayView cell, QChar decimal, double& value) {
    char comma[64];
    const char* first = cell.data();
    const char* last = cell.data() + cell.size();
    if (decimal == QLatin1Char(',') && cell.size() < static_cast<qsizetype>(sizeof comma)) {
        if (cell.contains('.'))
            return false;
        std::copy(first, last, comma);
        std::replace(comma, comma + cell.size(), ',', '.');
        first = comma;
        last = comma + cell.size();
    }
    if (last - first > 1 && *first == '+' && first[1] != '-' && first[1] != '+')
        ++first;
    const std::from_chars_result read = std::from_chars(first, last, value);
    if (read.ec == std::errc() && read.ptr == last && std::isfinite(value))
        return true;
    return toNumberText(QString::fromLatin1(cell), decimal, value);
}

// A ';' or tab file whose number cells use ',' as their decimal mark (and none uses '.').
QChar detectDecimal(const QVector<CsvReader::HeldRecord>& records, QChar delimiter) {
    if (delimiter == QLatin1Char(','))
        return QLatin1Char('.');
    static const QRegularExpression comma(QStringLiteral("^[+-]?\\d*,\\d+([eEdD][+-]?\\d+)?$"));
    static const QRegularExpression point(QStringLiteral("^[+-]?\\d*\\.\\d+([eEdD][+-]?\\d+)?$"));
    bool commas = false;
    for (const CsvReader::HeldRecord& record : records) {
        for (const QByteArray& bytes : record.fields) {
            const QString cell = QString::fromLatin1(bytes);
            if (point.match(cell).hasMatch())
                return QLatin1Char('.');
            commas = commas || comma.match(cell).hasMatch();
        }
    }
    return commas ? QLatin1Char(',') : QLatin1Char('.');
}

int numberCells(const QList<QByteArray>& fields, QChar decimal) {
    int count = 0;
    double value = 0;
    for (const QByteArray& field : fields)
        count += toNumber(field, decimal, value) ? 1 : 0;
    return count;
}

// The record of the column names: the first with no number whose next records (up to three) match
// it in width and hold numbers; the first record when there is none.
int headerIndex(const QVector<CsvReader::HeldRecord>& records, QChar decimal) {
    for (int r = 0; r + 1 < records.size(); ++r) {
        const QList<QByteArray>& fields = records[r].fields;
        if (fields.size() < 2 || numberCells(fields, decimal) > 0)
            continue;
        bool followed = true;
        for (int next = r + 1; next < records.size() && next <= r + 3 && followed; ++next) {
            followed = records[next].fields.size() == fields.size() &&
                       numberCells(records[next].fields, decimal) > 0;
        }
        if (followed)
            return r;
    }
    return 0;
}

// A column while the file is read: numbers or text as its first cell that is not missing says, and
// undecided until then. An undecided column keeps its rows as missing numbers and the markers it
// met, which become text if the column does.
struct Cells {
    enum Kind { UNDECIDED, NUMBERS, TEXTS };
    Kind kind = UNDECIDED;
    int exponent = 0;
    QList<QPair<long long, QString>> markers;
};

// An undecided column of `rows` rows becomes a text column: its rows held no value, so they are
// missing cells, or the markers as text.
void toText(Sweep::Column& column, Cells& state, long long rows) {
    state.kind = Cells::TEXTS;
    column.dataType = QStringLiteral("TX");
    column.cells = QList<QVariant>(rows);
    for (const auto& [row, marker] : std::as_const(state.markers))
        column.cells[row] = marker;
    state.markers.clear();
    column.numbers = std::vector<double>();
    column.present = std::vector<bool>();
}

}  // namespace

CsvSweep::Dialect CsvSweep::parse(const QString& delimiter, const QString& decimal, const QString& skip) {
    Dialect dialect;
    if (delimiter == QLatin1String("tab") || delimiter == QLatin1String("\\t"))
        dialect.delimiter = QLatin1Char('\t');
    else if (delimiter.size() == 1 && QStringLiteral(",;\t|").contains(delimiter))
        dialect.delimiter = delimiter[0];
    else if (!delimiter.isEmpty())
        throw ToolError(QStringLiteral("--delimiter %1: expected , ; | or tab").arg(delimiter),
                        ToolError::USAGE);
    if (decimal == QLatin1String(".") || decimal == QLatin1String(","))
        dialect.decimal = decimal[0];
    else if (!decimal.isEmpty())
        throw ToolError(QStringLiteral("--decimal %1: expected . or ,").arg(decimal), ToolError::USAGE);
    bool ok = true;
    if (!skip.isEmpty())
        dialect.skip = skip.toInt(&ok);
    if (!ok || (!skip.isEmpty() && dialect.skip < 0))
        throw ToolError(QStringLiteral("--skip %1: expected a number of lines").arg(skip), ToolError::USAGE);
    if (dialect.delimiter == dialect.decimal && !dialect.decimal.isNull())
        throw ToolError(QStringLiteral("--delimiter and --decimal are both '%1'").arg(decimal),
                        ToolError::USAGE);
    return dialect;
}

Sweep CsvSweep::read(const QString& path, InputFile& file, const Dialect& dialect, int& skippedLines,
                     qsizetype mostTextCharacters, const Sweep::Progress& progress) {
    CsvReader reader(path, file, dialect.delimiter);
    const QVector<CsvReader::HeldRecord> first = reader.firstRecords();
    const QChar decimal =
        dialect.decimal.isNull() ? detectDecimal(first, reader.delimiter()) : dialect.decimal;
    const int headerLine = dialect.skip >= 0 ? dialect.skip + 1
                           : first.isEmpty() ? 0
                                             : first[headerIndex(first, decimal)].line;
    CsvReader::Record record;
    bool named = false;
    while (!named && reader.next(record))
        named = record.line >= headerLine;
    if (!named)
        throw ToolError(QStringLiteral("%1:1: no header line").arg(path));
    const int namesLine = record.line;
    skippedLines = namesLine - 1;
    // A separator at the end of every line adds an empty field to each; the first block tells.
    const auto endsEmpty = [&record](const CsvReader::HeldRecord& r) {
        return r.line < record.line ||
               (r.fields.size() == static_cast<qsizetype>(record.fields.size()) && r.fields.last().isEmpty());
    };
    const bool trailing = record.fields.size() > 1 && record.fields.back().isEmpty() &&
                          std::all_of(first.begin(), first.end(), endsEmpty);
    if (trailing)
        record.fields.pop_back();

    Sweep sweep;
    QVector<Cells> states(static_cast<int>(record.fields.size()));
    for (size_t c = 0; c < record.fields.size(); ++c) {
        const Heading heading = headingOf(reader.text(record.fields[c]));
        states[c].exponent = heading.exponent;
        if (heading.name.isEmpty())
            throw ToolError(QStringLiteral("%1:%2: a column without name").arg(path).arg(namesLine));
        for (const Sweep::Column& column : std::as_const(sweep.columns)) {
            if (column.name == heading.name)
                throw ToolError(
                    QStringLiteral("%1:%2: column %3 twice").arg(path).arg(namesLine).arg(heading.name));
        }
        // "DB" until the column turns out to hold text.
        sweep.columns.append({heading.name, QStringLiteral("DB")});
    }
    const size_t width = record.fields.size();
    long long rows = 0;
    bool reserved = false;
    const auto missingNumber = [](Sweep::Column& column) {
        column.numbers.push_back(0);
        column.present.push_back(false);
    };
    while (reader.next(record)) {
        if (trailing && record.fields.size() == width + 1 && record.fields.back().isEmpty())
            record.fields.pop_back();
        if (record.fields.size() != width) {
            throw ToolError(QStringLiteral("%1:%2: %3 fields, the header has %4")
                                .arg(path)
                                .arg(record.line)
                                .arg(record.fields.size())
                                .arg(width));
        }
        for (int c = 0; c < static_cast<int>(width); ++c) {
            const QByteArrayView cell = record.fields[c];
            Sweep::Column& column = sweep.columns[c];
            Cells& state = states[c];
            double value = 0;
            if (state.kind == Cells::UNDECIDED) {
                if (isMissing(cell)) {
                    missingNumber(column);
                    if (!cell.isEmpty())
                        state.markers.append({rows, reader.text(cell)});
                    continue;
                }
                if (toNumber(cell, decimal, value)) {
                    state.kind = Cells::NUMBERS;
                    state.markers.clear();
                } else {
                    toText(column, state, rows);
                }
            }
            if (state.kind == Cells::TEXTS) {
                if (cell.isEmpty()) {
                    column.cells.append(QVariant());
                    continue;
                }
                const QString text = reader.text(cell);
                if (mostTextCharacters > 0 && characters(text) > mostTextCharacters) {
                    throw ToolError(QStringLiteral("%1:%2: column %3: a text of %4 characters; the database "
                                                   "holds at most %5")
                                        .arg(path)
                                        .arg(record.line)
                                        .arg(column.name)
                                        .arg(characters(text))
                                        .arg(mostTextCharacters));
                }
                column.cells.append(text);
            } else if (isMissing(cell)) {
                missingNumber(column);
            } else if (toNumber(cell, decimal, value) && std::isfinite(value)) {
                column.numbers.push_back(toSi(value, state.exponent));
                column.present.push_back(true);
            } else {
                const QString text = reader.text(cell);
                throw ToolError(QStringLiteral("%1:%2: column %3: '%4' is not a %5number")
                                    .arg(path)
                                    .arg(record.line)
                                    .arg(column.name, text, toNumber(cell, decimal, value) ? "finite " : ""));
            }
        }
        ++rows;
        if (rows % PROGRESS_ROWS == 0) {
            // The rows to come: the file's lines after the column names, or as many as its size promises.
            const double done = reader.done();
            const long long expected = reader.lineCount() >= 0 ? reader.lineCount() - namesLine
                                       : done > 0              ? static_cast<long long>(rows / done)
                                                               : rows;
            // Room for the rows the file's size promises, so that the columns do not grow by copies;
            // room never written costs no memory.
            if (!reserved) {
                for (Sweep::Column& column : sweep.columns) {
                    if (column.dataType == QLatin1String("DB")) {
                        column.numbers.reserve(expected + expected / 16 + PROGRESS_ROWS);
                        column.present.reserve(expected + expected / 16 + PROGRESS_ROWS);
                    }
                }
                reserved = true;
            }
            if (progress)
                progress(done, expected);
        }
    }
    if (rows == 0)
        throw ToolError(QStringLiteral("%1:%2: no data after the header").arg(path).arg(namesLine + 1));
    // A column with no value at all is a text column of its markers.
    for (int c = 0; c < sweep.columns.size(); ++c) {
        if (states[c].kind == Cells::UNDECIDED)
            toText(sweep.columns[c], states[c], rows);
    }
    sweep.rowCount = rows;
    return sweep;
}
