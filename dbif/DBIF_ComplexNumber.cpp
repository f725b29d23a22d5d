// DBIF_ComplexNumber.cpp: the shared complex value, its text forms and its meta-type registration.
#include "dbif/DBIF_ComplexNumber.h"

#include <QStringList>
#include <cstdio>

#include "dbif/DBIF_Utilities.h"

DBIF_ComplexNumber::DBIF_ComplexNumber() : DBIF_ComplexNumber(0.0, 0.0) {}

DBIF_ComplexNumber::DBIF_ComplexNumber(double real, double imaginary)
    : DBIF_DataType(COMPLEX_NUMBER_DATATYPE), d(new SharedData(real, imaginary)) {
    registerMetaType();
}

DBIF_ComplexNumber::DBIF_ComplexNumber(const QString& text) : DBIF_ComplexNumber(0.0, 0.0) {
    fromString(text);
}

DBIF_ComplexNumber::DBIF_ComplexNumber(const DBIF_ComplexNumber& other) = default;

DBIF_ComplexNumber& DBIF_ComplexNumber::operator=(const DBIF_ComplexNumber& other) = default;

void DBIF_ComplexNumber::registerMetaType() {
    static const bool registered = [] {
        registerVariantType<DBIF_ComplexNumber>("DBIF_ComplexNumber");
        return true;
    }();
    Q_UNUSED(registered);
}

void DBIF_ComplexNumber::set(double real, double imaginary) {
    d->real = real;
    d->imaginary = imaginary;
}

void DBIF_ComplexNumber::set(bool realPart, double value) {
    if (realPart)
        d->real = value;
    else
        d->imaginary = value;
}

void DBIF_ComplexNumber::fromString(const QString& text) {
    QStringList pieces;
    if (!splitTextForm(text, QLatin1Char(':'), QStringLiteral("Complex"), pieces))
        return;
    set(pieces[0].toDouble(), pieces[1].toDouble());
}

bool DBIF_ComplexNumber::operator==(const DBIF_ComplexNumber& other) const {
    return d->real == other.d->real && d->imaginary == other.d->imaginary;
}

void DBIF_ComplexNumber::print(std::ostream& stream) const {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%.20lG:%.20lG", d->real, d->imaginary);
    stream << buffer;
}

QString DBIF_ComplexNumber::toString() const {
    return QStringLiteral("%1:%2").arg(d->real).arg(d->imaginary);
}

QString DBIF_ComplexNumber::toExactString() const {
    return QStringLiteral("%1:%2").arg(exactNumber(d->real), exactNumber(d->imaginary));
}

QString DBIF_ComplexNumber::exactNumber(double value) {
    char text[EXACT_NUMBER_CAPACITY];
    return QString::fromLatin1(text, writeExactNumber(value, text));
}
