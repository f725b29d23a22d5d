// DBIF_Text: a text data value (data type "TX"). A plain value: copies are independent.
#ifndef DBIF_TEXT_H
#define DBIF_TEXT_H

#include "dbif/DBIF_DataType.h"

class DBIF_EXPORT DBIF_Text : public DBIF_DataType {
public:
    explicit DBIF_Text(const QString& value = QString());
    DBIF_Text(const DBIF_Text&) = default;
    DBIF_Text& operator=(const DBIF_Text&) = default;
    DBIF_Text& operator=(const QString& text);

    const QString& value() const { return text; }

    // Exact and case-sensitive.
    bool operator==(const DBIF_Text& other) const { return text == other.text; }
    bool operator!=(const DBIF_Text& other) const { return !(*this == other); }

    void print(std::ostream& stream) const override;
    QString toString() const override { return text; }
    // The text between single quotes as it is; quotes inside are not escaped.
    QString asQueryValue() const override;

private:
    QString text;
};

#endif
