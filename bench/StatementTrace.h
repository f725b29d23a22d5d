// StatementTrace.h: the statements a piece of library work sends, read back from the connection's SQL
// trace, and their replay straight through Qt; what the benchmarks put beside the library to measure
// what it adds to the cost of its own statements. For one thread.
#ifndef DBIF_BENCH_STATEMENTTRACE_H
#define DBIF_BENCH_STATEMENTTRACE_H

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <iostream>
#include <sstream>

#include "dbif/DBIF_Connection.h"

// One statement the library sent; a prepared one carries its single bound value.
struct Statement {
    QString sql;
    bool prepared = false;
    QString value;
};

// The statements `work` sends on `db`, in order, with their texts exactly as sent (an INSERT keeps its
// closing line end, which costs Qt a copy of the text). Each starts after a "<connection>: (<n> ms) "
// line ("<connection> (<n> ms)" for a prepared statement, whose text ends in " => [<bound value>]") and
// ends with the line end the trace adds; a header or transaction message then opens with one more.
template <typename Work>
QList<Statement> recordStatements(DBIF_Connection& db, Work work) {
    std::ostringstream trace;
    std::streambuf* original = std::cout.rdbuf(trace.rdbuf());
    db.setShowSql(true);
    work();
    db.setShowSql(false);
    std::cout.rdbuf(original);

    const QString key = db.getQtDatabaseKey();
    QList<Statement> statements;
    QStringList current;
    bool inStatement = false;
    bool prepared = false;
    // `traceEnds` is how many of the trailing empty lines the trace itself wrote.
    const auto finish = [&](int traceEnds) {
        for (; traceEnds > 0 && !current.isEmpty() && current.last().isEmpty(); --traceEnds)
            current.removeLast();
        if (inStatement && !current.isEmpty()) {
            Statement statement{current.join('\n'), prepared, QString()};
            if (prepared) {
                const qsizetype arrow = statement.sql.lastIndexOf(" => [");
                statement.value = statement.sql.mid(arrow + 5, statement.sql.size() - arrow - 6);
                statement.sql.truncate(arrow);
            }
            statements.append(statement);
        }
        current.clear();
        inStatement = false;
    };
    for (const QString& line : QString::fromStdString(trace.str()).split('\n')) {
        const bool plainHeader = line.startsWith(key + ": (") && line.endsWith(" ms) ");
        const bool preparedHeader = line.startsWith(key + " (") && line.endsWith(" ms)");
        if (plainHeader || preparedHeader) {
            finish(1);
            inStatement = true;
            prepared = preparedHeader;
        } else if (line.startsWith("  Beginning Transaction") ||
                   line.startsWith("  Committing Transaction")) {
            finish(1);
        } else if (line.startsWith("Int query returned") || line.startsWith("String query returned") ||
                   line.startsWith("DateTime query returned")) {
            finish(0);
        } else if (inStatement) {
            current.append(line);
        }
    }
    finish(1);
    return statements;
}

// Sends the statements in order through QSqlQuery on `qt`, reading every value of every result row
// (as a double, the way a host reads numbers) into *sum. Returns the first failure, or an empty text.
inline QString replay(QSqlDatabase& qt, const QList<Statement>& statements, double* sum = nullptr) {
    for (const Statement& statement : statements) {
        QSqlQuery query(qt);
        bool ok;
        if (statement.prepared) {
            ok = query.prepare(statement.sql);
            query.addBindValue(statement.value);
            ok = ok && query.exec();
        } else {
            ok = query.exec(statement.sql);
        }
        if (!ok)
            return query.lastError().text() + "\n" + statement.sql.left(300);
        const int columns = query.record().count();
        double total = 0;
        while (query.next()) {
            for (int i = 0; i < columns; ++i)
                total += query.value(i).toDouble();
        }
        if (sum)
            *sum += total;
    }
    return QString();
}

#endif
