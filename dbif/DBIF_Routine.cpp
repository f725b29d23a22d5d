// DBIF_Routine.cpp: the routine entity, its statements and its cache instance.
#include "dbif/DBIF_Routine.h"

template class DBIF_ObjectCache<DBIF_Routine>;

const QString DBIF_Routine::MASTER_TABLE_NAME = QStringLiteral("routine");
const QString DBIF_Routine::COLUMN_TABLE_NAME = QStringLiteral("routine_column");
const QString DBIF_Routine::DATA_TABLE_NAME = QStringLiteral("routine_data");
const QString DBIF_Routine::ASSOCIATION_TABLE_NAME = QStringLiteral("routine_association");

const DBIF_FixedColumn<DBIF_Routine> DBIF_Routine::ID(QStringLiteral("id"), false, false);
const DBIF_FixedColumn<DBIF_Routine> DBIF_Routine::NAME(QStringLiteral("name"), true, false);
const DBIF_FixedColumn<DBIF_Routine> DBIF_Routine::DEFINITION(QStringLiteral("definition"), true, false);
const DBIF_FixedColumn<DBIF_Routine> DBIF_Routine::MODIFIED_TIME(QStringLiteral("modified_time"), false,
                                                                 false);
const DBIF_FixedColumn<DBIF_Routine> DBIF_Routine::USER(QStringLiteral("user"), true, false);

DBIF_Routine::ParameterBlock::ParameterBlock(const QString& name, const QString& definition,
                                             const QString& user)
    : name(name), definition(definition), user(user) {}

QString DBIF_Routine::ParameterBlock::computeKey() const {
    return entityKey(QStringLiteral("r"), {name, QString::number(hash(definition))});
}

DBIF_RoutineRecord::DBIF_RoutineRecord(const DBIF_Connection& connection, const QString& name,
                                       const QString& definition, const QDateTime& modifiedTime,
                                       const QString& user, int id)
    : DBIF_EntityRecord(connection, DBIF_Routine::computeKey(name, definition), modifiedTime, user, id),
      name(name),
      definition(definition) {}

DBIF_Routine::DBIF_Routine() = default;

DBIF_Routine::DBIF_Routine(const DBIF_Connection& connection, const QString& name, const QString& definition,
                           const QString& user, int id)
    : DBIF_Entity(new SharedData(connection, name, definition, now(), user, id)) {}

DBIF_Routine::DBIF_Routine(const DBIF_Connection& connection, const ParameterBlock& block, int id)
    : DBIF_Entity(new SharedData(connection, block.name, block.definition, now(), block.user, id)) {}

DBIF_Routine::DBIF_Routine(const DBIF_Connection& connection, const QSqlRecord& record)
    : DBIF_Entity(new SharedData(connection, record.value(0).toString(), record.value(1).toString(),
                                 record.value(2).toDateTime(), record.value(3).toString(),
                                 record.value(4).toInt())) {}

DBIF_Routine::DBIF_Routine(const DBIF_Routine& other) = default;
DBIF_Routine& DBIF_Routine::operator=(const DBIF_Routine& other) = default;
DBIF_Routine::~DBIF_Routine() = default;

DBIF_Routine DBIF_Routine::get(const DBIF_Connection& connection, const QString& name,
                               const QString& definition, const QString& user) {
    return DBIF_ObjectCache<DBIF_Routine>::get(connection, ParameterBlock(name, definition, user));
}

QString DBIF_Routine::computeKey(const QString& name, const QString& definition, const QString& user) {
    return ParameterBlock(name, definition, user).computeKey();
}

void DBIF_Routine::save() {
    if (!hasRecord("DBIF_Routine::save"))
        return;
    SharedData& r = *d;
    // Every value is bound: a definition is stored exactly as the host wrote it.
    static const QStringList columns =
        QStringLiteral("name,definition,modified_time,user").split(QLatin1Char(','));
    const auto values = [&r] {
        return QVariantList{r.name, r.definition, DBIF_EntityRecord::sqlTime(r.modifiedTime), r.user};
    };
    r.saveBoundRow(QStringLiteral("routine"), columns, values);
}

void DBIF_Routine::reload(const QSqlRecord& record) {
    if (!hasRecord("DBIF_Routine::reload"))
        return;
    d->name = record.value(0).toString();
    d->definition = record.value(1).toString();
    d->key = computeKey(d->name, d->definition, d->user);
}
