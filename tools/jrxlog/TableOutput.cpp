#include "TableOutput.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <boost/algorithm/string/case_conv.hpp>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>

namespace jrxlog {

Terminal Terminal::of(int fd) {
  Terminal t;
  t.isTty = isatty(fd) != 0;
  if (t.isTty) {
    struct winsize ws {};
    if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) {
      t.columns = ws.ws_col;
      t.rows = ws.ws_row;
    }
    if (t.columns == 0) {
      const char* c = std::getenv("COLUMNS");
      if (c) t.columns = std::atoi(c);
    }
    if (t.columns <= 0) t.columns = 80;
    if (t.rows <= 0) t.rows = 24;
  }
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) {
      const std::string s = boost::algorithm::to_lower_copy(std::string(v));
      t.utf8 = s.find("utf-8") != std::string::npos || s.find("utf8") != std::string::npos;
      break;
    }
  }
  return t;
}

std::string localTime(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return std::to_string(seconds);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

std::string statusText(int status) {
  switch (status) {
    case 0: return "-";
    case 1: return "started";
    case 2: return "running";
    case 3: return "done";
    case 4: return "canceled";
    case 5: return "failed";
    default: return "ended " + std::to_string(status);
  }
}

std::string oneLine(const std::string& text) {
  std::string out = text;
  for (auto& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return out;
}

size_t displayWidth(const std::string& text) {
  size_t n = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string cutTo(const std::string& text, size_t width, bool utf8) {
  if (displayWidth(text) <= width) return text;
  const std::string mark = utf8 ? "\xE2\x80\xA6" : "~";
  if (width == 0) return "";
  size_t keep = width - 1, n = 0, i = 0;
  for (; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (n == keep) break;
      ++n;
    }
  }
  return text.substr(0, i) + mark;
}

std::string shortenGuids(const std::string& text, bool utf8) {
  static const std::regex guid(
      "([[:xdigit:]]{8})-[[:xdigit:]]{4}-[[:xdigit:]]{4}-[[:xdigit:]]{4}-[[:xdigit:]]{12}");
  return std::regex_replace(text, guid, utf8 ? "$1\xE2\x80\xA6" : "$1~");
}

void Table::addRow(std::vector<std::string> cells) {
  cells.resize(columns_.size());
  for (auto& c : cells) c = oneLine(c);
  rows_.push_back(std::move(cells));
}

void Table::print(std::ostream& out, int width, bool utf8) {
  std::vector<std::vector<std::string>>& cells = rows_;
  auto widths = [&] {
    std::vector<size_t> w(columns_.size());
    for (size_t c = 0; c < columns_.size(); ++c) {
      w[c] = displayWidth(columns_[c].header);
      for (const auto& row : cells) w[c] = std::max(w[c], displayWidth(row[c]));
    }
    return w;
  };
  auto total = [&](const std::vector<size_t>& w) {
    size_t t = 0;
    for (size_t x : w) t += x;
    return t + 2 * (w.empty() ? 0 : w.size() - 1);
  };
  std::vector<size_t> w = widths();
  if (width > 0 && total(w) > static_cast<size_t>(width)) {
    for (size_t c = 0; c < columns_.size(); ++c)
      if (columns_[c].kind == GUIDS)
        for (auto& row : cells) row[c] = shortenGuids(row[c], utf8);
    w = widths();
  }
  if (width > 0 && total(w) > static_cast<size_t>(width)) {
    for (size_t c = columns_.size(); c-- > 0;) {
      if (columns_[c].kind != TEXT) continue;
      size_t others = total(w) - w[c];
      size_t room = others + 10 < static_cast<size_t>(width) ? width - others : 10;
      room = std::max(room, displayWidth(columns_[c].header));
      for (auto& row : cells) row[c] = cutTo(row[c], room, utf8);
      w[c] = std::min(w[c], room);
      break;
    }
  }
  auto line = [&](const std::vector<std::string>& row) {
    std::string s;
    for (size_t c = 0; c < columns_.size(); ++c) {
      bool last = c + 1 == columns_.size();
      size_t pad = w[c] - std::min(w[c], displayWidth(row[c]));
      if (columns_[c].align == RIGHT) s.append(pad, ' ');
      s += row[c];
      if (columns_[c].align == LEFT && !last) s.append(pad, ' ');
      if (!last) s += "  ";
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    out << s << '\n';
  };
  std::vector<std::string> header;
  for (const auto& c : columns_) header.push_back(c.header);
  line(header);
  for (const auto& row : cells) line(row);
}

}  // namespace jrxlog
