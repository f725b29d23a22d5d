// SvgPlot: `dbif plot`, one curve per measurement of a y column over an x column, drawn with QPainter
// on Qt SVG's generator: a framed plot area with ticks and labels, a linear or logarithmic y axis and
// a legend by a group field (curves of one group share a colour). Needs a QGuiApplication (fonts);
// used from its thread.
#ifndef DBIF_TOOLS_SVGPLOT_H
#define DBIF_TOOLS_SVGPLOT_H

#include <QList>
#include <QString>
#include <QStringList>

#include "dbif/DBIF_Measurement.h"

class SvgPlot {
public:
    // The fields --group takes; temperature is the default.
    static QStringList groupFields();

    // REQUIRES: group is one of groupFields(). Returns the number of curves drawn. Throws ToolError when no
    // measurement has both columns or the file cannot be written; a failed plot leaves no file.
    static int write(const QList<DBIF_Measurement>& measurements, const QString& xName, const QString& yName,
                     bool logY, const QString& group, const QString& path);
};

#endif
