// SvgPlot: `dbif plot`, curves of a y column over an x column drawn with QPainter on Qt SVG's generator,
// as an engineer puts them in a report: a framed plot area with a light grid, ticks at round values
// (minor ticks on a logarithmic y axis), axes labelled with the columns' units (scaled to an SI prefix
// where that reads better), a title, and a legend in as many columns as its entries need. A
// measurement is one curve, or one per value of an inner sweep (a stepped column, or found where x
// jumps back to its start). Curves of one group share a colour from a qualitative palette; a second
// grouping sets the line style. A y that names an element of a network matrix (S21) plots its
// magnitude, dB magnitude or phase, or the element on a Smith chart. A .png path renders the drawing
// through Qt's SVG renderer. Needs a QGuiApplication (fonts); used from its thread.
#ifndef DBIF_TOOLS_SVGPLOT_H
#define DBIF_TOOLS_SVGPLOT_H

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

#include "dbif/DBIF_Measurement.h"

class SvgPlot {
public:
    // What a matrix element (--y S21) is drawn as.
    enum ElementView { MAGNITUDE, DB_MAGNITUDE, PHASE, SMITH };

    struct Request {
        QString x;
        QString y;
        bool logY = false;
        bool absolute = false;  // plot |y|
        QString group = QStringLiteral("temperature");
        QString style;    // a second group field that sets the line style; empty for none
        QString curveBy;  // a column stepped within a measurement; empty: split where x jumps back
        std::optional<std::pair<double, double>> xLimits;
        std::optional<std::pair<double, double>> yLimits;
        QString title;  // empty: what the selected curves have in common
        ElementView element = MAGNITUDE;
    };

    struct Result {
        int curves = 0;
        // What was asked for and not drawn, and why: a line each, for standard error.
        QStringList leftOut;
    };

    // The fields --group and --style take; temperature is the default group.
    static QStringList groupFields();

    // REQUIRES: group (and style, when given) are in groupFields(). Throws ToolError when nothing can
    // be drawn or the file cannot be written; a failed plot leaves no file.
    static Result write(const QList<DBIF_Measurement>& measurements, const Request& request,
                        const QString& path);
};

#endif
