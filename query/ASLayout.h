// How a table's layout differs from the one its domain wants: shared by the core, which
// tells what changes, and the drivers, which write the statements that change it.
#pragma once

#include <string>
#include <vector>

#include "ASQuery.h"

struct ASLayoutDiff {
  std::vector<const ASColumnLayout*> addColumns;     // wanted, missing
  std::vector<const ASColumnLayout*> changeColumns;  // wanted with another type
  std::vector<std::string> extraColumns;             // there, not wanted: kept unless a
                                                     // driver knows it as its own
  bool keyChanged = false;
  std::vector<std::string> dropIndexes;  // of the table's own naming, not wanted as they are
  std::vector<const ASIndexLayout*> addIndexes;
  bool Empty() const {
    return addColumns.empty() && changeColumns.empty() && !keyChanged && dropIndexes.empty() &&
           addIndexes.empty();
  }
};

ASLayoutDiff ASCompareLayouts(const std::string& table, const ASTableLayout& have,
                              const ASTableLayout& want);
// One line for each change that turning `have` into `want` makes.
std::vector<std::string> ASLayoutChanges(const std::string& table, const ASTableLayout& have,
                                         const ASTableLayout& want);
// "a, b, c"
std::string ASJoinNames(const std::vector<std::string>& names);
