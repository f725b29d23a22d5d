// DBIF_InMemoryColumn: the cells of one column of a DBIF_InMemoryTable, indexed by row. Internal
// to the in-memory table, which keeps its data column by column so that large tables stay cheap:
// while every value stored is a real number the cells are plain doubles with a set-mask (about
// 8 bytes a cell instead of a 32-byte QVariant); the first value of another kind moves the column
// to variants for good. Cells past the last one set read as never set. Plain value, one thread.
#ifndef DBIF_INMEMORYCOLUMN_H
#define DBIF_INMEMORYCOLUMN_H

#include <QString>
#include <QVariant>
#include <QVector>
#include <vector>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_Utilities.h"

class DBIF_EXPORT DBIF_InMemoryColumn {
public:
    // The cell's value; an invalid variant for a cell that was never set. Inline: hosts read every
    // cell of large tables through it.
    Q_ALWAYS_INLINE QVariant value(int row) const {
        if (!variantCells)
            return row < static_cast<int>(doubles.size()) && present[row] ? QVariant(doubles[row])
                                                                          : QVariant();
        return row < variants.size() ? variants[row] : QVariant();
    }
    // Stores the value unless the cell already holds an equal one (QVariant equality, a never-set
    // cell reading as an invalid variant). Returns whether the cell changed.
    bool set(int row, const QVariant& value);
    // Stores a value read from the database into the cell without comparing it with the cell's own
    // (set() does); a NULL leaves the cell as it is. The next number of a column of numbers is
    // appended inline: this runs once per cell of every table loaded.
    void load(int row, const QVariant& value) {
        if (isPlainDouble(value))
            loadNumber(row, *static_cast<const double*>(value.constData()));
        else
            loadOther(row, value);
    }
    // The same for a real number read as a double.
    void loadNumber(int row, double value) {
        if (!variantCells && row == size()) {
            doubles.push_back(value);
            present.push_back(true);
            return;
        }
        loadOther(row, QVariant(value));
    }
    // Whether the cell holds a value (a valid variant).
    bool holdsValue(int row) const {
        if (row >= size())
            return false;
        return variantCells ? variants[row].isValid() : static_cast<bool>(present[row]);
    }
    // Whole-column access (see DBIF_InMemoryTable::setColumn): rows 0 to count - 1 from the array, a
    // row missing where `present` (when given) is false. Returns whether a cell changed.
    bool assign(const double* values, int count, const bool* present);
    // Rows 0 to rows - 1 as doubles and whether each holds one; a cell never set or holding another
    // kind of value is missing and reads as NaN.
    void read(int rows, std::vector<double>& values, std::vector<bool>& holds) const;
    // Number of rows up to the last one that was ever written; later rows are never set.
    int size() const { return variantCells ? variants.size() : static_cast<int>(doubles.size()); }
    void clear();
    // Room for that many rows of numbers, so that filling them does not grow the storage row by row.
    void reserve(int rows);

    // Hands the cell to a bound statement: NULL for a cell that holds no value, a real number as its
    // double, any other value as its exact text (see exactText).
    void bind(int row, DBIF_Connection::CellSink& sink) const;
    // The first row whose real number SQL cannot hold (NaN or an infinity), or -1 when there is none.
    int firstUnstorableRow() const;

private:
    // A typed null (an SQL NULL read back) must come back as such, so it needs a variant.
    static bool isPlainDouble(const QVariant& value) {
        return value.typeId() == QMetaType::Double && !value.isNull();
    }
    static bool isUnstorable(const QVariant& value);
    void moveToVariants();
    void growTo(int rows);
    void loadOther(int row, const QVariant& value);

    bool variantCells = false;
    std::vector<double> doubles;  // while !variantCells
    std::vector<bool> present;    // while !variantCells: the double cell was set
    QVector<QVariant> variants;   // once variantCells
};

#endif
