// ProgressLine.cpp: the terminal test, the estimate of the rows to come and the line's text.
#include "ProgressLine.h"

#include <unistd.h>

#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdio>

ProgressLine::ProgressLine(const QList<qint64>& fileBytes, bool quiet, const QString& item)
    : enabled(!quiet && isatty(STDERR_FILENO)), item(item), fileBytes(fileBytes) {
    clock.start();
}

ProgressLine::~ProgressLine() {
    interrupt();
}

void ProgressLine::interrupt() {
    if (drawn)
        std::fputs("\n", stderr);
    drawn = false;
}

void ProgressLine::startFile(int index) {
    file = index;
    fileDone = 0;
    fileRows = 0;
}

void ProgressLine::advance(double done, long long rows) {
    fileDone = done;
    fileRows = rows;
    draw(false);
}

void ProgressLine::finishFile() {
    finishedRows += fileRows;
    if (fileRows > 0)
        finishedBytes += fileBytes.value(file);
    fileDone = 0;
    fileRows = 0;
    ++file;
    if (file == fileBytes.size())
        draw(true);
}

void ProgressLine::draw(bool force) {
    if (!enabled)
        return;
    const qint64 now = clock.elapsed();
    if (!force && now - lastDraw < 200)
        return;
    lastDraw = now;
    const double done = finishedRows + fileDone;
    const double rate = now > 0 ? done * 1000.0 / now : 0;
    // The rows still to come: the rest of this file, and the files not read yet at the bytes per row
    // of those read so far (this one too, once its rows are known).
    const bool rowsKnown = fileRows > 0;
    const qint64 bytesRead = finishedBytes + (rowsKnown ? fileBytes.value(file) : 0);
    const long long rowsRead = finishedRows + fileRows;
    qint64 unreadBytes = 0;
    for (int later = rowsKnown ? file + 1 : file; later < fileBytes.size(); ++later)
        unreadBytes += fileBytes[later];
    QString text = file < fileBytes.size()
                       ? QStringLiteral("%1 %2/%3: ").arg(item).arg(file + 1).arg(fileBytes.size())
                       : QStringLiteral("%1/%1 %2s, ").arg(fileBytes.size()).arg(item);
    if (file < fileBytes.size())
        text += rowsKnown ? QStringLiteral("%1/%2 rows, ").arg(std::llround(fileDone)).arg(fileRows)
                          : QStringLiteral("reading, ");
    text += QStringLiteral("%1 rows in all, %2 rows/s").arg(std::llround(done)).arg(std::llround(rate));
    if (rate > 0 && (unreadBytes == 0 || bytesRead > 0)) {
        const double toCome = std::max(0.0, fileRows - fileDone) +
                              (unreadBytes > 0 ? unreadBytes * static_cast<double>(rowsRead) / bytesRead : 0);
        text += QStringLiteral(", %1 s left").arg(std::llround(toCome / rate));
    }
    // Back to the start of the line, and whatever a longer line before left there cleared.
    std::fprintf(stderr, "\r%s\033[K", text.toUtf8().constData());
    std::fflush(stderr);
    drawn = true;
}
