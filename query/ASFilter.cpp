#include "ASSelect.h"

const char* const ASPrimaryKey = "PRIMARY";

ASFilter::ASFilter() = default;
ASFilter::~ASFilter() = default;

ASFilter& ASFilter::Set(const ASComparison& c) {
  ++version_;
  cond_ = c;
  return *this;
}

ASFilter& ASFilter::Order(const ASOrder& o) {
  ++version_;
  if (!o.Attribute() || !o.Attribute()->Domain())
    throw AException("only a table column can order a select");
  orders_.push_back(o);
  return *this;
}

ASFilter& ASFilter::Limit(unsigned long long count, unsigned long long offset) {
  ++version_;
  hasLimit_ = true;
  limit_ = count;
  offset_ = offset;
  return *this;
}

ASFilter& ASFilter::UseIndex(const ASDomain& table, const std::string& index) {
  ++version_;
  hints_.emplace_back(&table, index);
  return *this;
}

ASFilter& ASFilter::JoinOrder(std::initializer_list<const ASDomain*> tables) {
  ++version_;
  joinOrder_ = tables;
  return *this;
}

ASComparison ASFilter::Exists(std::initializer_list<const ASDomain*> outer) const {
  ASNode* n = nullptr;
  ASDetail::NodeRef ref = ASMakeNode(ASNode::Exists, n);
  ASNode::Embedded& e = n->More();
  e.select = std::make_shared<const ASFilter>(*this);
  e.outer.assign(outer.begin(), outer.end());
  return ASComparison(std::move(ref));
}

ASAttribute ASFilter::Select() const { return ASAttribute(Query()); }

Str ASFilter::Query() const {
  ASSelectShape shape = ASAnalyzeSelect(*this);
  ASSelectExtras x;
  x.limit = hasLimit_;
  x.count = limit_;
  x.offset = offset_;
  ASSqlWriter w;
  ASRenderSelect(*this, shape, x, w);
  return ASMakeQueryStr(std::move(w));
}
