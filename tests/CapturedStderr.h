// CapturedStderr: what a piece of test code wrote to standard output or error, the assertion reports
// in it, and what it threw. Header-only helpers for the tests; not part of the library.
#ifndef DBIF_TESTS_CAPTUREDSTDERR_H
#define DBIF_TESTS_CAPTUREDSTDERR_H

#include <gtest/gtest.h>

#include <QString>
#include <sstream>
#include <string>
#include <vector>

// Everything the action wrote to standard error.
template <typename Action>
std::string stderrOf(Action&& action) {
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}

// Everything the action wrote to standard output.
template <typename Action>
std::string stdoutOf(Action&& action) {
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

// What read gives of the exception of type E that the action threw, or "nothing thrown".
template <typename E, typename Action, typename Read>
QString caught(Action&& action, Read read) {
    try {
        action();
    } catch (const E& e) {
        return read(e);
    }
    return QStringLiteral("nothing thrown");
}

// How many times part occurs in text (overlaps counted).
inline int countOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

using Reports = std::vector<std::string>;

// The messages of the assertion reports ("ASSERTION failed (<file>: line <n>)   => <message>") in
// output, in order. A message's further lines are those indented by two blanks right after it;
// other lines (Qt's own warnings) are ignored.
inline Reports assertionMessages(const std::string& output) {
    Reports messages;
    std::istringstream lines(output);
    bool inReport = false;
    for (std::string line; std::getline(lines, line);) {
        const auto arrow = line.find(")   => ");
        if (line.rfind("ASSERTION failed (", 0) == 0 && arrow != std::string::npos) {
            messages.push_back(line.substr(arrow + 7));
            inReport = true;
        } else if (inReport && line.rfind("  ", 0) == 0) {
            messages.back() += "\n" + line;
        } else {
            inReport = false;
        }
    }
    return messages;
}

// The assertion messages the action reported.
template <typename Action>
Reports reportsOf(Action&& action) {
    return assertionMessages(stderrOf(action));
}

#endif
