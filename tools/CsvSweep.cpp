// CsvSweep.cpp: the header row, the decimal mark, the missing markers and the cells.
#include "CsvSweep.h"

#include <QRegularExpression>
#include <QStringList>
#include <QVariant>
#include <algorithm>
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
bool isMissing(const QString& cell) {
    static const QStringList markers{QStringLiteral("N/A"),  QStringLiteral("NA"),  QStringLiteral("NaN"),
                                     QStringLiteral("-"),    QStringLiteral("--"),  QStringLiteral("#N/A"),
                                     QStringLiteral("null"), QStringLiteral("none")};
    return cell.isEmpty() || markers.contains(cell, Qt::CaseInsensitive);
}

// The number a cell writes with the decimal mark; false when it writes none. A Fortran exponent
// (1.0D-03) is an exponent.
bool toNumber(QString cell, QChar decimal, double& value) {
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

// A ';' or tab file whose number cells use ',' as their decimal mark (and none uses '.').
QChar detectDecimal(const QVector<CsvReader::Record>& records, QChar delimiter) {
    if (delimiter == QLatin1Char(','))
        return QLatin1Char('.');
    static const QRegularExpression comma(QStringLiteral("^[+-]?\\d*,\\d+([eEdD][+-]?\\d+)?$"));
    static const QRegularExpression point(QStringLiteral("^[+-]?\\d*\\.\\d+([eEdD][+-]?\\d+)?$"));
    bool commas = false;
    for (const CsvReader::Record& record : records) {
        for (const QString& cell : record.fields) {
            if (point.match(cell).hasMatch())
                return QLatin1Char('.');
            commas = commas || comma.match(cell).hasMatch();
        }
    }
    return commas ? QLatin1Char(',') : QLatin1Char('.');
}

int numberCells(const QStringList& fields, QChar decimal) {
    int count = 0;
    double value = 0;
    for (const QString& field : fields)
        count += toNumber(field, decimal, value) ? 1 : 0;
    return count;
}

// The record of the column names: the first with no number whose next records (up to three) match
// it in width and hold numbers; the first record when there is none.
int headerIndex(const QVector<CsvReader::Record>& records, QChar decimal) {
    for (int r = 0; r + 1 < records.size(); ++r) {
        const QStringList& fields = records[r].fields;
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

Sweep CsvSweep::read(const QString& path, const QByteArray& text, const Dialect& dialect, int& skippedLines,
                     qsizetype mostTextCharacters, const Sweep::Progress& progress) {
    // Splitting the lines is the first half of the reading, taking the cells the second.
    CsvReader::Progress splitting;
    if (progress) {
        // Rows: the lines but the column names' (and the empty one after a last line break).
        const qsizetype names = text.endsWith('\n') ? 2 : 1;
        splitting = [&progress, names](qsizetype split, qsizetype lines) {
            progress(0.5 * split / lines, lines - names);
        };
    }
    const CsvReader reader(path, text, dialect.delimiter, splitting);
    QVector<CsvReader::Record> records = reader.records();
    const QChar decimal =
        dialect.decimal.isNull() ? detectDecimal(records, reader.delimiter()) : dialect.decimal;
    int first = 0;
    if (dialect.skip >= 0) {
        while (first < records.size() && records[first].line <= dialect.skip)
            ++first;
    } else {
        first = headerIndex(records, decimal);
    }
    records.remove(0, first);
    if (records.isEmpty())
        throw ToolError(QStringLiteral("%1:1: no header line").arg(path));
    if (records.size() == 1)
        throw ToolError(QStringLiteral("%1:%2: no data after the header").arg(path).arg(records[0].line + 1));
    skippedLines = records[0].line - 1;
    // A separator at the end of every line adds an empty field to each.
    const auto endsEmpty = [&records](const CsvReader::Record& r) {
        return r.fields.size() == records[0].fields.size() && r.fields.last().isEmpty();
    };
    if (records[0].fields.size() > 1 && std::all_of(records.begin(), records.end(), endsEmpty)) {
        for (CsvReader::Record& record : records)
            record.fields.removeLast();
    }
    Sweep sweep;
    QStringList seen;
    QList<int> exponents;
    for (const QString& header : records[0].fields) {
        const Heading heading = headingOf(header);
        const QString name = heading.name;
        exponents << heading.exponent;
        if (name.isEmpty())
            throw ToolError(QStringLiteral("%1:%2: a column without name").arg(path).arg(records[0].line));
        if (seen.contains(name))
            throw ToolError(
                QStringLiteral("%1:%2: column %3 twice").arg(path).arg(records[0].line).arg(name));
        seen << name;
        // A column is numeric when its first cell that is not missing is a number.
        bool number = false;
        const int index = sweep.columns.size();
        for (int r = 1; r < records.size(); ++r) {
            const QString cell = records[r].fields.value(index);
            if (!isMissing(cell)) {
                double value = 0;
                number = toNumber(cell, decimal, value);
                break;
            }
        }
        sweep.columns.append({name, number ? QStringLiteral("DB") : QStringLiteral("TX")});
    }
    const long long rows = records.size() - 1;
    for (int r = 1; r < records.size(); ++r) {
        if (progress && r % PROGRESS_ROWS == 0)
            progress(0.5 + 0.5 * r / rows, rows);
        const CsvReader::Record& record = records[r];
        if (record.fields.size() != sweep.columns.size()) {
            throw ToolError(QStringLiteral("%1:%2: %3 fields, the header has %4")
                                .arg(path)
                                .arg(record.line)
                                .arg(record.fields.size())
                                .arg(sweep.columns.size()));
        }
        QList<QVariant> row;
        for (int c = 0; c < sweep.columns.size(); ++c) {
            const QString& cell = record.fields[c];
            const bool numeric = sweep.columns[c].dataType == QLatin1String("DB");
            double value = 0;
            if (cell.isEmpty() || (numeric && isMissing(cell))) {
                row.append(QVariant());
            } else if (!numeric) {
                if (mostTextCharacters > 0 && characters(cell) > mostTextCharacters) {
                    throw ToolError(QStringLiteral("%1:%2: column %3: a text of %4 characters; the database "
                                                   "holds at most %5")
                                        .arg(path)
                                        .arg(record.line)
                                        .arg(sweep.columns[c].name)
                                        .arg(characters(cell))
                                        .arg(mostTextCharacters));
                }
                row.append(QVariant(cell));
            } else if (toNumber(cell, decimal, value) && std::isfinite(value)) {
                row.append(QVariant(toSi(value, exponents[c])));
            } else {
                throw ToolError(
                    QStringLiteral("%1:%2: column %3: '%4' is not a %5number")
                        .arg(path)
                        .arg(record.line)
                        .arg(sweep.columns[c].name, cell, toNumber(cell, decimal, value) ? "finite " : ""));
            }
        }
        sweep.rows.append(row);
    }
    return sweep;
}
