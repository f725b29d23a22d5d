// Tests of the assertion functions and the shared text helpers.
#include <gtest/gtest.h>

#include <QLocale>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>

#include "dbif/DBIF_Utilities.h"

namespace {

TEST(Utilities, CaseSensitizeRecordsAsciiCapitals) {
    const struct {
        QString text;
        QString expected;
    } cases[] = {
        {QStringLiteral("Vds"), QStringLiteral("Vds_4")},
        {QStringLiteral("vds"), QStringLiteral("vds_0")},
        {QStringLiteral("VDS"), QStringLiteral("VDS_7")},
        {QString(), QStringLiteral("_0")},
        {QStringLiteral("aB_c1D"), QStringLiteral("aB_c1D_11")},
        {QStringLiteral("\u00c4rger"), QStringLiteral("\u00c4rger_0")},  // only A to Z count
        // 64 capitals set every bit: the signed mask prints as minus one.
        {QString(64, QLatin1Char('A')), QString(64, QLatin1Char('A')) + QStringLiteral("_-1")},
        // Beyond 64 characters every bit is kept, so long names differing in case stay apart.
        {QStringLiteral("A") + QString(64, QLatin1Char('b')),
         QStringLiteral("A") + QString(64, QLatin1Char('b')) + QStringLiteral("_10000000000000000")},
        {QStringLiteral("A") + QString(63, QLatin1Char('b')),
         QStringLiteral("A") + QString(63, QLatin1Char('b')) + QStringLiteral("_-8000000000000000")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(caseSensitize(c.text), c.expected) << c.text.toStdString();
}

TEST(Utilities, FailedAssertionsReportOneLineAndReturnFalse) {
    testing::internal::CaptureStderr();
    EXPECT_TRUE(assert0(true, "file.cpp", 1, QStringLiteral("never shown")));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    testing::internal::CaptureStderr();
    EXPECT_FALSE(assert0(false, "file.cpp", 12, QStringLiteral("plain %1 text")));
    EXPECT_FALSE(assert1(false, "a.cpp", 3, QStringLiteral("one %1"), QStringLiteral("x")));
    EXPECT_FALSE(
        assert2(false, "b.cpp", 4, QStringLiteral("%2 then %1"), QStringLiteral("x"), QStringLiteral("y")));
    // Arguments are filled in one step: a "%2" inside the first is not taken for a placeholder.
    EXPECT_FALSE(assert3(false, "c.cpp", 5, QStringLiteral("%1|%2|%3"), QStringLiteral("%2"),
                         QStringLiteral("b"), QStringLiteral("c")));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ASSERTION failed (file.cpp: line 12)   => plain %1 text\n"
              "ASSERTION failed (a.cpp: line 3)   => one x\n"
              "ASSERTION failed (b.cpp: line 4)   => y then x\n"
              "ASSERTION failed (c.cpp: line 5)   => %2|b|c\n");

    printOnAssert = false;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(assert0(false, "quiet.cpp", 1, QStringLiteral("silent")));
    printOnAssert = true;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(UtilitiesDeathTest, AbortOnAssertEndsTheProcessWithStatusMinusOne) {
    EXPECT_EXIT(
        {
            abortOnAssert = true;
            assert1(false, "fatal.cpp", 9, QStringLiteral("stop %1"), QStringLiteral("now"));
        },
        testing::ExitedWithCode(255),
        "ASSERTION failed \\(fatal.cpp: line 9\\)   => stop now\n  ==> ABORTING after assertion!");
    EXPECT_EXIT(
        {
            abortOnAssert = true;
            printOnAssert = false;
            assert0(false, "fatal.cpp", 9, QStringLiteral("unseen"));
        },
        testing::ExitedWithCode(255), "^$");
    EXPECT_FALSE(abortOnAssert);
}

TEST(Utilities, TextHelpers) {
    EXPECT_EQ(toStringList(QList<int>{3, -1, 20}), (QStringList{"3", "-1", "20"}));
    EXPECT_EQ(toStringList(QSet<QString>{QStringLiteral("only")}), QStringList{"only"});
    EXPECT_EQ(toStringList(QSet<QString>{"a", "b", "c"}).size(), 3);
    EXPECT_TRUE(stringContains("measurement_data_3", "data_3"));
    EXPECT_FALSE(stringContains("measurement", "data"));
    EXPECT_TRUE(stringContains("abc", ""));

    std::ostringstream out;
    out << QStringLiteral("Vd") << QStringList{"a", "b"};
    EXPECT_EQ(out.str(), "Vd\n  a\n  b");

    EXPECT_EQ(quoteSqlText(QStringLiteral("O'Hara \\n")), QStringLiteral("'O''Hara \\n'"));
    EXPECT_EQ(hash(QStringLiteral("same")), hash(QStringLiteral("same")));
    EXPECT_NE(hash(QStringLiteral("one definition")), hash(QStringLiteral("another definition")));
    EXPECT_LE(qAbs(now().secsTo(QDateTime::currentDateTime())), 1);
}

// Cell texts are made by writeExactNumber instead of QString::number; both must give the same text
// for every double: the boundaries between fixed and scientific layout, the extremes, and a sweep.
TEST(Utilities, ExactNumberTextIsQtsShortestText) {
    std::vector<double> values = {0.0,       -0.0,
                                  1,         -1,
                                  10,        100,
                                  1e5,       1e6,
                                  1e15,      1e16,
                                  1e17,      1e21,
                                  1e99,      1e100,
                                  0.1,       0.001,
                                  1e-4,      1e-5,
                                  1.5e-5,    0.00012,
                                  123456,    123456789012.0,
                                  1e-99,     1e-100,
                                  0.1 + 0.2, 9007199254740993.0,
                                  5e-324,    -5e-324,
                                  DBL_MIN,   DBL_MAX,
                                  -DBL_MAX,  NAN,
                                  INFINITY,  -INFINITY};
    std::mt19937_64 random(2024);
    for (int i = 0; i < 50000; ++i) {
        const std::uint64_t bits = random();
        double any;
        std::memcpy(&any, &bits, sizeof any);
        values.push_back(any);
        values.push_back(static_cast<double>(random() % 1000000) *
                         std::pow(10.0, static_cast<int>(random() % 40) - 20));
    }
    for (const double value : values) {
        char text[EXACT_NUMBER_CAPACITY];
        const int length = writeExactNumber(value, text);
        ASSERT_EQ(QString::fromLatin1(text, length),
                  QString::number(value, 'g', QLocale::FloatingPointShortest))
            << value;
        ASSERT_EQ(exactNumberLength(value), length) << value;
    }
}

TEST(Utilities, Utf8BytesCountEveryCharacterWhereverItStands) {
    for (const int length : {1, 3, 4, 5, 8, 11}) {
        for (int at = 0; at < length; ++at) {
            for (const char16_t c : {u'\u00b5', u'\u03a9', u'\u20ac'}) {
                QString text(length, QLatin1Char('a'));
                text[at] = QChar(c);
                bool latin1 = false;
                EXPECT_EQ(utf8Bytes(text, &latin1), text.toUtf8().size()) << length << " " << at;
                EXPECT_EQ(latin1, c <= 0xFF) << length << " " << at;
            }
        }
    }
}

}  // namespace
