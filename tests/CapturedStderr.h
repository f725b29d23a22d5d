// CapturedStderr: what a piece of test code wrote to standard error (assertion reports), and how
// often a text appears in it. Header-only helpers for the tests; not part of the library.
#ifndef DBIF_TESTS_CAPTUREDSTDERR_H
#define DBIF_TESTS_CAPTUREDSTDERR_H

#include <gtest/gtest.h>

#include <string>

// Everything the action wrote to standard error.
template <typename Action>
std::string stderrOf(Action&& action) {
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}

// How many times part occurs in text (overlaps counted).
inline int countOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

#endif
