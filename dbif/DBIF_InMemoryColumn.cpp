// DBIF_InMemoryColumn.cpp: compact cell storage of one in-memory data column.
#include "dbif/DBIF_InMemoryColumn.h"

#include <QMetaType>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "dbif/DBIF_DataType.h"
#include "dbif/DBIF_Utilities.h"

bool DBIF_InMemoryColumn::set(int row, const QVariant& newValue) {
    if (value(row) == newValue)
        return false;
    if (!variantCells && newValue.isValid() && !isPlainDouble(newValue))
        moveToVariants();
    growTo(row + 1);
    if (variantCells) {
        variants[row] = newValue;
    } else {
        present[row] = newValue.isValid();
        doubles[row] = newValue.isValid() ? newValue.toDouble() : 0.0;
    }
    return true;
}

void DBIF_InMemoryColumn::loadOther(int row, const QVariant& newValue) {
    if (!newValue.isNull())
        set(row, newValue);
}

void DBIF_InMemoryColumn::reserve(int rows) {
    if (variantCells) {
        variants.reserve(rows);
    } else {
        doubles.reserve(static_cast<size_t>(rows));
        present.reserve(static_cast<size_t>(rows));
    }
}

void DBIF_InMemoryColumn::growTo(int rows) {
    if (rows <= size())
        return;
    if (variantCells) {
        variants.resize(rows);
    } else {
        doubles.resize(rows);
        present.resize(rows);
    }
}

void DBIF_InMemoryColumn::clear() {
    variantCells = false;
    doubles = std::vector<double>();
    present = std::vector<bool>();
    variants = QVector<QVariant>();
}

void DBIF_InMemoryColumn::moveToVariants() {
    variants.reserve(static_cast<int>(doubles.size()));
    for (int row = 0; row < static_cast<int>(doubles.size()); ++row)
        variants.append(present[row] ? QVariant(doubles[row]) : QVariant());
    doubles = std::vector<double>();
    present = std::vector<bool>();
    variantCells = true;
}

bool DBIF_InMemoryColumn::isUnstorable(const QVariant& value) {
    return (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) &&
           !std::isfinite(value.toDouble());
}

int DBIF_InMemoryColumn::firstUnstorableRow() const {
    for (int row = 0; row < size(); ++row) {
        if (variantCells ? isUnstorable(variants[row]) : present[row] && !std::isfinite(doubles[row]))
            return row;
    }
    return -1;
}

void DBIF_InMemoryColumn::bind(int row, DBIF_Connection::CellSink& sink) const {
    if (!holdsValue(row)) {
        sink.null();
        return;
    }
    if (!variantCells) {
        sink.number(doubles[row]);
        return;
    }
    const QVariant& value = variants[row];
    if (value.isNull())
        sink.null();
    else if (value.typeId() == QMetaType::Double)
        sink.number(*static_cast<const double*>(value.constData()));
    else
        sink.text(exactText(value));
}

bool DBIF_InMemoryColumn::assign(const double* values, int count, const bool* given) {
    if (variantCells) {
        bool changed = false;
        for (int row = 0; row < count; ++row)
            changed = set(row, !given || given[row] ? QVariant(values[row]) : QVariant()) || changed;
        return changed;
    }
    growTo(count);
    bool changed = false;
    for (int row = 0; row < count; ++row) {
        const bool holds = !given || given[row];
        const double value = holds ? values[row] : 0.0;
        changed = changed || present[row] != holds || (holds && !(doubles[row] == value));
        present[row] = holds;
        doubles[row] = value;
    }
    return changed;
}

void DBIF_InMemoryColumn::read(int rows, std::vector<double>& values, std::vector<bool>& holds) const {
    values.assign(static_cast<size_t>(rows), std::numeric_limits<double>::quiet_NaN());
    holds.assign(static_cast<size_t>(rows), false);
    const int stored = std::min(rows, size());
    for (int row = 0; row < stored; ++row) {
        if (!variantCells) {
            if (present[row]) {
                values[row] = doubles[row];
                holds[row] = true;
            }
        } else if (variants[row].typeId() == QMetaType::Double && !variants[row].isNull()) {
            values[row] = *static_cast<const double*>(variants[row].constData());
            holds[row] = true;
        }
    }
}
