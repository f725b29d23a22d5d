// SvgPlot.cpp: first the curves are gathered (columns or matrix elements, inner sweeps, and what the
// axes leave out), then drawn: title, grid, ticks, curves, their labels and the legend; a .png is the
// same drawing rendered by QSvgRenderer.
#include "SvgPlot.h"

#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QMap>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSvgGenerator>
#include <QSvgRenderer>
#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

#include "Listing.h"
#include "ToolError.h"
#include "dbif/DBIF_ComplexMatrix.h"

namespace {

const int HEIGHT = 580;
const QRectF AREA(100, 50, 540, 440);  // the plot area; the legend goes to its right
const double LEGEND_LINE = 18;
const int MOST_NAMED = 5;  // curves named in a report of what was left out

// Qualitative colours (Tableau 10, its pale yellow darkened) that keep neighbouring entries apart.
const QList<QColor> PALETTE = {QColor("#4e79a7"), QColor("#f28e2b"), QColor("#e15759"), QColor("#76b7b2"),
                               QColor("#59a14f"), QColor("#b8a02a"), QColor("#b07aa1"), QColor("#ff9da7"),
                               QColor("#9c755f"), QColor("#5f5f5f")};
const QList<QVector<qreal>> DASHES = {{}, {6, 3}, {1.5, 2.5}, {8, 3, 1.5, 3}, {12, 4}};

struct Curve {
    QString group;  // the legend values that set colour and line style
    QString style;
    QString inner;  // the inner sweep's value, empty when the measurement is one curve
    QString owner;  // "measurement 12 (pmos P1, X1Y1, 25 °C)", for reports
    QStringList fields;
    QList<QPointF> points;  // y as plotted: log10 on a log axis
};

QString fieldValue(const QStringList& fields, const QString& field) {
    const int index =
        Listing::measurementHeader().indexOf(field == QLatin1String("type") ? "device_type" : field);
    const QString value = fields.value(index);
    return field == QLatin1String("temperature") && !value.isEmpty() ? value + QStringLiteral(" °C") : value;
}

QString columnKey(const DBIF_Measurement& m, const QString& name) {
    for (const QString& key : m.getColumnKeys()) {
        if (Listing::namesColumn(Listing::columnName(m.getConnection(), key), name))
            return key;
    }
    return QString();
}

QString number(double value) {
    return QString::number(std::abs(value) < 1e-300 ? 0.0 : value, 'g', 6);
}

// A matrix element named as engineers do: S21, or S10_12 beyond nine ports.
struct Element {
    QString column;
    unsigned row = 0, col = 0;
};

std::optional<Element> elementOf(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^([A-Za-z]+)(?:([1-9])([1-9])|(\\d+)_(\\d+))$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    const int i = match.captured(2).isEmpty() ? match.captured(4).toInt() : match.captured(2).toInt();
    const int j = match.captured(2).isEmpty() ? match.captured(5).toInt() : match.captured(3).toInt();
    if (i < 1 || j < 1)
        return std::nullopt;
    return Element{match.captured(1), unsigned(i - 1), unsigned(j - 1)};
}

// Ticks at 1, 2 or 5 times a power of ten, about six over the range.
QList<double> linearTicks(double low, double high) {
    const double raw = (high - low) / 6;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    double step = magnitude;
    for (const double factor : {2.0, 5.0, 10.0}) {
        if (raw > step)
            step = magnitude * factor;
    }
    QList<double> ticks;
    for (double tick = std::ceil(low / step) * step; tick <= high + step * 1e-9; tick += step)
        ticks << (std::abs(tick) < step * 1e-9 ? 0.0 : tick);
    return ticks;
}

void widen(double& low, double& high) {
    if (high > low)
        return;
    const double margin = low == 0 ? 1 : std::abs(low) * 0.1;
    low -= margin;
    high += margin;
}

// 10 with the exponent in superscript digits.
QString decade(int exponent) {
    static const QString digits = QStringLiteral("⁰¹²³⁴⁵⁶⁷⁸⁹");
    QString text = QStringLiteral("10");
    if (exponent < 0)
        text += QStringLiteral("⁻");
    for (const QChar c : QString::number(std::abs(exponent)))
        text += digits[c.digitValue()];
    return text;
}

// "1 point", "2 points".
QString counted(long long count, const char* thing) {
    return QStringLiteral("%1 %2%3").arg(count).arg(QLatin1String(thing)).arg(count == 1 ? "" : "s");
}

// The first few of a list of curves or measurements, and how many more there are.
QString named(const QStringList& owners) {
    QStringList shown = owners.mid(0, MOST_NAMED);
    if (owners.size() > MOST_NAMED)
        shown << QStringLiteral("%1 more").arg(owners.size() - MOST_NAMED);
    return shown.join(QStringLiteral(", "));
}

// The curves of the measurements and the report of what was left out.
class Gatherer {
public:
    explicit Gatherer(const SvgPlot::Request& request) : request(request) {}

    QList<Curve> curves;
    QStringList leftOut;
    QString xLabel, yLabel, innerName;

    void gather(const QList<DBIF_Measurement>& measurements) {
        QStringList without, nonPositive;
        long long missingRows = 0, droppedPoints = 0;
        int curvesWithDrops = 0;
        for (const DBIF_Measurement& m : measurements) {
            const QString xKey = columnKey(m, request.x);
            QString yKey = columnKey(m, request.y);
            std::optional<Element> element;
            if (yKey.isEmpty() && (element = elementOf(request.y)))
                yKey = columnKey(m, element->column);
            const QStringList fields = Listing::measurementFields(m);
            const QString owner =
                QStringLiteral("measurement %1 (%2)")
                    .arg(m.getId())
                    .arg(QStringList{fieldValue(fields, "type"), fieldValue(fields, "device"),
                                     fieldValue(fields, "die"), fieldValue(fields, "temperature")}
                             .join(QStringLiteral(", ")));
            if ((xKey.isEmpty() && request.element != SvgPlot::SMITH) || yKey.isEmpty()) {
                without << QStringLiteral("measurement %1").arg(m.getId());
                continue;
            }
            if (!element && DBIF_MeasurementColumn::get(m.getConnection(), yKey).getDataType() == "CM") {
                throw ToolError(QStringLiteral("--y %1: a matrix column; name one of its elements (%1%2)")
                                    .arg(request.y, QStringLiteral("21")),
                                ToolError::USAGE);
            }
            if (xLabel.isEmpty())
                labelAxes(m, xKey, yKey, element);
            for (Curve curve : split(m, xKey, yKey, element, missingRows)) {
                curve.group = fieldValue(fields, request.group);
                curve.style = request.style.isEmpty() ? QString() : fieldValue(fields, request.style);
                curve.owner =
                    owner + (curve.inner.isEmpty() ? QString() : QStringLiteral(" at ") + curve.inner);
                curve.fields = fields;
                if (request.logY) {
                    const qsizetype before = curve.points.size();
                    curve.points.erase(std::remove_if(curve.points.begin(), curve.points.end(),
                                                      [](const QPointF& p) { return p.y() <= 0; }),
                                       curve.points.end());
                    for (QPointF& p : curve.points)
                        p.setY(std::log10(p.y()));
                    if (curve.points.isEmpty()) {
                        nonPositive << curve.owner;
                        continue;
                    }
                    droppedPoints += before - curve.points.size();
                    curvesWithDrops += before > curve.points.size();
                }
                if (!curve.points.isEmpty())
                    curves << curve;
            }
        }
        if (!without.isEmpty()) {
            leftOut << QStringLiteral("left out %1 without data in both %2 and %3: %4")
                           .arg(counted(without.size(), "measurement"), request.x, request.y, named(without));
        }
        if (!nonPositive.isEmpty()) {
            leftOut << QStringLiteral(
                           "left out %1 of %2 curves with no y > 0 for the log axis: %3; --abs plots |y|")
                           .arg(nonPositive.size())
                           .arg(nonPositive.size() + curves.size())
                           .arg(named(nonPositive));
        }
        if (droppedPoints > 0) {
            leftOut << QStringLiteral("left out %1 with y <= 0 from %2 for the log axis")
                           .arg(counted(droppedPoints, "point"), counted(curvesWithDrops, "curve"));
        }
        if (!withoutCurveBy.isEmpty()) {
            leftOut << QStringLiteral("%1 without a column %2, split where x jumps back instead: %3")
                           .arg(counted(withoutCurveBy.size(), "measurement"), request.curveBy,
                                named(withoutCurveBy));
        }
        if (missingRows > 0)
            leftOut
                << QStringLiteral("left out %1 without a finite x and y").arg(counted(missingRows, "row"));
    }

private:
    void labelAxes(const DBIF_Measurement& m, const QString& xKey, const QString& yKey,
                   const std::optional<Element>& element) {
        const DBIF_Connection connection = m.getConnection();
        xLabel = xKey.isEmpty() ? QString() : Listing::columnName(connection, xKey);
        yLabel = Listing::columnName(connection, yKey);
        if (element) {
            const QString name = request.y;
            static const QMap<SvgPlot::ElementView, QString> labels{{SvgPlot::MAGNITUDE, "|%1|"},
                                                                    {SvgPlot::DB_MAGNITUDE, "|%1| [dB]"},
                                                                    {SvgPlot::PHASE, "arg %1 [°]"},
                                                                    {SvgPlot::SMITH, "%1"}};
            yLabel = labels[request.element].arg(name);
            // A Touchstone import keeps frequencies in Hz under the name the files use.
            if (xLabel == QLatin1String("Freq"))
                xLabel = QStringLiteral("Freq [Hz]");
        }
        if (request.absolute) {
            const auto [name, unit] = Listing::nameAndUnit(yLabel);
            yLabel = QStringLiteral("|%1|").arg(name) + (unit.isEmpty() ? QString() : " [" + unit + "]");
        }
    }

    // The y of a row, or nullopt where the row has none.
    std::optional<QPointF> pointAt(const DBIF_Measurement& m, const QString& xKey, const QString& yKey,
                                   const std::optional<Element>& element, unsigned row) const {
        bool xOk = true, yOk = false;
        const QVariant xv = xKey.isEmpty() ? QVariant(0.0) : m.getData(xKey, row);
        const QVariant yv = m.getData(yKey, row);
        if (xv.isNull() || yv.isNull())
            return std::nullopt;
        double x = xv.toDouble(&xOk), y = 0;
        if (element) {
            const DBIF_ComplexMatrix matrix = yv.value<DBIF_ComplexMatrix>();
            yOk = element->row < matrix.rows() && element->col < matrix.columns();
            if (!yOk)
                return std::nullopt;
            const std::complex<double> value(matrix(element->row, element->col).real(),
                                             matrix(element->row, element->col).imaginary());
            switch (request.element) {
                case SvgPlot::MAGNITUDE:
                    y = std::abs(value);
                    break;
                case SvgPlot::DB_MAGNITUDE:
                    y = 20 * std::log10(std::abs(value));
                    break;
                case SvgPlot::PHASE:
                    y = std::arg(value) * 180 / M_PI;
                    break;
                case SvgPlot::SMITH:
                    x = value.real();
                    y = value.imag();
                    break;
            }
        } else {
            y = yv.toDouble(&yOk);
        }
        if (request.absolute)
            y = std::abs(y);
        if (!xOk || !yOk || !std::isfinite(x) || !std::isfinite(y))
            return std::nullopt;
        return QPointF(x, y);
    }

    // The measurement's curves: one per value of --curve-by, or split where x comes back to the value
    // it started at (an inner sweep retraced), labelled by a column that is constant along each piece.
    QList<Curve> split(const DBIF_Measurement& m, const QString& xKey, const QString& yKey,
                       const std::optional<Element>& element, long long& missingRows) {
        QList<Curve> pieces;
        QList<QList<unsigned>> rowsOf;
        const QString byKey = request.curveBy.isEmpty() ? QString() : columnKey(m, request.curveBy);
        if (!request.curveBy.isEmpty() && byKey.isEmpty())
            withoutCurveBy << QStringLiteral("measurement %1").arg(m.getId());
        QList<QVariant> values;
        // A retrace jumps back: x comes to its start value from further away than the sweep's first
        // step, which a sweep that returns step by step (up and down again) does not.
        double startX = 0, firstStep = 0, lastX = 0;
        for (unsigned row = 0; row < m.rowCount(); ++row) {
            if (!byKey.isEmpty()) {
                const QVariant value = m.getData(byKey, row);
                qsizetype index = values.indexOf(value);
                if (index < 0) {
                    values << value;
                    rowsOf << QList<unsigned>();
                    index = values.size() - 1;
                }
                rowsOf[index] << row;
            } else if (request.element != SvgPlot::SMITH) {
                const QVariant cell = m.getData(xKey, row);
                const double x = cell.toDouble();
                if (rowsOf.size() > 0 && rowsOf.last().size() == 1)
                    firstStep = std::abs(x - startX);
                const bool back = rowsOf.size() > 0 && rowsOf.last().size() > 1 && !cell.isNull() &&
                                  x == startX && std::abs(x - lastX) > 1.5 * firstStep;
                if (rowsOf.isEmpty() || back) {
                    rowsOf << QList<unsigned>();
                    startX = x;
                }
                if (!cell.isNull())
                    lastX = x;
                rowsOf.last() << row;
            } else {
                if (rowsOf.isEmpty())
                    rowsOf << QList<unsigned>();
                rowsOf.last() << row;
            }
        }
        QString labelKey = byKey;
        if (byKey.isEmpty() && rowsOf.size() > 1)
            labelKey = steppedColumn(m, xKey, yKey, rowsOf);
        const auto [name, unit] = Listing::nameAndUnit(
            labelKey.isEmpty() ? QString() : Listing::columnName(m.getConnection(), labelKey));
        if (!labelKey.isEmpty() && innerName.isEmpty())
            innerName = Listing::columnName(m.getConnection(), labelKey);
        for (int k = 0; k < rowsOf.size(); ++k) {
            Curve curve;
            if (rowsOf.size() > 1 || !byKey.isEmpty()) {
                const QVariant value = m.getData(labelKey.isEmpty() ? xKey : labelKey, rowsOf[k].first());
                bool numeric = false;
                const double v = value.toDouble(&numeric);
                curve.inner = labelKey.isEmpty() ? QStringLiteral("sweep %1").arg(k + 1)
                                                 : QStringLiteral("%1 = %2%3")
                                                       .arg(name, numeric ? number(v) : value.toString(),
                                                            unit.isEmpty() ? QString() : " " + unit);
            }
            for (const unsigned row : rowsOf[k]) {
                const std::optional<QPointF> point = pointAt(m, xKey, yKey, element, row);
                if (point)
                    curve.points << *point;
                else
                    ++missingRows;
            }
            pieces << curve;
        }
        return pieces;
    }

    // A number column, neither x nor y, that holds one value along each piece and differs between them.
    QString steppedColumn(const DBIF_Measurement& m, const QString& xKey, const QString& yKey,
                          const QList<QList<unsigned>>& rowsOf) const {
        for (const QString& key : m.getColumnKeys()) {
            if (key == xKey || key == yKey)
                continue;
            bool stepped = true;
            QList<QVariant> seen;
            for (const QList<unsigned>& rows : rowsOf) {
                const QVariant first = m.getData(key, rows.first());
                bool ok = false;
                first.toDouble(&ok);
                stepped = stepped && ok && !first.isNull() && !seen.contains(first) &&
                          std::all_of(rows.begin(), rows.end(),
                                      [&](unsigned row) { return m.getData(key, row) == first; });
                seen << first;
            }
            if (stepped)
                return key;
        }
        return QString();
    }

    const SvgPlot::Request& request;
    QStringList withoutCurveBy;
};

// Legend values in order: numbers (temperatures) ascending, other values as they came.
QStringList ordered(QStringList values) {
    values.removeDuplicates();
    const bool numeric = std::all_of(values.begin(), values.end(), [](const QString& v) {
        bool ok = false;
        QString(v).remove(QStringLiteral(" °C")).toDouble(&ok);
        return ok;
    });
    if (numeric) {
        std::stable_sort(values.begin(), values.end(), [](const QString& a, const QString& b) {
            return QString(a).remove(QStringLiteral(" °C")).toDouble() <
                   QString(b).remove(QStringLiteral(" °C")).toDouble();
        });
    }
    return values;
}

// The fields every curve shares, as a short description of the selection.
QString commonDescription(const QList<Curve>& curves) {
    QStringList parts;
    for (const char* field : {"lot", "wafer", "die", "device", "type", "condition", "temperature"}) {
        const QString value = fieldValue(curves.first().fields, field);
        const bool shared = std::all_of(curves.begin(), curves.end(),
                                        [&](const Curve& c) { return fieldValue(c.fields, field) == value; });
        if (shared && !value.isEmpty())
            parts << value;
    }
    return parts.join(QStringLiteral(", "));
}

// The pieces of a polyline inside a rectangle (Liang-Barsky on each segment). Qt's SVG generator
// writes no clip paths, so curves beyond --xlim or --ylim are cut here.
QList<QList<QPointF>> clipped(const QList<QPointF>& points, const QRectF& box) {
    QList<QList<QPointF>> pieces;
    bool open = false;
    for (int i = 0; i + 1 < points.size(); ++i) {
        const QPointF a = points[i], d = points[i + 1] - points[i];
        double enter = 0, leave = 1;
        const double p[] = {-d.x(), d.x(), -d.y(), d.y()};
        const double q[] = {a.x() - box.left(), box.right() - a.x(), a.y() - box.top(), box.bottom() - a.y()};
        bool visible = true;
        for (int k = 0; k < 4 && visible; ++k) {
            if (p[k] == 0)
                visible = q[k] >= 0;
            else if (p[k] < 0)
                enter = std::max(enter, q[k] / p[k]);
            else
                leave = std::min(leave, q[k] / p[k]);
        }
        if (!visible || enter > leave) {
            open = false;
            continue;
        }
        if (!open || enter > 0)
            pieces.append(QList<QPointF>{a + enter * d});
        pieces.last().append(a + leave * d);
        open = leave == 1;
    }
    if (points.size() == 1 && box.contains(points.first()))
        pieces.append(QList<QPointF>{points.first()});
    return pieces;
}

// The SI prefix that puts the largest value of a linear axis between 1 and 1000, for a label with
// an SI unit ("Id [A]" becomes "Id [mA]"), and the factor values are divided by.
std::pair<QString, double> prefixed(const QString& label, double low, double high) {
    static const QStringList units{"A", "V", "Hz", "s", "F", "H", "W", "Ω", "Ohm"};
    const auto [name, unit] = Listing::nameAndUnit(label);
    const double largest = std::max(std::abs(low), std::abs(high));
    if (!units.contains(unit) || largest == 0)
        return {label, 1};
    static const QMap<int, QString> prefixes{{-15, "f"}, {-12, "p"}, {-9, "n"}, {-6, "µ"}, {-3, "m"},
                                             {0, ""},    {3, "k"},   {6, "M"},  {9, "G"},  {12, "T"}};
    const int exponent = std::clamp(int(std::floor(std::log10(largest) / 3)) * 3, -15, 12);
    return {QStringLiteral("%1 [%2%3]").arg(name, prefixes[exponent], unit), std::pow(10.0, exponent)};
}

struct LegendEntry {
    QString text;
    QPen pen;  // Qt::NoPen for a section title
};

}  // namespace

QStringList SvgPlot::groupFields() {
    return {QStringLiteral("temperature"), QStringLiteral("die"),       QStringLiteral("device"),
            QStringLiteral("type"),        QStringLiteral("condition"), QStringLiteral("lot"),
            QStringLiteral("wafer"),       QStringLiteral("run"),       QStringLiteral("id")};
}

SvgPlot::Result SvgPlot::write(const QList<DBIF_Measurement>& measurements, const Request& request,
                               const QString& path) {
    Gatherer gatherer(request);
    gatherer.gather(measurements);
    const QList<Curve>& curves = gatherer.curves;
    if (curves.isEmpty()) {
        throw ToolError(QStringLiteral("plot: nothing to draw of %1 over %2: %3")
                            .arg(request.y, request.x,
                                 gatherer.leftOut.isEmpty() ? QStringLiteral("no data")
                                                            : gatherer.leftOut.join(QStringLiteral("; "))));
    }
    const bool smith = request.element == SMITH;
    const bool logY = request.logY && !smith;

    // Ranges: the limits asked for, or the data's with some headroom.
    double xLow = std::numeric_limits<double>::max(), xHigh = -xLow, yLow = xLow, yHigh = -xLow;
    for (const Curve& curve : curves) {
        for (const QPointF& p : curve.points) {
            xLow = std::min(xLow, p.x());
            xHigh = std::max(xHigh, p.x());
            yLow = std::min(yLow, p.y());
            yHigh = std::max(yHigh, p.y());
        }
    }
    widen(xLow, xHigh);
    widen(yLow, yHigh);
    if (logY) {
        yLow = std::floor(yLow);
        yHigh = std::ceil(yHigh);
    } else {
        const double margin = (yHigh - yLow) * 0.05;
        yLow -= yLow < 0 || yLow - margin >= 0 ? margin : 0;
        yHigh += margin;
    }
    if (request.xLimits)
        std::tie(xLow, xHigh) = *request.xLimits;
    if (request.yLimits) {
        if (logY && (request.yLimits->first <= 0 || request.yLimits->second <= 0))
            throw ToolError(QStringLiteral("--ylim: a log axis needs limits above 0"), ToolError::USAGE);
        yLow = logY ? std::log10(request.yLimits->first) : request.yLimits->first;
        yHigh = logY ? std::log10(request.yLimits->second) : request.yLimits->second;
    }
    if (smith) {
        xLow = yLow = -1;
        xHigh = yHigh = 1;
    }

    // Colour by the group field, unless a single measurement family is split by its inner sweep:
    // then each inner value has its colour. Line style by --style, or a second lap of the palette.
    const bool byInner =
        std::all_of(curves.begin(), curves.end(),
                    [&](const Curve& c) { return c.group == curves.first().group; }) &&
        std::any_of(curves.begin(), curves.end(), [](const Curve& c) { return !c.inner.isEmpty(); });
    QStringList colourValues, styleValues;
    for (const Curve& curve : curves) {
        colourValues << (byInner ? curve.inner : curve.group);
        styleValues << curve.style;
    }
    // Inner sweeps keep the order they were measured in.
    if (byInner)
        colourValues.removeDuplicates();
    else
        colourValues = ordered(colourValues);
    styleValues = ordered(styleValues);
    const auto penOf = [&](const QString& colourValue, const QString& styleValue) {
        const int index = colourValues.indexOf(colourValue);
        QPen pen(PALETTE[index % PALETTE.size()], 1.6);
        const int dash = request.style.isEmpty() ? index / PALETTE.size() : styleValues.indexOf(styleValue);
        if (dash % DASHES.size() != 0)
            pen.setDashPattern(DASHES[dash % DASHES.size()]);
        return pen;
    };

    // The legend's entries and its columns, which set the width of the drawing.
    QList<LegendEntry> legend;
    const QString colourTitle = byInner ? gatherer.innerName : request.group;
    if (!colourTitle.isEmpty())
        legend << LegendEntry{colourTitle, Qt::NoPen};
    for (const QString& value : colourValues)
        legend << LegendEntry{value, penOf(value, styleValues.first())};
    if (!request.style.isEmpty()) {
        legend << LegendEntry{request.style, Qt::NoPen};
        for (const QString& value : styleValues) {
            QPen pen = penOf(colourValues.first(), value);
            pen.setColor(Qt::black);
            legend << LegendEntry{value, pen};
        }
    }
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    const QFontMetrics metrics(font);
    QFont bold = font;
    bold.setBold(true);
    const QFontMetrics boldMetrics(bold);
    const int perColumn = int(AREA.height() / LEGEND_LINE);
    QList<double> columnLeft{AREA.right() + 20};
    for (int start = 0; start < legend.size(); start += perColumn) {
        double widest = 0;
        for (int i = start; i < std::min<int>(start + perColumn, legend.size()); ++i)
            widest = std::max<double>(widest, legend[i].pen.style() == Qt::NoPen
                                                  ? boldMetrics.horizontalAdvance(legend[i].text)
                                                  : metrics.horizontalAdvance(legend[i].text) + 32);
        columnLeft << columnLeft.last() + widest + 16;
    }
    const int width = std::max(int(AREA.right()) + 120, int(std::ceil(columnLeft.last())));

    const QString what = smith ? QStringLiteral("%1 on a Smith chart").arg(request.y)
                               : QStringLiteral("%1 over %2")
                                     .arg(Listing::nameAndUnit(gatherer.yLabel).first,
                                          Listing::nameAndUnit(gatherer.xLabel).first);
    const QString common = commonDescription(curves);
    const QString title =
        !request.title.isEmpty() ? request.title : what + (common.isEmpty() ? "" : ": " + common);
    // Linear axes in SI units read in the prefix of their values.
    const auto [xLabel, xScale] =
        smith ? std::make_pair(QString(), 1.0) : prefixed(gatherer.xLabel, xLow, xHigh);
    const auto [yLabel, yScale] = smith || logY ? std::make_pair(smith ? QString() : gatherer.yLabel, 1.0)
                                                : prefixed(gatherer.yLabel, yLow, yHigh);

    QBuffer svg;
    svg.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&svg);
    generator.setSize(QSize(width, HEIGHT));
    generator.setViewBox(QRect(0, 0, width, HEIGHT));
    generator.setTitle(title);
    generator.setDescription(QStringLiteral("dbif plot, %1 curves").arg(curves.size()));
    QPainter painter(&generator);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font);
    // The Smith chart is square, in the middle of the plot area.
    const QRectF area =
        smith ? QRectF(AREA.center().x() - AREA.height() / 2, AREA.top(), AREA.height(), AREA.height())
              : AREA;
    const auto toX = [&](double x) { return area.left() + (x - xLow) / (xHigh - xLow) * area.width(); };
    const auto toY = [&](double y) { return area.bottom() - (y - yLow) / (yHigh - yLow) * area.height(); };
    const QPen gridPen(QColor("#d9d9d9"), 0.8), minorPen(QColor("#eeeeee"), 0.6), framePen(Qt::black, 1);

    painter.setPen(framePen);
    QFont titleFont = font;
    titleFont.setPixelSize(15);
    painter.setFont(titleFont);
    painter.drawText(QRectF(0, 8, width, 24), Qt::AlignHCenter | Qt::AlignVCenter, title);
    painter.setFont(font);

    if (smith) {
        // Circles of constant resistance, and arcs of constant reactance within the unit circle.
        const double radius = area.width() / 2;
        const QPointF centre = area.center();
        painter.setPen(gridPen);
        painter.drawLine(QPointF(area.left(), centre.y()), QPointF(area.right(), centre.y()));
        for (const double r : {0.2, 0.5, 1.0, 2.0, 5.0})
            painter.drawEllipse(QPointF(toX(r / (1 + r)), centre.y()), radius / (1 + r), radius / (1 + r));
        for (const double x : {0.2, 0.5, 1.0, 2.0, 5.0, -0.2, -0.5, -1.0, -2.0, -5.0}) {
            // The circle starts outside the chart, enters it once and leaves at the open circuit.
            QList<QPointF> arc;
            for (int k = 0; k <= 720; ++k) {
                const std::complex<double> point =
                    std::complex<double>(1, 1 / x) + std::polar(1 / std::abs(x), k * M_PI / 360);
                if (std::abs(point) <= 1 + 1e-9)
                    arc << QPointF(toX(point.real()), toY(point.imag()));
                else if (!arc.isEmpty())
                    break;
            }
            painter.drawPolyline(arc.data(), int(arc.size()));
        }
        painter.setPen(QColor("#808080"));
        for (const double r : {0.2, 0.5, 1.0, 2.0, 5.0})
            painter.drawText(QPointF(toX((r - 1) / (r + 1)) + 2, centre.y() - 3), number(r));
        painter.setPen(framePen);
        painter.drawEllipse(centre, radius, radius);
    } else {
        QList<double> xTicks = linearTicks(xLow, xHigh), yTicks, minor;
        if (logY) {
            for (double d = std::ceil(yLow - 1e-9); d <= yHigh + 1e-9; ++d)
                yTicks << d;
            for (double d = std::floor(yLow); d < yHigh; ++d) {
                for (int k = 2; k < 10; ++k) {
                    const double tick = d + std::log10(k);
                    if (tick > yLow && tick < yHigh)
                        minor << tick;
                }
            }
        } else {
            yTicks = linearTicks(yLow, yHigh);
        }
        // Grid first, so that curves and frame lie over it.
        painter.setPen(minorPen);
        for (const double tick : minor)
            painter.drawLine(QPointF(area.left(), toY(tick)), QPointF(area.right(), toY(tick)));
        painter.setPen(gridPen);
        for (const double tick : xTicks)
            painter.drawLine(QPointF(toX(tick), area.top()), QPointF(toX(tick), area.bottom()));
        for (const double tick : yTicks)
            painter.drawLine(QPointF(area.left(), toY(tick)), QPointF(area.right(), toY(tick)));
        painter.setPen(framePen);
        painter.drawRect(area);
        for (const double tick : xTicks) {
            const double x = toX(tick);
            painter.drawLine(QPointF(x, area.bottom()), QPointF(x, area.bottom() + 5));
            const QString label = number(tick / xScale);
            painter.drawText(QPointF(x - metrics.horizontalAdvance(label) / 2.0, area.bottom() + 20), label);
        }
        // Within less than two decades the minor ticks at 2 and 5 are labelled as well.
        const bool fewDecades = logY && yTicks.size() < 2;
        for (const double tick : minor) {
            painter.drawLine(QPointF(area.left() - 3, toY(tick)), QPointF(area.left(), toY(tick)));
            const long long mantissa = std::lround(std::pow(10.0, tick - std::floor(tick + 1e-9)));
            if (fewDecades && (mantissa == 2 || mantissa == 5)) {
                const QString label =
                    QString::number(mantissa) + QStringLiteral("·") + decade(int(std::floor(tick + 1e-9)));
                painter.drawText(QPointF(area.left() - 8 - metrics.horizontalAdvance(label), toY(tick) + 4),
                                 label);
            }
        }
        for (const double tick : yTicks) {
            const double y = toY(tick);
            painter.drawLine(QPointF(area.left() - 5, y), QPointF(area.left(), y));
            const QString label = logY ? decade(int(std::lround(tick))) : number(tick / yScale);
            painter.drawText(QPointF(area.left() - 8 - metrics.horizontalAdvance(label), y + 4), label);
        }
    }
    painter.drawText(QPointF(area.center().x() - metrics.horizontalAdvance(xLabel) / 2.0, HEIGHT - 40),
                     xLabel);
    painter.save();
    painter.translate(24, area.center().y() + metrics.horizontalAdvance(yLabel) / 2.0);
    painter.rotate(-90);
    painter.drawText(QPointF(0, 0), yLabel);
    painter.restore();

    // One path per curve; an inner sweep's value at the end of its curve when colour shows the group.
    for (const Curve& curve : curves) {
        QList<QPointF> drawn;
        for (const QPointF& p : curve.points)
            drawn << QPointF(toX(p.x()), toY(p.y()));
        QPainterPath line;
        for (const QList<QPointF>& piece : clipped(drawn, area)) {
            line.moveTo(piece.first());
            for (const QPointF& point : piece.mid(1))
                line.lineTo(point);
        }
        painter.setPen(penOf(byInner ? curve.inner : curve.group, curve.style));
        painter.drawPath(line);
    }
    if (!byInner) {
        QFont small = font;
        small.setPixelSize(10);
        painter.setFont(small);
        for (const Curve& curve : curves) {
            if (curve.inner.isEmpty())
                continue;
            const QPointF end(std::clamp(toX(curve.points.last().x()), area.left(), area.right()),
                              std::clamp(toY(curve.points.last().y()), area.top() + 10, area.bottom()));
            painter.setPen(penOf(curve.group, curve.style).color());
            painter.drawText(end + QPointF(-QFontMetrics(small).horizontalAdvance(curve.inner) - 2, -3),
                             curve.inner);
        }
        painter.setFont(font);
    }

    // The legend, in columns of the plot area's height.
    for (int i = 0; i < legend.size(); ++i) {
        const double x = columnLeft[i / perColumn];
        const double y = AREA.top() + 10 + (i % perColumn) * LEGEND_LINE;
        if (legend[i].pen.style() == Qt::NoPen) {
            painter.setPen(Qt::black);
            painter.setFont(bold);
            painter.drawText(QPointF(x, y), legend[i].text);
            painter.setFont(font);
            continue;
        }
        QPen swatch = legend[i].pen;
        swatch.setWidthF(2.5);
        painter.setPen(swatch);
        painter.drawLine(QPointF(x, y - 4), QPointF(x + 25, y - 4));
        painter.setPen(Qt::black);
        painter.drawText(QPointF(x + 32, y), legend[i].text);
    }
    painter.end();

    QByteArray bytes = svg.data();
    if (path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) {
        // Twice the SVG's size, on white, so that a slide shows it sharp.
        QSvgRenderer renderer(bytes);
        QImage image(width * 2, HEIGHT * 2, QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter imagePainter(&image);
        imagePainter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&imagePainter);
        imagePainter.end();
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        if (!image.save(&png, "PNG"))
            throw ToolError(QStringLiteral("%1: the drawing could not be rendered as PNG").arg(path));
        bytes = png.data();
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw ToolError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    return {int(curves.size()), gatherer.leftOut};
}
