// DBIF_DataType.cpp: the data type names and the bridges between cells (QVariant) and value
// objects. Complex cells are recognised by their meta-type, everything else by its text form.
#include "dbif/DBIF_DataType.h"

#include "dbif/DBIF_ComplexMatrix.h"
#include "dbif/DBIF_ComplexNumber.h"
#include "dbif/DBIF_Double.h"
#include "dbif/DBIF_Text.h"
#include "dbif/DBIF_Utilities.h"

const QString DOUBLE_DATATYPE = QStringLiteral("DB");
const QString TEXT_DATATYPE = QStringLiteral("TX");
const QString COMPLEX_NUMBER_DATATYPE = QStringLiteral("CN");
const QString COMPLEX_MATRIX_DATATYPE = QStringLiteral("CM");

namespace {

template <typename T>
bool holds(const QVariant& value) {
    return value.metaType() == QMetaType::fromType<T>();
}

// A complex cell asked for as a type name: the same kind shares the cell's record, a text gets the
// value's text form, anything else is reported and gives nullptr.
template <typename Complex>
DBIF_DataType* fromComplex(const QVariant& value, const QString& typeName, const QString& complexTypeName) {
    const Complex complex = value.value<Complex>();
    if (typeName == complexTypeName)
        return new Complex(complex);
    if (typeName == TEXT_DATATYPE)
        return new DBIF_Text(complex.toString());
    assert2(false, __FILE__, __LINE__, QStringLiteral("Cannot create data type %1 from data type %2"),
            typeName, complexTypeName);
    return nullptr;
}

QString textOf(const QVariant& value) {
    if (holds<DBIF_ComplexNumber>(value))
        return value.value<DBIF_ComplexNumber>().toString();
    if (holds<DBIF_ComplexMatrix>(value))
        return value.value<DBIF_ComplexMatrix>().toString();
    return value.toString();
}

}  // namespace

DBIF_DataType::DBIF_DataType(const QString& dataType) : dataType(dataType) {}

DBIF_DataType::~DBIF_DataType() = default;

void DBIF_DataType::print(std::ostream& stream) const {
    stream << "uh oh";
}

bool DBIF_DataType::splitTextForm(const QString& text, QChar delimiter, const QString& kind,
                                  QStringList& pieces) {
    if (!assert1(
            !text.trimmed().isEmpty(), __FILE__, __LINE__,
            QStringLiteral("Not performing 'fromString.' The string is empty and does not describe a %1."),
            kind))
        return false;
    pieces = text.split(delimiter);
    return assert3(
        pieces.size() >= 2, __FILE__, __LINE__,
        QStringLiteral("Not performing 'fromString.' The string '%1' does not have a '%2' delimiter and "
                       "does not describe a %3."),
        text, QString(delimiter), kind);
}

DBIF_DataType* DBIF_DataType::toDataType(const QVariant& value, const QString& typeName) {
    if (holds<DBIF_ComplexMatrix>(value))
        return fromComplex<DBIF_ComplexMatrix>(value, typeName, COMPLEX_MATRIX_DATATYPE);
    if (holds<DBIF_ComplexNumber>(value))
        return fromComplex<DBIF_ComplexNumber>(value, typeName, COMPLEX_NUMBER_DATATYPE);
    const QString text = value.toString();
    if (typeName == TEXT_DATATYPE)
        return new DBIF_Text(text);
    if (typeName == DOUBLE_DATATYPE)
        return new DBIF_Double(value.toDouble());
    if (typeName == COMPLEX_NUMBER_DATATYPE)
        return new DBIF_ComplexNumber(text);
    if (typeName == COMPLEX_MATRIX_DATATYPE)
        return new DBIF_ComplexMatrix(text);
    assert1(false, __FILE__, __LINE__, QStringLiteral("Didn't understand data type %1"), typeName);
    return nullptr;
}

std::ostream& operator<<(std::ostream& stream, const DBIF_DataType& value) {
    value.print(stream);
    return stream;
}

QVariant convertVariant(const QString& typeName, const QVariant& value) {
    // A cell that already holds the type keeps its record and its full precision.
    if (typeName == COMPLEX_NUMBER_DATATYPE && !holds<DBIF_ComplexNumber>(value))
        return QVariant::fromValue(DBIF_ComplexNumber(textOf(value)));
    if (typeName == COMPLEX_MATRIX_DATATYPE && !holds<DBIF_ComplexMatrix>(value))
        return QVariant::fromValue(DBIF_ComplexMatrix(textOf(value)));
    return value;
}

QString exactText(const QVariant& value) {
    if (holds<DBIF_ComplexNumber>(value))
        return value.value<DBIF_ComplexNumber>().toExactString();
    if (holds<DBIF_ComplexMatrix>(value))
        return value.value<DBIF_ComplexMatrix>().toExactString();
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float)
        return DBIF_ComplexNumber::exactNumber(value.toDouble());
    return value.toString();
}

std::ostream& operator<<(std::ostream& stream, const QVariant& value) {
    return stream << textOf(value).toLocal8Bit().constData();
}
