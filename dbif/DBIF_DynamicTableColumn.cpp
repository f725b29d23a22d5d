// DBIF_DynamicTableColumn.cpp: the shared column record, its keys and its catalog statements.
#include "dbif/DBIF_DynamicTableColumn.h"

#include "dbif/DBIF_DataType.h"
#include "dbif/DBIF_UnitOfWork.h"
#include "dbif/DBIF_Utilities.h"

namespace {

QString dataColumnFormatOf(const QString& dataType) {
    if (dataType == DOUBLE_DATATYPE)
        return QStringLiteral("DOUBLE");
    if (dataType == TEXT_DATATYPE)
        return QStringLiteral("VARCHAR(200)");
    // Complex values are kept at full precision: a 4 x 4 matrix alone needs about 800 characters.
    if (dataType == COMPLEX_MATRIX_DATATYPE || dataType == COMPLEX_NUMBER_DATATYPE)
        return QStringLiteral("TEXT");
    assert1(false, __FILE__, __LINE__, QStringLiteral("Don't understand data type %1"), dataType);
    return QString();
}

QStringList catalogColumns(const QString& extraColumn) {
    QStringList columns{QStringLiteral("name"), QStringLiteral("data_type")};
    if (!extraColumn.isEmpty())
        columns << extraColumn;
    columns << QStringLiteral("flags");
    return columns;
}

}  // namespace

DBIF_DynamicTableColumn::SharedData::SharedData(const DBIF_Connection& connection, const QString& name,
                                                const QString& dataType, const QString& key, int flags,
                                                int id)
    : connection(connection),
      name(name),
      dataType(dataType),
      dataColumnFormat(dataColumnFormatOf(dataType)),
      key(key),
      flags(flags),
      id(id),
      dirty(id == -1) {}

DBIF_DynamicTableColumn::SharedData::~SharedData() = default;

DBIF_DynamicTableColumn::DBIF_DynamicTableColumn() = default;

DBIF_DynamicTableColumn::DBIF_DynamicTableColumn(const DBIF_Connection& connection, const QString& name,
                                                 const QString& dataType, const QString& key, int flags,
                                                 int id)
    : d(new SharedData(connection, name, dataType, key, flags, id)) {}

DBIF_DynamicTableColumn::DBIF_DynamicTableColumn(const DBIF_DynamicTableColumn& other) = default;
DBIF_DynamicTableColumn& DBIF_DynamicTableColumn::operator=(const DBIF_DynamicTableColumn& other) = default;
DBIF_DynamicTableColumn::~DBIF_DynamicTableColumn() = default;

void DBIF_DynamicTableColumn::reload(const QSqlRecord&) {}

void DBIF_DynamicTableColumn::loadSubordinates() {}

bool DBIF_DynamicTableColumn::hasRecord(const char* operation) const {
    return checkHandle(static_cast<bool>(d), __FILE__, __LINE__, operation);
}

DBIF_Connection DBIF_DynamicTableColumn::getConnection() const {
    return hasRecord("getConnection") ? d->connection : DBIF_Connection::nullConnection();
}

void DBIF_DynamicTableColumn::setDirty(bool dirty) {
    if (hasRecord("setDirty"))
        d->dirty = dirty;
}

void DBIF_DynamicTableColumn::setCurrentlyInSave(bool inSave) const {
    if (hasRecord("setCurrentlyInSave"))
        d->currentlyInSave = inSave;
}

void DBIF_DynamicTableColumn::setFlags(int flags) {
    if (!hasRecord("setFlags"))
        return;
    d->flags = flags;
    d->dirty = true;
}

void DBIF_DynamicTableColumn::setId(int id) {
    d->id = id;
    d->dirty = true;
}

DBIF_SingleColumnCondition DBIF_DynamicTableColumn::notNull() const {
    if (!hasRecord("notNull"))
        return DBIF_SingleColumnCondition(getTableSet().dataTableName, QString(), IsNotNull, 0, false, false,
                                          DBIF_DEFAULT_RELATIVE_TOLERANCE, DBIF_DEFAULT_ABSOLUTE_TOLERANCE);
    return DBIF_SingleColumnCondition(getTableSet().dataTableName, d->key, IsNotNull, 0, false, false,
                                      DBIF_DEFAULT_RELATIVE_TOLERANCE, DBIF_DEFAULT_ABSOLUTE_TOLERANCE);
}

bool DBIF_DynamicTableColumn::isTextColumn() const {
    return d->dataType == TEXT_DATATYPE;
}

bool DBIF_DynamicTableColumn::isDoubleColumn() const {
    return d->dataType == DOUBLE_DATATYPE;
}

QString DBIF_DynamicTableColumn::composeKey(const QString& name, const QStringList& qualifiers) {
    return upperCaseAscii((QStringList(caseSensitize(name)) + qualifiers).join(QLatin1Char('_')));
}

QString DBIF_DynamicTableColumn::catalogSelectStatement(const QString& table, const QString& extraColumn) {
    return QStringLiteral("SELECT %1, id FROM %2")
        .arg(catalogColumns(extraColumn).join(QStringLiteral(", ")), table);
}

// Bound, so that a name reaches the catalog exactly as it is.
QVariantList DBIF_DynamicTableColumn::catalogValues(const QString& extraText, bool hasExtra) const {
    QVariantList values{d->name, d->dataType};
    if (hasExtra)
        values << extraText;
    values << d->flags;
    return values;
}

void DBIF_DynamicTableColumn::saveCatalogRow(const QString& table, const QString& extraColumn,
                                             const QString& extraText) {
    if (!hasRecord("save"))
        return;
    SharedData& r = *d;
    if (r.currentlyInSave)
        return;
    r.currentlyInSave = true;
    // Released also when a statement throws, so that the repeated save is not taken for a re-entry.
    struct Release {
        bool& flag;
        ~Release() { flag = false; }
    } release{r.currentlyInSave};
    // A save that a rolled-back unit of work undoes leaves the column as new (or dirty) again.
    const QExplicitlySharedDataPointer<SharedData> record(d);
    if (r.id == -1) {
        r.connection.insertRow(table, catalogColumns(extraColumn),
                               catalogValues(extraText, !extraColumn.isEmpty()), DBIF_UPDATE_TIMING, __FILE__,
                               __LINE__);
        setId(r.connection.getLastId());
        DBIF_UnitOfWork::onRollback(r.connection, [record] { record->id = -1; });
    } else if (r.dirty) {
        r.connection.updateRow(table, catalogColumns(extraColumn),
                               catalogValues(extraText, !extraColumn.isEmpty()), r.id, DBIF_UPDATE_TIMING,
                               __FILE__, __LINE__);
    } else {
        return;
    }
    r.dirty = false;
    DBIF_UnitOfWork::onRollback(r.connection, [record] { record->dirty = true; });
}

std::ostream& operator<<(std::ostream& stream, const DBIF_DynamicTableColumn& column) {
    return stream << "Column::name: " << column.getName() << " key: " << column.getKey()
                  << " data type: " << column.getDataType() << " flags: " << column.getFlags() << std::endl;
}
