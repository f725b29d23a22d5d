// ProgressLine.cpp: the terminal test and the line's text.
#include "ProgressLine.h"

#include <unistd.h>

#include <cstdio>

ProgressLine::ProgressLine(int totalFiles, bool quiet)
    : enabled(!quiet && isatty(STDERR_FILENO)), totalFiles(totalFiles) {
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

void ProgressLine::update(int filesDone, long long rowsDone, bool force) {
    if (!enabled)
        return;
    const qint64 now = clock.elapsed();
    if (!force && now - lastDraw < 200)
        return;
    lastDraw = now;
    const double seconds = now / 1000.0;
    const double rate = seconds > 0 ? rowsDone / seconds : 0;
    const double left = filesDone > 0 ? seconds * (totalFiles - filesDone) / filesDone : 0;
    std::fprintf(stderr, "\r%d/%d files, %lld rows, %.0f rows/s, %.0f s left   ", filesDone, totalFiles,
                 rowsDone, rate, left);
    std::fflush(stderr);
    drawn = true;
}
