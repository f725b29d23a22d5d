// DBIF_Double: a real-number data value (data type "DB"). A plain value: copies are independent.
#ifndef DBIF_DOUBLE_H
#define DBIF_DOUBLE_H

#include "dbif/DBIF_DataType.h"

class DBIF_EXPORT DBIF_Double : public DBIF_DataType {
public:
    explicit DBIF_Double(double value = 0.0);
    DBIF_Double(const DBIF_Double&) = default;
    DBIF_Double& operator=(const DBIF_Double&) = default;
    DBIF_Double& operator=(double value);

    double value() const { return number; }

    // Exact IEEE comparison: a NaN equals nothing, not even itself.
    bool operator==(const DBIF_Double& other) const { return number == other.number; }
    bool operator!=(const DBIF_Double& other) const { return !(*this == other); }

    // printf "%.20lG".
    void print(std::ostream& stream) const override;
    // Qt's "g" format with six significant digits.
    QString toString() const override;
    QString asQueryValue() const override { return toString(); }

private:
    double number;
};

#endif
