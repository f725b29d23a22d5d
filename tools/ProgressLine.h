// ProgressLine: one line on standard error that an import rewrites in place (files, rows, rows/s,
// time left), shown only when standard error is a terminal and the user did not ask for quiet.
// Redraws at most five times a second. Used from one thread.
#ifndef DBIF_TOOLS_PROGRESSLINE_H
#define DBIF_TOOLS_PROGRESSLINE_H

#include <QElapsedTimer>

class ProgressLine {
public:
    ProgressLine(int totalFiles, bool quiet);
    // Ends the line, so that later messages start on a line of their own.
    ~ProgressLine();

    void update(int filesDone, long long rowsDone, bool force = false);
    // Ends a drawn line before a message is written; the next update draws a new one.
    void interrupt();

private:
    bool enabled;
    bool drawn = false;
    int totalFiles;
    QElapsedTimer clock;
    qint64 lastDraw = -1000;
};

#endif
