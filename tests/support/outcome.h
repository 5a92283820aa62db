// One run of the programs as a user types it, and how it must end: the rows of Outcome tables.
// Any test file may add rows (INSTANTIATE_TEST_SUITE_P(Prefix, Outcome, ...)); the test itself is
// defined once, in end_to_end_test.cpp.
#ifndef KORVALEN_TESTS_SUPPORT_OUTCOME_H
#define KORVALEN_TESTS_SUPPORT_OUTCOME_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/table.h"

struct OutcomeRow : TableRow {
  // "{sim}" and "{snapshot}" stand for the built programs, "{folder}" for their folder, and
  // "{file}" for a scratch file that holds `file`, here and in `out` and `err`.
  std::vector<std::string> argv;
  int status;
  std::string out;  // exact, or, ending in '*', what it begins with
  std::string err;  // likewise
  OutputSink sink = OutputSink::capture;
  std::string file = {};
};

// Every run must also leave no block published behind it.
class Outcome : public testing::TestWithParam<OutcomeRow> {};

#endif  // KORVALEN_TESTS_SUPPORT_OUTCOME_H
