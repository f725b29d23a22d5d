// Touchstone.cpp: the option line, the data order of the port counts, and the three data formats.
#include "Touchstone.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <complex>

#include "ToolError.h"
#include "dbif/DBIF_ComplexMatrix.h"
#include "dbif/DBIF_ComplexNumber.h"

const QString Touchstone::PORT_IMPEDANCE_COLUMN = QStringLiteral("PortImpedance");
const QString Touchstone::COMMENTS_COLUMN = QStringLiteral("Comments");

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

// The shortest decimal text, at the same number of significant digits for both, of a pair that reads
// back as exactly the value: the file's own text where the value came from one.
QString fromComplex(const std::complex<double>& value, const QString& format) {
    if (format == QLatin1String("RI")) {
        return DBIF_ComplexNumber::exactNumber(value.real()) + QLatin1Char(' ') +
               DBIF_ComplexNumber::exactNumber(value.imag());
    }
    const double magnitude = std::abs(value);
    const double first = format == QLatin1String("DB") ? 20 * std::log10(magnitude) : magnitude;
    const double angle = std::arg(value) / DEGREE;
    for (int digits = 1; digits < 17; ++digits) {
        const QString a = QString::number(first, 'g', digits);
        const QString b = QString::number(angle, 'g', digits);
        if (toComplex(a.toDouble(), b.toDouble(), format) == value)
            return a + QLatin1Char(' ') + b;
    }
    return DBIF_ComplexNumber::exactNumber(first) + QLatin1Char(' ') + DBIF_ComplexNumber::exactNumber(angle);
}

// The shortest text of a frequency in the file's unit that gives back exactly the stored Hz.
QString frequencyText(double hertz, double unit) {
    for (int digits = 1; digits < 17; ++digits) {
        const QString text = QString::number(hertz / unit, 'g', digits);
        if (text.toDouble() * unit == hertz)
            return text;
    }
    return DBIF_ComplexNumber::exactNumber(hertz / unit);
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

namespace {

// One line of numbers: a line of network or noise data, or a port impedance comment.
struct NumberLine {
    int line;
    QList<double> values;
    bool impedance;
};

const QString PORT_IMPEDANCE = QStringLiteral("Port Impedance");

// The comment lines (each starting with '!') in pieces that a text cell holds on MySQL, a piece that
// continues a line never starting with '!'.
QStringList commentPieces(const QStringList& lines) {
    const qsizetype most = Sweep::MOST_TEXT_CHARACTERS;
    QStringList pieces;
    for (QString line : lines) {
        while (line.size() > most) {
            qsizetype cut = most;
            while (cut > 1 && line[cut] == QLatin1Char('!'))
                --cut;
            pieces << line.left(cut);
            line = line.mid(cut);
        }
        pieces << line;
    }
    return pieces;
}

// The numbers of a line, or a ToolError naming the word that is not a finite number.
QList<double> numbersOf(const QString& path, int line, const QString& text) {
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    QList<double> values;
    for (const QString& word : text.split(blanks, Qt::SkipEmptyParts)) {
        bool ok = false;
        const double value = word.toDouble(&ok);
        if (!ok || !std::isfinite(value))
            throw ToolError(
                QStringLiteral("%1:%2: '%3' is not a finite number").arg(path).arg(line).arg(word));
        values.append(value);
    }
    return values;
}

// Splits the data lines into frequency points and checks their shape: 1- and 2-ports give a point a
// line, larger networks spread it over lines, each point as the first one does. Frequencies never fall; on
// a 2-port, a line of five numbers at or below the last frequency starts the noise data, which rises
// again and is checked but not kept. A port impedance comment follows the lines of its point.
class PointReader {
public:
    PointReader(const QString& path, int ports)
        : path(path), ports(ports), pointSize(1 + 2 * ports * ports) {}

    struct Point {
        QList<double> values;
        QList<double> impedance;  // 2 numbers a port, when the file gives them
        int line;
    };

    QList<Point> read(const QList<NumberLine>& lines) {
        QList<Point> points;
        bool noise = false;
        double noiseFrequency = -1;
        for (int i = 0; i < lines.size();) {
            const NumberLine& line = lines[i];
            if (line.impedance) {
                if (points.isEmpty() || noise || !points.last().impedance.isEmpty())
                    fail(line.line, QStringLiteral("a port impedance comment without its frequency point"));
                if (line.values.size() != 2 * ports) {
                    fail(line.line,
                         QStringLiteral("a port impedance comment with %1 numbers; %2 ports need %3")
                             .arg(line.values.size())
                             .arg(ports)
                             .arg(2 * ports));
                }
                points.last().impedance = line.values;
                ++i;
                continue;
            }
            const double frequency = line.values.first();
            if (frequency < 0)
                fail(line.line, QStringLiteral("a negative frequency"));
            const bool below = !points.isEmpty() && frequency <= points.last().values.first();
            const bool falls = !points.isEmpty() && frequency < points.last().values.first();
            if (ports == 2 && !noise && below && line.values.size() == 5)
                noise = true;
            if (noise) {
                if (line.values.size() != 5)
                    fail(line.line,
                         QStringLiteral("%1 numbers; a line of noise data has 5").arg(line.values.size()));
                if (frequency <= noiseFrequency) {
                    fail(line.line, QStringLiteral("noise frequency %1 does not rise above %2")
                                        .arg(frequency)
                                        .arg(noiseFrequency));
                }
                noiseFrequency = frequency;
                ++i;
                continue;
            }
            if (falls) {
                fail(line.line, QStringLiteral("frequency %1 is below %2 of line %3")
                                    .arg(frequency)
                                    .arg(points.last().values.first())
                                    .arg(points.last().line));
            }
            points.append({{}, {}, line.line});
            i = readPoint(lines, i, points.last().values);
        }
        if (points.isEmpty())
            throw ToolError(QStringLiteral("%1: no frequency points").arg(path));
        const auto without = std::find_if(points.begin(), points.end(), [&points](const Point& p) {
            return p.impedance.isEmpty() != points.first().impedance.isEmpty();
        });
        if (without != points.end()) {
            fail(without->line,
                 QStringLiteral("the frequency point %1 a port impedance comment, the first %2")
                     .arg(without->impedance.isEmpty() ? "lacks" : "has")
                     .arg(without->impedance.isEmpty() ? "has one" : "has none"));
        }
        return points;
    }

private:
    [[noreturn]] void fail(int line, const QString& message) const {
        throw ToolError(QStringLiteral("%1:%2: %3").arg(path).arg(line).arg(message));
    }

    // Reads the point that starts at lines[first] into values; returns the index after its lines.
    int readPoint(const QList<NumberLine>& lines, int first, QList<double>& values) {
        const bool learning = layout.isEmpty();
        int i = first;
        for (int part = 0; values.size() < pointSize; ++part, ++i) {
            if (i == lines.size() || lines[i].impedance) {
                fail(lines[i - 1].line,
                     QStringLiteral("the frequency point of line %1 ends with %2 of its %3 numbers")
                         .arg(lines[first].line)
                         .arg(values.size())
                         .arg(pointSize));
            }
            const int count = lines[i].values.size();
            if (ports <= 2 && count != pointSize) {
                fail(lines[i].line, QStringLiteral("%1 numbers; a %2-port frequency point has %3 on its line")
                                        .arg(count)
                                        .arg(ports)
                                        .arg(pointSize));
            }
            if (learning && values.size() + count > pointSize) {
                fail(lines[i].line,
                     QStringLiteral("%1 numbers, %2 more than the frequency point of line %3 has")
                         .arg(count)
                         .arg(values.size() + count - pointSize)
                         .arg(lines[first].line));
            }
            if (!learning && (part >= layout.size() || count != layout[part])) {
                fail(lines[i].line,
                     QStringLiteral("%1 numbers where the frequency points of this file have %2")
                         .arg(count)
                         .arg(part < layout.size() ? layout[part] : 0));
            }
            if (learning)
                layout.append(count);
            values.append(lines[i].values);
        }
        return i;
    }

    QString path;
    int ports;
    int pointSize;
    QList<int> layout;  // numbers on each line of a point, as the first point has them
};

}  // namespace

Sweep Touchstone::read(const QString& path, const QByteArray& text) {
    const int ports = portsOf(path);
    Options options;
    QString optionLine;
    QList<NumberLine> numberLines;
    QStringList header;
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (int index = 0; index < lines.size(); ++index) {
        const QString comment = lines[index].section(QLatin1Char('!'), 1).trimmed();
        // Simulators give the ports' reference impedances, per frequency point, in a comment.
        if (comment.startsWith(PORT_IMPEDANCE)) {
            numberLines.append(
                {index + 1,
                 numbersOf(path, index + 1, comment.mid(PORT_IMPEDANCE.size()).remove(QLatin1Char('!'))),
                 true});
            continue;
        }
        const QString line = lines[index].section(QLatin1Char('!'), 0, 0).trimmed();
        // The comments before the data say where the file comes from, which tells readers how to
        // take the rest (a simulator's port impedances, renormalisation).
        if (line.isEmpty() && numberLines.isEmpty() && lines[index].contains(QLatin1Char('!')))
            header << lines[index].trimmed();
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
        numberLines.append({index + 1, numbersOf(path, index + 1, line), false});
    }
    if (optionLine.isEmpty())
        optionLine = QStringLiteral("# GHz S MA R 50");
    header = commentPieces(header);

    const QList<PointReader::Point> points = PointReader(path, ports).read(numberLines);
    const bool impedances = !points.first().impedance.isEmpty();
    Sweep sweep;
    sweep.columns = {{QStringLiteral("Freq"), QStringLiteral("DB")},
                     {options.parameter, QStringLiteral("CM")},
                     {QStringLiteral("Z0"), QStringLiteral("DB")},
                     {QStringLiteral("Options"), QStringLiteral("TX")}};
    if (!header.isEmpty())
        sweep.columns.append({COMMENTS_COLUMN, QStringLiteral("TX")});
    if (impedances)
        sweep.columns.append({PORT_IMPEDANCE_COLUMN, QStringLiteral("CM")});
    for (const PointReader::Point& point : points) {
        DBIF_ComplexMatrix matrix(ports, ports);
        for (int k = 0; k < ports * ports; ++k) {
            unsigned row = 0, column = 0;
            position(ports, k, row, column);
            const std::complex<double> value =
                toComplex(point.values[1 + 2 * k], point.values[2 + 2 * k], options.format);
            matrix(row, column).set(value.real(), value.imag());
        }
        const bool first = sweep.rows.isEmpty();
        sweep.rows.append({QVariant(point.values.first() * options.unit), QVariant::fromValue(matrix),
                           first ? QVariant(options.reference) : QVariant(),
                           first ? QVariant(optionLine) : QVariant()});
        if (!header.isEmpty()) {
            const qsizetype row = sweep.rows.size() - 1;
            sweep.rows.last().append(row < header.size() ? QVariant(header[row]) : QVariant());
        }
        if (impedances) {
            DBIF_ComplexMatrix z(1, ports);
            for (int p = 0; p < ports; ++p)
                z(0, p).set(point.impedance[2 * p], point.impedance[2 * p + 1]);
            sweep.rows.last().append(QVariant::fromValue(z));
        }
    }
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
    const QString impedanceKey =
        DBIF_MeasurementColumn::computeKey(PORT_IMPEDANCE_COLUMN, QStringLiteral("CM"));
    const bool impedances = measurement.getColumnKeys().contains(impedanceKey);
    const QString optionLine = measurement.getData(optionsKey, 0).toString();
    Options options;
    parseOptions(optionLine, options);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ToolError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    QTextStream out(&file);
    out << "! measurement " << measurement.getId() << ", written by dbif " << DBIF_VERSION << "\n";
    const QString commentsKey = DBIF_MeasurementColumn::computeKey(COMMENTS_COLUMN, QStringLiteral("TX"));
    if (measurement.getColumnKeys().contains(commentsKey)) {
        QString comments;
        for (unsigned row = 0; row < measurement.rowCount(); ++row) {
            const QString piece = measurement.getData(commentsKey, row).toString();
            if (piece.startsWith(QLatin1Char('!')) && !comments.isEmpty())
                comments += QLatin1Char('\n');
            comments += piece;
        }
        if (!comments.isEmpty())
            out << comments << "\n";
    }
    out << optionLine << "\n";
    for (unsigned row = 0; row < measurement.rowCount(); ++row) {
        const DBIF_ComplexMatrix matrix = measurement.getData(matrixKey, row).value<DBIF_ComplexMatrix>();
        if (matrix.rows() != static_cast<unsigned>(ports) ||
            matrix.columns() != static_cast<unsigned>(ports)) {
            throw ToolError(QStringLiteral("%1: measurement %2 has %3-port data")
                                .arg(path)
                                .arg(measurement.getId())
                                .arg(matrix.rows()));
        }
        out << frequencyText(measurement.getData(frequencyKey, row).toDouble(), options.unit);
        for (int k = 0; k < ports * ports; ++k) {
            unsigned i = 0, j = 0;
            position(ports, k, i, j);
            // Networks of three and more ports put each matrix row on a line of its own.
            if (ports > 2 && k > 0 && k % ports == 0)
                out << "\n";
            out << ' ' << fromComplex({matrix(i, j).real(), matrix(i, j).imaginary()}, options.format);
        }
        out << "\n";
        if (impedances) {
            const DBIF_ComplexMatrix z = measurement.getData(impedanceKey, row).value<DBIF_ComplexMatrix>();
            if (z.rows() != 1 || z.columns() != static_cast<unsigned>(ports)) {
                throw ToolError(QStringLiteral("%1: measurement %2 has no port impedances at row %3")
                                    .arg(path)
                                    .arg(measurement.getId())
                                    .arg(row));
            }
            out << "! " << PORT_IMPEDANCE;
            for (int p = 0; p < ports; ++p) {
                out << ' ' << DBIF_ComplexNumber::exactNumber(z(0, p).real()) << ' '
                    << DBIF_ComplexNumber::exactNumber(z(0, p).imaginary());
            }
            out << "\n";
        }
    }
    out.flush();
    if (!file.commit())
        throw ToolError(QStringLiteral("%1: %2").arg(path, file.errorString()));
}
