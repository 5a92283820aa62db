// Rows of parameterised tests. A row derives from TableRow: its name names the generated test
// (with testing::PrintToStringParamName()) and is what a failure prints as the parameter.
#ifndef KORVALEN_TESTS_SUPPORT_TABLE_H
#define KORVALEN_TESTS_SUPPORT_TABLE_H

#include <gtest/gtest.h>

#include <ostream>
#include <type_traits>

struct TableRow {
  const char* name;
};

template <class Row>
requires std::is_base_of_v<TableRow, Row> std::ostream& operator<<(std::ostream& os,
                                                                   const Row& row) {
  return os << row.name;
}

#endif  // KORVALEN_TESTS_SUPPORT_TABLE_H
