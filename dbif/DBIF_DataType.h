// DBIF_DataType: abstract base of the four value classes a data cell can be wrapped into (real
// number, text, complex number, complex matrix), the data type names that columns record, and the
// bridges between cells (QVariant) and value objects: toDataType, convertVariant, variant output.
// Value objects returned by pointer belong to the caller. No process-wide state beyond the
// constant names; the complex types register themselves with Qt's meta-type system on first use.
#ifndef DBIF_DATATYPE_H
#define DBIF_DATATYPE_H

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <ostream>

#include "dbif/DBIF_Export.h"

// Data type names as stored with every column: constant texts like every other name constant, so
// that DOUBLE_DATATYPE == "DB" compares texts. Dynamically initialised: not for static initialisers.
DBIF_EXPORT extern const QString DOUBLE_DATATYPE;          // "DB", DBIF_Double
DBIF_EXPORT extern const QString TEXT_DATATYPE;            // "TX", DBIF_Text
DBIF_EXPORT extern const QString COMPLEX_NUMBER_DATATYPE;  // "CN", DBIF_ComplexNumber
DBIF_EXPORT extern const QString COMPLEX_MATRIX_DATATYPE;  // "CM", DBIF_ComplexMatrix

class DBIF_EXPORT DBIF_DataType {
public:
    virtual ~DBIF_DataType();

    // Writes the value to an 8-bit stream in its full-precision print form.
    virtual void print(std::ostream& stream) const;
    // The value's text form, which is also its database form.
    virtual QString toString() const = 0;
    // The value as it is written into SQL text.
    virtual QString asQueryValue() const = 0;

    // One of the data type names above.
    const QString& getDataType() const { return dataType; }

    // Returns a new value object of the named type for the cell, or nullptr (after an assertion
    // report) when the name is unknown or a complex cell cannot become that type. A complex result
    // shares the record of the complex value the variant holds. The caller owns the result.
    static DBIF_DataType* toDataType(const QVariant& value, const QString& typeName);

protected:
    explicit DBIF_DataType(const QString& dataType);
    DBIF_DataType(const DBIF_DataType&) = default;
    DBIF_DataType& operator=(const DBIF_DataType&) = default;

    // For fromString: splits the text form at the delimiter. Returns false after an assertion report
    // when the text is blank or has no delimiter; kind names the value in the report ("Complex").
    static bool splitTextForm(const QString& text, QChar delimiter, const QString& kind, QStringList& pieces);

    // Registers T with QMetaType under the name and lets QVariant::toString() give T's text form.
    template <typename T>
    static void registerVariantType(const char* name) {
        qRegisterMetaType<T>(name);
        QMetaType::registerConverter<T, QString>([](const T& value) { return value.toString(); });
    }

private:
    QString dataType;
};

// Calls the value's print.
DBIF_EXPORT std::ostream& operator<<(std::ostream& stream, const DBIF_DataType& value);

// The cell as it is kept for a column of the named type: for "CN" and "CM" a variant holding the
// complex value parsed from the variant's text form (a variant that already holds that type is
// returned as it is); for every other name the variant unchanged.
DBIF_EXPORT QVariant convertVariant(const QString& typeName, const QVariant& value);

// The cell's text as data tables keep it: real numbers and both parts of complex values at full
// precision (the shortest text that reads back to the same doubles), anything else Qt's own text form.
DBIF_EXPORT QString exactText(const QVariant& value);

// The variant's text form in 8 bits: a complex value's toString (six significant digits), else
// Qt's own conversion of the variant to text. Data values reach SQL statements this way.
DBIF_EXPORT std::ostream& operator<<(std::ostream& stream, const QVariant& value);

// A chief header: a host that includes only this one gets all four value types. After the base
// class, because each of them includes this header first. While the complex number's header is read
// (it includes this one before its class), the matrix, which needs the number, cannot come yet.
#ifndef DBIF_COMPLEXNUMBER_H
#include "dbif/DBIF_ComplexMatrix.h"
#include "dbif/DBIF_ComplexNumber.h"
#endif
#include "dbif/DBIF_Double.h"
#include "dbif/DBIF_Text.h"

#endif
