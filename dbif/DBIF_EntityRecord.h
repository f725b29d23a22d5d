// DBIF_EntityRecord: the fields every stored entity's shared record carries (connection, key,
// modification time, user, id, modified and saving flags) and the save sequence the fixed-table
// kinds share: re-entry guard, time stamp, one INSERT for a new row, else one UPDATE when modified.
// Records are shared explicitly between handles and changed in place; one thread at a time.
#ifndef DBIF_ENTITYRECORD_H
#define DBIF_ENTITYRECORD_H

#include <QDateTime>
#include <QSharedData>
#include <QString>
#include <QVariant>

#include <QExplicitlySharedDataPointer>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_UnitOfWork.h"
#include "dbif/DBIF_Utilities.h"
#include "dbif/DBIF_WeakConnection.h"

struct DBIF_EntityRecord : public QSharedData {
    DBIF_WeakConnection connection;
    QString key;
    QDateTime modifiedTime;
    QString user;
    int id;
    bool modified;  // the stored row must be rewritten
    bool saving = false;

    DBIF_EntityRecord(const DBIF_Connection& connection, const QString& key, const QDateTime& modifiedTime,
                      const QString& user, int id)
        : connection(connection),
          key(key),
          modifiedTime(modifiedTime),
          user(user),
          id(id),
          modified(id == -1) {}
    virtual ~DBIF_EntityRecord() {}

    // The date-time form every statement writes.
    static QString sqlTime(const QDateTime& time) {
        return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    }
    // The date-time as an SQL literal: quoted, or NULL for an invalid one (a run not ended yet), which a
    // strict MySQL session would refuse as '' and which reads back as an invalid date-time.
    static QString sqlTimeLiteral(const QDateTime& time) {
        return time.isValid() ? QStringLiteral("'%1'").arg(sqlTime(time)) : QStringLiteral("NULL");
    }
    // The date-time as a bound value: its text, or NULL for an invalid one (see sqlTimeLiteral).
    static QVariant boundTime(const QDateTime& time) {
        return time.isValid() ? QVariant(sqlTime(time)) : QVariant();
    }
    // The text of a value that a statement puts between its own single quotes, escaped through the
    // connection so that it cannot end the literal early.
    static QString sqlText(const DBIF_Connection& connection, const QString& text) {
        const QString quoted = connection.quoteText(text);
        return quoted.mid(1, quoted.size() - 2);
    }

    // Runs insert() for a new row and takes the database's id, or update() when the row is modified.
    // The INSERT leaves the modified flag as it is, so a following save rewrites the row once.
    // A statement that throws leaves id and modified flag as they were; the guard is released.
    template <typename Insert, typename Update>
    void saveRow(Insert insert, Update update) {
        if (saving)
            return;
        saving = true;
        struct Release {
            bool& flag;
            ~Release() { flag = false; }
        } release{saving};
        modifiedTime = now();
        // A unit of its own: outside a host transaction the row is committed (or nothing is written).
        DBIF_UnitOfWork unit(connection);
        // Inside a unit of work that is rolled back later the row is gone again: the record forgets
        // the id (or the cleared flag) so that the next save writes it anew.
        const QExplicitlySharedDataPointer<DBIF_EntityRecord> self(this);
        if (id == -1) {
            insert();
            id = connection.getLastId();
            DBIF_UnitOfWork::onRollback(connection, [self] { self->id = -1; });
        } else if (modified) {
            update();
            modified = false;
            DBIF_UnitOfWork::onRollback(connection, [self] { self->modified = true; });
        }
        unit.commit();
    }
    // saveRow for a kind that is one row of its own table: one INSERT or one UPDATE of `columns`, the
    // values (values(), in the columns' order) bound; the UPDATE is counted under `updateCategory`.
    template <typename Values>
    void saveBoundRow(const QString& table, const QStringList& columns, Values values,
                      int updateCategory = DBIF_UPDATE_TIMING) {
        saveRow(
            [&] { connection.insertRow(table, columns, values(), DBIF_UPDATE_TIMING, __FILE__, __LINE__); },
            [&] { connection.updateRow(table, columns, values(), id, updateCategory, __FILE__, __LINE__); });
    }
    // A statement's text put between single quotes, escaped so that it cannot end the literal early.
    QString quoted(const QString& text) const { return connection.quoteText(text); }
};

#endif
