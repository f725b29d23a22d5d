// DBIF_PlainColumnKind<K>: a column kind whose columns are told apart by name and data type alone
// and whose catalog rows hold nothing else (catalog-entry and measurement columns). Supplies K's
// parameter block, its three constructors (K inherits them), its key and its find-or-create get.
// K supplies tableSet(). Instantiated explicitly in K's source file.
#ifndef DBIF_PLAINCOLUMNKIND_H
#define DBIF_PLAINCOLUMNKIND_H

#include <QSqlRecord>
#include <QString>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_DynamicTableColumnKind.h"

template <typename K>
class DBIF_PlainColumnKind : public DBIF_DynamicTableColumnKind<K> {
    using Base = DBIF_DynamicTableColumnKind<K>;

public:
    class ParameterBlock {
    public:
        ParameterBlock(const QString& name, const QString& dataType, int flags)
            : name(name), dataType(dataType), flags(flags) {}
        QString computeKey() const { return K::computeKey(name, dataType); }

        QString name;
        QString dataType;
        int flags;
    };

    using Base::get;

    DBIF_PlainColumnKind() = default;
    // id -1 for a column that is not in the catalog yet.
    DBIF_PlainColumnKind(const DBIF_Connection& connection, const QString& name, const QString& dataType,
                         int flags, int id)
        : Base(connection, name, dataType, computeKey(name, dataType), flags, id) {}
    // A new, unsaved column.
    DBIF_PlainColumnKind(const DBIF_Connection& connection, const ParameterBlock& block)
        : DBIF_PlainColumnKind(connection, block.name, block.dataType, block.flags, -1) {}
    // From a row of the kind's catalog select: name, data_type, flags, id.
    DBIF_PlainColumnKind(const DBIF_Connection& connection, const QSqlRecord& record)
        : DBIF_PlainColumnKind(connection, record.value(0).toString(), record.value(1).toString(),
                               record.value(2).toInt(), record.value(3).toInt()) {}

    // "<name>_<case mask>_<data type>", upper-cased: Vd of type "DB" is VD_2_DB, vd is VD_0_DB.
    static QString computeKey(const QString& name, const QString& dataType) {
        return DBIF_DynamicTableColumn::composeKey(name, {dataType});
    }

    // The column with this definition, cached or new; see DBIF_DynamicTableColumnKind::findOrCreate
    // for how the requested flags join a column's flags.
    static K get(const DBIF_Connection& connection, const QString& name, const QString& dataType, int flags) {
        return Base::findOrCreate(connection, ParameterBlock(name, dataType, flags));
    }
};

#endif
