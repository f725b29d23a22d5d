// DBIF_BooleanQueryCondition: a constant condition, rendered as "1" (true) or "0" (false); it reads
// no table and no column. A value handle over an explicitly shared record: copies and clone()
// share it and setBoolean changes it for every handle. One thread at a time.
#ifndef DBIF_BOOLEANQUERYCONDITION_H
#define DBIF_BOOLEANQUERYCONDITION_H

#include <QExplicitlySharedDataPointer>
#include <QSharedData>

#include "dbif/DBIF_QueryCondition.h"

class DBIF_EXPORT DBIF_BooleanQueryCondition : public DBIF_QueryCondition {
public:
    explicit DBIF_BooleanQueryCondition(bool value);
    // Shares the record.
    DBIF_BooleanQueryCondition(const DBIF_BooleanQueryCondition& other) = default;
    DBIF_BooleanQueryCondition& operator=(const DBIF_BooleanQueryCondition& other) = default;
    ~DBIF_BooleanQueryCondition() override;

    void setBoolean(bool value) { d->value = value; }
    bool getBoolean() const { return d->value; }

    QString generateSelectionCriteria(const DBIF_Connection& connection) const override;
    DBIF_BooleanQueryCondition* clone() const override;
    void addTableToSet(QSet<QString>& tables) const override;
    void columnSetFor(const QString& table, DBIF_UniqueStringList& columns) const override;

private:
    class SharedData : public QSharedData {
    public:
        bool value = true;
    };

    QExplicitlySharedDataPointer<SharedData> d;
};

#endif
