// DBIF_BooleanQueryCondition: the constant's text and its empty table and column reports.
#include "dbif/DBIF_BooleanQueryCondition.h"

DBIF_BooleanQueryCondition::DBIF_BooleanQueryCondition(bool value) : d(new SharedData) {
    d->value = value;
}

DBIF_BooleanQueryCondition::~DBIF_BooleanQueryCondition() = default;

QString DBIF_BooleanQueryCondition::generateSelectionCriteria(const DBIF_Connection&) const {
    return d->value ? QStringLiteral("1") : QStringLiteral("0");
}

DBIF_BooleanQueryCondition* DBIF_BooleanQueryCondition::clone() const {
    return new DBIF_BooleanQueryCondition(*this);
}

void DBIF_BooleanQueryCondition::addTableToSet(QSet<QString>&) const {}

void DBIF_BooleanQueryCondition::columnSetFor(const QString&, DBIF_UniqueStringList&) const {}
