// The form every failure about a file is shown in.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/errors.h"

// The program's message with its full stop on the first line, the file and a
// non-empty reason on the second.
inline void ExpectFileReport(const Exception& e, const std::string& path) {
  EXPECT_FALSE(e.Reason().empty()) << e.Message();
  EXPECT_EQ(ErrorReport(e),
            DisplayMessage(e.Message()) + "\n" + EscapeName(path) + ": " + e.Reason());
}
