// Tests of the data value family: text and print forms, parsing with its failure reports, the
// sharing rules of the complex values, and the bridges between cells (QVariant) and value objects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QMetaType>
#include <QVariant>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>

#include "dbif/DBIF_ComplexMatrix.h"
#include "dbif/DBIF_ComplexNumber.h"
#include "dbif/DBIF_DataType.h"
#include "dbif/DBIF_Double.h"
#include "dbif/DBIF_Text.h"

namespace {

// What went to standard error while the action ran.
template <typename Action>
std::string stderrOf(Action&& action) {
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}

// Exactly one assertion report, carrying exactly this message.
void expectOneReport(const std::string& output, const std::string& message) {
    const std::string head = "ASSERTION failed (";
    EXPECT_EQ(output.find(head), output.rfind(head)) << output;
    EXPECT_THAT(output, testing::EndsWith("  => " + message + "\n"));
}

template <typename T>
std::string streamed(const T& value) {
    std::ostringstream stream;
    stream << value;
    return stream.str();
}

std::string text(const QString& value) {
    return value.toStdString();
}

void expectComplex(const DBIF_ComplexNumber& value, double real, double imaginary) {
    EXPECT_EQ(value.real(), real);
    EXPECT_EQ(value.imaginary(), imaginary);
}

const QString MATRIX_2X2 = QStringLiteral("2|2|1:0|2:0|3:0|4:0");

}  // namespace

TEST(DBIF_DataTypeTest, DoubleAndTextForms) {
    const DBIF_Double third(1.0 / 3.0);
    EXPECT_EQ(text(third.toString()), "0.333333");
    EXPECT_EQ(text(third.asQueryValue()), "0.333333");
    EXPECT_EQ(streamed(third), "0.33333333333333331483");
    EXPECT_EQ(text(third.getDataType()), "DB");
    EXPECT_NE(DBIF_Double(0.1 + 0.2), DBIF_Double(0.3));
    const DBIF_Double nan(std::nan(""));
    EXPECT_FALSE(nan == nan);

    const DBIF_Text name(QStringLiteral("O'Hara"));
    EXPECT_EQ(text(name.asQueryValue()), "'O'Hara'");
    EXPECT_EQ(streamed(name), "O'Hara");
    EXPECT_EQ(text(name.getDataType()), "TX");
    EXPECT_NE(name, DBIF_Text(QStringLiteral("o'hara")));
}

TEST(DBIF_ComplexNumberTest, FromStringParsesOrLeavesTheValueUnchanged) {
    DBIF_ComplexNumber value(7, 8);
    EXPECT_EQ(stderrOf([&] { value.fromString(QStringLiteral("1.5:-2")); }), "");
    expectComplex(value, 1.5, -2);
    expectOneReport(
        stderrOf([&] { value.fromString(QStringLiteral("1.5")); }),
        "Not performing 'fromString.' The string '1.5' does not have a ':' delimiter and does not "
        "describe a Complex.");
    expectOneReport(stderrOf([&] { value.fromString(QStringLiteral("  ")); }),
                    "Not performing 'fromString.' The string is empty and does not describe a Complex.");
    expectComplex(value, 1.5, -2);

    // A piece that is no number reads as 0; pieces after the second are ignored.
    value.fromString(QStringLiteral("abc:4:5"));
    expectComplex(value, 0, 4);
}

TEST(DBIF_ComplexNumberTest, CopiesShareTheRecord) {
    DBIF_ComplexNumber a(1, 2);
    DBIF_ComplexNumber copy(a);
    copy.set(3.0, 4.0);
    expectComplex(a, 3, 4);
    DBIF_ComplexNumber assigned;
    assigned = a;
    a.set(true, 5);
    a.set(false, 6);
    expectComplex(assigned, 5, 6);
    EXPECT_NE(DBIF_ComplexNumber(1, 2), DBIF_ComplexNumber(1, 3));
    EXPECT_NE(DBIF_ComplexNumber(1, 2), DBIF_ComplexNumber(0, 2));

    const DBIF_ComplexNumber third(1.0 / 3.0, -2);
    EXPECT_EQ(text(third.asQueryValue()), "0.333333:-2");
    EXPECT_EQ(streamed(third), "0.33333333333333331483:-2");
}

TEST(DBIF_ComplexNumberTest, VariantsHoldTheSharedValue) {
    DBIF_ComplexNumber value(1, 2);
    const DBIF_ComplexMatrix matrix(1, 1);
    EXPECT_TRUE(QMetaType::fromName("DBIF_ComplexNumber").isValid());
    EXPECT_TRUE(QMetaType::fromName("DBIF_ComplexMatrix").isValid());

    const QVariant cell = QVariant::fromValue(value);
    value.set(3.0, 4.0);
    expectComplex(cell.value<DBIF_ComplexNumber>(), 3, 4);
    cell.value<DBIF_ComplexNumber>().set(5.0, 6.0);
    expectComplex(value, 5, 6);
    EXPECT_EQ(text(cell.toString()), "5:6");

    const QVariant matrixCell = QVariant::fromValue(matrix);
    EXPECT_STREQ(matrixCell.metaType().name(), "DBIF_ComplexMatrix");
    matrixCell.value<DBIF_ComplexMatrix>()(0, 0).set(7.0, 8.0);
    EXPECT_EQ(text(matrixCell.toString()), "1|1|7:8");
}

TEST(DBIF_ComplexMatrixTest, ElementsAreInColumnOrder) {
    DBIF_ComplexMatrix matrix(2, 2);
    EXPECT_EQ(stderrOf([&] { matrix.fromString(MATRIX_2X2); }), "");
    expectComplex(matrix(1, 0), 2, 0);
    expectComplex(matrix(0, 1), 3, 0);
    EXPECT_EQ(matrix.toString(), MATRIX_2X2);

    // Each element has its own record.
    DBIF_ComplexMatrix column(2, 1);
    column(1, 0).set(3.0, -4.0);
    EXPECT_EQ(streamed(column), "2|1|0:0|3:-4");
    column(0, 0).set(1.0, 2.0);
    EXPECT_EQ(text(column.asQueryValue()), "2|1|1:2|3:-4");

    const DBIF_ComplexMatrix wide(QStringLiteral("1|3|1:1|2:2|3:3"));
    EXPECT_EQ(wide.rows(), 1u);
    EXPECT_EQ(wide.columns(), 3u);
    expectComplex(wide(0, 2), 3, 3);
    EXPECT_EQ(text(DBIF_ComplexMatrix().toString()), "0|0");
}

TEST(DBIF_ComplexMatrixTest, MalformedTextLeavesTheMatrixUnchanged) {
    DBIF_ComplexMatrix matrix(3, 3);
    matrix(2, 2).set(5.0, 5.0);
    const QString before = matrix.toString();
    const auto expectFailure = [&](const QString& input, const std::string& message) {
        SCOPED_TRACE(text(input));
        expectOneReport(stderrOf([&] { matrix.fromString(input); }), message);
        EXPECT_EQ(matrix.toString(), before);
    };
    expectFailure(MATRIX_2X2,
                  "Not performing 'fromString.' The string describes a ComplexMatrix of (2, 2) but there are "
                  "(3, 3) elements in the target matrix. The sizes must match exactly.");
    expectFailure(" \t",
                  "Not performing 'fromString.' The string is empty and does not describe a ComplexMatrix.");
    expectFailure("3:3",
                  "Not performing 'fromString.' The string '3:3' does not have a '|' delimiter and does not "
                  "describe a ComplexMatrix.");
    expectFailure(
        "3|3|1:0|2:0",
        "Not performing 'fromString.' The string '3|3|1:0|2:0' describes a ComplexMatrix of (3, 3) but "
        "holds only 2 elements.");

    // A malformed element reports on its own and reads as (0, 0); the others are read.
    DBIF_ComplexMatrix pair(1, 2);
    expectOneReport(
        stderrOf([&] { pair.fromString(QStringLiteral("1|2|junk|3:4")); }),
        "Not performing 'fromString.' The string 'junk' does not have a ':' delimiter and does not "
        "describe a Complex.");
    EXPECT_EQ(text(pair.toString()), "1|2|0:0|3:4");

    // Construction never sizes itself from counts that its text does not back.
    std::unique_ptr<DBIF_ComplexMatrix> built;
    expectOneReport(
        stderrOf([&] { built.reset(new DBIF_ComplexMatrix(QStringLiteral("100000|100000|1:0"))); }),
        "Not performing 'fromString.' The string '100000|100000|1:0' describes a ComplexMatrix of "
        "(100000, 100000) but holds only 1 elements.");
    EXPECT_EQ(text(built->toString()), "0|0");
    expectOneReport(stderrOf([&] { built.reset(new DBIF_ComplexMatrix(QStringLiteral("42"))); }),
                    "Not performing 'fromString.' The string '42' does not have a '|' delimiter and does not "
                    "describe a ComplexMatrix.");
    EXPECT_EQ(text(built->toString()), "0|0");
}

TEST(DBIF_ComplexMatrixTest, OutOfRangeAccessGivesThePlaceholder) {
    DBIF_ComplexMatrix matrix(2, 2);
    DBIF_ComplexNumber* placeholder = nullptr;
    expectOneReport(stderrOf([&] { placeholder = &matrix(2, 0); }),
                    "Trying to access ComplexMatrix element (2, 0) but there are only (2, 2) elements in the "
                    "matrix!");
    expectComplex(*placeholder, -9999, -9999);
    placeholder->set(1.0, 1.0);
    DBIF_ComplexNumber* again = nullptr;
    stderrOf([&] { again = &matrix(0, 2); });
    EXPECT_EQ(again, placeholder);
    expectComplex(*again, -9999, -9999);
    EXPECT_EQ(text(matrix.toString()), "2|2|0:0|0:0|0:0|0:0");

    const DBIF_ComplexMatrix& constMatrix = matrix;
    DBIF_ComplexNumber value;
    expectOneReport(stderrOf([&] { value = constMatrix(5, 7); }),
                    "Trying to access ComplexMatrix element (5, 7) but there are only (2, 2) elements in the "
                    "matrix!");
    expectComplex(value, -9999, -9999);
}

TEST(DBIF_ComplexMatrixTest, CopiesShareTheMatrixAssignmentsShareTheElements) {
    DBIF_ComplexMatrix a(MATRIX_2X2);
    const DBIF_ComplexMatrix copy(a);
    a.fromString(QStringLiteral("2|2|5:0|6:0|7:0|8:0"));
    EXPECT_EQ(copy.toString(), a.toString());

    DBIF_ComplexMatrix assigned(2, 2);
    assigned = a;
    a(1, 0).set(9.0, 9.0);
    a.fromString(MATRIX_2X2);
    EXPECT_EQ(text(assigned.toString()), "2|2|5:0|9:9|7:0|8:0") << "new element records are not shared";

    DBIF_ComplexMatrix smaller(1, 2);
    expectOneReport(stderrOf([&] { smaller = a; }),
                    "Not performing assignment. The source ComplexMatrix has (2, 2) elements but there are "
                    "(1, 2) elements in the target matrix. The sizes must match exactly.");
    EXPECT_EQ(text(smaller.toString()), "1|2|0:0|0:0");

    EXPECT_EQ(a, DBIF_ComplexMatrix(MATRIX_2X2));
    EXPECT_NE(a, DBIF_ComplexMatrix(QStringLiteral("2|2|1:0|2:0|3:0|4:1")));
    EXPECT_NE(DBIF_ComplexMatrix(1, 2), DBIF_ComplexMatrix(2, 1));
    DBIF_ComplexMatrix withNan(1, 1);
    withNan(0, 0).set(std::nan(""), 0.0);
    EXPECT_TRUE(withNan == withNan);
    EXPECT_FALSE(withNan == DBIF_ComplexMatrix(withNan)) << "only the same object skips the comparison";
}

TEST(DBIF_DataTypeTest, ToDataType) {
    const QVariant cell(QStringLiteral("1.25"));
    std::unique_ptr<DBIF_DataType> value(DBIF_DataType::toDataType(cell, QStringLiteral("DB")));
    EXPECT_EQ(dynamic_cast<DBIF_Double&>(*value).value(), 1.25);
    value.reset(DBIF_DataType::toDataType(QVariant(1.0 / 3.0), QString::fromLatin1(DOUBLE_DATATYPE)));
    EXPECT_EQ(dynamic_cast<DBIF_Double&>(*value).value(), 1.0 / 3.0) << "a number cell keeps its precision";
    value.reset(DBIF_DataType::toDataType(cell, QStringLiteral("TX")));
    EXPECT_EQ(text(dynamic_cast<DBIF_Text&>(*value).value()), "1.25");
    value.reset(DBIF_DataType::toDataType(QVariant(QStringLiteral("1|2|1:2|3:4")), QStringLiteral("CM")));
    EXPECT_EQ(text(dynamic_cast<DBIF_ComplexMatrix&>(*value).toString()), "1|2|1:2|3:4");
    expectOneReport(stderrOf([&] { value.reset(DBIF_DataType::toDataType(cell, QStringLiteral("XX"))); }),
                    "Didn't understand data type XX");
    EXPECT_EQ(value, nullptr);

    const DBIF_ComplexNumber complex(1, 2);
    const QVariant complexCell = QVariant::fromValue(complex);
    value.reset(DBIF_DataType::toDataType(complexCell, QStringLiteral("CN")));
    dynamic_cast<DBIF_ComplexNumber&>(*value).set(3.0, 4.0);
    expectComplex(complex, 3, 4);
    value.reset(DBIF_DataType::toDataType(complexCell, QStringLiteral("TX")));
    EXPECT_EQ(text(dynamic_cast<DBIF_Text&>(*value).value()), "3:4");
    expectOneReport(
        stderrOf([&] { value.reset(DBIF_DataType::toDataType(complexCell, QStringLiteral("DB"))); }),
        "Cannot create data type DB from data type CN");
    EXPECT_EQ(value, nullptr);

    const DBIF_ComplexMatrix matrix(1, 1);
    const QVariant matrixCell = QVariant::fromValue(matrix);
    value.reset(DBIF_DataType::toDataType(matrixCell, QStringLiteral("CM")));
    dynamic_cast<DBIF_ComplexMatrix&> (*value)(0, 0).set(5.0, 6.0);
    expectComplex(matrix(0, 0), 5, 6);
    expectOneReport(
        stderrOf([&] { value.reset(DBIF_DataType::toDataType(matrixCell, QStringLiteral("CN"))); }),
        "Cannot create data type CN from data type CM");
    EXPECT_EQ(value, nullptr);
}

TEST(DBIF_DataTypeTest, ConvertVariantAndVariantOutput) {
    QVariant cell = convertVariant(QStringLiteral("CN"), QVariant(QStringLiteral("1.5:-2")));
    expectComplex(cell.value<DBIF_ComplexNumber>(), 1.5, -2);
    cell = convertVariant(QStringLiteral("CM"), QVariant(QStringLiteral("1|2|1:0|0:1")));
    EXPECT_EQ(text(cell.value<DBIF_ComplexMatrix>().toString()), "1|2|1:0|0:1");
    const QVariant number(QStringLiteral("3.5"));
    EXPECT_EQ(convertVariant(QStringLiteral("DB"), number).metaType(), QMetaType::fromType<QString>());

    // A cell that already holds the type keeps its record and its precision.
    const DBIF_ComplexNumber precise(1.0 / 3.0, 0);
    cell = convertVariant(QStringLiteral("CN"), QVariant::fromValue(precise));
    EXPECT_EQ(cell.value<DBIF_ComplexNumber>().real(), 1.0 / 3.0);

    EXPECT_EQ(streamed(cell), "0.333333:0");
    EXPECT_EQ(streamed(QVariant::fromValue(DBIF_ComplexMatrix(QStringLiteral("1|1|2.5:1")))), "1|1|2.5:1");
    EXPECT_EQ(streamed(QVariant(42)), "42");
    EXPECT_EQ(streamed(QVariant(QStringLiteral("O'Hara"))), "O'Hara");
    const std::unique_ptr<DBIF_DataType> value(new DBIF_Double(0.1));
    EXPECT_EQ(streamed(*value), "0.10000000000000000555");
}
