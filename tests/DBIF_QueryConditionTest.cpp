// Tests of the query condition family: the exact SQL text of every comparator, collation and
// tolerance form on each driver, compound nodes and the operators that build them, sharing of
// records through copies and clones, table and column reports, and the conditions executed against
// a real table (quoting of hostile texts, case rules, tolerances) on both drivers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QVariant>
#include <memory>
#include <string>
#include <vector>

#include "DatabaseTest.h"
#include "dbif/DBIF_BooleanQueryCondition.h"
#include "dbif/DBIF_CompoundQueryCondition.h"
#include "dbif/DBIF_SingleColumnCondition.h"
#include "dbif/DBIF_UniqueStringList.h"
#include "dbif/DBIF_Utilities.h"

namespace {

using Ids = QList<int>;

// A text with everything that could end a literal or be read as a placeholder.
const QString HOSTILE = QStringLiteral("it's a\\b %1 %2");

class QueryConditionTest : public DatabaseTest {
protected:
    QString sql(const DBIF_QueryCondition& condition) {
        return condition.generateSelectionCriteria(connection());
    }

    // t: id INT, name latin1 text, v DOUBLE. Names are bound, not quoted, so they are stored exactly.
    void createTable() {
        exec(isMySql() ? QStringLiteral("CREATE TABLE t (id INT, name VARCHAR(100), v DOUBLE) ENGINE=InnoDB "
                                        "DEFAULT CHARSET=latin1")
                       : QStringLiteral("CREATE TABLE t (id INT, name VARCHAR(100), v DOUBLE)"));
        const QString insert = QStringLiteral("INSERT INTO t (id, name, v) VALUES (%1, ?, %2)");
        const auto row = [&](int id, const QString& name, double v) {
            connection().preparedQuery(insert.arg(id).arg(v, 0, 'g', 17), DBIF_INSERT_TIMING, name, __FILE__,
                                       __LINE__);
        };
        row(1, HOSTILE, 2.5000000000001);
        row(2, QStringLiteral("it's a\\\\b %1 %2"), 2.6);  // two backslashes
        row(3, QStringLiteral("abc"), 0.0);
        row(4, QStringLiteral("ABC"), 1e-17);
        row(5, QStringLiteral("abd"), -3.0);
        exec(QStringLiteral("INSERT INTO t (id, name, v) VALUES (6, NULL, NULL)"));
        ASSERT_EQ(connection().queryString(QStringLiteral("SELECT name FROM t WHERE id = 1"),
                                           DBIF_QUERY_TIMING, __FILE__, __LINE__),
                  HOSTILE);
    }

    Ids idsWhere(const DBIF_QueryCondition& condition) {
        return connection().queryScalarList<int>(
            QStringLiteral("SELECT id FROM t WHERE %1 ORDER BY id").arg(sql(condition)), DBIF_QUERY_TIMING,
            __FILE__, __LINE__);
    }
};

struct RenderCase {
    const char* tag;
    DBIF_SingleColumnCondition condition;
    const char* sqlite;
    const char* mysql;  // nullptr: the same text as on SQLite
};

using C = DBIF_SingleColumnCondition;
const double EPS = 2.220446049250313e-16;

TEST_P(QueryConditionTest, SingleColumnRendering) {
    const QDateTime date(QDate(2021, 3, 4), QTime(5, 6, 7));
    const std::vector<RenderCase> cases = {
        // Plain forms without collation: the same on both drivers.
        {"equal text", C("t", "c", Equal, QStringLiteral("abc")), "(t.c = 'abc')", nullptr},
        {"not equal int", C("t", "c", NotEqual, 5), "(t.c <> 5)", nullptr},
        {"less double", C("t", "c", Less, 2.5), "(t.c < 2.5)", nullptr},
        {"less or equal", C("t", "c", LessOrEqual, 0.1), "(t.c <= 0.1)", nullptr},
        {"greater negative int", C("t", "c", Greater, -3), "(t.c > -3)", nullptr},
        {"greater or equal big", C("t", "c", GreaterOrEqual, 1e20), "(t.c >= 1e+20)", nullptr},
        {"is not null", C("t", "c", IsNotNull, 0), "(t.c IS NOT NULL)", nullptr},
        {"is null ignores value", C("t", "c", IsNull, QStringLiteral("x")), "(t.c IS NULL)", nullptr},
        {"in ids", C("t", "id", In, Ids{3, 5, 8}), "(t.id IN (3, 5, 8))", nullptr},
        {"in no ids", C("t", "id", In, Ids{}), "(t.id IN ())", nullptr},
        {"not in ids", C("t", "id", NotIn, Ids{-1}), "(t.id NOT IN (-1))", nullptr},
        {"in text is quoted", C("t", "id", In, QStringLiteral("3, 5")), "(t.id IN ('3, 5'))", nullptr},
        {"like", C("t", "c", Like, "a%"), "(t.c LIKE 'a%')", nullptr},
        {"variant int", C("t", "c", Equal, QVariant(7)), "(t.c = 7)", nullptr},
        {"variant text", C("t", "c", Equal, QVariant(QStringLiteral("7"))), "(t.c = '7')", nullptr},
        {"invalid variant", C("t", "c", Equal, QVariant()), "(t.c = )", nullptr},
        {"date as text", C("t", "start_time", Greater, "2021-03-04 05:06:07"),
         "(t.start_time > '2021-03-04 05:06:07')", nullptr},
        // Only text variants are quoted; a typed date-time goes in as its ISO text.
        {"typed date", C("t", "start_time", Greater, QVariant(date)),
         "(t.start_time > 2021-03-04T05:06:07.000)", nullptr},
        {"no case without collation", C("t", "c", EqualNoCase, "abc"), "(t.c = 'abc')", nullptr},
        // Collation: case-sensitive forms carry MySQL's suffix, NoCase forms SQLite's.
        {"equal collated", C("t", "c", Equal, "abc", true), "(t.c = 'abc')",
         "(t.c COLLATE latin1_bin = 'abc')"},
        {"not equal collated", C("t", "c", NotEqual, "a", true), "(t.c <> 'a')",
         "(t.c COLLATE latin1_bin <> 'a')"},
        {"less collated", C("t", "c", Less, "a", true), "(t.c < 'a')", "(t.c COLLATE latin1_bin < 'a')"},
        {"less or equal collated", C("t", "c", LessOrEqual, "a", true), "(t.c <= 'a')",
         "(t.c COLLATE latin1_bin <= 'a')"},
        {"greater collated", C("t", "c", Greater, "a", true), "(t.c > 'a')",
         "(t.c COLLATE latin1_bin > 'a')"},
        {"greater or equal collated", C("t", "c", GreaterOrEqual, "a", true), "(t.c >= 'a')",
         "(t.c COLLATE latin1_bin >= 'a')"},
        {"is not null collated", C("t", "c", IsNotNull, 0, true), "(t.c IS NOT NULL)",
         "(t.c COLLATE latin1_bin IS NOT NULL)"},
        {"is null collated", C("t", "c", IsNull, 0, true), "(t.c IS NULL)",
         "(t.c COLLATE latin1_bin IS NULL)"},
        {"in collated", C("t", "c", In, Ids{1, 2}, true), "(t.c IN (1, 2))",
         "(t.c COLLATE latin1_bin IN (1, 2))"},
        {"not in collated", C("t", "c", NotIn, Ids{1}, true), "(t.c NOT IN (1))",
         "(t.c COLLATE latin1_bin NOT IN (1))"},
        {"like collated", C("t", "c", Like, "a_", true), "(t.c LIKE 'a_')",
         "(t.c COLLATE latin1_bin LIKE 'a_')"},
        {"equal no case collated", C("t", "c", EqualNoCase, "a", true), "(t.c COLLATE NOCASE = 'a')",
         "(t.c = 'a')"},
        {"not equal no case collated", C("t", "c", NotEqualNoCase, "a", true), "(t.c COLLATE NOCASE <> 'a')",
         "(t.c <> 'a')"},
        {"less no case collated", C("t", "c", LessNoCase, "a", true), "(t.c COLLATE NOCASE < 'a')",
         "(t.c < 'a')"},
        {"less or equal no case collated", C("t", "c", LessOrEqualNoCase, "a", true),
         "(t.c COLLATE NOCASE <= 'a')", "(t.c <= 'a')"},
        {"greater no case collated", C("t", "c", GreaterNoCase, "a", true), "(t.c COLLATE NOCASE > 'a')",
         "(t.c > 'a')"},
        {"greater or equal no case collated", C("t", "c", GreaterOrEqualNoCase, "a", true),
         "(t.c COLLATE NOCASE >= 'a')", "(t.c >= 'a')"},
        {"in no case collated", C("t", "c", InNoCase, Ids{4}, true), "(t.c COLLATE NOCASE IN (4))",
         "(t.c IN (4))"},
        {"not in no case collated", C("t", "c", NotInNoCase, Ids{4}, true), "(t.c COLLATE NOCASE NOT IN (4))",
         "(t.c NOT IN (4))"},
        {"like no case collated", C("t", "c", LikeNoCase, "a%", true), "(t.c COLLATE NOCASE LIKE 'a%')",
         "(t.c LIKE 'a%')"},
        // Comparators outside the table.
        {"comparator 20", C("t", "c", Comparator(20), "a", true), "", nullptr},
        {"comparator 1000", C("t", "c", Comparator(1000), 1), "", nullptr},
        {"comparator -1", C("t", "c", Comparator(-1), 1, false, true), "", nullptr},
        // Column references.
        {"column with blank", C("my_table", "my col", Equal, 1), "(my_table.\"my col\" = 1)", nullptr},
        {"column with dash collated", C("t", "Vd-1", Equal, "x", true), "(t.\"Vd-1\" = 'x')",
         "(t.\"Vd-1\" COLLATE latin1_bin = 'x')"},
        {"plain key column", C("measurement_data", "Vd_3_DB", IsNotNull, 0),
         "(measurement_data.Vd_3_DB IS NOT NULL)", nullptr},
        // Texts can never end their literal; placeholders inside values stay text.
        {"quote doubled", C("t", "c", Equal, "it's"), "(t.c = 'it''s')", nullptr},
        {"backslash", C("t", "c", Equal, "a\\b"), "(t.c = 'a\\b')", "(t.c = 'a\\\\b')"},
        {"injection", C("t", "c", Equal, "x' OR '1'='1"), "(t.c = 'x'' OR ''1''=''1')", nullptr},
        {"placeholders in value", C("t", "c", Equal, "%1%2%3", true), "(t.c = '%1%2%3')",
         "(t.c COLLATE latin1_bin = '%1%2%3')"},
        {"placeholders in column", C("t", "%2 %3", Like, "%1", true), "(t.\"%2 %3\" LIKE '%1')",
         "(t.\"%2 %3\" COLLATE latin1_bin LIKE '%1')"},
        // Tolerance forms: relative for a non-zero value, absolute for zero; never a suffix.
        {"tolerant equal", C("t", "c", Equal, 2.5, false, true, 1e-10), "(ABS((t.c-(2.5))/2.5)<1e-10)",
         nullptr},
        {"tolerant equal no case collated", C("t", "c", EqualNoCase, 2.5, true, true),
         "(ABS((t.c-(2.5))/2.5)<1e-10)", nullptr},
        {"tolerant not equal", C("t", "c", NotEqual, 2.5, false, true), "(ABS((t.c-(2.5))/2.5)>=1e-10)",
         nullptr},
        {"tolerant not equal no case", C("t", "c", NotEqualNoCase, 3, false, true),
         "(ABS((t.c-(3))/3)>=1e-10)", nullptr},
        {"tolerant less or equal negative", C("t", "c", LessOrEqual, -2.5, true, true),
         "((t.c < -2.5) OR (ABS((t.c-(-2.5))/-2.5)<1e-10))", nullptr},
        {"tolerant less or equal no case", C("t", "c", LessOrEqualNoCase, 2.5, false, true),
         "((t.c < 2.5) OR (ABS((t.c-(2.5))/2.5)<1e-10))", nullptr},
        {"tolerant greater or equal", C("t", "c", GreaterOrEqual, 2.5, false, true),
         "((t.c > 2.5) OR (ABS((t.c-(2.5))/2.5)<1e-10))", nullptr},
        {"tolerant greater or equal no case", C("t", "c", GreaterOrEqualNoCase, 2.5, true, true),
         "((t.c > 2.5) OR (ABS((t.c-(2.5))/2.5)<1e-10))", nullptr},
        {"tolerant equal zero", C("t", "c", Equal, 0.0, false, true), "(ABS(t.c)<2.22045e-16)", nullptr},
        {"tolerant equal no case zero", C("t", "c", EqualNoCase, 0, true, true), "(ABS(t.c)<2.22045e-16)",
         nullptr},
        {"tolerant not equal zero", C("t", "c", NotEqual, 0, false, true), "(ABS(t.c)>=2.22045e-16)",
         nullptr},
        {"tolerant not equal no case zero", C("t", "c", NotEqualNoCase, 0.0, false, true),
         "(ABS(t.c)>=2.22045e-16)", nullptr},
        {"tolerant less or equal zero", C("t", "c", LessOrEqual, 0, false, true), "(t.c < 2.22045e-16)",
         nullptr},
        {"tolerant less or equal no case zero", C("t", "c", LessOrEqualNoCase, 0, false, true),
         "(t.c < 2.22045e-16)", nullptr},
        {"tolerant greater or equal zero", C("t", "c", GreaterOrEqual, 0, false, true),
         "(t.c > -(2.22045e-16))", nullptr},
        {"tolerant greater or equal no case zero", C("t", "c", GreaterOrEqualNoCase, 0, false, true),
         "(t.c > -(2.22045e-16))", nullptr},
        {"negative tolerances", C("t", "c", Equal, 3, false, true, -1e-6, -1e-9), "(ABS((t.c-(3))/3)<1e-06)",
         nullptr},
        {"negative absolute tolerance", C("t", "c", Equal, 0, false, true, -1e-6, -1e-9), "(ABS(t.c)<1e-09)",
         nullptr},
        {"six digit tolerance", C("t", "c", Equal, 7, false, true, 0.000123456789, EPS),
         "(ABS((t.c-(7))/7)<0.000123457)", nullptr},
        {"tolerant numeric text", C("t", "c", Equal, "2.5", false, true), "(ABS((t.c-(2.5))/2.5)<1e-10)",
         nullptr},
        {"tolerant non-numeric text", C("t", "c", Equal, "abc", false, true), "(ABS(t.c)<2.22045e-16)",
         nullptr},
        // Comparators without a tolerance form fall through to the plain form, with its suffix.
        {"tolerant less", C("t", "c", Less, 2.5, false, true), "(t.c < 2.5)", nullptr},
        {"tolerant greater collated", C("t", "c", Greater, 2.5, true, true), "(t.c > 2.5)",
         "(t.c COLLATE latin1_bin > 2.5)"},
        {"tolerant less no case collated", C("t", "c", LessNoCase, 2.5, true, true),
         "(t.c COLLATE NOCASE < 2.5)", "(t.c < 2.5)"},
        {"tolerant in", C("t", "id", In, Ids{0}, false, true), "(t.id IN (0))", nullptr},
        {"tolerant is null", C("t", "c", IsNull, 0, false, true), "(t.c IS NULL)", nullptr},
    };
    for (const RenderCase& c : cases) {
        const char* expected = isMySql() && c.mysql != nullptr ? c.mysql : c.sqlite;
        EXPECT_EQ(sql(c.condition).toStdString(), expected) << c.tag;
    }
}

TEST_P(QueryConditionTest, FieldsAndDefaults) {
    const C plain("t", "c", Equal, 1);
    EXPECT_FALSE(plain.usesCollation());
    EXPECT_FALSE(plain.usesTolerance());
    EXPECT_EQ(plain.getRelativeTolerance(), 1e-10);
    EXPECT_EQ(plain.getAbsoluteTolerance(), EPS);
    EXPECT_FALSE(plain.isListValue());

    // The form the column catalogs use for notNull().
    const C notNull("measurement_data", "Vd_1", IsNotNull, 0, false, false, 1e-10, 2.220446049250313e-16);
    EXPECT_EQ(notNull.getValue(), QVariant(0));
    EXPECT_EQ(sql(notNull), QStringLiteral("(measurement_data.Vd_1 IS NOT NULL)"));

    C list("t", "id", In, Ids{3, 5});
    EXPECT_TRUE(list.isListValue());
    EXPECT_EQ(list.getValue(), QVariant(QStringLiteral("3, 5")));
    // A value set later is quoted by its own type.
    list.setValue(QStringLiteral("3) OR (1=1"));
    EXPECT_FALSE(list.isListValue());
    EXPECT_EQ(sql(list), QStringLiteral("(t.id IN ('3) OR (1=1'))"));

    list.setTable(QStringLiteral("u"));
    list.setColumn(QStringLiteral("name"));
    list.setComparator(NotEqualNoCase);
    list.setValue(4);
    EXPECT_EQ(list.getTable(), QStringLiteral("u"));
    EXPECT_EQ(list.getColumn(), QStringLiteral("name"));
    EXPECT_EQ(list.getComparator(), NotEqualNoCase);
    EXPECT_EQ(sql(list), QStringLiteral("(u.name <> 4)"));
}

TEST_P(QueryConditionTest, BooleanAndCompoundRendering) {
    const C a("t", "c", Equal, "x");
    const C b("u", "d", Less, 3);
    const C pattern("t", "e", LikeNoCase, "%1%2", true);
    const QString e =
        isMySql() ? QStringLiteral("(t.e LIKE '%1%2')") : QStringLiteral("(t.e COLLATE NOCASE LIKE '%1%2')");
    const DBIF_BooleanQueryCondition yes(true);
    DBIF_BooleanQueryCondition no(false);

    struct Case {
        const char* tag;
        QString rendered;
        QString expected;
    };
    const DBIF_CompoundQueryCondition ab = a && b;
    const std::vector<Case> cases = {
        {"true", sql(yes), "1"},
        {"false", sql(no), "0"},
        {"single && single", sql(a && b), "((t.c = 'x') AND (u.d < 3))"},
        {"single || single", sql(a || b), "((t.c = 'x') OR (u.d < 3))"},
        {"! single", sql(!a), "(NOT (t.c = 'x'))"},
        {"compound && compound", sql(ab && !b), "(((t.c = 'x') AND (u.d < 3)) AND (NOT (u.d < 3)))"},
        {"compound || compound", sql(ab || !a), "(((t.c = 'x') AND (u.d < 3)) OR (NOT (t.c = 'x')))"},
        {"single && compound", sql(b && ab), "((u.d < 3) AND ((t.c = 'x') AND (u.d < 3)))"},
        {"compound && single", sql(ab && b), "(((t.c = 'x') AND (u.d < 3)) AND (u.d < 3))"},
        {"single || compound", sql(b || ab), "((u.d < 3) OR ((t.c = 'x') AND (u.d < 3)))"},
        {"compound || single", sql(ab || a), "(((t.c = 'x') AND (u.d < 3)) OR (t.c = 'x'))"},
        {"! compound", sql(!ab), "(NOT ((t.c = 'x') AND (u.d < 3)))"},
        {"nested", sql(!(a || (b && !a)) && ab),
         "((NOT ((t.c = 'x') OR ((u.d < 3) AND (NOT (t.c = 'x'))))) AND ((t.c = 'x') AND (u.d < 3)))"},
        // A placeholder inside the left operand's text is not filled with the right operand.
        {"placeholders in left operand", sql(pattern && a), QStringLiteral("(%1 AND (t.c = 'x'))").arg(e)},
        {"placeholders in nested operand", sql(!(pattern || b) && a),
         QStringLiteral("((NOT (%1 OR (u.d < 3))) AND (t.c = 'x'))").arg(e)},
        {"boolean operands", sql(DBIF_CompoundQueryCondition(&yes, Or, &no)), "(1 OR 0)"},
        {"not constructor", sql(DBIF_CompoundQueryCondition(Not, &no)), "(NOT 0)"},
        {"operator 3", sql(DBIF_CompoundQueryCondition(&a, Operator(3), &b)), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.rendered.toStdString(), c.expected.toStdString()) << c.tag;

    DBIF_CompoundQueryCondition node(&a, And, &b);
    node.setOp(Or);
    EXPECT_EQ(node.getOp(), Or);
    node.setLeftSide(&yes);
    node.setRightSide(&ab);
    EXPECT_EQ(sql(node), QStringLiteral("(1 OR ((t.c = 'x') AND (u.d < 3)))"));
    // A node's own side given back to it, and a null side.
    node.setLeftSide(node.getRightSide());
    node.setRightSide(nullptr);
    EXPECT_EQ(sql(node), QStringLiteral("(((t.c = 'x') AND (u.d < 3)) OR )"));
    no.setBoolean(true);
    EXPECT_TRUE(no.getBoolean());
    EXPECT_EQ(sql(no), QStringLiteral("1"));
}

TEST_P(QueryConditionTest, CopiesAndClonesShareRecords) {
    C single("t", "c", Equal, 1);
    const C copy = single;  // NOLINT: the copy is the point
    const std::unique_ptr<DBIF_QueryCondition> clone(single.clone());
    const DBIF_CompoundQueryCondition node = single && C("u", "d", IsNull, 0);

    single.setTable(QStringLiteral("t2"));
    single.setValue(QStringLiteral("two"));
    EXPECT_EQ(sql(copy), QStringLiteral("(t2.c = 'two')"));
    EXPECT_EQ(sql(*clone), QStringLiteral("(t2.c = 'two')"));
    EXPECT_EQ(sql(node), QStringLiteral("((t2.c = 'two') AND (u.d IS NULL))"));

    // Changing a node through its copy or clone changes the node; its operands stay shared.
    DBIF_CompoundQueryCondition nodeCopy = node;
    const std::unique_ptr<DBIF_CompoundQueryCondition> nodeClone(node.clone());
    nodeCopy.setOp(Or);
    EXPECT_EQ(sql(*nodeClone), QStringLiteral("((t2.c = 'two') OR (u.d IS NULL))"));
    nodeClone->setRightSide(&single);
    single.setComparator(NotEqual);
    EXPECT_EQ(sql(node), QStringLiteral("((t2.c <> 'two') OR (t2.c <> 'two'))"));

    // Assignment shares too.
    C other("x", "y", Less, 0);
    other = single;
    other.setColumn(QStringLiteral("z"));
    EXPECT_EQ(single.getColumn(), QStringLiteral("z"));

    DBIF_BooleanQueryCondition flag(true);
    const DBIF_BooleanQueryCondition flagCopy = flag;
    const std::unique_ptr<DBIF_QueryCondition> flagClone(flag.clone());
    flag.setBoolean(false);
    EXPECT_FALSE(flagCopy.getBoolean());
    EXPECT_EQ(sql(*flagClone), QStringLiteral("0"));
}

TEST_P(QueryConditionTest, NodeCannotContainItself) {
    const C a("t", "c", Equal, 1);
    DBIF_CompoundQueryCondition node(&a, And, &a);
    const DBIF_CompoundQueryCondition copy = node;
    const DBIF_CompoundQueryCondition wrapper = a || !copy;

    testing::internal::CaptureStderr();
    node.setLeftSide(&node);
    node.setRightSide(&wrapper);
    const std::string output = testing::internal::GetCapturedStderr();
    const QString reports = QString::fromStdString(output);
    EXPECT_EQ(reports.count(QStringLiteral("ASSERTION failed (")), 2) << output;
    EXPECT_EQ(reports.count(QStringLiteral("=> A compound condition cannot contain itself\n")), 2) << output;
    EXPECT_EQ(sql(node), QStringLiteral("((t.c = 1) AND (t.c = 1))"));
}

TEST_P(QueryConditionTest, TableAndColumnReports) {
    const C tc("t", "c", Equal, 1);
    const C ud("u", "d", Equal, 1);
    const C te("t", "e", IsNull, 0);
    const C upper("T", "f", IsNull, 0);
    const DBIF_BooleanQueryCondition constant(true);
    const DBIF_CompoundQueryCondition withConstant(&constant, And, &ud);
    const DBIF_CompoundQueryCondition tree = ((te && ud) || !(tc && upper)) && (withConstant || tc);

    QSet<QString> tables{QStringLiteral("already")};
    tree.addTableToSet(tables);
    EXPECT_EQ(tables, (QSet<QString>{"already", "t", "u", "T"}));

    DBIF_UniqueStringList columns(QStringList{"z", "c"});
    tree.columnSetFor(QStringLiteral("t"), columns);
    EXPECT_EQ(columns, (QStringList{"z", "c", "e"}));
    DBIF_UniqueStringList uColumns;
    tree.columnSetFor(QStringLiteral("u"), uColumns);
    EXPECT_EQ(uColumns, (QStringList{"d"}));
    DBIF_UniqueStringList none;
    tree.columnSetFor(QStringLiteral("x"), none);
    EXPECT_TRUE(none.isEmpty());

    // A Not node (null left side) and a constant report only what their operands name.
    QSet<QString> notTables;
    (!te).addTableToSet(notTables);
    constant.addTableToSet(notTables);
    EXPECT_EQ(notTables, (QSet<QString>{"t"}));
    DBIF_UniqueStringList constantColumns;
    constant.columnSetFor(QString(), constantColumns);
    EXPECT_TRUE(constantColumns.isEmpty());
}

TEST_P(QueryConditionTest, HostileTextsMatchExactly) {
    createTable();
    // The stored text with one backslash, and not the one with two.
    EXPECT_EQ(idsWhere(C("t", "name", Equal, HOSTILE)), Ids{1});
    EXPECT_EQ(idsWhere(C("t", "name", Equal, HOSTILE, true)), Ids{1});
    EXPECT_EQ(idsWhere(C("t", "name", EqualNoCase, HOSTILE, true)), Ids{1});
    EXPECT_EQ(idsWhere(C("t", "name", Equal, QStringLiteral("it's a\\\\b %1 %2"))), Ids{2});
    EXPECT_EQ(idsWhere(C("t", "name", NotEqual, HOSTILE)), (Ids{2, 3, 4, 5}));
    // Texts that would end their literal early select nothing instead of everything.
    EXPECT_EQ(idsWhere(C("t", "name", Equal, "x' OR '1'='1")), Ids{});
    EXPECT_EQ(idsWhere(C("t", "name", Equal, "\\' OR 1=1 -- ")), Ids{});
    // The same text inside compound nodes, left of the operand that a late fill would take for "%2".
    const C tolerant("t", "v", GreaterOrEqual, 0, false, true);
    EXPECT_EQ(idsWhere(C("t", "name", Equal, HOSTILE) && tolerant), Ids{1});
    EXPECT_EQ(idsWhere(!(C("t", "name", Equal, HOSTILE) && tolerant)), (Ids{2, 3, 4, 5}));
    EXPECT_EQ(idsWhere(C("t", "name", Equal, HOSTILE) || C("t", "name", EqualNoCase, "ABC", true)),
              (Ids{1, 3, 4}));
}

TEST_P(QueryConditionTest, CaseRulesPerDriver) {
    createTable();
    // Collated case-sensitive forms respect case on both drivers; collated NoCase forms ignore it.
    EXPECT_EQ(idsWhere(C("t", "name", Equal, "abc", true)), Ids{3});
    EXPECT_EQ(idsWhere(C("t", "name", EqualNoCase, "abc", true)), (Ids{3, 4}));
    EXPECT_EQ(idsWhere(C("t", "name", Less, "ABD", true)), Ids{4});
    EXPECT_EQ(idsWhere(C("t", "name", LessNoCase, "ABD", true)), (Ids{3, 4}));
    EXPECT_EQ(idsWhere(C("t", "name", LikeNoCase, "ab%", true)), (Ids{3, 4, 5}));
    EXPECT_EQ(idsWhere(C("t", "name", NotEqualNoCase, "ABC", true)), (Ids{1, 2, 5}));
    // Without collation each database applies its own default: latin1 on MySQL ignores case,
    // SQLite compares binary; SQLite's LIKE ignores ASCII case whatever the collation.
    const Ids plainEqual = isMySql() ? Ids{3, 4} : Ids{3};
    EXPECT_EQ(idsWhere(C("t", "name", Equal, "abc")), plainEqual);
    EXPECT_EQ(idsWhere(C("t", "name", EqualNoCase, "abc")), plainEqual);
    EXPECT_EQ(idsWhere(C("t", "name", Like, "ab%", true)), isMySql() ? (Ids{3, 5}) : (Ids{3, 4, 5}));
}

TEST_P(QueryConditionTest, ToleranceIdsNullsAndConstantsExecute) {
    createTable();
    // v: 1 -> 2.5000000000001, 2 -> 2.6, 3 -> 0, 4 -> 1e-17, 5 -> -3, 6 -> NULL.
    EXPECT_EQ(idsWhere(C("t", "v", Equal, 2.5)), Ids{});
    EXPECT_EQ(idsWhere(C("t", "v", Equal, 2.5, false, true)), Ids{1});
    EXPECT_EQ(idsWhere(C("t", "v", EqualNoCase, 2.5, true, true)), Ids{1});
    EXPECT_EQ(idsWhere(C("t", "v", NotEqual, 2.5, false, true)), (Ids{2, 3, 4, 5}));
    EXPECT_EQ(idsWhere(C("t", "v", LessOrEqual, 2.5, false, true)), (Ids{1, 3, 4, 5}));
    EXPECT_EQ(idsWhere(C("t", "v", GreaterOrEqual, 2.5, false, true)), (Ids{1, 2}));
    EXPECT_EQ(idsWhere(C("t", "v", Equal, 2.5, false, true, 1e-15)), Ids{});
    EXPECT_EQ(idsWhere(C("t", "v", Equal, 0, false, true)), (Ids{3, 4}));
    EXPECT_EQ(idsWhere(C("t", "v", Equal, 0, false, true, 1e-10, 1e-20)), Ids{3});
    EXPECT_EQ(idsWhere(C("t", "v", NotEqual, 0.0, false, true)), (Ids{1, 2, 5}));
    EXPECT_EQ(idsWhere(C("t", "v", LessOrEqual, 0, false, true)), (Ids{3, 4, 5}));
    EXPECT_EQ(idsWhere(C("t", "v", GreaterOrEqual, 0, false, true)), (Ids{1, 2, 3, 4}));

    EXPECT_EQ(idsWhere(C("t", "id", In, Ids{1, 3, 9})), (Ids{1, 3}));
    EXPECT_EQ(idsWhere(C("t", "id", NotIn, Ids{1, 3})), (Ids{2, 4, 5, 6}));
    EXPECT_EQ(idsWhere(C("t", "name", IsNull, 0)), Ids{6});
    EXPECT_EQ(idsWhere(C("t", "name", IsNotNull, 0, true)), (Ids{1, 2, 3, 4, 5}));
    EXPECT_EQ(idsWhere(DBIF_BooleanQueryCondition(true)), (Ids{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(idsWhere(DBIF_BooleanQueryCondition(false)), Ids{});
}

}  // namespace

DBIF_DATABASE_TEST_SUITE(QueryConditionTest);
