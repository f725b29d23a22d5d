// Touchstone.cpp: the option line, the data order of the port counts, and the three data formats.
#include "Touchstone.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>
#include <cmath>
#include <complex>

#include "ToolError.h"
#include "dbif/DBIF_ComplexMatrix.h"

namespace {

const double DEGREE = M_PI / 180;

struct Options {
    double unit = 1e9;  // Hz per frequency unit
    QString unitName = QStringLiteral("GHz");
    QString parameter = QStringLiteral("S");
    QString format = QStringLiteral("MA");
    double reference = 50;
};

// False for a malformed option line.
bool parseOptions(const QString& line, Options& options) {
    const QStringList words =
        line.mid(1).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    for (int i = 0; i < words.size(); ++i) {
        const QString word = words[i].toUpper();
        static const QMap<QString, double> units{{"HZ", 1}, {"KHZ", 1e3}, {"MHZ", 1e6}, {"GHZ", 1e9}};
        if (units.contains(word)) {
            options.unit = units[word];
            options.unitName = words[i];
        } else if (QStringList{"S", "Y", "Z", "H", "G"}.contains(word)) {
            options.parameter = word;
        } else if (QStringList{"DB", "MA", "RI"}.contains(word)) {
            options.format = word;
        } else if (word == QLatin1String("R") && i + 1 < words.size()) {
            bool ok = false;
            options.reference = words[++i].toDouble(&ok);
            if (!ok)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

std::complex<double> toComplex(double a, double b, const QString& format) {
    if (format == QLatin1String("RI"))
        return {a, b};
    const double magnitude = format == QLatin1String("DB") ? std::pow(10.0, a / 20) : a;
    return std::polar(magnitude, b * DEGREE);
}

QString number(double value) {
    return QString::number(value, 'g', 17);
}

QString fromComplex(const std::complex<double>& value, const QString& format) {
    if (format == QLatin1String("RI"))
        return number(value.real()) + QLatin1Char(' ') + number(value.imag());
    const double magnitude = std::abs(value);
    const double first = format == QLatin1String("DB") ? 20 * std::log10(magnitude) : magnitude;
    return number(first) + QLatin1Char(' ') + number(std::arg(value) / DEGREE);
}

int portsOf(const QString& path) {
    static const QRegularExpression extension(QStringLiteral("\\.s([1-4])p$"),
                                              QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = extension.match(path);
    if (!match.hasMatch())
        throw ToolError(QStringLiteral("%1: expected a version-1 Touchstone file .s1p to .s4p").arg(path));
    return match.captured(1).toInt();
}

// The matrix position of the k-th value pair of a frequency point: 2-ports list 11 21 12 22, larger
// networks row by row.
void position(int ports, int k, unsigned& row, unsigned& column) {
    row = ports == 2 ? k % 2 : k / ports;
    column = ports == 2 ? k / 2 : k % ports;
}

}  // namespace

Sweep Touchstone::read(const QString& path, const QByteArray& text) {
    const int ports = portsOf(path);
    Options options;
    QString optionLine;
    struct Token {
        double value;
        int line;
    };
    QList<Token> tokens;
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (int index = 0; index < lines.size(); ++index) {
        const QString line = lines[index].section(QLatin1Char('!'), 0, 0).trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            throw ToolError(QStringLiteral("%1:%2: keyword lines of Touchstone version 2 are not read")
                                .arg(path)
                                .arg(index + 1));
        }
        if (line.startsWith(QLatin1Char('#'))) {
            // Only the first option line counts.
            if (optionLine.isEmpty()) {
                optionLine = line;
                if (!parseOptions(line, options))
                    throw ToolError(QStringLiteral("%1:%2: malformed option line").arg(path).arg(index + 1));
            }
            continue;
        }
        for (const QString& word :
             line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
            bool ok = false;
            const double value = word.toDouble(&ok);
            if (!ok)
                throw ToolError(
                    QStringLiteral("%1:%2: '%3' is not a number").arg(path).arg(index + 1).arg(word));
            tokens.append({value, index + 1});
        }
    }
    if (optionLine.isEmpty())
        optionLine = QStringLiteral("# GHz S MA R 50");

    Sweep sweep;
    sweep.columns = {{QStringLiteral("Freq"), QStringLiteral("DB")},
                     {options.parameter, QStringLiteral("CM")},
                     {QStringLiteral("Z0"), QStringLiteral("DB")},
                     {QStringLiteral("Options"), QStringLiteral("TX")}};
    const int pointSize = 1 + 2 * ports * ports;
    double previous = -1;
    for (int start = 0; start < tokens.size(); start += pointSize) {
        // Two-port noise data starts where the frequency falls below the last one.
        if (ports == 2 && tokens[start].value < previous)
            break;
        if (start + pointSize > tokens.size()) {
            throw ToolError(QStringLiteral("%1:%2: a frequency point with %3 of its %4 numbers")
                                .arg(path)
                                .arg(tokens.last().line)
                                .arg(tokens.size() - start)
                                .arg(pointSize));
        }
        previous = tokens[start].value;
        DBIF_ComplexMatrix matrix(ports, ports);
        for (int k = 0; k < ports * ports; ++k) {
            unsigned row = 0, column = 0;
            position(ports, k, row, column);
            const std::complex<double> value =
                toComplex(tokens[start + 1 + 2 * k].value, tokens[start + 2 + 2 * k].value, options.format);
            matrix(row, column).set(value.real(), value.imag());
        }
        const bool first = sweep.rows.isEmpty();
        sweep.rows.append({QVariant(tokens[start].value * options.unit), QVariant::fromValue(matrix),
                           first ? QVariant(options.reference) : QVariant(),
                           first ? QVariant(optionLine) : QVariant()});
    }
    if (sweep.rows.isEmpty())
        throw ToolError(QStringLiteral("%1: no frequency points").arg(path));
    return sweep;
}

void Touchstone::write(const DBIF_Measurement& measurement, const QString& path) {
    const int ports = portsOf(path);
    QString matrixKey;
    for (const char* parameter : {"S", "Y", "Z", "H", "G"}) {
        const QString key =
            DBIF_MeasurementColumn::computeKey(QString::fromLatin1(parameter), QStringLiteral("CM"));
        if (measurement.getColumnKeys().contains(key))
            matrixKey = key;
    }
    const QString frequencyKey =
        DBIF_MeasurementColumn::computeKey(QStringLiteral("Freq"), QStringLiteral("DB"));
    const QString optionsKey =
        DBIF_MeasurementColumn::computeKey(QStringLiteral("Options"), QStringLiteral("TX"));
    if (matrixKey.isEmpty() || !measurement.getColumnKeys().contains(frequencyKey) ||
        !measurement.getColumnKeys().contains(optionsKey) || measurement.rowCount() == 0) {
        throw ToolError(
            QStringLiteral("measurement %1 holds no Touchstone network").arg(measurement.getId()));
    }
    const QString optionLine = measurement.getData(optionsKey, 0).toString();
    Options options;
    parseOptions(optionLine, options);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ToolError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    QTextStream out(&file);
    out << "! measurement " << measurement.getId() << ", written by dbif " << DBIF_VERSION << "\n"
        << optionLine << "\n";
    for (unsigned row = 0; row < measurement.rowCount(); ++row) {
        const DBIF_ComplexMatrix matrix = measurement.getData(matrixKey, row).value<DBIF_ComplexMatrix>();
        if (matrix.rows() != static_cast<unsigned>(ports) ||
            matrix.columns() != static_cast<unsigned>(ports)) {
            throw ToolError(QStringLiteral("%1: measurement %2 has %3-port data")
                                .arg(path)
                                .arg(measurement.getId())
                                .arg(matrix.rows()));
        }
        out << number(measurement.getData(frequencyKey, row).toDouble() / options.unit);
        for (int k = 0; k < ports * ports; ++k) {
            unsigned i = 0, j = 0;
            position(ports, k, i, j);
            // Networks of three and more ports put each matrix row on a line of its own.
            if (ports > 2 && k > 0 && k % ports == 0)
                out << "\n";
            out << ' ' << fromComplex({matrix(i, j).real(), matrix(i, j).imaginary()}, options.format);
        }
        out << "\n";
    }
    out.flush();
    if (!file.commit())
        throw ToolError(QStringLiteral("%1: %2").arg(path, file.errorString()));
}
