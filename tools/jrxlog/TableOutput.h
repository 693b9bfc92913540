// Readable tables for the listings: aligned columns, times as local date and time. On a
// terminal the table is fitted to its width (GUIDs shortened first, then the last column
// cut); elsewhere every value is printed whole, so that scripts can rely on the text.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "JRXGUID.h"

namespace jrxlog {

struct Terminal {
  bool isTty = false;
  int columns = 0;  // 0 when unknown or not a terminal
  int rows = 0;
  bool utf8 = false;
  static Terminal of(int fd);
};

std::string localTime(int64_t seconds);  // "YYYY-MM-DD HH:MM:SS"
std::string statusText(int status);      // "running", "failed", ...

class Table {
 public:
  enum Align { LEFT, RIGHT };
  enum Kind { PLAIN, GUIDS, TEXT };  // GUIDS may be shortened, TEXT may be cut
  struct Column {
    std::string header;
    Align align = LEFT;
    Kind kind = PLAIN;
  };

  explicit Table(std::vector<Column> columns) : columns_(std::move(columns)) {}
  void addRow(std::vector<std::string> cells);
  size_t rows() const { return rows_.size(); }
  // Writes header and rows; `width` 0 means no limit. Fitting the width shortens the cells
  // in place (a long table is not copied for it), so a table is printed once.
  void print(std::ostream& out, int width, bool utf8);

 private:
  std::vector<Column> columns_;
  std::vector<std::vector<std::string>> rows_;
};

// Text cells are single lines: control characters become spaces.
std::string oneLine(const std::string& text);
// Display width in characters (UTF-8 aware) and a cut to at most `width` characters.
size_t displayWidth(const std::string& text);
std::string cutTo(const std::string& text, size_t width, bool utf8);
// Every 36-character GUID in the text shortened to its first 8 digits.
std::string shortenGuids(const std::string& text, bool utf8);

}  // namespace jrxlog
