// DBIF_Die.cpp: the die entity, its statements and its cache instance.
#include "dbif/DBIF_Die.h"

template class DBIF_ObjectCache<DBIF_Die>;

const QString DBIF_Die::MASTER_TABLE_NAME = QStringLiteral("die");
const QString DBIF_Die::COLUMN_TABLE_NAME = QStringLiteral("die_column");
const QString DBIF_Die::DATA_TABLE_NAME = QStringLiteral("die_data");
const QString DBIF_Die::ASSOCIATION_TABLE_NAME = QStringLiteral("die_association");

const DBIF_FixedColumn<DBIF_Die> DBIF_Die::LOT(QStringLiteral("lot"), true, false);
const DBIF_FixedColumn<DBIF_Die> DBIF_Die::WAFER(QStringLiteral("wafer"), true, false);
const DBIF_FixedColumn<DBIF_Die> DBIF_Die::DIE(QStringLiteral("die"), true, false);
const DBIF_FixedColumn<DBIF_Die> DBIF_Die::BLOCK(QStringLiteral("block"), true, false);
const DBIF_FixedColumn<DBIF_Die> DBIF_Die::USER(QStringLiteral("user"), true, false);
const DBIF_FixedColumn<DBIF_Die> DBIF_Die::MODIFIED_TIME(QStringLiteral("modified_time"), false, false);
const DBIF_FixedColumn<DBIF_Die> DBIF_Die::ID(QStringLiteral("id"), false, false);

DBIF_Die::ParameterBlock::ParameterBlock(const QString& lot, const QString& wafer, const QString& die,
                                         const QString& block, const QString& user)
    : lot(lot), wafer(wafer), die(die), block(block), user(user) {}

QString DBIF_Die::ParameterBlock::computeKey() const {
    return entityKey(QStringLiteral("die"), {lot, wafer, die, block});
}

DBIF_DieRecord::DBIF_DieRecord(const DBIF_Connection& connection, const QString& lot, const QString& wafer,
                               const QString& die, const QString& block, const QDateTime& modifiedTime,
                               const QString& user, int id)
    : DBIF_EntityRecord(connection, DBIF_Die::computeKey(lot, wafer, die, block), modifiedTime, user, id),
      lot(lot),
      wafer(wafer),
      die(die),
      block(block) {}

DBIF_Die::DBIF_Die() = default;

DBIF_Die::DBIF_Die(const DBIF_Connection& connection, const QString& lot, const QString& wafer,
                   const QString& die, const QString& block, const QString& user, int id)
    : DBIF_Entity(new SharedData(connection, lot, wafer, die, block, now(), user, id)) {}

DBIF_Die::DBIF_Die(const DBIF_Connection& connection, const QString& lot, const QString& wafer,
                   const QString& die, const QString& block, const QDateTime& modifiedTime,
                   const QString& user, int id)
    : DBIF_Entity(new SharedData(connection, lot, wafer, die, block, modifiedTime, user, id)) {}

DBIF_Die::DBIF_Die(const DBIF_Connection& connection, const ParameterBlock& block, int id)
    : DBIF_Entity(new SharedData(connection, block.lot, block.wafer, block.die, block.block, now(),
                                 block.user, id)) {}

DBIF_Die::DBIF_Die(const DBIF_Connection& connection, const QSqlRecord& record)
    : DBIF_Entity(new SharedData(connection, record.value(0).toString(), record.value(1).toString(),
                                 record.value(2).toString(), record.value(3).toString(),
                                 record.value(4).toDateTime(), record.value(5).toString(),
                                 record.value(6).toInt())) {}

DBIF_Die::DBIF_Die(const DBIF_Die& other) = default;
DBIF_Die& DBIF_Die::operator=(const DBIF_Die& other) = default;
DBIF_Die::~DBIF_Die() = default;

DBIF_Die DBIF_Die::get(const DBIF_Connection& connection, const QString& lot, const QString& wafer,
                       const QString& die, const QString& block, const QString& user) {
    return DBIF_ObjectCache<DBIF_Die>::get(connection, ParameterBlock(lot, wafer, die, block, user));
}

QString DBIF_Die::computeKey(const QString& lot, const QString& wafer, const QString& die,
                             const QString& block, const QString& user) {
    return ParameterBlock(lot, wafer, die, block, user).computeKey();
}

void DBIF_Die::save() {
    if (!hasRecord("DBIF_Die::save"))
        return;
    SharedData& r = *d;
    // Every value is bound: a lot or wafer from a file reaches the table exactly as it is.
    static const QStringList columns =
        QStringLiteral("lot,wafer,die,block,modified_time,user").split(QLatin1Char(','));
    const auto values = [&r] {
        return QVariantList{r.lot, r.wafer, r.die, r.block, DBIF_EntityRecord::sqlTime(r.modifiedTime),
                            r.user};
    };
    r.saveBoundRow(QStringLiteral("die"), columns, values, DBIF_QUERY_TIMING);
}

void DBIF_Die::reload(const QSqlRecord& record) {
    if (!hasRecord("DBIF_Die::reload"))
        return;
    d->lot = record.value(0).toString();
    d->wafer = record.value(1).toString();
    d->die = record.value(2).toString();
    d->block = record.value(3).toString();
    d->key = computeKey(d->lot, d->wafer, d->die, d->block, d->user);
}
