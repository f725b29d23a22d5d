// DBIF_AttributedColumnKind<K, T>: a column kind whose catalog rows hold one attribute of type T
// beyond name and data type (device category, measurement-condition description, setup is-input).
// The attribute lives in a second shared record, so copies of a column share it as they share the
// rest. Supplies K's parameter block, its three constructors (K inherits them) and its find-or-create
// get; K supplies tableSet(), extraColumnName() and computeKey(name, data type, attribute), which
// decides whether the attribute tells columns apart. Instantiated explicitly in K's source file.
#ifndef DBIF_ATTRIBUTEDCOLUMNKIND_H
#define DBIF_ATTRIBUTEDCOLUMNKIND_H

#include <QExplicitlySharedDataPointer>
#include <QSharedData>
#include <QSqlRecord>
#include <QString>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_DynamicTableColumnKind.h"

template <typename K, typename T>
class DBIF_AttributedColumnKind : public DBIF_DynamicTableColumnKind<K> {
    using Base = DBIF_DynamicTableColumnKind<K>;
    friend Base;

public:
    class ParameterBlock {
    public:
        ParameterBlock(const QString& name, const QString& dataType, const T& attribute, int flags)
            : name(name), dataType(dataType), attribute(attribute), flags(flags) {}
        QString computeKey() const { return K::computeKey(name, dataType, attribute); }

        QString name;
        QString dataType;
        T attribute;
        int flags;
    };

    struct SharedData : public QSharedData {
        explicit SharedData(const T& attribute) : attribute(attribute) {}
        T attribute;
    };

    using Base::get;

    DBIF_AttributedColumnKind() = default;
    // id -1 for a column that is not in the catalog yet.
    DBIF_AttributedColumnKind(const DBIF_Connection& connection, const QString& name, const QString& dataType,
                              const T& attribute, int flags, int id)
        : Base(connection, name, dataType, K::computeKey(name, dataType, attribute), flags, id),
          e(new SharedData(attribute)) {}
    // A new, unsaved column.
    DBIF_AttributedColumnKind(const DBIF_Connection& connection, const ParameterBlock& block)
        : DBIF_AttributedColumnKind(connection, block.name, block.dataType, block.attribute, block.flags,
                                    -1) {}
    // From a row of the kind's catalog select: name, data_type, the attribute, flags, id.
    DBIF_AttributedColumnKind(const DBIF_Connection& connection, const QSqlRecord& record)
        : DBIF_AttributedColumnKind(connection, record.value(0).toString(), record.value(1).toString(),
                                    record.value(2).template value<T>(), record.value(3).toInt(),
                                    record.value(4).toInt()) {}

    // The column with this definition, cached or new. A cached column keeps the attribute of its
    // first definition where the attribute is not part of the key. See
    // DBIF_DynamicTableColumnKind::findOrCreate for how the requested flags join a column's flags.
    static K get(const DBIF_Connection& connection, const QString& name, const QString& dataType,
                 const T& attribute, int flags) {
        return Base::findOrCreate(connection, ParameterBlock(name, dataType, attribute, flags));
    }

protected:
    const T& attribute() const { return e->attribute; }

private:
    // The attribute as the catalog statements write it: text as it is, a flag as "1" or "0".
    static QString toText(const QString& text) { return text; }
    static QString toText(bool flag) { return flag ? QStringLiteral("1") : QStringLiteral("0"); }
    QString extraText() const { return toText(e->attribute); }

    QExplicitlySharedDataPointer<SharedData> e;
};

#endif
