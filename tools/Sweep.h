// Sweep: the data of one imported file before it becomes a measurement, columns with their library
// data type ("DB", "TX", "CM") and rows of cells (null where the file has none). A plain value.
#ifndef DBIF_TOOLS_SWEEP_H
#define DBIF_TOOLS_SWEEP_H

#include <QList>
#include <QString>
#include <QVariant>
#include <functional>

struct Sweep {
    // A text cell holds at most this many characters on MySQL (VARCHAR(200)).
    static constexpr qsizetype MOST_TEXT_CHARACTERS = 200;
    // Told every few thousand lines how far the reading of a file has come (0 to 1) and how many rows
    // it has, as far as known.
    using Progress = std::function<void(double done, long long rows)>;

    struct Column {
        QString name;
        QString dataType;
    };
    QList<Column> columns;
    QList<QList<QVariant>> rows;
};

#endif
