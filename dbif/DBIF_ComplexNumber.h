// DBIF_ComplexNumber: a complex data value (data type "CN"), a handle on an explicitly shared
// record of real and imaginary part. Copies and assignments share the record and set() changes it
// in place, so every handle sees the change (no copy-on-write). A QVariant can hold it under the
// type name "DBIF_ComplexNumber", registered on first construction. One thread at a time.
#ifndef DBIF_COMPLEXNUMBER_H
#define DBIF_COMPLEXNUMBER_H

#include <QExplicitlySharedDataPointer>
#include <QMetaType>
#include <QSharedData>
#include <type_traits>

#include "dbif/DBIF_DataType.h"

class DBIF_EXPORT DBIF_ComplexNumber : public DBIF_DataType {
public:
    class SharedData : public QSharedData {
    public:
        SharedData(double real, double imaginary) : real(real), imaginary(imaginary) {}
        double real;
        double imaginary;
    };

    DBIF_ComplexNumber();
    DBIF_ComplexNumber(double real, double imaginary);
    // Starts at (0, 0) and applies fromString, so a malformed text is reported and leaves (0, 0).
    explicit DBIF_ComplexNumber(const QString& text);
    DBIF_ComplexNumber(const DBIF_ComplexNumber& other);
    DBIF_ComplexNumber& operator=(const DBIF_ComplexNumber& other);

    void set(double real, double imaginary);
    // Sets the real part when realPart is true, else the imaginary part.
    void set(bool realPart, double value);
    // set(real, imaginary) for any other pair of numbers, so that set(1, 2) means what it reads as
    // rather than being ambiguous between the two forms above. A bool first argument keeps its own form.
    template <typename R, typename I,
              std::enable_if_t<std::is_arithmetic_v<R> && std::is_arithmetic_v<I> && !std::is_same_v<R, bool>,
                               int> = 0>
    void set(R real, I imaginary) {
        set(static_cast<double>(real), static_cast<double>(imaginary));
    }

    // Reads "real:imaginary" into the shared record. An empty text or one without ":" is reported
    // through the assertion functions and leaves the value unchanged; a piece that is no number
    // reads as 0 and pieces after the second are ignored.
    void fromString(const QString& text);

    double real() const { return d->real; }
    double imaginary() const { return d->imaginary; }

    // Both parts compared exactly.
    bool operator==(const DBIF_ComplexNumber& other) const;
    bool operator!=(const DBIF_ComplexNumber& other) const { return !(*this == other); }

    // printf "%.20lG:%.20lG".
    void print(std::ostream& stream) const override;
    // "real:imaginary", each part in Qt's "g" format with six significant digits.
    // Both parts at full precision: the shortest texts that read back to the same doubles. The form
    // data tables keep; toString's six digits are for display.
    QString toExactString() const;
    // The shortest text of a double that reads back to the same double.
    static QString exactNumber(double value);
    QString toString() const override;
    QString asQueryValue() const override { return toString(); }

    // Makes the name "DBIF_ComplexNumber" known to QMetaType and lets QVariant::toString() give the
    // text form. Runs once; the constructors call it, so a host needs it only to look the name up
    // before any complex number exists.
    static void registerMetaType();

private:
    QExplicitlySharedDataPointer<SharedData> d;
};

Q_DECLARE_METATYPE(DBIF_ComplexNumber)

#endif
