// Attributes, operands and the comparisons built from them.
#include "ASNode.h"
#include "ASSelect.h"
#include "ASSqlText.h"
#include "ASThreadCache.h"

namespace {

// Condition nodes are made and dropped with every statement: a thread keeps the blocks of
// those it dropped (up to kKeptNodes of them) for its next ones instead of going back to
// the allocator each time.
const size_t kKeptNodes = 64;
struct NodeBlocks {
  void* head;
  size_t count;
};
struct FreeNodeBlocks {
  void ThreadEnds(NodeBlocks& b) {
    while (b.head) {
      void* next = *static_cast<void**>(b.head);
      ::operator delete(b.head);
      b.head = next;
    }
  }
};
using NodeCache = ASThreadCache<NodeBlocks, FreeNodeBlocks>;

void* takeBlock() {
  NodeBlocks& b = NodeCache::Mine().data;
  if (!b.head) return ::operator new(sizeof(ASNode));
  void* p = b.head;
  b.head = *static_cast<void**>(p);
  --b.count;
  return p;
}

void giveBlock(void* p) {
  NodeCache::Slot& slot = NodeCache::Mine();
  NodeBlocks& b = slot.data;
  if (b.count == kKeptNodes || !slot.Keep()) {
    ::operator delete(p);
    return;
  }
  *static_cast<void**>(p) = b.head;
  b.head = p;
  ++b.count;
}

ASTerm attrTerm(const ASAttribute& a) {
  ASTerm t;
  if (a.Domain()) {
    t.kind = ASTerm::Column;
    t.domain = a.Domain();
    t.column = a.Index();
  } else {
    t.kind = ASTerm::Subselect;
    t.sql = a.Subselect();
  }
  return t;
}

ASTerm columnTerm(const ASAttribute& a) {
  if (!a.Domain())
    throw AException("a sub-select can only be used with In() or NotIn(), not compared");
  return attrTerm(a);
}

ASComparison compare(const ASAttribute& a, ASKeyTag op, ASOperand&& b) {
  if (!a.Domain())
    throw AException("a sub-select can only be used with In() or NotIn(), not compared");
  ASNode* n = nullptr;
  ASDetail::NodeRef ref = ASMakeNode(ASNode::Compare, n);
  n->op = op;
  n->a.kind = ASTerm::Column;
  n->a.domain = a.Domain();
  n->a.column = a.Index();
  n->b = std::move(b.term);
  return ASComparison(std::move(ref));
}

ASComparison membership(const ASAttribute& a, ASNode::Kind kind, const ASAttribute& sub) {
  if (sub.Domain() || !sub.Subselect() || sub.Subselect()->empty())
    throw AException("In() and NotIn() need a sub-select attribute (ASFilter::Select())");
  ASNode* n = nullptr;
  ASDetail::NodeRef ref = ASMakeNode(kind, n);
  n->a = columnTerm(a);
  n->More().sql = sub.Subselect();
  return ASComparison(std::move(ref));
}

ASComparison combine(ASNode::Kind kind, const ASComparison& a, const ASComparison& b) {
  if (a.IsEmpty()) return b;
  if (b.IsEmpty()) return a;
  ASNode* n = nullptr;
  ASDetail::NodeRef ref = ASMakeNode(kind, n);
  n->l = a.Node();
  n->r = b.Node();
  return ASComparison(std::move(ref));
}

}  // namespace

void ASDetail::DropNode(const CountedNode* node) {
  ASNode* n = const_cast<ASNode*>(static_cast<const ASNode*>(node));
  n->~ASNode();
  giveBlock(n);
}

ASDetail::NodeRef ASMakeNode(ASNode::Kind kind, ASNode*& n) {
  void* block = takeBlock();
  try {
    n = new (block) ASNode;  // its members are all initialised: no zeroing first
  } catch (...) {
    giveBlock(block);
    throw;
  }
  n->kind = kind;
  return ASDetail::NodeRef(n);
}

ASOperand::ASOperand(const ASAttribute& a) : term(attrTerm(a)) {}
// Value operands are written into their term in place (a term is a value unless made
// otherwise): one is made for every value of every condition.
ASOperand::ASOperand(const char* v) {
  if (!v) return;  // NULL
  term.value.kind = ASBindValue::Text;
  term.value.bytes = v;
}
ASOperand::ASOperand(const std::string& v) {
  term.value.kind = ASBindValue::Text;
  term.value.bytes = v;
}
ASOperand::ASOperand(const Str& v) : ASOperand(v.str()) {}
ASOperand::ASOperand(int v) : ASOperand(static_cast<long long>(v)) {}
ASOperand::ASOperand(long v) : ASOperand(static_cast<long long>(v)) {}
ASOperand::ASOperand(long long v) {
  term.value.kind = ASBindValue::Integer;
  term.value.i = v;
}
ASOperand::ASOperand(unsigned v) : ASOperand(static_cast<long long>(v)) {}
ASOperand::ASOperand(double v) {
  term.value.kind = ASBindValue::Real;
  term.value.d = v;
}
ASOperand::ASOperand(const Guid& v) {
  term.value.kind = ASBindValue::Blob;
  term.value.bytes = v.Bytes();
}
ASOperand::ASOperand(const ASValue& v) { term.value = ASBindOf(v, v.Type()); }

ASOperand ASBound(const ASValue& v) {
  ASOperand o(0LL);
  o.term.kind = ASTerm::Bound;
  o.term.bound = &v;
  return o;
}

ASOrder::ASOrder(const ASAttribute& a, bool descending) : attr_(&a), desc_(descending) {}

ASAttribute::ASAttribute(const Str& subselect) : sub_(std::make_shared<const Str>(subselect)) {}

void ASAttribute::SetKey(int kind) {
  key_ = kind;
  if (!domain_) return;
  domain_->leftJoined_ = false;
  for (size_t i = 0; i < domain_->Size(); ++i)
    if (domain_->Attribute(i).Key() == AS_KEY_LEFT_JOIN) domain_->leftJoined_ = true;
}

ASComparison ASAttribute::IsNull() const {
  ASNode* n = nullptr;
  ASDetail::NodeRef ref = ASMakeNode(ASNode::IsNull, n);
  n->a = columnTerm(*this);
  return ASComparison(std::move(ref));
}

ASComparison ASAttribute::In(const ASAttribute& s) const {
  return membership(*this, ASNode::In, s);
}

ASComparison ASAttribute::NotIn(const ASAttribute& s) const {
  return membership(*this, ASNode::NotIn, s);
}

ASSetter ASAttribute::Set(const ASExpression& e) const { return ASSetter(*this, e); }
ASSetter ASAttribute::Set(const ASOperand& v) const { return ASSetter(*this, ASExpression(v)); }
ASSetter ASAttribute::Set(ASOperand&& v) const {
  return ASSetter(*this, ASExpression(std::move(v)));
}

ASComparison::ASComparison() = default;

ASComparison::ASComparison(const Str& sql, ASDomain* left, ASDomain* right) {
  if (sql.empty()) return;
  ASNode* n = nullptr;
  ASDetail::NodeRef ref = ASMakeNode(ASNode::Join, n);
  ASNode::Embedded& e = n->More();
  e.sql = std::make_shared<const Str>(sql);
  e.left = left;
  e.right = right;
  node_ = std::move(ref);
}

Str ASComparison::Query() const {
  ASSqlWriter w;
  if (node_) ASRenderCondition(ASNodeOf(node_), w);
  return ASMakeQueryStr(std::move(w));
}

ASComparison operator==(const ASAttribute& a, ASOperand b) { return compare(a, ASKeyTag::Equal, std::move(b)); }
ASComparison operator!=(const ASAttribute& a, ASOperand b) { return compare(a, ASKeyTag::NotEqual, std::move(b)); }
ASComparison operator<(const ASAttribute& a, ASOperand b) { return compare(a, ASKeyTag::Less, std::move(b)); }
ASComparison operator>(const ASAttribute& a, ASOperand b) { return compare(a, ASKeyTag::Greater, std::move(b)); }
ASComparison operator<=(const ASAttribute& a, ASOperand b) { return compare(a, ASKeyTag::LessEqual, std::move(b)); }
ASComparison operator>=(const ASAttribute& a, ASOperand b) { return compare(a, ASKeyTag::GreaterEqual, std::move(b)); }

ASComparison operator&&(const ASComparison& a, const ASComparison& b) {
  return combine(ASNode::And, a, b);
}

ASComparison operator||(const ASComparison& a, const ASComparison& b) {
  return combine(ASNode::Or, a, b);
}

ASComparison operator!(const ASComparison& a) {
  if (a.IsEmpty()) return a;
  ASNode* n = nullptr;
  ASDetail::NodeRef ref = ASMakeNode(ASNode::Not, n);
  n->l = a.Node();
  return ASComparison(std::move(ref));
}
