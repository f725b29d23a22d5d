// ProgressLine: one line on standard error that an import rewrites in place: the file being read,
// the rows of it done, the rows per second and the time left, shown only when standard error is a
// terminal and the user did not ask for quiet. A large file moves the line while it is read, and the
// time left comes from rows: the rows still to come in this file and, for the files after it, their
// sizes at the bytes per row seen so far. Redraws at most five times a second. Used from one thread.
// A copy of runs shows runs in place of files, each run's row count as its size.
#ifndef DBIF_TOOLS_PROGRESSLINE_H
#define DBIF_TOOLS_PROGRESSLINE_H

#include <QElapsedTimer>
#include <QList>
#include <QString>

class ProgressLine {
public:
    // fileBytes: the size of each file to import, in order (0 when unknown, as for a pipe). item names
    // what the line counts ("file", "run").
    ProgressLine(const QList<qint64>& fileBytes, bool quiet, const QString& item = QStringLiteral("file"));
    // Ends the line, so that later messages start on a line of their own.
    ~ProgressLine();

    // File index (from 0) begins.
    void startFile(int index);
    // How far the current file has come: done of its rows, a fraction when the work on a row is done
    // in several passes (a row read is part of it, a row stored all of it). rows is the file's row
    // count, as far as known.
    void advance(double done, long long rows);
    // The current file is finished: stored, skipped or failed.
    void finishFile();
    // Ends a drawn line before a message is written; the next update draws a new one.
    void interrupt();

private:
    void draw(bool force);

    bool enabled;
    QString item;
    bool drawn = false;
    QList<qint64> fileBytes;
    int file = -1;               // the current file, or the count of files when all are finished
    double fileDone = 0;         // rows of the current file done
    long long fileRows = 0;      // rows of the current file
    long long finishedRows = 0;  // rows of the finished files
    qint64 finishedBytes = 0;    // bytes of the finished files whose rows are known
    QElapsedTimer clock;
    qint64 lastDraw = -1000;
};

#endif
