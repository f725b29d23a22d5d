// DBIF_Double.cpp: text and print forms of a real-number data value.
#include "dbif/DBIF_Double.h"

#include <cstdio>

DBIF_Double::DBIF_Double(double value) : DBIF_DataType(DOUBLE_DATATYPE), number(value) {}

DBIF_Double& DBIF_Double::operator=(double value) {
    number = value;
    return *this;
}

void DBIF_Double::print(std::ostream& stream) const {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.20lG", number);
    stream << buffer;
}

QString DBIF_Double::toString() const {
    return QStringLiteral("%1").arg(number);
}
