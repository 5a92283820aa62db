// Rows of parameterised tests. A row derives from TableRow: its name names the generated test
// (with testing::PrintToStringParamName()) and is what a failure prints as the parameter.
#ifndef KORVALEN_TESTS_SUPPORT_TABLE_H
#define KORVALEN_TESTS_SUPPORT_TABLE_H

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "support/process.h"

struct TableRow {
  const char* name;
};

template <class Row>
requires std::is_base_of_v<TableRow, Row> std::ostream& operator<<(std::ostream& os,
                                                                   const Row& row) {
  return os << row.name;
}

// One run of the programs as a user types it, and how it must end. Any test file may add rows
// (INSTANTIATE_TEST_SUITE_P(Prefix, Outcome, ...)); the test is defined in end_to_end_test.cpp,
// and it also checks that no block is left published.
struct OutcomeRow : TableRow {
  // "{sim}" and "{snapshot}" stand for the built programs, "{folder}" for their folder, and
  // "{file}" for a scratch file that holds `file`, here and in `out` and `err`. A first word
  // "{unprivileged}" runs the rest without the power to bypass access checks.
  std::vector<std::string> argv;
  int status;
  std::string out;  // exact, but that '*' stands for any run of characters within a line
  std::string err;  // likewise
  OutputSink sink = OutputSink::capture;
  std::string file = {};
};
class Outcome : public testing::TestWithParam<OutcomeRow> {};

#endif  // KORVALEN_TESTS_SUPPORT_TABLE_H
