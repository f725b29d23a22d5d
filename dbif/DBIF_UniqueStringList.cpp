// DBIF_UniqueStringList: appends that keep the list free of duplicates.
#include "dbif/DBIF_UniqueStringList.h"

DBIF_UniqueStringList::DBIF_UniqueStringList(const QStringList& strings) {
    append(strings);
}

void DBIF_UniqueStringList::append(const QString& string) {
    if (!contains(string))
        QStringList::append(string);
}

void DBIF_UniqueStringList::append(const QStringList& strings) {
    for (const QString& string : strings)
        append(string);
}

DBIF_UniqueStringList& DBIF_UniqueStringList::operator<<(const QString& string) {
    append(string);
    return *this;
}

DBIF_UniqueStringList& DBIF_UniqueStringList::operator<<(const QStringList& strings) {
    append(strings);
    return *this;
}

bool DBIF_UniqueStringList::containsAll(const DBIF_UniqueStringList& other) const {
    for (const QString& string : other) {
        if (!contains(string))
            return false;
    }
    return true;
}
