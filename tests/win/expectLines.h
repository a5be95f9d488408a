// Compares a transcript of log lines ("LL text") with the expected one. An
// expected line ending in '*' matches any line that begins with the text
// before it: error texts, library handles and other values a test cannot
// know in advance.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace testutil {

inline void ExpectTranscript(const std::vector<std::string> &want, std::vector<std::string> got)
{
   for (size_t i = 0; i < want.size() && i < got.size(); i++) {
      const std::string &w = want[i];
      if (!w.empty() && w.back() == '*' && got[i].compare(0, w.size() - 1, w, 0, w.size() - 1) == 0) {
         got[i] = w;
      }
   }
   EXPECT_EQ(want, got);
}

}  // namespace testutil
