// Helpers shared by the regular-expression tests: capturing what an operation reports
// on the error stream, and matching such reports.
#ifndef QUILLBOX_TESTS_TEXT_REGEXTESTSUPPORT_H
#define QUILLBOX_TESTS_TEXT_REGEXTESTSUPPORT_H

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

// Runs `f` and returns what it wrote to the error stream.
template <typename F>
std::string ErrorsOf(F&& f) {
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

// Matches a report holding `part`, or an empty one when `part` is empty.
inline testing::Matcher<std::string> Reports(const char* part) {
    return *part ? testing::Matcher<std::string>(testing::HasSubstr(part)) : testing::IsEmpty();
}

#endif
