// DBIF_ComplexMatrix.cpp: element access with its placeholder, the text form and its parsing,
// and the meta-type registration of the complex matrix.
#include "dbif/DBIF_ComplexMatrix.h"

#include <QStringList>

#include "dbif/DBIF_Utilities.h"

namespace {

const double PLACEHOLDER_PART = -9999.0;
// The most elements a matrix text may leave out and still give a matrix of its announced size.
const quint64 MAX_MISSING_ELEMENTS = quint64(1) << 20;

QString number(quint64 value) {
    return QString::number(value);
}

// A count that is no unsigned decimal reads as 0.
unsigned countAt(const QStringList& pieces, qsizetype index) {
    return pieces[index].toUInt();
}

// True when the pieces after the two counts hold all rows * columns elements; reports otherwise.
bool holdsAllElements(const QString& text, const QStringList& pieces, unsigned rows, unsigned columns) {
    const quint64 needed = static_cast<quint64>(rows) * columns;
    const quint64 present = static_cast<quint64>(pieces.size() - 2);
    return assert0(present >= needed, __FILE__, __LINE__,
                   QStringLiteral("Not performing 'fromString.' The string '%1' describes a ComplexMatrix of "
                                  "(%2, %3) but holds only %4 elements.")
                       .arg(text, number(rows), number(columns), number(present)));
}

}  // namespace

DBIF_ComplexMatrix::DBIF_ComplexMatrix() : DBIF_ComplexMatrix(0, 0) {}

DBIF_ComplexMatrix::DBIF_ComplexMatrix(unsigned rows, unsigned columns)
    : DBIF_DataType(COMPLEX_MATRIX_DATATYPE), d(new SharedData(rows, columns)) {
    registerMetaType();
}

DBIF_ComplexMatrix::DBIF_ComplexMatrix(const QString& text) : DBIF_ComplexMatrix(0, 0) {
    const QStringList pieces = text.split(QLatin1Char('|'));
    if (pieces.size() >= 2) {
        const unsigned rows = countAt(pieces, 0);
        const unsigned columns = countAt(pieces, 1);
        if (!holdsAllElements(text, pieces, rows, columns)) {
            // A short text still gives the announced size (reported above): the elements it holds in
            // array order, the missing ones (0, 0). Only a size far beyond the text stays 0 x 0, so
            // that a malformed header cannot exhaust memory.
            const quint64 present = static_cast<quint64>(pieces.size() - 2);
            if (static_cast<quint64>(rows) * columns - present > MAX_MISSING_ELEMENTS)
                return;
            d = new SharedData(rows, columns);
            for (quint64 k = 0; k < present; ++k)
                d->elements[k] = DBIF_ComplexNumber(pieces[static_cast<qsizetype>(k) + 2]);
            return;
        }
        d = new SharedData(rows, columns);
    }
    fromString(text);
}

DBIF_ComplexMatrix::DBIF_ComplexMatrix(const DBIF_ComplexMatrix& other) = default;

DBIF_ComplexMatrix& DBIF_ComplexMatrix::operator=(const DBIF_ComplexMatrix& other) {
    if (this == &other)
        return *this;
    if (!assert0(
            rows() == other.rows() && columns() == other.columns(), __FILE__, __LINE__,
            QStringLiteral("Not performing assignment. The source ComplexMatrix has (%1, %2) elements but "
                           "there are (%3, %4) elements in the target matrix. The sizes must match exactly.")
                .arg(number(other.rows()), number(other.columns()), number(rows()), number(columns()))))
        return *this;
    for (std::size_t k = 0; k < d->elements.size(); ++k)
        d->elements[k] = other.d->elements[k];
    return *this;
}

void DBIF_ComplexMatrix::registerMetaType() {
    static const bool registered = [] {
        registerVariantType<DBIF_ComplexMatrix>("DBIF_ComplexMatrix");
        return true;
    }();
    Q_UNUSED(registered);
}

DBIF_ComplexNumber& DBIF_ComplexMatrix::outOfRange(unsigned i, unsigned j,
                                                   DBIF_ComplexNumber& placeholder) const {
    assert0(
        false, __FILE__, __LINE__,
        QStringLiteral("Trying to access ComplexMatrix element (%1, %2) but there are only (%3, %4) elements "
                       "in the matrix!")
            .arg(number(i), number(j), number(d->rows), number(d->columns)));
    // A caller may have written through the placeholder, or a copy sharing it, since the last time.
    placeholder.set(PLACEHOLDER_PART, PLACEHOLDER_PART);
    return placeholder;
}

DBIF_ComplexNumber& DBIF_ComplexMatrix::operator()(unsigned i, unsigned j) {
    if (contains(i, j))
        return d->elements[static_cast<std::size_t>(j) * d->rows + i];
    static DBIF_ComplexNumber placeholder;
    return outOfRange(i, j, placeholder);
}

DBIF_ComplexNumber DBIF_ComplexMatrix::operator()(unsigned i, unsigned j) const {
    if (contains(i, j))
        return d->elements[static_cast<std::size_t>(j) * d->rows + i];
    static DBIF_ComplexNumber placeholder;
    return outOfRange(i, j, placeholder);
}

void DBIF_ComplexMatrix::fromString(const QString& text) {
    QStringList pieces;
    if (!splitTextForm(text, QLatin1Char('|'), QStringLiteral("ComplexMatrix"), pieces))
        return;
    const unsigned rows = countAt(pieces, 0);
    const unsigned columns = countAt(pieces, 1);
    if (!assert0(rows == d->rows && columns == d->columns, __FILE__, __LINE__,
                 QStringLiteral(
                     "Not performing 'fromString.' The string describes a ComplexMatrix of (%1, %2) but "
                     "there are (%3, %4) elements in the target matrix. The sizes must match exactly.")
                     .arg(number(rows), number(columns), number(d->rows), number(d->columns))))
        return;
    if (!holdsAllElements(text, pieces, rows, columns))
        return;
    // The array is in column order, so the pieces follow it one to one.
    for (std::size_t k = 0; k < d->elements.size(); ++k)
        d->elements[k] = DBIF_ComplexNumber(pieces[static_cast<qsizetype>(k) + 2]);
}

bool DBIF_ComplexMatrix::operator==(const DBIF_ComplexMatrix& other) const {
    if (this == &other)
        return true;
    return d->rows == other.d->rows && d->columns == other.d->columns && d->elements == other.d->elements;
}

void DBIF_ComplexMatrix::print(std::ostream& stream) const {
    stream << toString();
}

QString DBIF_ComplexMatrix::toString() const {
    QStringList pieces;
    pieces.reserve(static_cast<qsizetype>(d->elements.size()) + 2);
    pieces << QStringLiteral("%1|%2").arg(d->rows).arg(d->columns);
    for (const DBIF_ComplexNumber& element : d->elements)
        pieces << element.toString();
    return pieces.join(QLatin1Char('|'));
}

QString DBIF_ComplexMatrix::toExactString() const {
    QStringList pieces;
    pieces.reserve(static_cast<qsizetype>(d->elements.size()) + 2);
    pieces << QStringLiteral("%1|%2").arg(d->rows).arg(d->columns);
    for (const DBIF_ComplexNumber& element : d->elements)
        pieces << element.toExactString();
    return pieces.join(QLatin1Char('|'));
}
