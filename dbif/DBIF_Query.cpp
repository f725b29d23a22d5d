// DBIF_Query.cpp: building the query record, rendering its SELECT and count statements clause by
// clause, and the free functions that run a query for ids or values.
#include "dbif/DBIF_Query.h"

#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <iostream>

#include "dbif/DBIF_DataType.h"
#include "dbif/DBIF_NullQueryJoinAlgorithm.h"
#include "dbif/DBIF_Utilities.h"

namespace {

const QString NO_CONDITION = QStringLiteral("No condition specified in query");

// Fixed report locations that hosts match on (file of the class, line); the other
// reports name this file through __FILE__.
const char* const QUERY_FILE = "dbif/DBIF_Query";
const char* const OBJECT_CACHE_FILE = "dbif/DBIF_ObjectCache";
const int NO_CONDITION_SELECT_LINE = 56;
const int NO_CONDITION_COUNT_LINE = 75;
const int NO_COLUMNS_LINE = 179;
const int QUERY_IDS_LINE = 40;
const int QUERY_VALUES_LINE = 68;
const int QUERY_ROWS_LINE = 85;

// %1 distinct, %2 columns, %3 tables, %4 joins, %5 condition, %6 group by, %7 order, %8 limit.
const char* const SELECT_TEMPLATE = "SELECT %1%2\nFROM\n%3\nWHERE %4  %5%6%7%8";
const char* const COUNT_TEMPLATE =
    "SELECT count(*)\nFROM\n(\nSELECT %1%2\nFROM\n%3\nWHERE %4  %5%6%7%8\n) x\n";

}  // namespace

DBIF_Query::Column::Column(const QString& table, const QString& column, bool orderOnly)
    : table(table), column(column), orderOnly(orderOnly) {}

QString DBIF_Query::Column::alias() const {
    if (column == QLatin1String("*"))
        return QString();
    static const QRegularExpression notInTableAlias(QStringLiteral("[^a-zA-Z_]"));
    static const QRegularExpression notInColumnAlias(QStringLiteral("[^a-zA-Z0-9_]"));
    return QStringLiteral("%1_%2").arg(QString(table).remove(notInTableAlias),
                                       QString(column).remove(notInColumnAlias));
}

DBIF_Query::Order::Order(const QString& table, const QString& column, bool ascending)
    : table(table), column(column), direction(ascending ? QStringLiteral("ASC") : QStringLiteral("DESC")) {}

DBIF_Query::Join::Join(const QString& firstTable, const QString& firstColumn, const QString& secondTable,
                       const QString& secondColumn)
    : firstTable(firstTable),
      firstColumn(firstColumn),
      secondTable(secondTable),
      secondColumn(secondColumn) {}

QString DBIF_Query::Join::toSql() const {
    return QStringLiteral("(%1.%2 = %3.%4)").arg(firstTable, firstColumn, secondTable, secondColumn);
}

size_t qHash(const DBIF_Query::Join& join, size_t seed) {
    return qHash(join.firstTable, seed) ^ qHash(join.firstColumn, seed) ^ qHash(join.secondTable, seed) ^
           qHash(join.secondColumn, seed);
}

DBIF_Query::SharedData::SharedData(const DBIF_Connection& connection)
    : connection(connection), joinAlgorithm(getNullQueryJoinAlgorithm()) {}

DBIF_Query::SharedData::~SharedData() = default;

DBIF_QueryJoinAlgorithm* DBIF_Query::SharedData::getNullQueryJoinAlgorithm() {
    // Never freed: queries may still point at it while statics are torn down at exit.
    static DBIF_QueryJoinAlgorithm* const algorithm = new DBIF_NullQueryJoinAlgorithm;
    return algorithm;
}

DBIF_Query::DBIF_Query() = default;

DBIF_Query::DBIF_Query(const DBIF_Connection& connection) : d(new SharedData(connection)) {}

DBIF_Query::DBIF_Query(const DBIF_Query& other) = default;

DBIF_Query& DBIF_Query::operator=(const DBIF_Query& other) = default;

DBIF_Query::~DBIF_Query() = default;

DBIF_Query::Column DBIF_Query::addColumn(const QString& table, const QString& column, bool orderOnly) {
    const Column added(table, column, orderOnly);
    const qsizetype present = d->columns.indexOf(added);
    if (present >= 0)
        return d->columns.at(present);
    d->columns.append(added);
    return added;
}

DBIF_Query::Column DBIF_Query::addColumnAt(const QString& table, const QString& column, int position) {
    const Column added(table, column);
    const qsizetype present = d->columns.indexOf(added);
    if (present >= 0)
        return d->columns.at(present);
    d->columns.insert(std::clamp<qsizetype>(position, 0, d->columns.size()), added);
    return added;
}

void DBIF_Query::addOrder(const QString& table, const QString& column, bool ascending) {
    addOrders({Order(table, column, ascending)});
}

void DBIF_Query::addOrders(const QList<Order>& orders) {
    for (const Order& order : orders) {
        if (d->orders.contains(order))
            continue;
        d->orders.append(order);
        addColumn(order.table, order.column, true);
    }
}

void DBIF_Query::addTable(const QString& table) {
    d->tables.insert(table);
    if (!d->preprocessing)
        d->ownTables.insert(table);
}

void DBIF_Query::addJoin(const QString& firstTable, const QString& firstColumn, const QString& secondTable,
                         const QString& secondColumn) {
    const Join join(firstTable, firstColumn, secondTable, secondColumn);
    if (!d->joins.contains(join))
        d->joins.append(join);
    if (!d->preprocessing && !d->ownJoins.contains(join))
        d->ownJoins.append(join);
}

void DBIF_Query::setCondition(const DBIF_QueryCondition* condition) {
    // Clone before dropping the present one: the argument may be the query's own condition.
    d->condition.reset(condition ? condition->clone() : nullptr);
}

void DBIF_Query::setCondition(const DBIF_SingleColumnCondition& condition) {
    setCondition(static_cast<const DBIF_QueryCondition*>(&condition));
}

void DBIF_Query::setCondition(const DBIF_CompoundQueryCondition& condition) {
    setCondition(static_cast<const DBIF_QueryCondition*>(&condition));
}

void DBIF_Query::setCondition(const QString& table, const QString& column, Comparator comparator,
                              double value, bool useCollation) {
    setCondition(DBIF_SingleColumnCondition(table, column, comparator, value, useCollation, false));
}

void DBIF_Query::setJoinAlgorithm(DBIF_QueryJoinAlgorithm* algorithm) {
    d->joinAlgorithm = algorithm ? algorithm : SharedData::getNullQueryJoinAlgorithm();
}

void DBIF_Query::reset() {
    d->distinct = false;
    d->columns.clear();
    d->tables.clear();
    d->joins.clear();
    d->ownTables.clear();
    d->ownJoins.clear();
    d->orders.clear();
    d->condition.reset();
    d->latestOnly = false;
}

bool DBIF_Query::containsTable(const QString& table) {
    prepare();
    return d->tables.contains(table);
}

DBIF_UniqueStringList DBIF_Query::columnSetFor(const QString& table) const {
    DBIF_UniqueStringList columns;
    for (const Column& column : std::as_const(d->columns)) {
        if (column.table == table)
            columns << column.column;
    }
    // Without a condition only the selected columns count; the missing condition is reported when
    // the query is rendered.
    if (d->condition)
        d->condition->columnSetFor(table, columns);
    columns.removeAll(QStringLiteral("*"));
    return columns;
}

QStringList DBIF_Query::getColumnNames() const {
    QStringList names;
    names.reserve(d->columns.size());
    for (const Column& column : std::as_const(d->columns))
        names.append(column.column);
    return names;
}

QStringList DBIF_Query::realColumns() const {
    QStringList aliases;
    for (const Order& order : std::as_const(d->orders)) {
        const qsizetype position = d->columns.indexOf(Column(order.table, order.column));
        if (position >= 0 && !d->columns.at(position).orderOnly)
            aliases.append(d->columns.at(position).alias());
    }
    return aliases;
}

void DBIF_Query::collectTables() {
    if (d->condition)
        d->condition->addTableToSet(d->tables);
    for (const Column& column : std::as_const(d->columns))
        d->tables.insert(column.table);
}

void DBIF_Query::preprocessQuery() {
    collectTables();
    d->joinAlgorithm->computeJoins(*this);
}

void DBIF_Query::prepare() {
    d->tables = d->ownTables;
    d->joins = d->ownJoins;
    d->preprocessing = true;
    // Cleared also when the join algorithm throws.
    struct Done {
        SharedData& record;
        ~Done() { record.preprocessing = false; }
    } done{*d};
    preprocessQuery();
}

QString DBIF_Query::generateSql(bool withOrder) {
    assert0(d->condition != nullptr, QUERY_FILE, NO_CONDITION_SELECT_LINE, NO_CONDITION);
    prepare();
    return renderStatement(QLatin1String(SELECT_TEMPLATE), withOrder ? generateOrder() : QString());
}

QString DBIF_Query::generateCountSql() {
    assert0(d->condition != nullptr, QUERY_FILE, NO_CONDITION_COUNT_LINE, NO_CONDITION);
    prepare();
    return renderStatement(QLatin1String(COUNT_TEMPLATE), QString());
}

QString DBIF_Query::generateOrder() const {
    if (d->orders.isEmpty())
        return QString();
    QStringList keys;
    for (const Order& order : std::as_const(d->orders)) {
        const qsizetype position = d->columns.indexOf(Column(order.table, order.column)) + 1;
        keys.append(QStringLiteral("%1 %2").arg(position).arg(order.direction));
    }
    return QStringLiteral("\nORDER BY\n  %1").arg(keys.join(QStringLiteral(",\n  ")));
}

QString DBIF_Query::generateLimit() const {
    return d->limit < 1 ? QString() : QStringLiteral(" LIMIT %1").arg(d->limit);
}

QString DBIF_Query::renderStatement(const QString& format, const QString& orderClause) const {
    const QString limit = generateLimit();
    // The template keeps a slot for a GROUP BY clause; no query groups its rows.
    const QString groupBy;
    const QString criteria =
        d->condition ? d->condition->generateSelectionCriteria(d->connection) : QString();
    const QString joins = joinClause();
    const QString tables = tableClause();
    const QString columns = columnClause();
    const QString distinct = d->distinct ? QStringLiteral("DISTINCT ") : QString();
    return format.arg(distinct, columns, tables, joins, criteria, groupBy, orderClause, limit);
}

QString DBIF_Query::columnClause() const {
    if (!assert0(!d->columns.isEmpty(), QUERY_FILE, NO_COLUMNS_LINE,
                 QStringLiteral("No columns specified in query")))
        return QString();
    QStringList references;
    for (const Column& column : std::as_const(d->columns)) {
        const QString alias = column.alias();
        const QString aliasText = alias.isEmpty() ? QString() : QStringLiteral(" AS %1").arg(alias);
        const QString name =
            column.column == QLatin1String("*") ? column.column : sqlIdentifier(column.column);
        references.append(QStringLiteral("%1.%2%3").arg(column.table, name, aliasText));
    }
    return references.join(QStringLiteral(",\n  "));
}

QString DBIF_Query::tableClause() const {
    QStringList tables = toStringList(d->tables);
    tables.sort();
    return QStringLiteral("  %1").arg(tables.join(QStringLiteral(",\n  ")));
}

QString DBIF_Query::joinClause() const {
    if (d->joins.isEmpty())
        return QStringLiteral("\n");
    QStringList equations;
    for (const Join& join : std::as_const(d->joins))
        equations.append(join.toSql());
    return QStringLiteral("\n  (%1)\nAND\n").arg(equations.join(QStringLiteral(" AND\n   ")));
}

namespace {

// A query over data columns that no data table holds yet renders as no statement: it has no rows. Not
// a misuse (a campaign without such data yet), so one line on standard error, never an abort.
bool nothingToRun(const QString& sql) {
    if (!sql.trimmed().isEmpty())
        return false;
    if (printOnAssert)
        std::cerr << "dbif: no data table holds the columns of the query yet; it has no rows" << std::endl;
    return true;
}

}  // namespace

QList<int> queryIds(const DBIF_Connection& connection, DBIF_Query* query) {
    query->markDistinct(true);
    const QString sql = query->generateSql(true);
    if (nothingToRun(sql))
        return {};
    QSqlQuery result = connection.query(sql, DBIF_QUERY_TIMING, OBJECT_CACHE_FILE, QUERY_IDS_LINE);
    QList<int> ids;
    while (result.next())
        ids.append(result.value(0).toInt());
    return ids;
}

QList<DBIF_DataType*> queryValues(const DBIF_Connection& connection, DBIF_Query* query,
                                  const QString& dataType) {
    const QString sql = query->generateSql(true);
    if (nothingToRun(sql))
        return {};
    QSqlQuery result = connection.query(sql, DBIF_QUERY_TIMING, OBJECT_CACHE_FILE, QUERY_VALUES_LINE);
    QList<DBIF_DataType*> values;
    while (result.next())
        values.append(DBIF_DataType::toDataType(result.value(0), dataType));
    return values;
}

QList<QMap<QString, QVariant>> queryValues(const DBIF_Connection& connection, DBIF_Query* query) {
    const QString sql = query->generateSql(true);
    if (nothingToRun(sql))
        return {};
    const QStringList names = query->getColumnNames();
    QSqlQuery result = connection.query(sql, DBIF_QUERY_TIMING, OBJECT_CACHE_FILE, QUERY_ROWS_LINE);
    QList<QMap<QString, QVariant>> rows;
    while (result.next()) {
        const int count = std::min<int>(names.size(), result.record().count());
        QMap<QString, QVariant> row;
        for (int i = 0; i < count; ++i)
            row.insert(names.at(i), result.value(i));
        rows.append(row);
    }
    return rows;
}
