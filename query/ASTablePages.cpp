// Each page continues after the last row read (WHERE order > last, by the expanded
// comparison that both databases serve from the order's index, the first column's bound
// repeated on its own for the seek) instead of counting rows from the start, so reading a
// table costs the same for every page. Where the order is no key (a table without one), the
// same row may stand several times: a page starts at the last row's values (>=) and skips
// the rows with those values already read. The key columns are NOT NULL; a NULL in the order
// of a table without a key, which no comparison finds, makes the rest go by row counts.
#include "ASTablePages.h"

#include <algorithm>

namespace {

// The columns the table is read in the order of; `unique`: they are its key.
std::vector<size_t> orderColumns(const ASDomain& d, bool& unique, std::string& index) {
  std::vector<size_t> order;
  const ASColumnList key = d.KeyColumns();
  if (!key.empty()) {
    unique = true;
    index = ASPrimaryKey;
    return std::vector<size_t>(key.begin(), key.end());
  }
  unique = false;
  for (const ASIndexDef& ix : d.Indexes()) {
    std::vector<size_t> cols(ix.columns.begin(), ix.columns.end());
    std::vector<size_t> sorted = cols;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    if (sorted.size() == d.Size()) {
      index = ix.name;
      return cols;
    }
  }
  for (size_t i = 0; i < d.Size(); ++i) order.push_back(i);
  return order;
}

bool sameValue(const ASBindValue& a, const ASBindValue& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case ASBindValue::Null:
      return true;
    case ASBindValue::Integer:
      return a.i == b.i;
    case ASBindValue::Real:
      return a.d == b.d;
    default:
      return a.Bytes() == b.Bytes();
  }
}

}  // namespace

ASTablePages::ASTablePages(ASSession& session, const ASDomain& table, size_t pageRows)
    : session_(session),
      mostRows_(std::max<size_t>(1, pageRows)),
      pageRows_(std::min<size_t>(mostRows_, kFirstPageRows)) {
  std::string index;
  order_ = orderColumns(table, unique_, index);
  ASDriverConnection& conn = ASSessionAccess::Connection(session);
  std::string head = "SELECT ";
  for (size_t i = 0; i < table.Size(); ++i)
    head += (i ? ", " : "") + table.Attribute(i).Name();
  head += " FROM " + table.TableName();
  if (!index.empty()) head += conn.IndexHint(table, index);
  std::string orderBy = " ORDER BY ";
  for (size_t k = 0; k < order_.size(); ++k)
    orderBy += (k ? ", " : "") + table.Attribute(order_[k]).Name();
  const std::string limit = " LIMIT ?";
  first_ = head + orderBy + limit;
  offset_ = head + orderBy + limit + " OFFSET ?";

  auto name = [&](size_t k) { return table.Attribute(order_[k]).Name(); };
  std::string where = " WHERE " + name(0) + " >= ? AND (";
  for (size_t k = 0; k < order_.size(); ++k) {
    where += k ? " OR (" : "(";
    for (size_t j = 0; j < k; ++j) where += name(j) + " = ? AND ";
    where += name(k) + " > ?)";
  }
  if (!unique_) {
    where += " OR (";
    for (size_t k = 0; k < order_.size(); ++k) where += (k ? " AND " : "") + name(k) + " = ?";
    where += ")";
  }
  where += ")";
  after_ = head + where + orderBy + limit + (unique_ ? "" : " OFFSET ?");
}

bool ASTablePages::Next(ASRowBuffer& rows) {
  rows.clear();
  if (done_) return false;
  params_.clear();
  const std::string* sql = &first_;
  const ASBindValue limit = ASBindValue::MakeInt(static_cast<long long>(pageRows_));
  if (byOffset_) {
    sql = &offset_;
    params_.push_back(limit);
    params_.push_back(ASBindValue::MakeInt(static_cast<long long>(read_)));
  } else if (!started_) {
    params_.push_back(limit);
  } else {
    sql = &after_;
    const size_t m = order_.size();
    params_.push_back(last_[0]);
    for (size_t k = 0; k < m; ++k)
      for (size_t j = 0; j <= k; ++j) params_.push_back(last_[j]);
    if (!unique_)
      for (size_t k = 0; k < m; ++k) params_.push_back(last_[k]);
    params_.push_back(limit);
    if (!unique_) params_.push_back(ASBindValue::MakeInt(static_cast<long long>(sameAsLast_)));
  }
  ASSessionAccess::Run(session_, *sql, params_, &rows);
  started_ = true;
  if (rows.size() < pageRows_) done_ = true;
  if (rows.empty()) return false;
  Remember(rows);
  Resize(rows);
  return true;
}

void ASTablePages::Remember(const ASRowBuffer& rows) {
  read_ += rows.size();
  if (byOffset_) return;
  const ASRow& tail = rows.back();
  if (!unique_) {
    auto sameOrder = [this](const ASRow& row, const ASRow& other, bool otherIsLast) {
      for (size_t k = 0; k < order_.size(); ++k)
        if (!sameValue(row[order_[k]], otherIsLast ? other[k] : other[order_[k]])) return false;
      return true;
    };
    // The rows at the end of this page that have the last row's values; where the whole page
    // has them, they go on a run that began on an earlier page.
    size_t run = 1;
    while (run < rows.size() && sameOrder(rows[rows.size() - 1 - run], tail, false)) ++run;
    const bool goesOn = run == rows.size() && !last_.empty() && sameOrder(tail, last_, true);
    sameAsLast_ = goesOn ? sameAsLast_ + run : run;
  }
  last_.resize(order_.size());
  for (size_t k = 0; k < order_.size(); ++k) {
    const ASBindValue& v = tail[order_[k]];
    ASBindValue& l = last_[k];
    l.kind = v.kind;
    l.i = v.i;
    l.d = v.d;
    l.bytes = v.Bytes();
    l.ref = nullptr;
    if (v.kind == ASBindValue::Null) byOffset_ = true;
  }
}

// A page is read whole into memory (and written as one transaction): the first one holds a few
// rows, and each one after it as many as fit kPageBytes at the size of the rows before it, up
// to the most asked for.
void ASTablePages::Resize(const ASRowBuffer& rows) {
  size_t bytes = 0;
  for (size_t r = 0; r < rows.size(); ++r)
    for (const ASBindValue& v : rows[r]) bytes += 16 + v.Bytes().size();
  const size_t perRow = std::max<size_t>(1, bytes / rows.size());
  pageRows_ = std::max<size_t>(1, std::min(mostRows_, kPageBytes / perRow));
}
