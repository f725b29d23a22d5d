// DBIF_SingleColumnCondition: one column of one table compared with one value, the leaf of a
// condition tree. A value handle over an explicitly shared record: copies and clone() share it and
// the setters change it in place, so a condition already placed in a compound node or a query
// still follows the host's later changes. The record goes with its last handle.
// Text values are written as SQL literals with the connection's quoting, so no value can end its
// literal early; every SQL template is filled in one step, so a "%1" inside a value stays text.
// Not thread-safe: one thread at a time.
#ifndef DBIF_SINGLECOLUMNCONDITION_H
#define DBIF_SINGLECOLUMNCONDITION_H

#include <QExplicitlySharedDataPointer>
#include <QList>
#include <QSharedData>
#include <QString>
#include <QVariant>

#include "dbif/DBIF_FixedColumn.h"
#include "dbif/DBIF_QueryCondition.h"

class DBIF_EXPORT DBIF_SingleColumnCondition : public DBIF_QueryCondition {
public:
    // useCollation: comparisons carry the connection's collation suffix for their comparator.
    // useTolerance: the comparators Equal, NotEqual, LessOrEqual, GreaterOrEqual and their NoCase
    // forms compare numerically within relativeTolerance of a non-zero value, or within
    // absoluteTolerance of zero.
    DBIF_SingleColumnCondition(const QString& table, const QString& column, Comparator comparator,
                               const QVariant& value, bool useCollation = false, bool useTolerance = false,
                               double relativeTolerance = DBIF_DEFAULT_RELATIVE_TOLERANCE,
                               double absoluteTolerance = DBIF_DEFAULT_ABSOLUTE_TOLERANCE);
    DBIF_SingleColumnCondition(const QString& table, const QString& column, Comparator comparator, int value,
                               bool useCollation = false, bool useTolerance = false,
                               double relativeTolerance = DBIF_DEFAULT_RELATIVE_TOLERANCE,
                               double absoluteTolerance = DBIF_DEFAULT_ABSOLUTE_TOLERANCE);
    DBIF_SingleColumnCondition(const QString& table, const QString& column, Comparator comparator,
                               double value, bool useCollation = false, bool useTolerance = false,
                               double relativeTolerance = DBIF_DEFAULT_RELATIVE_TOLERANCE,
                               double absoluteTolerance = DBIF_DEFAULT_ABSOLUTE_TOLERANCE);
    DBIF_SingleColumnCondition(const QString& table, const QString& column, Comparator comparator,
                               const QString& value, bool useCollation = false, bool useTolerance = false,
                               double relativeTolerance = DBIF_DEFAULT_RELATIVE_TOLERANCE,
                               double absoluteTolerance = DBIF_DEFAULT_ABSOLUTE_TOLERANCE);
    // A string literal would otherwise be ambiguous between QVariant and QString; taken as UTF-8 text.
    DBIF_SingleColumnCondition(const QString& table, const QString& column, Comparator comparator,
                               const char* value, bool useCollation = false, bool useTolerance = false,
                               double relativeTolerance = DBIF_DEFAULT_RELATIVE_TOLERANCE,
                               double absoluteTolerance = DBIF_DEFAULT_ABSOLUTE_TOLERANCE);
    // The ids in decimal joined with ", " and written unquoted, for the In and NotIn forms:
    // {3, 5, 8} gives "(t.id IN (3, 5, 8))".
    DBIF_SingleColumnCondition(const QString& table, const QString& column, Comparator comparator,
                               const QList<int>& ids, bool useCollation = false, bool useTolerance = false,
                               double relativeTolerance = DBIF_DEFAULT_RELATIVE_TOLERANCE,
                               double absoluteTolerance = DBIF_DEFAULT_ABSOLUTE_TOLERANCE);
    // Shares the record.
    DBIF_SingleColumnCondition(const DBIF_SingleColumnCondition& other) = default;
    DBIF_SingleColumnCondition& operator=(const DBIF_SingleColumnCondition& other) = default;
    ~DBIF_SingleColumnCondition() override;

    // Setters change the shared record, seen by every copy and clone. setValue clears the
    // list-value flag: a value set later is quoted by its own type.
    void setTable(const QString& table) { d->table = table; }
    void setColumn(const QString& column) { d->column = column; }
    void setComparator(Comparator comparator) { d->comparator = comparator; }
    void setValue(const QVariant& value);

    QString getTable() const { return d->table; }
    QString getColumn() const { return d->column; }
    Comparator getComparator() const { return d->comparator; }
    QVariant getValue() const { return d->value; }
    bool isListValue() const { return d->listValue; }
    bool usesCollation() const { return d->useCollation; }
    bool usesTolerance() const { return d->useTolerance; }
    double getRelativeTolerance() const { return d->relativeTolerance; }
    double getAbsoluteTolerance() const { return d->absoluteTolerance; }

    QString generateSelectionCriteria(const DBIF_Connection& connection) const override;
    DBIF_SingleColumnCondition* clone() const override;
    void addTableToSet(QSet<QString>& tables) const override;
    void columnSetFor(const QString& table, DBIF_UniqueStringList& columns) const override;

private:
    class SharedData : public QSharedData {
    public:
        QString table;
        QString column;
        Comparator comparator = Equal;
        QVariant value;
        bool listValue = false;
        bool useCollation = false;
        bool useTolerance = false;
        double relativeTolerance = DBIF_DEFAULT_RELATIVE_TOLERANCE;
        double absoluteTolerance = DBIF_DEFAULT_ABSOLUTE_TOLERANCE;
    };

    // The table.column reference; a column name that is not a plain identifier goes in double quotes.
    QString columnReference() const;
    // The numeric form with tolerance, or an empty text when the comparator has none.
    QString toleranceForm(const QString& column) const;
    // The value as the statement writes it: texts, byte arrays and date-times ("yyyy-MM-dd hh:mm:ss")
    // quoted and escaped for the connection; numbers and id lists as they are.
    QString valueText(const DBIF_Connection& connection) const;

    QExplicitlySharedDataPointer<SharedData> d;
};

#endif
