// Sweep: the data of one imported file before it becomes a measurement, column by column, with each
// column's library data type ("DB", "TX", "CM"): a column of numbers as plain doubles (8 bytes a
// cell, what the measurement holds them in), any other as one variant a cell. A reader of small files
// may build rows of variants instead (a Touchstone file); byColumn() moves them into the columns.
// A plain value.
#ifndef DBIF_TOOLS_SWEEP_H
#define DBIF_TOOLS_SWEEP_H

#include <QList>
#include <QString>
#include <QVariant>
#include <functional>
#include <utility>
#include <vector>

struct Sweep {
    // A text cell holds at most this many characters on MySQL (VARCHAR(200)).
    static constexpr qsizetype MOST_TEXT_CHARACTERS = 200;
    // Told every few thousand lines how far the reading of a file has come (0 to 1) and how many rows
    // it has, as far as known.
    using Progress = std::function<void(double done, long long rows)>;

    struct Column {
        Column() = default;
        Column(QString name, QString dataType) : name(std::move(name)), dataType(std::move(dataType)) {}
        QString name;
        QString dataType;
        // The cells of a "DB" column: each row's number, and whether the row holds one.
        std::vector<double> numbers;
        std::vector<bool> present;
        // The cells of any other column: null where the file has none.
        QList<QVariant> cells;
    };
    QList<Column> columns;
    // The rows the columns' cells hold.
    long long rowCount = 0;
    // The cells row by row, from a reader that builds rows; empty once byColumn() ran.
    QList<QList<QVariant>> rows;

    // Moves the cells of rows into the columns.
    void byColumn() {
        if (rows.isEmpty())
            return;
        for (int c = 0; c < columns.size(); ++c) {
            Column& column = columns[c];
            for (const QList<QVariant>& row : std::as_const(rows)) {
                const QVariant cell = row.value(c);
                if (column.dataType == QLatin1String("DB")) {
                    column.numbers.push_back(cell.isNull() ? 0.0 : cell.toDouble());
                    column.present.push_back(!cell.isNull());
                } else {
                    column.cells.append(cell);
                }
            }
        }
        rowCount = rows.size();
        rows.clear();
    }
};

#endif
