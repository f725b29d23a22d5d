// DBIF_ComplexMatrix: a complex-matrix data value (data type "CM"), a handle on an explicitly
// shared record of the row and column counts and the elements in column order (element (i, j) at
// j * rows + i), each element with its own complex record. Copy construction shares the matrix
// record; assignment shares the element records. A QVariant can hold it under the type name
// "DBIF_ComplexMatrix", registered on first construction. One thread at a time.
#ifndef DBIF_COMPLEXMATRIX_H
#define DBIF_COMPLEXMATRIX_H

#include <QExplicitlySharedDataPointer>
#include <QMetaType>
#include <QSharedData>
#include <vector>

#include "dbif/DBIF_ComplexNumber.h"
#include "dbif/DBIF_DataType.h"

class DBIF_EXPORT DBIF_ComplexMatrix : public DBIF_DataType {
public:
    class SharedData : public QSharedData {
    public:
        // Every element is constructed on its own, so no two elements share a record.
        SharedData(unsigned rows, unsigned columns)
            : rows(rows), columns(columns), elements(static_cast<std::size_t>(rows) * columns) {}
        unsigned rows;
        unsigned columns;
        std::vector<DBIF_ComplexNumber> elements;
    };

    // 0 x 0.
    DBIF_ComplexMatrix();
    // All elements (0, 0).
    DBIF_ComplexMatrix(unsigned rows, unsigned columns);
    // Sized from the text's first two "|" pieces, then filled by fromString. A text without "|" gives
    // 0 x 0 (reported by fromString). A text with fewer element pieces than its counts announce is
    // reported and also gives 0 x 0, so that damaged text can never size an absurd allocation.
    explicit DBIF_ComplexMatrix(const QString& text);
    DBIF_ComplexMatrix(const DBIF_ComplexMatrix& other);
    // Unless both are the same object, each element of this matrix comes to share the record of
    // the source's element at the same position; the size does not change. Between matrices of
    // different sizes nothing is assigned and the mismatch is reported.
    DBIF_ComplexMatrix& operator=(const DBIF_ComplexMatrix& other);

    unsigned rows() const { return d->rows; }
    unsigned columns() const { return d->columns; }

    // Element (i, j), i the row. Out of range: reported, and a process-wide placeholder (-9999,
    // -9999) is returned instead, one per access form, reset to -9999 on every such access.
    DBIF_ComplexNumber& operator()(unsigned i, unsigned j);
    DBIF_ComplexNumber operator()(unsigned i, unsigned j) const;

    // Reads "rows|columns|element|..." (elements in column order) into new element records. The
    // counts must equal this matrix's size and the text must hold rows * columns element pieces;
    // otherwise (and for empty text or text without "|") it reports and leaves the matrix unchanged.
    // Pieces beyond the last element are ignored; a malformed element reports and reads as (0, 0).
    void fromString(const QString& text);

    // Same size and exactly equal elements.
    bool operator==(const DBIF_ComplexMatrix& other) const;
    bool operator!=(const DBIF_ComplexMatrix& other) const { return !(*this == other); }

    // Writes toString.
    void print(std::ostream& stream) const override;
    // The counts, then every element's toString in column order, joined with "|" ("2|1|1:2|3:-4").
    QString toString() const override;
    // The same form with every element at full precision (DBIF_ComplexNumber::toExactString).
    QString toExactString() const;
    QString asQueryValue() const override { return toString(); }

    // Makes the name "DBIF_ComplexMatrix" known to QMetaType and lets QVariant::toString() give the
    // text form. Runs once; the constructors call it.
    static void registerMetaType();

private:
    bool contains(unsigned i, unsigned j) const { return i < d->rows && j < d->columns; }
    // Reports the access and returns the placeholder reset to (-9999, -9999).
    DBIF_ComplexNumber& outOfRange(unsigned i, unsigned j, DBIF_ComplexNumber& placeholder) const;

    QExplicitlySharedDataPointer<SharedData> d;
};

Q_DECLARE_METATYPE(DBIF_ComplexMatrix)

#endif
