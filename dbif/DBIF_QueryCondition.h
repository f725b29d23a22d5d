// DBIF_QueryCondition: abstract node of a condition tree that renders itself as the text of an
// SQL WHERE expression and reports the tables and columns it reads, so that a query can join
// those tables and find the data tables holding those columns. Concrete conditions are value
// handles over explicitly shared records: copies and clone() share the record, setters change it
// in place for every handle. Not thread-safe: a condition is used by one thread at a time.
#ifndef DBIF_QUERYCONDITION_H
#define DBIF_QUERYCONDITION_H

#include <QSet>
#include <QString>

#include "dbif/DBIF_Export.h"

class DBIF_Connection;
class DBIF_UniqueStringList;

// How a single-column condition compares its column with its value. The NoCase forms carry the
// connection's case-insensitive collation suffix, all others the case-sensitive one (when the
// condition uses collation). Any other value renders as empty text.
enum Comparator : int {
    Equal = 0,
    NotEqual = 1,
    Less = 2,
    LessOrEqual = 3,
    Greater = 4,
    GreaterOrEqual = 5,
    IsNotNull = 6,
    IsNull = 7,
    In = 8,
    NotIn = 9,
    Like = 10,
    EqualNoCase = 11,
    NotEqualNoCase = 12,
    LessNoCase = 13,
    LessOrEqualNoCase = 14,
    GreaterNoCase = 15,
    GreaterOrEqualNoCase = 16,
    InNoCase = 17,
    NotInNoCase = 18,
    LikeNoCase = 19
};

// How a compound condition joins its operands. Any other value renders as empty text.
enum Operator : int { And = 0, Or = 1, Not = 2 };

class DBIF_EXPORT DBIF_QueryCondition {
public:
    virtual ~DBIF_QueryCondition();

    // The SQL text of the condition; the connection supplies the collation suffixes and the
    // quoting rules of its driver.
    virtual QString generateSelectionCriteria(const DBIF_Connection& connection) const = 0;
    // A new handle of the same class on the same record. The caller owns it.
    virtual DBIF_QueryCondition* clone() const = 0;
    // Inserts the name of every table the condition refers to.
    virtual void addTableToSet(QSet<QString>& tables) const = 0;
    // Appends (without duplicates) the columns of exactly this table that the condition reads.
    virtual void columnSetFor(const QString& table, DBIF_UniqueStringList& columns) const = 0;

protected:
    DBIF_QueryCondition() = default;
    DBIF_QueryCondition(const DBIF_QueryCondition&) = default;
    DBIF_QueryCondition& operator=(const DBIF_QueryCondition&) = default;
};

#endif
