// Tests of the query condition family and DBIF_UniqueStringList: the exact SQL text of every
// comparator, collation and tolerance form on each driver, compound nodes and the operators that
// build them, sharing of records through copies and clones, table and column reports, and the
// conditions executed against a real table (hostile texts, case rules, tolerances) on both drivers.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QVariant>
#include <memory>
#include <string>
#include <vector>

#include "CapturedStderr.h"
#include "DatabaseTest.h"
#include "dbif/DBIF_BooleanQueryCondition.h"
#include "dbif/DBIF_CompoundQueryCondition.h"
#include "dbif/DBIF_SingleColumnCondition.h"
#include "dbif/DBIF_UniqueStringList.h"

namespace {

using Ids = QList<int>;
using C = DBIF_SingleColumnCondition;

// A text with everything that could end a literal or be read as a placeholder.
const QString HOSTILE = QStringLiteral("it's a\\b %1 %2");

class QueryConditionTest : public DatabaseTest {
protected:
    std::string sql(const DBIF_QueryCondition& condition) {
        return condition.generateSelectionCriteria(connection()).toStdString();
    }

    // t: id, name (latin1 on MySQL, as the test database is), v. Names are bound, not quoted, so
    // they are stored exactly.
    void createTable() {
        exec(QStringLiteral("CREATE TABLE t (id INT, name VARCHAR(100), v DOUBLE)"));
        const auto row = [&](int id, const QString& name, double v) {
            connection().preparedQuery(
                QStringLiteral("INSERT INTO t (id, name, v) VALUES (%1, ?, %2)").arg(id).arg(v, 0, 'g', 17),
                DBIF_INSERT_TIMING, name, __FILE__, __LINE__);
        };
        row(1, HOSTILE, 2.5000000000001);
        row(2, QStringLiteral("it's a\\\\b %1 %2"), 2.6);  // two backslashes
        row(3, QStringLiteral("abc"), 0.0);
        row(4, QStringLiteral("ABC"), 1e-17);
        row(5, QStringLiteral("abd"), -3.0);
        exec(QStringLiteral("INSERT INTO t (id, name, v) VALUES (6, NULL, NULL)"));
    }

    Ids idsWhere(const DBIF_QueryCondition& condition) {
        return ids(QStringLiteral("SELECT id FROM t WHERE %1 ORDER BY id")
                       .arg(QString::fromStdString(sql(condition))));
    }
};

TEST_P(QueryConditionTest, EveryComparatorWithAndWithoutCollation) {
    // By comparator value; %1 is the suffix. Collated, 0 to 10 carry MySQL's case-sensitive suffix
    // and their NoCase twins 11 to 19 SQLite's case-insensitive one.
    const char* const forms[] = {
        "(t.c%1 = 'a')",    "(t.c%1 <> 'a')",       "(t.c%1 < 'a')",        "(t.c%1 <= 'a')",
        "(t.c%1 > 'a')",    "(t.c%1 >= 'a')",       "(t.c%1 IS NOT NULL)",  "(t.c%1 IS NULL)",
        "(t.c%1 IN ('a'))", "(t.c%1 NOT IN ('a'))", "(t.c%1 LIKE 'a')",     "(t.c%1 = 'a')",
        "(t.c%1 <> 'a')",   "(t.c%1 < 'a')",        "(t.c%1 <= 'a')",       "(t.c%1 > 'a')",
        "(t.c%1 >= 'a')",   "(t.c%1 IN ('a'))",     "(t.c%1 NOT IN ('a'))", "(t.c%1 LIKE 'a')"};
    const QString sensitive = isMySql() ? QStringLiteral(" COLLATE latin1_bin") : QString();
    const QString insensitive = isMySql() ? QString() : QStringLiteral(" COLLATE NOCASE");
    for (int comparator = 0; comparator < 20; ++comparator) {
        const QString form = QString::fromLatin1(forms[comparator]);
        const C collated("t", "c", Comparator(comparator), "a", true);
        EXPECT_EQ(sql(collated), form.arg(comparator < 11 ? sensitive : insensitive).toStdString())
            << comparator;
        EXPECT_EQ(sql(C("t", "c", Comparator(comparator), "a")), form.arg("").toStdString()) << comparator;
    }
    for (int outside : {20, 1000, -1})
        EXPECT_EQ(sql(C("t", "c", Comparator(outside), 1, true)), "") << outside;
}

TEST_P(QueryConditionTest, ValuesAndColumnReferences) {
    struct Case {
        const char* tag;
        C condition;
        const char* sqlite;
        const char* mysql;  // nullptr: the same text as on SQLite
    };
    const std::vector<Case> cases = {
        {"in ids", C("t", "id", In, Ids{3, 5, 8}), "(t.id IN (3, 5, 8))", nullptr},
        {"in no ids", C("t", "id", In, Ids{}), "(t.id IN ())", nullptr},
        {"in text is quoted", C("t", "id", In, QStringLiteral("3, 5")), "(t.id IN ('3, 5'))", nullptr},
        {"variant text", C("t", "c", Equal, QVariant(QStringLiteral("7"))), "(t.c = '7')", nullptr},
        // Date-times are written as the Conventions write them; byte arrays are quoted like texts.
        {"typed date", C("t", "d", Greater, QVariant(QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7)))),
         "(t.d > '2021-03-04 05:06:07')", nullptr},
        {"bytes", C("t", "c", Equal, QVariant(QByteArray("x' OR \\"))), "(t.c = 'x'' OR \\')", nullptr},
        {"column with blank", C("my_table", "my col", Equal, 1), "(my_table.\"my col\" = 1)", nullptr},
        {"column with dash", C("t", "Vd-1", Equal, "x", true), "(t.\"Vd-1\" = 'x')",
         "(t.\"Vd-1\" COLLATE latin1_bin = 'x')"},
        {"key column", C("measurement_data", "Vd_3_DB", IsNotNull, 0),
         "(measurement_data.Vd_3_DB IS NOT NULL)", nullptr},
        // Texts can never end their literal; placeholders inside values stay text.
        {"quote", C("t", "c", Equal, "x' OR '1'='1"), "(t.c = 'x'' OR ''1''=''1')", nullptr},
        {"backslash", C("t", "c", Equal, "a\\b"), "(t.c = 'a\\b')", nullptr},
        {"placeholders in value", C("t", "c", Equal, "%1%2%3", true), "(t.c = '%1%2%3')",
         "(t.c COLLATE latin1_bin = '%1%2%3')"},
        {"placeholders in column", C("t", "%2 %3", Like, "%1", true), "(t.\"%2 %3\" LIKE '%1')",
         "(t.\"%2 %3\" COLLATE latin1_bin LIKE '%1')"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sql(c.condition), isMySql() && c.mysql ? c.mysql : c.sqlite) << c.tag;

    // A value set later is quoted by its own type, even on a condition built from ids.
    C list("t", "id", In, Ids{3, 5});
    EXPECT_TRUE(list.isListValue());
    list.setValue(QStringLiteral("3) OR (1=1"));
    EXPECT_EQ(sql(list), "(t.id IN ('3) OR (1=1'))");
}

TEST_P(QueryConditionTest, ToleranceForms) {
    // Relative for a non-zero value, absolute for zero; the NoCase twin renders the same; never a suffix.
    struct Form {
        Comparator plain, noCase;
        const char* relative;
        const char* absolute;
    };
    const Form forms[] = {
        {Equal, EqualNoCase, "(ABS((t.c-(2.5))/2.5)<1e-10)", "(ABS(t.c)<2.22045e-16)"},
        {NotEqual, NotEqualNoCase, "(ABS((t.c-(2.5))/2.5)>=1e-10)", "(ABS(t.c)>=2.22045e-16)"},
        {LessOrEqual, LessOrEqualNoCase, "((t.c < 2.5) OR (ABS((t.c-(2.5))/2.5)<1e-10))",
         "(t.c < 2.22045e-16)"},
        {GreaterOrEqual, GreaterOrEqualNoCase, "((t.c > 2.5) OR (ABS((t.c-(2.5))/2.5)<1e-10))",
         "(t.c > -(2.22045e-16))"},
    };
    for (const Form& f : forms) {
        for (Comparator comparator : {f.plain, f.noCase}) {
            EXPECT_EQ(sql(C("t", "c", comparator, 2.5, true, true)), f.relative) << comparator;
            EXPECT_EQ(sql(C("t", "c", comparator, 0.0, true, true)), f.absolute) << comparator;
        }
    }
    EXPECT_EQ(sql(C("t", "c", LessOrEqual, -2.5, false, true)),
              "((t.c < -2.5) OR (ABS((t.c-(-2.5))/-2.5)<1e-10))");
    // An integer value divides as a real: SQLite's integer division made ids 1 to 5 "equal" to 3.
    EXPECT_EQ(sql(C("t", "c", Equal, 3, false, true, -1e-6, -1e-9)), "(ABS((t.c-(3))/3.0)<1e-06)");
    createTable();
    EXPECT_EQ(idsWhere(C("t", "id", Equal, 3, false, true)), Ids({3}));
    EXPECT_EQ(idsWhere(C("t", "id", Equal, QVariant(3.0), false, true)), Ids({3}));
    EXPECT_EQ(sql(C("t", "c", Equal, 0, false, true, -1e-6, -1e-9)), "(ABS(t.c)<1e-09)");
    EXPECT_EQ(sql(C("t", "c", Equal, "abc", false, true)), "(ABS(t.c)<2.22045e-16)");
    // Comparators without a tolerance form fall through to the plain form, with its suffix.
    EXPECT_EQ(sql(C("t", "c", Greater, 2.5, true, true)),
              isMySql() ? "(t.c COLLATE latin1_bin > 2.5)" : "(t.c > 2.5)");
    EXPECT_EQ(sql(C("t", "c", LessNoCase, 2.5, true, true)),
              isMySql() ? "(t.c < 2.5)" : "(t.c COLLATE NOCASE < 2.5)");
}

TEST_P(QueryConditionTest, BooleanAndCompoundRendering) {
    const C a("t", "c", Equal, "x");
    const C b("u", "d", Less, 3);
    const DBIF_CompoundQueryCondition ab = a && b;
    const C pattern("t", "e", LikeNoCase, "%1%2", true);
    const std::string e = isMySql() ? "(t.e LIKE '%1%2')" : "(t.e COLLATE NOCASE LIKE '%1%2')";
    const DBIF_BooleanQueryCondition yes(true);
    DBIF_BooleanQueryCondition no(false);
    const std::string AB = "((t.c = 'x') AND (u.d < 3))";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {sql(yes), "1"},
        {sql(no), "0"},
        {sql(a && b), AB},
        {sql(a || b), "((t.c = 'x') OR (u.d < 3))"},
        {sql(!a), "(NOT (t.c = 'x'))"},
        {sql(!ab), "(NOT " + AB + ")"},
        {sql(ab && !b), "(" + AB + " AND (NOT (u.d < 3)))"},
        {sql(ab || !a), "(" + AB + " OR (NOT (t.c = 'x')))"},
        {sql(b && ab), "((u.d < 3) AND " + AB + ")"},
        {sql(ab && b), "(" + AB + " AND (u.d < 3))"},
        {sql(b || ab), "((u.d < 3) OR " + AB + ")"},
        {sql(ab || a), "(" + AB + " OR (t.c = 'x'))"},
        // A placeholder inside the left operand's text is not filled with the right operand.
        {sql(!(pattern || b) && a), "((NOT (" + e + " OR (u.d < 3))) AND (t.c = 'x'))"},
        {sql(DBIF_CompoundQueryCondition(&yes, Or, &no)), "(1 OR 0)"},
        {sql(DBIF_CompoundQueryCondition(Not, &no)), "(NOT 0)"},
        {sql(DBIF_CompoundQueryCondition(&a, Operator(3), &b)), ""},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i;

    DBIF_CompoundQueryCondition node(&a, And, &b);
    node.setOp(Or);
    node.setLeftSide(&yes);
    node.setRightSide(&ab);
    EXPECT_EQ(sql(node), "(1 OR " + AB + ")");
    // A node's own side given back to it, and a null side.
    node.setLeftSide(node.getRightSide());
    node.setRightSide(nullptr);
    EXPECT_EQ(sql(node), "(" + AB + " OR )");
    no.setBoolean(true);
    EXPECT_EQ(sql(no), "1");
}

TEST_P(QueryConditionTest, CopiesAndClonesShareRecords) {
    C single("t", "c", Equal, 1);
    const C copy = single;  // NOLINT: the copy is the point
    const std::unique_ptr<DBIF_QueryCondition> clone(single.clone());
    const DBIF_CompoundQueryCondition node = single && C("u", "d", IsNull, 0);
    single.setTable(QStringLiteral("t2"));
    single.setValue(QStringLiteral("two"));
    EXPECT_EQ(sql(copy), "(t2.c = 'two')");
    EXPECT_EQ(sql(*clone), "(t2.c = 'two')");
    EXPECT_EQ(sql(node), "((t2.c = 'two') AND (u.d IS NULL))");

    // Changing a node through its copy or clone changes the node; its operands stay shared.
    DBIF_CompoundQueryCondition nodeCopy = node;
    const std::unique_ptr<DBIF_CompoundQueryCondition> nodeClone(node.clone());
    nodeCopy.setOp(Or);
    nodeClone->setRightSide(&single);
    single.setComparator(NotEqual);
    EXPECT_EQ(sql(node), "((t2.c <> 'two') OR (t2.c <> 'two'))");

    C other("x", "y", Less, 0);
    other = single;
    other.setColumn(QStringLiteral("z"));
    EXPECT_EQ(single.getColumn(), "z");
    DBIF_BooleanQueryCondition flag(true);
    const std::unique_ptr<DBIF_QueryCondition> flagClone(flag.clone());
    flag.setBoolean(false);
    EXPECT_EQ(sql(*flagClone), "0");

    // A node cannot be made to contain itself, directly or through a copy.
    DBIF_CompoundQueryCondition self(&single, And, &single);
    const DBIF_CompoundQueryCondition wrapper = single || !DBIF_CompoundQueryCondition(self);
    const Reports reports = reportsOf([&] {
        self.setLeftSide(&self);
        self.setRightSide(&wrapper);
    });
    EXPECT_EQ(reports, Reports(2, "A compound condition cannot contain itself"));
    EXPECT_EQ(sql(self), "((t2.z <> 'two') AND (t2.z <> 'two'))");
}

TEST_P(QueryConditionTest, TableAndColumnReports) {
    const C tc("t", "c", Equal, 1), ud("u", "d", Equal, 1), te("t", "e", IsNull, 0),
        upper("T", "f", IsNull, 0);
    const DBIF_BooleanQueryCondition constant(true);
    const DBIF_CompoundQueryCondition withConstant(&constant, And, &ud);
    const DBIF_CompoundQueryCondition tree = ((te && ud) || !(tc && upper)) && (withConstant || tc);

    QSet<QString> tables{QStringLiteral("already")};
    tree.addTableToSet(tables);
    EXPECT_EQ(tables, (QSet<QString>{"already", "t", "u", "T"}));
    DBIF_UniqueStringList columns(QStringList{"z", "c"});
    tree.columnSetFor(QStringLiteral("t"), columns);
    EXPECT_EQ(columns, (QStringList{"z", "c", "e"}));
    DBIF_UniqueStringList none;
    tree.columnSetFor(QStringLiteral("x"), none);
    constant.columnSetFor(QString(), none);
    EXPECT_TRUE(none.isEmpty());
    // A Not node (null left side) and a constant report only what their operands name.
    QSet<QString> notTables;
    (!te).addTableToSet(notTables);
    constant.addTableToSet(notTables);
    EXPECT_EQ(notTables, (QSet<QString>{"t"}));
}

TEST(UniqueStringList, AppendsSkipPresentStringsAndContainsAll) {
    DBIF_UniqueStringList list(QStringList{"b", "a", "b", "A"});
    list << QStringLiteral("c") << QStringLiteral("b") << QStringList{"d", "c", "a", "d"};
    list.append(QStringLiteral("A"));
    list << list;
    EXPECT_EQ(list, (QStringList{"b", "a", "A", "c", "d"}));

    EXPECT_TRUE(list.containsAll(DBIF_UniqueStringList()));
    EXPECT_TRUE(list.containsAll(DBIF_UniqueStringList(QStringList{"A", "d"})));
    EXPECT_FALSE(list.containsAll(DBIF_UniqueStringList(QStringList{"a", "B"})));
    EXPECT_FALSE(DBIF_UniqueStringList().containsAll(DBIF_UniqueStringList(QStringList{"a"})));
}

TEST_P(QueryConditionTest, ConditionsSelectTheRightRows) {
    createTable();
    // Hostile texts match exactly the stored text with one backslash and never end their literal,
    // also left of an operand that a late placeholder fill would take for "%2".
    EXPECT_EQ(idsWhere(C("t", "name", Equal, HOSTILE)), Ids{1});
    EXPECT_EQ(idsWhere(C("t", "name", EqualNoCase, HOSTILE, true)), Ids{1});
    EXPECT_EQ(idsWhere(C("t", "name", Equal, QStringLiteral("it's a\\\\b %1 %2"))), Ids{2});
    EXPECT_EQ(idsWhere(C("t", "name", Equal, "x' OR '1'='1")), Ids{});
    EXPECT_EQ(idsWhere(C("t", "name", Equal, "\\' OR 1=1 -- ")), Ids{});
    EXPECT_EQ(idsWhere(C("t", "name", Equal, HOSTILE) && C("t", "v", GreaterOrEqual, 0, false, true)),
              Ids{1});

    // Collated case-sensitive forms respect case on both drivers; collated NoCase forms ignore it.
    // Without collation each database applies its own default: latin1 on MySQL ignores case,
    // SQLite compares binary; SQLite's LIKE ignores ASCII case whatever the collation.
    EXPECT_EQ(idsWhere(C("t", "name", Equal, "abc", true)), Ids{3});
    EXPECT_EQ(idsWhere(C("t", "name", EqualNoCase, "abc", true)), (Ids{3, 4}));
    EXPECT_EQ(idsWhere(C("t", "name", LikeNoCase, "ab%", true)), (Ids{3, 4, 5}));
    EXPECT_EQ(idsWhere(C("t", "name", Equal, "abc")), isMySql() ? (Ids{3, 4}) : Ids{3});
    EXPECT_EQ(idsWhere(C("t", "name", Like, "ab%", true)), isMySql() ? (Ids{3, 5}) : (Ids{3, 4, 5}));

    // v: 1 -> 2.5000000000001, 2 -> 2.6, 3 -> 0, 4 -> 1e-17, 5 -> -3, 6 -> NULL.
    EXPECT_EQ(idsWhere(C("t", "v", Equal, 2.5)), Ids{});
    EXPECT_EQ(idsWhere(C("t", "v", Equal, 2.5, false, true)), Ids{1});
    EXPECT_EQ(idsWhere(C("t", "v", Equal, 2.5, false, true, 1e-15)), Ids{});
    EXPECT_EQ(idsWhere(C("t", "v", LessOrEqual, 2.5, false, true)), (Ids{1, 3, 4, 5}));
    EXPECT_EQ(idsWhere(C("t", "v", GreaterOrEqual, 2.5, false, true)), (Ids{1, 2}));
    EXPECT_EQ(idsWhere(C("t", "v", Equal, 0, false, true)), (Ids{3, 4}));
    EXPECT_EQ(idsWhere(C("t", "v", Equal, 0, false, true, 1e-10, 1e-20)), Ids{3});
    EXPECT_EQ(idsWhere(C("t", "v", GreaterOrEqual, 0, false, true)), (Ids{1, 2, 3, 4}));

    EXPECT_EQ(idsWhere(C("t", "name", Equal, QVariant(QByteArray("x' OR '1'='1")))), Ids{});
    EXPECT_EQ(idsWhere(C("t", "name", Equal, QVariant(HOSTILE.toUtf8()))), Ids{1});

    // Runs started after a date: the date-time compares as "yyyy-MM-dd hh:mm:ss" on both drivers.
    exec(QStringLiteral("CREATE TABLE runs (id INT, started DATETIME)"));
    exec(QStringLiteral("INSERT INTO runs VALUES (1, '2021-03-04 05:06:07'), (2, '2021-03-05 00:00:00')"));
    const C since("runs", "started", GreaterOrEqual, QVariant(QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7))));
    EXPECT_EQ(ids("SELECT id FROM runs WHERE " + QString::fromStdString(sql(since)) + " ORDER BY id"),
              (Ids{1, 2}));
    EXPECT_EQ(idsWhere(C("t", "id", In, Ids{1, 3, 9})), (Ids{1, 3}));
    EXPECT_EQ(idsWhere(C("t", "name", IsNotNull, 0, true)), (Ids{1, 2, 3, 4, 5}));
    EXPECT_EQ(idsWhere(DBIF_BooleanQueryCondition(false)), Ids{});
}

}  // namespace

DBIF_DATABASE_TEST_SUITE(QueryConditionTest);
