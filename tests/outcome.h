// The end-to-end table. Its row: one run of the programs as a user types it, and how it must end.
// Any end-to-end test file adds rows (INSTANTIATE_TEST_SUITE_P(Prefix, Outcome, ...));
// outcome.cpp runs each, and checks that no block is left published.
#ifndef KORVALEN_TESTS_OUTCOME_H
#define KORVALEN_TESTS_OUTCOME_H

#include <string>
#include <vector>

#include "support/process.h"
#include "support/table.h"

// Written with designators ({.name = "Read", .argv = {...}, .out = "..."}); what a row leaves
// out is empty, and its status 0.
struct OutcomeRow {
  const char* name;
  // "{sim}", "{snapshot}", "{prometheus}", "{sensors}" and "{mqtt}" stand for the built programs,
  // "{folder}" for their folder, and "{file}" for a scratch file that holds `file`, here and in
  // `out` and `err`. A first word "{unprivileged}" runs the rest without the power to bypass
  // access checks.
  std::vector<std::string> argv;
  int status = 0;
  std::string out = {};  // exact, but that '*' stands for any run of characters within a line
  std::string err = {};  // likewise
  OutputSink sink = OutputSink::capture;
  std::string file = {};
  std::string written = {};  // when given, what {file} must hold afterwards
};
class Outcome : public testing::TestWithParam<OutcomeRow> {};

#endif  // KORVALEN_TESTS_OUTCOME_H
