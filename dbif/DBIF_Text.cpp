// DBIF_Text.cpp: text and print forms of a text data value.
#include "dbif/DBIF_Text.h"

#include "dbif/DBIF_Utilities.h"

DBIF_Text::DBIF_Text(const QString& value) : DBIF_DataType(TEXT_DATATYPE), text(value) {}

DBIF_Text& DBIF_Text::operator=(const QString& newText) {
    text = newText;
    return *this;
}

void DBIF_Text::print(std::ostream& stream) const {
    stream << text;
}

QString DBIF_Text::asQueryValue() const {
    return QStringLiteral("'%1'").arg(text);
}
