// Rows of parameterised tests. A row derives from TableRow, or has a `name` of its own first
// where it is written with designators: its name names the generated test (with
// testing::PrintToStringParamName()) and is what a failure prints as the parameter.
#ifndef KORVALEN_TESTS_SUPPORT_TABLE_H
#define KORVALEN_TESTS_SUPPORT_TABLE_H

#include <gtest/gtest.h>

#include <ostream>
#include <type_traits>

struct TableRow {
  const char* name;
};

template <class Row>
requires std::is_same_v<decltype(Row::name), const char*> std::ostream& operator<<(std::ostream& os,
                                                                                   const Row& row) {
  return os << row.name;
}

#endif  // KORVALEN_TESTS_SUPPORT_TABLE_H
