// SvgPlot.cpp: curves, axes with rounded ticks, the legend.
#include "SvgPlot.h"

#include <QBuffer>
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QMap>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>
#include <limits>

#include "Listing.h"
#include "ToolError.h"

namespace {

const int WIDTH = 800;
const int HEIGHT = 560;
const QRectF AREA(90, 40, 520, 440);  // the plot area; the legend goes to its right

struct Curve {
    QString group;
    QList<QPointF> points;  // y already log10 on a log axis
};

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

QString groupValue(const DBIF_Measurement& m, const QString& group) {
    const QStringList fields = Listing::measurementFields(m);
    const int index =
        Listing::measurementHeader().indexOf(group == QLatin1String("type") ? "device_type" : group);
    return fields.value(index);
}

QString columnKey(const DBIF_Measurement& m, const QString& name) {
    for (const QString& key : m.getColumnKeys()) {
        if (Listing::namesColumn(Listing::columnName(m.getConnection(), key), name))
            return key;
    }
    return QString();
}

}  // namespace

QStringList SvgPlot::groupFields() {
    return {QStringLiteral("temperature"), QStringLiteral("die"),       QStringLiteral("device"),
            QStringLiteral("type"),        QStringLiteral("condition"), QStringLiteral("lot"),
            QStringLiteral("wafer"),       QStringLiteral("run"),       QStringLiteral("id")};
}

int SvgPlot::write(const QList<DBIF_Measurement>& measurements, const QString& xName, const QString& yName,
                   bool logY, const QString& group, const QString& path) {
    QList<Curve> curves;
    QStringList groups;
    // The axes are labelled with the columns' whole names, units included.
    QString xLabel = xName, yLabel = yName;
    double xLow = std::numeric_limits<double>::max(), xHigh = -xLow, yLow = xLow, yHigh = -xLow;
    for (const DBIF_Measurement& m : measurements) {
        const QString xKey = columnKey(m, xName);
        const QString yKey = columnKey(m, yName);
        if (xKey.isEmpty() || yKey.isEmpty())
            continue;
        Curve curve{groupValue(m, group), {}};
        for (unsigned row = 0; row < m.rowCount(); ++row) {
            const QVariant xv = m.getData(xKey, row);
            const QVariant yv = m.getData(yKey, row);
            bool xOk = false, yOk = false;
            const double x = xv.toDouble(&xOk);
            double y = yv.toDouble(&yOk);
            if (xv.isNull() || yv.isNull() || !xOk || !yOk || !std::isfinite(x) || !std::isfinite(y) ||
                (logY && y <= 0))
                continue;
            if (logY)
                y = std::log10(y);
            curve.points << QPointF(x, y);
            xLow = std::min(xLow, x);
            xHigh = std::max(xHigh, x);
            yLow = std::min(yLow, y);
            yHigh = std::max(yHigh, y);
        }
        if (curve.points.isEmpty())
            continue;
        if (curves.isEmpty()) {
            xLabel = Listing::columnName(m.getConnection(), xKey);
            yLabel = Listing::columnName(m.getConnection(), yKey);
        }
        if (!groups.contains(curve.group))
            groups << curve.group;
        curves << curve;
    }
    if (curves.isEmpty()) {
        throw ToolError(QStringLiteral("plot: no measurement has data in both %1 and %2%3")
                            .arg(xName, yName, logY ? QStringLiteral(" (with y > 0)") : QString()));
    }
    widen(xLow, xHigh);
    widen(yLow, yHigh);
    if (logY) {
        yLow = std::floor(yLow);
        yHigh = std::ceil(yHigh);
    } else {
        // Headroom, so that no curve runs along the frame.
        const double margin = (yHigh - yLow) * 0.05;
        yLow -= yLow < 0 || yLow - margin >= 0 ? margin : 0;
        yHigh += margin;
    }

    QBuffer svg;
    svg.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&svg);
    generator.setSize(QSize(WIDTH, HEIGHT));
    generator.setViewBox(QRect(0, 0, WIDTH, HEIGHT));
    generator.setTitle(QStringLiteral("%1 over %2").arg(yLabel, xLabel));
    generator.setDescription(QStringLiteral("dbif plot, %1 curves").arg(curves.size()));
    QPainter painter(&generator);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const auto toX = [&](double x) { return AREA.left() + (x - xLow) / (xHigh - xLow) * AREA.width(); };
    const auto toY = [&](double y) { return AREA.bottom() - (y - yLow) / (yHigh - yLow) * AREA.height(); };

    // Frame, ticks and labels.
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(AREA);
    for (const double tick : linearTicks(xLow, xHigh)) {
        const double x = toX(tick);
        painter.drawLine(QPointF(x, AREA.bottom()), QPointF(x, AREA.bottom() + 5));
        const QString label = QString::number(tick, 'g', 6);
        painter.drawText(QPointF(x - metrics.horizontalAdvance(label) / 2.0, AREA.bottom() + 20), label);
    }
    QList<double> yTicks;
    if (logY) {
        for (double decade = yLow; decade <= yHigh + 1e-9; ++decade)
            yTicks << decade;
    } else {
        yTicks = linearTicks(yLow, yHigh);
    }
    for (const double tick : yTicks) {
        const double y = toY(tick);
        painter.drawLine(QPointF(AREA.left() - 5, y), QPointF(AREA.left(), y));
        const QString label = QString::number(logY ? std::pow(10.0, tick) : tick, 'g', 6);
        painter.drawText(QPointF(AREA.left() - 8 - metrics.horizontalAdvance(label), y + 4), label);
    }
    painter.drawText(QPointF(AREA.center().x() - metrics.horizontalAdvance(xLabel) / 2.0, HEIGHT - 20),
                     xLabel);
    painter.save();
    painter.translate(20, AREA.center().y() + metrics.horizontalAdvance(yLabel) / 2.0);
    painter.rotate(-90);
    painter.drawText(QPointF(0, 0), yLabel);
    painter.restore();

    // One path per curve, in its group's colour.
    const auto colour = [&groups](const QString& value) {
        return QColor::fromHsv(groups.indexOf(value) * 360 / std::max<int>(groups.size(), 1) % 360, 220, 200);
    };
    painter.setClipRect(AREA);
    for (const Curve& curve : curves) {
        QPainterPath line;
        for (int i = 0; i < curve.points.size(); ++i) {
            const QPointF point(toX(curve.points[i].x()), toY(curve.points[i].y()));
            if (i == 0)
                line.moveTo(point);
            else
                line.lineTo(point);
        }
        painter.setPen(QPen(colour(curve.group), 1.5));
        painter.drawPath(line);
    }
    painter.setClipping(false);

    // The legend: one swatch per group.
    double y = AREA.top() + 10;
    painter.setPen(Qt::black);
    painter.drawText(QPointF(AREA.right() + 20, y), group);
    for (const QString& value : groups) {
        y += 20;
        painter.setPen(QPen(colour(value), 3));
        painter.drawLine(QPointF(AREA.right() + 20, y - 4), QPointF(AREA.right() + 45, y - 4));
        painter.setPen(Qt::black);
        painter.drawText(QPointF(AREA.right() + 52, y), value);
    }
    painter.end();

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(svg.data()) != svg.data().size() || !file.commit())
        throw ToolError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    return curves.size();
}
