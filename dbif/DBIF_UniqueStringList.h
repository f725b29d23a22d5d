// DBIF_UniqueStringList: an ordered string list whose appends skip a string already present
// (exact, case-sensitive comparison); order is the order of first insertion. The column reports of
// the query conditions and the multi-table registry collect column names in it.
// A plain value (copies are independent), one thread at a time. Only the operations declared here
// keep the entries unique; the inherited QStringList operations do not.
#ifndef DBIF_UNIQUESTRINGLIST_H
#define DBIF_UNIQUESTRINGLIST_H

#include <QString>
#include <QStringList>

#include "dbif/DBIF_Export.h"

class DBIF_EXPORT DBIF_UniqueStringList : public QStringList {
public:
    DBIF_UniqueStringList() = default;
    // Keeps the first occurrence of each string of the list.
    DBIF_UniqueStringList(const QStringList& strings);
    DBIF_UniqueStringList(const DBIF_UniqueStringList&) = default;
    DBIF_UniqueStringList& operator=(const DBIF_UniqueStringList&) = default;

    void append(const QString& string);
    void append(const QStringList& strings);
    DBIF_UniqueStringList& operator<<(const QString& string);
    DBIF_UniqueStringList& operator<<(const QStringList& strings);

    // True when every string of other is in this list (also when other is empty).
    bool containsAll(const DBIF_UniqueStringList& other) const;
};

#endif
