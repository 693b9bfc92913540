#include "ASLayout.h"

const ASColumnLayout* ASTableLayout::Column(const std::string& name) const {
  for (const ASColumnLayout& c : columns)
    if (c.name == name) return &c;
  return nullptr;
}

const ASIndexLayout* ASTableLayout::Index(const std::string& name) const {
  for (const ASIndexLayout& i : indexes)
    if (i.name == name) return &i;
  return nullptr;
}

std::string ASJoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

ASLayoutDiff ASCompareLayouts(const std::string& table, const ASTableLayout& have,
                              const ASTableLayout& want) {
  ASLayoutDiff d;
  for (const ASColumnLayout& c : want.columns) {
    const ASColumnLayout* h = have.Column(c.name);
    if (!h)
      d.addColumns.push_back(&c);
    else if (h->type != c.type)
      d.changeColumns.push_back(&c);
  }
  for (const ASColumnLayout& c : have.columns)
    if (!want.Column(c.name)) d.extraColumns.push_back(c.name);
  d.keyChanged = have.primaryKey != want.primaryKey;
  // Indexes named after their table are the log's own; any other is someone else's
  // business and stays.
  const std::string own = table + "_";
  for (const ASIndexLayout& i : have.indexes) {
    const ASIndexLayout* w = want.Index(i.name);
    if ((!w || !(*w == i)) && i.name.compare(0, own.size(), own) == 0)
      d.dropIndexes.push_back(i.name);
  }
  for (const ASIndexLayout& i : want.indexes) {
    const ASIndexLayout* h = have.Index(i.name);
    if (!h || !(*h == i)) d.addIndexes.push_back(&i);
  }
  return d;
}

std::vector<std::string> ASLayoutChanges(const std::string& table, const ASTableLayout& have,
                                         const ASTableLayout& want) {
  const ASLayoutDiff d = ASCompareLayouts(table, have, want);
  std::vector<std::string> out;
  for (const ASColumnLayout* c : d.addColumns) out.push_back(table + ": column " + c->name + " added");
  for (const ASColumnLayout* c : d.changeColumns)
    out.push_back(table + ": column " + c->name + " made " + c->type + " (was " +
                  have.Column(c->name)->type + ")");
  if (d.keyChanged)
    out.push_back(table + ": primary key (" + ASJoinNames(want.primaryKey) + ")" +
                  (have.primaryKey.empty() ? std::string(" (had none)")
                                           : " (was (" + ASJoinNames(have.primaryKey) + "))"));
  for (const std::string& i : d.dropIndexes)
    if (!want.Index(i)) out.push_back(table + ": index " + i + " dropped");
  for (const ASIndexLayout* i : d.addIndexes)
    out.push_back(table + ": " + (i->unique ? "unique index " : "index ") + i->name + " (" +
                  ASJoinNames(i->columns) + ") " + (have.Index(i->name) ? "remade" : "added"));
  return out;
}
