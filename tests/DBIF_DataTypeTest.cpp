// Tests of the data value family: text and print forms, parsing with its failure reports, the
// sharing rules of the complex values, and the bridges between cells (QVariant) and value objects.
#include <gtest/gtest.h>

#include <QMetaType>
#include <QVariant>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>

#include "CapturedStderr.h"
#include "dbif/DBIF_ComplexMatrix.h"
#include "dbif/DBIF_ComplexNumber.h"
#include "dbif/DBIF_DataType.h"
#include "dbif/DBIF_Double.h"
#include "dbif/DBIF_Text.h"

namespace {

// The full-precision print form.
template <typename T>
std::string printed(const T& value) {
    std::ostringstream stream;
    stream << value;
    return stream.str();
}

// The text form, readable in a failure report.
template <typename T>
std::string str(const T& value) {
    return value.toString().toStdString();
}
std::string str(const QString& value) {
    return value.toStdString();
}

const std::string NOT_PERFORMING = "Not performing 'fromString.' The string ";
const QString MATRIX_2X2 = QStringLiteral("2|2|1:0|2:0|3:0|4:0");

}  // namespace

TEST(DBIF_DataTypeTest, DoubleAndTextForms) {
    static_assert(std::is_same_v<decltype(DOUBLE_DATATYPE), const QString>);
    EXPECT_TRUE(DOUBLE_DATATYPE == "DB" && TEXT_DATATYPE == "TX" && COMPLEX_NUMBER_DATATYPE == "CN" &&
                COMPLEX_MATRIX_DATATYPE == "CM");
    const DBIF_Double third(1.0 / 3.0);
    EXPECT_EQ(str(third), "0.333333");
    EXPECT_EQ(str(third.asQueryValue()), "0.333333");
    EXPECT_EQ(printed(third), "0.33333333333333331483");
    EXPECT_NE(DBIF_Double(0.1 + 0.2), DBIF_Double(0.3));
    const DBIF_Double nan(std::nan(""));
    EXPECT_FALSE(nan == nan);

    const DBIF_Text name(QStringLiteral("O'Hara"));
    EXPECT_EQ(str(name.asQueryValue()), "'O'Hara'");
    EXPECT_EQ(printed(name), "O'Hara");
    EXPECT_NE(name, DBIF_Text(QStringLiteral("o'hara")));
}

TEST(DBIF_ComplexNumberTest, ParsingFormsAndSharing) {
    DBIF_ComplexNumber value(7, 8);
    EXPECT_EQ(reportsOf([&] { value.fromString("1.5:-2"); }), Reports{});
    EXPECT_EQ(str(value), "1.5:-2");
    EXPECT_EQ(
        reportsOf([&] { value.fromString("1.5"); }),
        Reports{NOT_PERFORMING + "'1.5' does not have a ':' delimiter and does not describe a Complex."});
    EXPECT_EQ(reportsOf([&] { value.fromString("  "); }),
              Reports{NOT_PERFORMING + "is empty and does not describe a Complex."});
    EXPECT_EQ(str(value), "1.5:-2");
    // A piece that is no number reads as 0; pieces after the second are ignored.
    value.fromString("abc:4:5");
    EXPECT_EQ(str(value), "0:4");

    const DBIF_ComplexNumber third(1.0 / 3.0, -2);
    EXPECT_EQ(printed(third), "0.33333333333333331483:-2");
    EXPECT_NE(DBIF_ComplexNumber(1, 2), DBIF_ComplexNumber(1, 3));
    EXPECT_NE(DBIF_ComplexNumber(1, 2), DBIF_ComplexNumber(0, 2));

    // set(1, 2) means set(real, imaginary); set(true, 5) sets the real part alone.
    DBIF_ComplexNumber copy(value);
    DBIF_ComplexNumber assigned;
    assigned = value;
    copy.set(1, 2);
    EXPECT_EQ(str(value), "1:2");
    value.set(true, 5);
    EXPECT_EQ(str(assigned), "5:2");
    value.set(false, 6);
    EXPECT_EQ(str(assigned), "5:6");
}

TEST(DBIF_ComplexMatrixTest, TextFormIsInColumnOrderAndOutOfRangeGivesThePlaceholder) {
    DBIF_ComplexMatrix matrix(2, 2);
    EXPECT_EQ(reportsOf([&] { matrix.fromString(MATRIX_2X2); }), Reports{});
    EXPECT_EQ(str(matrix(1, 0)), "2:0");
    EXPECT_EQ(str(matrix(0, 1)), "3:0");
    EXPECT_EQ(matrix.toString(), MATRIX_2X2);

    const auto outside = [](const char* element) {
        return Reports{std::string("Trying to access ComplexMatrix element ") + element +
                       " but there are only (2, 2) elements in the matrix!"};
    };
    DBIF_ComplexNumber* placeholder = nullptr;
    EXPECT_EQ(reportsOf([&] { placeholder = &matrix(2, 0); }), outside("(2, 0)"));
    EXPECT_EQ(str(*placeholder), "-9999:-9999");
    const DBIF_ComplexMatrix& constMatrix = matrix;
    DBIF_ComplexNumber value;
    EXPECT_EQ(reportsOf([&] { value = constMatrix(5, 7); }), outside("(5, 7)"));
    EXPECT_EQ(str(value), "-9999:-9999");

    // Each element has its own record.
    DBIF_ComplexMatrix column(2, 1);
    column(1, 0).set(3.0, -4.0);
    column(0, 0).set(1.0, 2.0);
    EXPECT_EQ(printed(column), "2|1|1:2|3:-4");
    EXPECT_EQ(str(column.asQueryValue()), "2|1|1:2|3:-4");

    EXPECT_EQ(str(DBIF_ComplexMatrix(QStringLiteral("1|3|1:1|2:2|3:3"))), "1|3|1:1|2:2|3:3");
    EXPECT_EQ(str(DBIF_ComplexMatrix()), "0|0");
}

TEST(DBIF_ComplexMatrixTest, MalformedTextIsReportedAndChangesNothing) {
    struct Case {
        const char* input;
        std::string message;
        // nullptr: read into a 3 x 3 matrix, which stays as it was; else the text form of a new matrix
        // made from the input, which has the announced size (missing elements zero) unless the text
        // cannot back it.
        const char* made;
    };
    const Case cases[] = {
        {"2|2|1:0|2:0|3:0|4:0",
         "describes a ComplexMatrix of (2, 2) but there are (3, 3) elements in the target matrix. The sizes "
         "must match exactly.",
         nullptr},
        {" \t", "is empty and does not describe a ComplexMatrix.", nullptr},
        {"3:3", "'3:3' does not have a '|' delimiter and does not describe a ComplexMatrix.", nullptr},
        {"3|3|1:0|2:0", "'3|3|1:0|2:0' describes a ComplexMatrix of (3, 3) but holds only 2 elements.",
         nullptr},
        {"100000|100000|1:0",
         "'100000|100000|1:0' describes a ComplexMatrix of (100000, 100000) but holds only 1 elements.",
         "0|0"},
        {"42", "'42' does not have a '|' delimiter and does not describe a ComplexMatrix.", "0|0"},
        {"2|2", "'2|2' describes a ComplexMatrix of (2, 2) but holds only 0 elements.",
         "2|2|0:0|0:0|0:0|0:0"},
        {"2|1|1:2", "'2|1|1:2' describes a ComplexMatrix of (2, 1) but holds only 1 elements.",
         "2|1|1:2|0:0"},
    };
    DBIF_ComplexMatrix matrix(3, 3);
    matrix(2, 2).set(5.0, 5.0);
    const std::string before = str(matrix);
    for (const Case& c : cases) {
        std::unique_ptr<DBIF_ComplexMatrix> made;
        const auto read = [&] {
            c.made ? made.reset(new DBIF_ComplexMatrix(c.input)) : matrix.fromString(c.input);
        };
        EXPECT_EQ(reportsOf(read), Reports{NOT_PERFORMING + c.message}) << c.input;
        EXPECT_EQ(c.made ? str(*made) : str(matrix), c.made ? c.made : before) << c.input;
    }
    // Reported from a project-relative file.
    const std::string report = stderrOf([] { DBIF_ComplexMatrix made(QStringLiteral("2|2")); });
    EXPECT_EQ(report.rfind("ASSERTION failed (dbif/DBIF_ComplexMatrix.cpp: line ", 0), 0u) << report;

    // A malformed element reports on its own and reads as (0, 0); the others are read.
    DBIF_ComplexMatrix pair(1, 2);
    EXPECT_EQ(
        reportsOf([&] { pair.fromString("1|2|junk|3:4"); }),
        Reports{NOT_PERFORMING + "'junk' does not have a ':' delimiter and does not describe a Complex."});
    EXPECT_EQ(str(pair), "1|2|0:0|3:4");
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
    EXPECT_EQ(str(assigned), "2|2|5:0|9:9|7:0|8:0") << "new element records are not shared";

    DBIF_ComplexMatrix smaller(1, 2);
    EXPECT_EQ(reportsOf([&] { smaller = a; }),
              Reports{"Not performing assignment. The source ComplexMatrix has (2, 2) elements but there are "
                      "(1, 2) elements in the target matrix. The sizes must match exactly."});
    EXPECT_EQ(str(smaller), "1|2|0:0|0:0");

    EXPECT_EQ(a, DBIF_ComplexMatrix(MATRIX_2X2));
    EXPECT_NE(a, DBIF_ComplexMatrix(QStringLiteral("2|2|1:0|2:0|3:0|4:1")));
    EXPECT_NE(DBIF_ComplexMatrix(1, 2), DBIF_ComplexMatrix(2, 1));
    DBIF_ComplexMatrix withNan(1, 1);
    withNan(0, 0).set(std::nan(""), 0.0);
    EXPECT_TRUE(withNan == withNan);
    EXPECT_FALSE(withNan == DBIF_ComplexMatrix(withNan)) << "only the same object skips the comparison";
}

TEST(DBIF_DataTypeTest, ToDataType) {
    const QVariant text(QStringLiteral("1.25"));
    const QVariant complexCell = QVariant::fromValue(DBIF_ComplexNumber(3, 4));
    const QVariant matrixCell = QVariant::fromValue(DBIF_ComplexMatrix(QStringLiteral("1|1|5:6")));
    struct Case {
        QVariant cell;
        const char* type;
        std::string printed;  // empty: no value
        std::string report;
    };
    const Case cases[] = {
        {text, "DB", "1.25", ""},
        {QVariant(1.0 / 3.0), "DB", "0.33333333333333331483", ""},  // a number keeps its precision
        {text, "TX", "1.25", ""},
        {QVariant(QStringLiteral("1.5:-2")), "CN", "1.5:-2", ""},
        {QVariant(QStringLiteral("1|2|1:2|3:4")), "CM", "1|2|1:2|3:4", ""},
        {text, "XX", "", "Didn't understand data type XX"},
        {complexCell, "TX", "3:4", ""},
        {complexCell, "DB", "", "Cannot create data type DB from data type CN"},
        {matrixCell, "TX", "1|1|5:6", ""},
        {matrixCell, "CN", "", "Cannot create data type CN from data type CM"},
    };
    for (const Case& c : cases) {
        const std::string tag = str(c.cell) + " as " + c.type;
        std::unique_ptr<DBIF_DataType> value;
        EXPECT_EQ(reportsOf([&] { value.reset(DBIF_DataType::toDataType(c.cell, c.type)); }),
                  c.report.empty() ? Reports{} : Reports{c.report})
            << tag;
        EXPECT_EQ(value ? printed(*value) : "", c.printed) << tag;
        if (value) {
            EXPECT_EQ(str(value->getDataType()), c.type) << tag;
        }
    }

    // Complex values share the record of the value in the cell.
    std::unique_ptr<DBIF_DataType> number(DBIF_DataType::toDataType(complexCell, "CN"));
    dynamic_cast<DBIF_ComplexNumber&>(*number).set(7.0, 8.0);
    EXPECT_EQ(str(complexCell), "7:8");
    std::unique_ptr<DBIF_DataType> matrix(DBIF_DataType::toDataType(matrixCell, "CM"));
    dynamic_cast<DBIF_ComplexMatrix&> (*matrix)(0, 0).set(7.0, 8.0);
    EXPECT_EQ(str(matrixCell), "1|1|7:8");
}

TEST(DBIF_DataTypeTest, CellsHoldComplexValuesAndPrintTheirTextForm) {
    EXPECT_TRUE(QMetaType::fromName("DBIF_ComplexNumber").isValid());
    EXPECT_TRUE(QMetaType::fromName("DBIF_ComplexMatrix").isValid());
    const QVariant matrixCell = QVariant::fromValue(DBIF_ComplexMatrix(QStringLiteral("1|1|7:8")));
    EXPECT_EQ(str(QVariant::fromValue(DBIF_ComplexNumber(5, 4))), "5:4");
    EXPECT_EQ(str(matrixCell), "1|1|7:8");
    EXPECT_EQ(str(convertVariant("CN", QVariant(QStringLiteral("1.5:-2"))).value<DBIF_ComplexNumber>()),
              "1.5:-2");
    EXPECT_EQ(str(convertVariant("CM", QVariant(QStringLiteral("1|2|1:0|0:1"))).value<DBIF_ComplexMatrix>()),
              "1|2|1:0|0:1");
    EXPECT_EQ(convertVariant("DB", QVariant(QStringLiteral("3.5"))).metaType(),
              QMetaType::fromType<QString>());
    // A cell that already holds the type keeps its precision.
    const QVariant third = convertVariant("CN", QVariant::fromValue(DBIF_ComplexNumber(1.0 / 3.0, 0)));
    EXPECT_EQ(third.value<DBIF_ComplexNumber>().real(), 1.0 / 3.0);

    // A variant prints its text form, so complex values reach statements with six digits.
    EXPECT_EQ(printed(third), "0.333333:0");
    EXPECT_EQ(printed(matrixCell), "1|1|7:8");
    EXPECT_EQ(printed(QVariant(42)), "42");
}
