// DBIF_InMemoryColumn.cpp: compact cell storage of one in-memory data column.
#include "dbif/DBIF_InMemoryColumn.h"

#include <QMetaType>
#include <cmath>

#include "dbif/DBIF_ComplexNumber.h"
#include "dbif/DBIF_DataType.h"
#include "dbif/DBIF_Utilities.h"

bool DBIF_InMemoryColumn::isPlainDouble(const QVariant& value) {
    // A typed null (an SQL NULL read back) must come back as such, so it needs a variant.
    return value.typeId() == QMetaType::Double && !value.isNull();
}

QVariant DBIF_InMemoryColumn::value(int row) const {
    if (row >= size())
        return QVariant();
    if (variantCells)
        return variants[row];
    return present[row] ? QVariant(doubles[row]) : QVariant();
}

bool DBIF_InMemoryColumn::holdsValue(int row) const {
    if (row >= size())
        return false;
    return variantCells ? variants[row].isValid() : static_cast<bool>(present[row]);
}

bool DBIF_InMemoryColumn::set(int row, const QVariant& newValue) {
    if (value(row) == newValue)
        return false;
    if (!variantCells && newValue.isValid() && !isPlainDouble(newValue))
        moveToVariants();
    if (row >= size()) {
        if (variantCells) {
            variants.resize(row + 1);
        } else {
            doubles.resize(row + 1);
            present.resize(row + 1);
        }
    }
    if (variantCells) {
        variants[row] = newValue;
    } else {
        present[row] = newValue.isValid();
        doubles[row] = newValue.isValid() ? newValue.toDouble() : 0.0;
    }
    return true;
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

bool DBIF_InMemoryColumn::appendSqlLiteral(QString& out, int row) const {
    if (!holdsValue(row)) {
        out += QLatin1String("NULL");
        return true;
    }
    if (!variantCells) {
        if (!std::isfinite(doubles[row]))
            return false;
        // A number holds no quote: no escaping needed.
        out += QLatin1Char('\'');
        out += DBIF_ComplexNumber::exactNumber(doubles[row]);
        out += QLatin1Char('\'');
        return true;
    }
    const QVariant& value = variants[row];
    if ((value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) &&
        !std::isfinite(value.toDouble()))
        return false;
    out += quoteSqlText(exactText(value));
    return true;
}
