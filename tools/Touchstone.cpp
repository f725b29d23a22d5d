// Touchstone.cpp: the option line and version-2 keywords, the data order of the port counts and matrix
// formats, and the three data formats. Reading goes in two passes: the lines are sorted into keywords,
// comments and lines of numbers, then the numbers are cut into frequency points.
#include "Touchstone.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <complex>
#include <optional>

#include "ToolError.h"
#include "dbif/DBIF_ComplexMatrix.h"
#include "dbif/DBIF_ComplexNumber.h"

const QString Touchstone::PORT_IMPEDANCE_COLUMN = QStringLiteral("PortImpedance");
const QString Touchstone::COMMENTS_COLUMN = QStringLiteral("Comments");
const QString Touchstone::REFERENCE_COLUMN = QStringLiteral("Reference");

bool Touchstone::isNetworkParameter(const QString& columnName) {
    return QStringList{"S", "Y", "Z", "H", "G"}.contains(columnName);
}

namespace {

const double DEGREE = M_PI / 180;
// Version-1 data lines of larger networks hold at most four value pairs; a matrix row wraps after them.
const int PAIRS_A_LINE = 4;

struct Options {
    double unit = 1e9;  // Hz per frequency unit
    QString unitName = QStringLiteral("GHz");
    QString parameter = QStringLiteral("S");
    QString format = QStringLiteral("MA");
    // Real in the standard; scikit-rf writes a complex one as "(50+50j)".
    std::complex<double> reference = 50;
};

// "50", or a complex value as Python prints it, "(50+50j)"; nullopt for any other text.
std::optional<std::complex<double>> impedanceOf(const QString& text) {
    static const QRegularExpression complex(
        QStringLiteral("^\\(([-+]?[0-9.]+(?:[eE][-+]?[0-9]+)?)([-+][0-9.]+(?:[eE][-+]?[0-9]+)?)j\\)$"));
    bool realOk = false, imaginaryOk = true;
    double real = text.toDouble(&realOk), imaginary = 0;
    const QRegularExpressionMatch match = complex.match(text);
    if (match.hasMatch()) {
        real = match.captured(1).toDouble(&realOk);
        imaginary = match.captured(2).toDouble(&imaginaryOk);
    }
    if (!realOk || !imaginaryOk || !std::isfinite(real) || !std::isfinite(imaginary))
        return std::nullopt;
    return std::complex<double>(real, imaginary);
}

QString impedanceText(const std::complex<double>& z) {
    if (z.imag() == 0)
        return DBIF_ComplexNumber::exactNumber(z.real());
    return QStringLiteral("(%1%2%3j)")
        .arg(DBIF_ComplexNumber::exactNumber(z.real()), z.imag() < 0 ? "" : "+",
             DBIF_ComplexNumber::exactNumber(z.imag()));
}

// What is wrong with an option line, or an empty text.
QString parseOptions(const QString& line, Options& options) {
    const QStringList words =
        line.mid(1).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    for (int i = 0; i < words.size(); ++i) {
        const QString word = words[i].toUpper();
        static const QMap<QString, double> units{{"HZ", 1}, {"KHZ", 1e3}, {"MHZ", 1e6}, {"GHZ", 1e9}};
        if (units.contains(word)) {
            options.unit = units[word];
            options.unitName = words[i];
        } else if (Touchstone::isNetworkParameter(word)) {
            options.parameter = word;
        } else if (QStringList{"DB", "MA", "RI"}.contains(word)) {
            options.format = word;
        } else if (word == QLatin1String("R") && i + 1 < words.size()) {
            const std::optional<std::complex<double>> z = impedanceOf(words[++i]);
            if (!z || z->real() <= 0) {
                return QStringLiteral(
                           "the reference impedance '%1' of the option line has no positive real part")
                    .arg(words[i]);
            }
            options.reference = *z;
        } else {
            return QStringLiteral("'%1' in the option line is no unit, parameter, format or R").arg(words[i]);
        }
    }
    return QString();
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

// The port count of a .sNp name, 0 for a .ts name (version 2 gives it in the file).
int portsOf(const QString& path) {
    static const QRegularExpression extension(QStringLiteral("\\.(?:s([1-9][0-9]*)p|ts)$"),
                                              QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = extension.match(path);
    if (!match.hasMatch())
        throw ToolError(QStringLiteral("%1: expected a Touchstone file .sNp or .ts").arg(path));
    return match.captured(1).toInt();
}

// Where the value pairs of a frequency point go in the matrix. Version 1 and a version-2 Full matrix
// give every element: 2-ports in the order 11 21 12 22 (version 2 may say 12_21 instead), larger
// networks row by row. Upper and Lower give one triangle row by row, the other half by symmetry.
struct MatrixLayout {
    enum Format { FULL, UPPER, LOWER };
    int ports = 0;
    Format format = FULL;
    bool order12_21 = false;

    QList<QPair<unsigned, unsigned>> positions() const {
        QList<QPair<unsigned, unsigned>> list;
        if (ports == 2 && format == FULL) {
            for (unsigned k = 0; k < 4; ++k)
                list.append(order12_21 ? qMakePair(k / 2, k % 2) : qMakePair(k % 2, k / 2));
            return list;
        }
        for (unsigned i = 0; i < unsigned(ports); ++i) {
            for (unsigned j = 0; j < unsigned(ports); ++j) {
                if ((format == UPPER && j < i) || (format == LOWER && j > i))
                    continue;
                list.append({i, j});
            }
        }
        return list;
    }
};

// One line of numbers: network data, noise data, or a port impedance comment.
struct NumberLine {
    enum Kind { NETWORK, NOISE, IMPEDANCE };
    int line;
    QList<double> values;
    Kind kind;
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

bool allNumbers(const QString& text) {
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList words = text.split(blanks, Qt::SkipEmptyParts);
    return !words.isEmpty() && std::all_of(words.begin(), words.end(), [](const QString& word) {
        bool ok = false;
        word.toDouble(&ok);
        return ok;
    });
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

// What the lines of a file say, sorted: the option line, the version-2 keywords, the comments before
// the data, and the lines of numbers.
class FileLines {
public:
    FileLines(const QString& path, const QByteArray& text) : path(path) {
        layout.ports = portsOf(path);
        const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
        for (int index = 0; index < lines.size(); ++index)
            take(index + 1, lines[index]);
        finish(lines.size());
    }

    QString path;
    int version = 1;
    MatrixLayout layout;
    Options options;
    QString optionLine;
    QStringList header;
    QList<NumberLine> numbers;
    QList<std::complex<double>> reference;  // [Reference], one a port, or a complex R for all
    int frequencies = -1;                   // [Number of Frequencies]
    int noiseFrequencies = -1;

private:
    [[noreturn]] void fail(int line, const QString& message) const {
        throw ToolError(QStringLiteral("%1:%2: %3").arg(path).arg(line).arg(message));
    }

    void take(int number, const QString& text) {
        const QString comment = text.section(QLatin1Char('!'), 1).trimmed();
        const QString line = text.section(QLatin1Char('!'), 0, 0).trimmed();
        if (information) {
            if (line.compare(QLatin1String("[End Information]"), Qt::CaseInsensitive) == 0)
                information = false;
            return;
        }
        if (line.isEmpty()) {
            takeComment(number, text, comment);
            return;
        }
        if (ended)
            fail(number, QStringLiteral("data after [End]"));
        if (referencesWanted > 0) {
            takeReferences(number, line);
            return;
        }
        if (line.startsWith(QLatin1Char('['))) {
            takeKeyword(number, line);
            return;
        }
        if (line.startsWith(QLatin1Char('#'))) {
            // Only the first option line counts.
            if (optionLine.isEmpty()) {
                optionLine = line;
                const QString wrong = parseOptions(line, options);
                if (!wrong.isEmpty())
                    fail(number, wrong);
            }
            return;
        }
        if (version == 2 && !networkData)
            fail(number, QStringLiteral("data before [Network Data]"));
        numbers.append(
            {number, numbersOf(path, number, line), noiseData ? NumberLine::NOISE : NumberLine::NETWORK});
    }

    // Simulators give the ports' reference impedances, per frequency point, in a comment that wraps
    // over comment lines of numbers when there are many ports.
    void takeComment(int number, const QString& text, const QString& comment) {
        if (comment.startsWith(PORT_IMPEDANCE)) {
            numbers.append(
                {number, numbersOf(path, number, comment.mid(PORT_IMPEDANCE.size()).remove(QLatin1Char('!'))),
                 NumberLine::IMPEDANCE});
            return;
        }
        const QString bare = QString(comment).remove(QLatin1Char('!'));
        if (!numbers.isEmpty() && numbers.last().kind == NumberLine::IMPEDANCE &&
            numbers.last().values.size() < 2 * layout.ports && allNumbers(bare)) {
            numbers.last().values.append(numbersOf(path, number, bare));
            return;
        }
        // The comments before the data say where the file comes from, which tells readers how to
        // take the rest (a simulator's port impedances, renormalisation).
        if (numbers.isEmpty() && text.contains(QLatin1Char('!')))
            header << text.trimmed();
    }

    void takeReferences(int number, const QString& text) {
        const QList<double> values = numbersOf(path, number, text);
        if (values.size() > referencesWanted) {
            fail(number, QStringLiteral("%1 reference impedances, more than the %2 of [Number of Ports]")
                             .arg(reference.size() + values.size())
                             .arg(layout.ports));
        }
        for (const double value : values) {
            if (value <= 0)
                fail(number, QStringLiteral("a reference impedance of %1 ohms").arg(value));
        }
        for (const double value : values)
            reference.append(value);
        referencesWanted -= values.size();
    }

    // Version 2's keywords, in the order it gives them: [Version] first, then what describes the
    // network, [Network Data], optionally [Noise Data], and [End].
    void takeKeyword(int number, const QString& line) {
        const int close = line.indexOf(QLatin1Char(']'));
        if (close < 0)
            fail(number, QStringLiteral("a keyword without its ']'"));
        const QString keyword = line.mid(1, close - 1).simplified().toLower();
        const QString value = line.mid(close + 1).trimmed();
        if (keyword == QLatin1String("version")) {
            if (version == 2 || !optionLine.isEmpty() || !numbers.isEmpty())
                fail(number, QStringLiteral("[Version] after the start of the file"));
            if (value != QLatin1String("2.0") && value != QLatin1String("2.1"))
                fail(number, QStringLiteral("Touchstone version '%1'; 1, 2.0 and 2.1 are read").arg(value));
            version = 2;
            return;
        }
        if (version != 2)
            fail(number,
                 QStringLiteral("[%1] without [Version] 2.0 at the start").arg(line.mid(1, close - 1)));
        if (networkData && keyword != QLatin1String("noise data") && keyword != QLatin1String("end"))
            fail(number, QStringLiteral("[%1] after [Network Data]").arg(line.mid(1, close - 1)));
        bool ok = true;
        if (keyword == QLatin1String("number of ports")) {
            const int ports = value.toInt(&ok);
            if (!ok || ports < 1)
                fail(number, QStringLiteral("[Number of Ports] '%1' is not a port count").arg(value));
            if (layout.ports != 0 && layout.ports != ports)
                fail(number, QStringLiteral("[Number of Ports] %1 in a file named for %2")
                                 .arg(ports)
                                 .arg(layout.ports));
            layout.ports = ports;
        } else if (keyword == QLatin1String("two-port data order")) {
            if (value != QLatin1String("12_21") && value != QLatin1String("21_12"))
                fail(number, QStringLiteral("[Two-Port Data Order] '%1'; 12_21 or 21_12").arg(value));
            layout.order12_21 = value == QLatin1String("12_21");
            twoPortOrder = true;
        } else if (keyword == QLatin1String("number of frequencies")) {
            frequencies = value.toInt(&ok);
        } else if (keyword == QLatin1String("number of noise frequencies")) {
            noiseFrequencies = value.toInt(&ok);
        } else if (keyword == QLatin1String("reference")) {
            if (layout.ports == 0)
                fail(number, QStringLiteral("[Reference] before [Number of Ports]"));
            if (!reference.isEmpty())
                fail(number, QStringLiteral("a second [Reference]"));
            referencesWanted = layout.ports;
            if (!value.isEmpty())
                takeReferences(number, value);
        } else if (keyword == QLatin1String("matrix format")) {
            static const QMap<QString, MatrixLayout::Format> formats{
                {"full", MatrixLayout::FULL}, {"upper", MatrixLayout::UPPER}, {"lower", MatrixLayout::LOWER}};
            if (!formats.contains(value.toLower()))
                fail(number, QStringLiteral("[Matrix Format] '%1'; Full, Upper or Lower").arg(value));
            layout.format = formats[value.toLower()];
        } else if (keyword == QLatin1String("mixed-mode order")) {
            fail(number, QStringLiteral("mixed-mode data is not read"));
        } else if (keyword == QLatin1String("begin information")) {
            information = true;
        } else if (keyword == QLatin1String("network data")) {
            if (layout.ports == 0)
                fail(number, QStringLiteral("[Network Data] before [Number of Ports]"));
            if (layout.ports == 2 && !twoPortOrder)
                fail(number, QStringLiteral("a 2-port version-2 file without [Two-Port Data Order]"));
            networkData = true;
        } else if (keyword == QLatin1String("noise data")) {
            if (!networkData || layout.ports != 2)
                fail(number, QStringLiteral("[Noise Data] without the network data of a 2-port"));
            noiseData = true;
        } else if (keyword == QLatin1String("end")) {
            ended = true;
        } else {
            fail(number, QStringLiteral("unknown keyword [%1]").arg(line.mid(1, close - 1)));
        }
        if (!ok)
            fail(number,
                 QStringLiteral("[%1] '%2' is not a whole number").arg(line.mid(1, close - 1), value));
    }

    void finish(int lastLine) {
        if (referencesWanted > 0)
            fail(lastLine, QStringLiteral("[Reference] lacks %1 of its %2 impedances")
                               .arg(referencesWanted)
                               .arg(layout.ports));
        if (layout.ports == 0)
            fail(1, QStringLiteral(
                        "a .ts file is version 2 and starts with [Version] 2.0 and [Number of Ports]"));
        if (version == 2 && !networkData)
            fail(lastLine, QStringLiteral("no [Network Data]"));
        if (optionLine.isEmpty())
            optionLine = QStringLiteral("# GHz S MA R 50");
        // A complex R cannot be the number Z0; the ports' references keep it.
        if (reference.isEmpty() && options.reference.imag() != 0) {
            for (int p = 0; p < layout.ports; ++p)
                reference.append(options.reference);
        }
        header = commentPieces(header);
    }

    int referencesWanted = 0;
    bool twoPortOrder = false;
    bool networkData = false;
    bool noiseData = false;
    bool ended = false;
    bool information = false;
};

// Splits the data lines into frequency points and checks their shape: version-1 1- and 2-ports give a
// point a line, other files may spread it over lines, each point as the first one does. Frequencies
// never fall; on a version-1 2-port, a line of five numbers at or below the last frequency starts the
// noise data (version 2 says [Noise Data]), which rises again and is checked but not kept. A port
// impedance comment follows the lines of its point.
class PointReader {
public:
    explicit PointReader(const FileLines& file)
        : path(file.path),
          ports(file.layout.ports),
          pointSize(1 + 2 * file.layout.positions().size()),
          pointALine(file.version == 1 && file.layout.ports <= 2),
          version(file.version) {}

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
            if (line.kind == NumberLine::IMPEDANCE) {
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
            if (version == 1 && ports == 2 && !noise && below && line.values.size() == 5)
                noise = true;
            if (line.kind == NumberLine::NOISE && !noise) {
                noise = true;
                if (points.isEmpty())
                    fail(line.line, QStringLiteral("noise data without network data"));
            }
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
            if (i == lines.size() || lines[i].kind != NumberLine::NETWORK) {
                fail(lines[i - 1].line,
                     QStringLiteral("the frequency point of line %1 ends with %2 of its %3 numbers")
                         .arg(lines[first].line)
                         .arg(values.size())
                         .arg(pointSize));
            }
            const int count = lines[i].values.size();
            if (pointALine && count != pointSize) {
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
    bool pointALine;
    int version;
    QList<int> layout;  // numbers on each line of a point, as the first point has them
};

}  // namespace

Sweep Touchstone::read(const QString& path, const QByteArray& text) {
    const FileLines file(path, text);
    const QList<PointReader::Point> points = PointReader(file).read(file.numbers);
    const int lastLine = file.numbers.last().line;
    if (file.frequencies >= 0 && file.frequencies != points.size()) {
        throw ToolError(QStringLiteral("%1:%2: %3 frequency points; [Number of Frequencies] says %4")
                            .arg(path)
                            .arg(lastLine)
                            .arg(points.size())
                            .arg(file.frequencies));
    }
    const qsizetype noise =
        std::count_if(file.numbers.begin(), file.numbers.end(),
                      [](const NumberLine& line) { return line.kind == NumberLine::NOISE; });
    if (file.noiseFrequencies >= 0 && file.noiseFrequencies != noise) {
        throw ToolError(QStringLiteral("%1:%2: %3 noise frequencies; [Number of Noise Frequencies] says %4")
                            .arg(path)
                            .arg(lastLine)
                            .arg(noise)
                            .arg(file.noiseFrequencies));
    }
    const int ports = file.layout.ports;
    const QList<QPair<unsigned, unsigned>> positions = file.layout.positions();
    const bool impedances = !points.first().impedance.isEmpty();
    const QStringList& header = file.header;
    Sweep sweep;
    sweep.columns = {{QStringLiteral("Freq"), QStringLiteral("DB")},
                     {file.options.parameter, QStringLiteral("CM")},
                     {QStringLiteral("Z0"), QStringLiteral("DB")},
                     {QStringLiteral("Options"), QStringLiteral("TX")}};
    if (!header.isEmpty())
        sweep.columns.append({COMMENTS_COLUMN, QStringLiteral("TX")});
    if (impedances)
        sweep.columns.append({PORT_IMPEDANCE_COLUMN, QStringLiteral("CM")});
    if (!file.reference.isEmpty())
        sweep.columns.append({REFERENCE_COLUMN, QStringLiteral("CM")});
    for (const PointReader::Point& point : points) {
        DBIF_ComplexMatrix matrix(ports, ports);
        for (int k = 0; k < positions.size(); ++k) {
            const std::complex<double> value =
                toComplex(point.values[1 + 2 * k], point.values[2 + 2 * k], file.options.format);
            matrix(positions[k].first, positions[k].second).set(value.real(), value.imag());
            // An Upper or Lower matrix gives one triangle; the other is its mirror image.
            if (file.layout.format != MatrixLayout::FULL)
                matrix(positions[k].second, positions[k].first).set(value.real(), value.imag());
        }
        const bool first = sweep.rows.isEmpty();
        sweep.rows.append({QVariant(point.values.first() * file.options.unit), QVariant::fromValue(matrix),
                           first && file.options.reference.imag() == 0
                               ? QVariant(file.options.reference.real())
                               : QVariant(),
                           first ? QVariant(file.optionLine) : QVariant()});
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
        if (!file.reference.isEmpty()) {
            DBIF_ComplexMatrix z(1, ports);
            for (int p = 0; p < ports && first; ++p)
                z(0, p).set(file.reference[p].real(), file.reference[p].imag());
            sweep.rows.last().append(first ? QVariant::fromValue(z) : QVariant());
        }
    }
    return sweep;
}

namespace {

// A 1 x N matrix column of a row, or a ToolError naming what is missing.
QList<std::complex<double>> portValues(const DBIF_Measurement& measurement, const QString& key, unsigned row,
                                       int ports, const QString& path, const QString& what) {
    const DBIF_ComplexMatrix z = measurement.getData(key, row).value<DBIF_ComplexMatrix>();
    if (z.rows() != 1 || z.columns() != static_cast<unsigned>(ports)) {
        throw ToolError(QStringLiteral("%1: measurement %2 has no %3 of its %4 ports at row %5")
                            .arg(path)
                            .arg(measurement.getId())
                            .arg(what)
                            .arg(ports)
                            .arg(row));
    }
    QList<std::complex<double>> values;
    for (int p = 0; p < ports; ++p)
        values.append(std::complex<double>(z(0, p).real(), z(0, p).imaginary()));
    return values;
}

}  // namespace

void Touchstone::write(const DBIF_Measurement& measurement, const QString& path) {
    const int named = portsOf(path);
    const QStringList keys = measurement.getColumnKeys();
    QString matrixKey;
    for (const char* parameter : {"S", "Y", "Z", "H", "G"}) {
        const QString key =
            DBIF_MeasurementColumn::computeKey(QString::fromLatin1(parameter), QStringLiteral("CM"));
        if (keys.contains(key))
            matrixKey = key;
    }
    const QString frequencyKey =
        DBIF_MeasurementColumn::computeKey(QStringLiteral("Freq"), QStringLiteral("DB"));
    const QString optionsKey =
        DBIF_MeasurementColumn::computeKey(QStringLiteral("Options"), QStringLiteral("TX"));
    if (matrixKey.isEmpty() || !keys.contains(frequencyKey) || !keys.contains(optionsKey) ||
        measurement.rowCount() == 0) {
        throw ToolError(
            QStringLiteral("measurement %1 holds no Touchstone network").arg(measurement.getId()));
    }
    const int ports = static_cast<int>(measurement.getData(matrixKey, 0).value<DBIF_ComplexMatrix>().rows());
    if (named != 0 && named != ports) {
        throw ToolError(QStringLiteral("%1: measurement %2 has %3-port data; name the file .s%3p or .ts")
                            .arg(path)
                            .arg(measurement.getId())
                            .arg(ports));
    }
    const QString impedanceKey =
        DBIF_MeasurementColumn::computeKey(PORT_IMPEDANCE_COLUMN, QStringLiteral("CM"));
    const bool impedances = keys.contains(impedanceKey);
    const QString referenceKey = DBIF_MeasurementColumn::computeKey(REFERENCE_COLUMN, QStringLiteral("CM"));
    const QList<std::complex<double>> reference =
        keys.contains(referenceKey) ? portValues(measurement, referenceKey, 0, ports, path, "reference")
                                    : QList<std::complex<double>>();
    QString optionLine = measurement.getData(optionsKey, 0).toString();
    Options options;
    parseOptions(optionLine, options);
    // Version 1 holds one reference impedance for all ports, the option line's.
    const bool uniform =
        std::all_of(reference.begin(), reference.end(),
                    [&reference](const std::complex<double>& r) { return r == reference.first(); });
    const int version = named == 0 || !uniform ? 2 : 1;
    if (version == 2 && std::any_of(reference.begin(), reference.end(),
                                    [](const std::complex<double>& r) { return r.imag() != 0; })) {
        throw ToolError(QStringLiteral("%1: measurement %2 has complex reference impedances, which version 2 "
                                       "cannot hold; name the file .s%3p")
                            .arg(path)
                            .arg(measurement.getId())
                            .arg(ports));
    }
    if (version == 1 && !reference.isEmpty() && reference.first() != options.reference) {
        optionLine =
            QStringLiteral("# %1 %2 %3 R %4")
                .arg(options.unitName, options.parameter, options.format, impedanceText(reference.first()));
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ToolError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    QTextStream out(&file);
    out << "! measurement " << measurement.getId() << ", written by dbif " << DBIF_VERSION << "\n";
    const QString commentsKey = DBIF_MeasurementColumn::computeKey(COMMENTS_COLUMN, QStringLiteral("TX"));
    if (keys.contains(commentsKey)) {
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
    if (version == 2)
        out << "[Version] 2.0\n";
    out << optionLine << "\n";
    if (version == 2) {
        out << "[Number of Ports] " << ports << "\n";
        if (ports == 2)
            out << "[Two-Port Data Order] 21_12\n";
        out << "[Number of Frequencies] " << measurement.rowCount() << "\n";
        if (!reference.isEmpty()) {
            // On a line of their own: some readers take the keyword's line to hold one word more.
            out << "[Reference]\n";
            for (int p = 0; p < ports; ++p)
                out << (p > 0 ? " " : "") << DBIF_ComplexNumber::exactNumber(reference[p].real());
            out << "\n";
        }
        out << "[Network Data]\n";
    }
    MatrixLayout layout;
    layout.ports = ports;
    const QList<QPair<unsigned, unsigned>> positions = layout.positions();
    for (unsigned row = 0; row < measurement.rowCount(); ++row) {
        const DBIF_ComplexMatrix matrix = measurement.getData(matrixKey, row).value<DBIF_ComplexMatrix>();
        if (matrix.rows() != static_cast<unsigned>(ports) ||
            matrix.columns() != static_cast<unsigned>(ports)) {
            throw ToolError(QStringLiteral("%1: measurement %2 has %3-port data at row %4 after %5-port data")
                                .arg(path)
                                .arg(measurement.getId())
                                .arg(matrix.rows())
                                .arg(row)
                                .arg(ports));
        }
        out << frequencyText(measurement.getData(frequencyKey, row).toDouble(), options.unit);
        for (int k = 0; k < positions.size(); ++k) {
            // Networks of three and more ports start each matrix row on a line of its own and wrap it
            // after four values.
            if (ports > 2 && k > 0 && (k % ports == 0 || (k % ports) % PAIRS_A_LINE == 0))
                out << "\n";
            const DBIF_ComplexNumber value = matrix(positions[k].first, positions[k].second);
            out << ' ' << fromComplex({value.real(), value.imaginary()}, options.format);
        }
        out << "\n";
        if (impedances) {
            out << "! " << PORT_IMPEDANCE;
            for (const std::complex<double>& z :
                 portValues(measurement, impedanceKey, row, ports, path, "port impedances")) {
                out << ' ' << DBIF_ComplexNumber::exactNumber(z.real()) << ' '
                    << DBIF_ComplexNumber::exactNumber(z.imag());
            }
            out << "\n";
        }
    }
    if (version == 2)
        out << "[End]\n";
    out.flush();
    if (!file.commit())
        throw ToolError(QStringLiteral("%1: %2").arg(path, file.errorString()));
}
