// DBIF_EntityRecord: the fields every stored entity's shared record carries (connection, key,
// modification time, user, id, modified and saving flags) and the save sequence the fixed-table
// kinds share: re-entry guard, time stamp, one INSERT for a new row, else one UPDATE when modified.
// Records are shared explicitly between handles and changed in place; one thread at a time.
#ifndef DBIF_ENTITYRECORD_H
#define DBIF_ENTITYRECORD_H

#include <QDateTime>
#include <QSharedData>
#include <QString>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Utilities.h"

struct DBIF_EntityRecord : public QSharedData {
    DBIF_Connection connection;
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
        if (id == -1) {
            insert();
            id = connection.getLastId();
        } else if (modified) {
            update();
            modified = false;
        }
    }
};

#endif
