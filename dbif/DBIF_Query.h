// DBIF_Query: what one SELECT needs (columns, tables, join equations, one condition, sort orders,
// limit, distinct and latest-only switches) and its rendering to SQL text. A pluggable
// DBIF_QueryJoinAlgorithm adds the equations that connect the tables; the concrete query class
// installs its own. Abstract: the library's concrete query derives from it.
// A value handle over an explicitly shared record: copies share it and nothing detaches. The record
// owns a clone of the condition, never the join algorithm. One thread at a time.
#ifndef DBIF_QUERY_H
#define DBIF_QUERY_H

#include <QExplicitlySharedDataPointer>
#include <QList>
#include <QMap>
#include <QSet>
#include <QSharedData>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

#include "dbif/DBIF_CompoundQueryCondition.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_QueryCondition.h"
#include "dbif/DBIF_SingleColumnCondition.h"
#include "dbif/DBIF_UniqueStringList.h"

class DBIF_DataType;
class DBIF_QueryJoinAlgorithm;

class DBIF_EXPORT DBIF_Query {
public:
    // A selected column. Equality ignores the order-only flag, so a column is selected once however
    // it was added.
    struct DBIF_EXPORT Column {
        QString table;
        QString column;
        // True for a column selected only because an order refers to it.
        bool orderOnly = false;

        Column() = default;
        Column(const QString& table, const QString& column, bool orderOnly = false);

        // Empty for "*"; otherwise the table (letters and underscores only) and the column (letters,
        // digits and underscores only) joined by "_": measurement_data_3.v gives measurement_data__v.
        QString alias() const;
        bool operator==(const Column& other) const { return table == other.table && column == other.column; }
        bool operator!=(const Column& other) const { return !(*this == other); }
    };

    // A sort key; direction is "ASC" or "DESC".
    struct DBIF_EXPORT Order {
        QString table;
        QString column;
        QString direction;

        Order() = default;
        Order(const QString& table, const QString& column, bool ascending);

        bool operator==(const Order& other) const {
            return table == other.table && column == other.column && direction == other.direction;
        }
        bool operator!=(const Order& other) const { return !(*this == other); }
    };

    // One join equation, firstTable.firstColumn = secondTable.secondColumn.
    struct DBIF_EXPORT Join {
        QString firstTable;
        QString firstColumn;
        QString secondTable;
        QString secondColumn;

        Join() = default;
        Join(const QString& firstTable, const QString& firstColumn, const QString& secondTable,
             const QString& secondColumn);

        // "(first.column = second.column)"
        QString toSql() const;
        bool operator==(const Join& other) const {
            return firstTable == other.firstTable && firstColumn == other.firstColumn &&
                   secondTable == other.secondTable && secondColumn == other.secondColumn;
        }
        bool operator!=(const Join& other) const { return !(*this == other); }
    };

    class DBIF_EXPORT SharedData : public QSharedData {
    public:
        explicit SharedData(const DBIF_Connection& connection);
        SharedData(const SharedData&) = delete;
        SharedData& operator=(const SharedData&) = delete;
        ~SharedData();

        // The algorithm every new query starts with: one process-wide instance, created on first use
        // and never freed.
        static DBIF_QueryJoinAlgorithm* getNullQueryJoinAlgorithm();

        DBIF_Connection connection;
        bool distinct = false;
        bool latestOnly = false;
        QList<Column> columns;
        // The tables and joins of the last rendering: the caller's own, the condition's and columns'
        // tables, and what the join algorithm added. Each rendering starts again from the caller's own,
        // so tables that the algorithm pulled in never steer the next rendering.
        QSet<QString> tables;
        // A set kept in insertion order, so that a statement's text does not depend on hash seeds.
        QList<Join> joins;
        // What the caller added with addTable and addJoin outside a rendering.
        QSet<QString> ownTables;
        QList<Join> ownJoins;
        // True while preprocessQuery runs: additions then belong to that rendering only.
        bool preprocessing = false;
        std::unique_ptr<DBIF_QueryCondition> condition;
        QList<Order> orders;
        QList<Order> dataOrders;
        // Below 1: no limit.
        int limit = -1;
        DBIF_QueryJoinAlgorithm* joinAlgorithm;
    };

    // A handle without a record: only isNull() and assignment may be used on it.
    DBIF_Query();
    explicit DBIF_Query(const DBIF_Connection& connection);
    // Share the record.
    DBIF_Query(const DBIF_Query& other);
    DBIF_Query& operator=(const DBIF_Query& other);
    virtual ~DBIF_Query();

    // The SELECT text. Without a condition an assertion is reported and the WHERE part stays empty,
    // so the statement is rejected when it runs; without columns the select list stays empty in the
    // same way. Tables that the join algorithm cannot connect are still listed.
    virtual QString generateSql(bool withOrder);
    // SELECT count(*) over the statement without its order clause (same failure rules).
    virtual QString generateCountSql();
    // "\nORDER BY\n  <position> <direction>, ..." by select-list position, or empty without orders.
    virtual QString generateOrder() const;
    // " LIMIT <n>", or empty when the limit is below 1.
    virtual QString generateLimit() const;

    bool isNull() const { return !d; }

    // Appends the column unless an equal one is selected; returns the stored column (an existing one
    // keeps its own order-only flag).
    Column addColumn(const QString& table, const QString& column, bool orderOnly = false);
    // Inserts the column at the position (clamped to the list) unless an equal one is selected, which
    // then stays where it is; returns the stored column.
    Column addColumnAt(const QString& table, const QString& column, int position);
    // Appends the order unless an equal one is present, and selects its column (order-only when it is
    // not selected yet).
    void addOrder(const QString& table, const QString& column, bool ascending);
    void addOrders(const QList<Order>& orders);
    void addTable(const QString& table);
    void addJoin(const QString& firstTable, const QString& firstColumn, const QString& secondTable,
                 const QString& secondColumn);

    // Each deletes the present condition and stores a clone of the argument; the caller keeps its
    // own. A clone shares the record, so later changes to the caller's condition show in the query.
    // A null pointer leaves the query without a condition.
    void setCondition(const DBIF_QueryCondition* condition);
    void setCondition(const DBIF_SingleColumnCondition& condition);
    void setCondition(const DBIF_CompoundQueryCondition& condition);
    // A single-column condition with the flag as its use-collation switch and no tolerance.
    void setCondition(const QString& table, const QString& column, Comparator comparator, double value,
                      bool useCollation = false);
    // The query's own clone, owned by the query; null when none is set.
    DBIF_QueryCondition* getCondition() const { return d->condition.get(); }

    void markDistinct(bool distinct = true) { d->distinct = distinct; }
    void markLatestOnly(bool latestOnly) { d->latestOnly = latestOnly; }
    bool isMarkedLatestOnly() const { return d->latestOnly; }
    void setLimit(int limit) { d->limit = limit; }
    int getLimit() const { return d->limit; }
    // The query does not own the algorithm; null installs the process-wide null algorithm.
    void setJoinAlgorithm(DBIF_QueryJoinAlgorithm* algorithm);
    DBIF_QueryJoinAlgorithm* getJoinAlgorithm() const { return d->joinAlgorithm; }
    DBIF_Connection getConnection() const { return d->connection; }

    // Clears distinct, latest only, columns, tables, joins and orders, and deletes the condition.
    // The limit, the data orders and the join algorithm stay.
    void reset();

    // Collects the tables and computes the joins first, so tables reached only through a join count.
    bool containsTable(const QString& table);
    // The columns of exactly this table: the selected ones in select order, then those the condition
    // reads; never "*".
    DBIF_UniqueStringList columnSetFor(const QString& table) const;
    // The column names (without tables) of all selected columns, in select order.
    QStringList getColumnNames() const;
    QList<Column> getColumns() const { return d->columns; }
    QSet<QString> getTables() const { return d->tables; }
    // In the order they were first added.
    QList<Join> getJoins() const { return d->joins; }

protected:
    // Adds the condition's tables and the selected columns' tables, then runs the join algorithm.
    virtual void preprocessQuery();
    // Only makes the class abstract; a concrete query implements it as doing nothing.
    virtual void markAbstract() = 0;

    // The first step of preprocessQuery, for subclasses that replace the rest.
    void collectTables();
    bool markedDistinct() const { return d->distinct; }
    // For each order: the alias of its column when that column was selected explicitly.
    QStringList realColumns() const;
    QList<Order> orders() const { return d->orders; }
    QList<Order> dataOrders() const { return d->dataOrders; }

private:
    // Starts the sets again from the caller's own tables and joins, then runs preprocessQuery.
    void prepare();
    // Fills the statement template with the eight clauses in one step.
    QString renderStatement(const QString& format, const QString& orderClause) const;
    QString columnClause() const;
    QString tableClause() const;
    QString joinClause() const;

    QExplicitlySharedDataPointer<SharedData> d;
};

// Combines the four name hashes with exclusive-or.
DBIF_EXPORT size_t qHash(const DBIF_Query::Join& join, size_t seed = 0);

// Marks the query distinct, renders it with its order clause and returns column 0 of every row as
// an int, in row order. A failing statement throws DBIF_Exception.
DBIF_EXPORT QList<int> queryIds(const DBIF_Connection& connection, DBIF_Query* query);
// Renders the query with its order clause (the distinct switch is left as it is) and returns
// column 0 of every row as a value of the named data type ("DB", "TX", "CN", "CM"); an entry is
// null when the cell cannot become that type. The caller owns the values.
DBIF_EXPORT QList<DBIF_DataType*> queryValues(const DBIF_Connection& connection, DBIF_Query* query,
                                              const QString& dataType);
// One map per row from each selected column's name to its value; of two columns with the same
// name the later one wins.
DBIF_EXPORT QList<QMap<QString, QVariant>> queryValues(const DBIF_Connection& connection, DBIF_Query* query);

#endif
