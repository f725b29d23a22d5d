// Sweep: the data of one imported file before it becomes a measurement, columns with their library
// data type ("DB", "TX", "CM") and rows of cells (null where the file has none). A plain value.
#ifndef DBIF_TOOLS_SWEEP_H
#define DBIF_TOOLS_SWEEP_H

#include <QList>
#include <QString>
#include <QVariant>

struct Sweep {
    struct Column {
        QString name;
        QString dataType;
    };
    QList<Column> columns;
    QList<QList<QVariant>> rows;
};

#endif
