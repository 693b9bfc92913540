// Attributes, operands and the comparisons built from them.
#include "ASNode.h"
#include "ASSelect.h"
#include "ASSqlText.h"

namespace {

std::shared_ptr<ASNode> valueNode(ASBindValue v) {
  auto n = std::make_shared<ASNode>();
  n->kind = ASNode::Value;
  n->value = std::move(v);
  return n;
}

std::shared_ptr<const ASNode> attrNode(const ASAttribute& a) {
  auto n = std::make_shared<ASNode>();
  if (a.Domain()) {
    n->kind = ASNode::Attr;
    n->domain = a.Domain();
    n->column = a.Index();
  } else {
    n->kind = ASNode::Subselect;
    n->sql = a.Subselect();
  }
  return n;
}

std::shared_ptr<const ASNode> columnNode(const ASAttribute& a) {
  if (!a.Domain())
    throw AException("a sub-select can only be used with In() or NotIn(), not compared");
  return attrNode(a);
}

ASComparison compare(const ASAttribute& a, const char* op, const ASOperand& b) {
  auto n = std::make_shared<ASNode>();
  n->kind = ASNode::Compare;
  n->op = op;
  n->a = columnNode(a);
  n->b = b.node;
  return ASComparison(n);
}

ASComparison membership(const ASAttribute& a, ASNode::Kind kind, const ASAttribute& sub) {
  if (sub.Domain() || sub.Subselect().empty())
    throw AException("In() and NotIn() need a sub-select attribute (ASFilter::Select())");
  auto n = std::make_shared<ASNode>();
  n->kind = kind;
  n->a = columnNode(a);
  n->sql = sub.Subselect();
  return ASComparison(n);
}

ASComparison combine(ASNode::Kind kind, const ASComparison& a, const ASComparison& b) {
  if (a.IsEmpty()) return b;
  if (b.IsEmpty()) return a;
  auto n = std::make_shared<ASNode>();
  n->kind = kind;
  n->a = a.Node();
  n->b = b.Node();
  return ASComparison(n);
}

ASType typeOf(const ASNode& n) {
  return n.kind == ASNode::Attr ? n.domain->Attribute(n.column).Type() : AS_VSTR;
}

void renderOperand(const ASNode& n, ASType type, ASSqlWriter& w) {
  switch (n.kind) {
    case ASNode::Attr:
      w.Column(*n.domain, n.column);
      break;
    case ASNode::Value:
      w.Value(ASCoerce(n.value, type));
      break;
    case ASNode::Subselect:
      w << "(";
      w.Embed(n.sql);
      w << ")";
      break;
    default:
      throw AException("malformed operand");
  }
}

}  // namespace

ASOperand::ASOperand(const ASAttribute& a) : node(attrNode(a)) {}
ASOperand::ASOperand(const char* v)
    : node(v ? valueNode(ASBindValue::MakeText(v)) : valueNode(ASBindValue())) {}
ASOperand::ASOperand(const std::string& v) : node(valueNode(ASBindValue::MakeText(v))) {}
ASOperand::ASOperand(const Str& v) : node(valueNode(ASBindValue::MakeText(v.str()))) {}
ASOperand::ASOperand(int v) : node(valueNode(ASBindValue::MakeInt(v))) {}
ASOperand::ASOperand(long v) : node(valueNode(ASBindValue::MakeInt(v))) {}
ASOperand::ASOperand(long long v) : node(valueNode(ASBindValue::MakeInt(v))) {}
ASOperand::ASOperand(unsigned v) : node(valueNode(ASBindValue::MakeInt(v))) {}
ASOperand::ASOperand(double v) : node(valueNode(ASBindValue::MakeReal(v))) {}
ASOperand::ASOperand(const Guid& v) : node(valueNode(ASBindValue::MakeBlob(v.Bytes()))) {}
ASOperand::ASOperand(const ASValue& v) : node(valueNode(ASBindOf(v, v.Type()))) {}

ASOrder::ASOrder(const ASAttribute& a, bool descending) : attr_(&a), desc_(descending) {}

ASAttribute::ASAttribute(ASDomain* domain, const char* column, ASType type, unsigned flags,
                         size_t maxBytes)
    : domain_(domain), name_(column), type_(type), flags_(flags), maxBytes_(maxBytes) {
  domain->Register(this);
}

ASAttribute::ASAttribute(const Str& subselect) : sub_(subselect) {}

ASComparison ASAttribute::IsNull() const {
  auto n = std::make_shared<ASNode>();
  n->kind = ASNode::IsNull;
  n->a = columnNode(*this);
  return ASComparison(n);
}

ASComparison ASAttribute::In(const ASAttribute& s) const {
  return membership(*this, ASNode::In, s);
}

ASComparison ASAttribute::NotIn(const ASAttribute& s) const {
  return membership(*this, ASNode::NotIn, s);
}

ASSetter ASAttribute::Set(const ASExpression& e) const { return ASSetter(*this, e); }
ASSetter ASAttribute::Set(const ASOperand& v) const { return ASSetter(*this, ASExpression(v)); }

ASComparison::ASComparison() = default;

ASComparison::ASComparison(const Str& sql, ASDomain* left, ASDomain* right) {
  if (sql.empty()) return;
  auto n = std::make_shared<ASNode>();
  n->kind = ASNode::Join;
  n->sql = sql;
  n->left = left;
  n->right = right;
  node_ = n;
}

Str ASComparison::Query() const {
  ASSqlWriter w;
  if (node_) ASRenderCondition(*node_, w);
  return ASMakeQueryStr(std::move(w));
}

ASComparison operator==(const ASAttribute& a, const ASOperand& b) { return compare(a, "=", b); }
ASComparison operator!=(const ASAttribute& a, const ASOperand& b) { return compare(a, "<>", b); }
ASComparison operator<(const ASAttribute& a, const ASOperand& b) { return compare(a, "<", b); }
ASComparison operator>(const ASAttribute& a, const ASOperand& b) { return compare(a, ">", b); }
ASComparison operator<=(const ASAttribute& a, const ASOperand& b) { return compare(a, "<=", b); }
ASComparison operator>=(const ASAttribute& a, const ASOperand& b) { return compare(a, ">=", b); }

ASComparison operator&&(const ASComparison& a, const ASComparison& b) {
  return combine(ASNode::And, a, b);
}

ASComparison operator||(const ASComparison& a, const ASComparison& b) {
  return combine(ASNode::Or, a, b);
}

ASComparison operator!(const ASComparison& a) {
  if (a.IsEmpty()) return a;
  auto n = std::make_shared<ASNode>();
  n->kind = ASNode::Not;
  n->a = a.Node();
  return ASComparison(n);
}

void ASRenderCondition(const ASNode& n, ASSqlWriter& w) {
  switch (n.kind) {
    case ASNode::Compare:
      renderOperand(*n.a, AS_VSTR, w);
      w << " " << n.op << " ";
      renderOperand(*n.b, typeOf(*n.a), w);
      break;
    case ASNode::IsNull:
      renderOperand(*n.a, AS_VSTR, w);
      w << " IS NULL";
      break;
    case ASNode::In:
    case ASNode::NotIn:
      renderOperand(*n.a, AS_VSTR, w);
      w << (n.kind == ASNode::In ? " IN (" : " NOT IN (");
      w.Embed(n.sql);
      w << ")";
      break;
    case ASNode::Exists:
      // Asked as a truth value, not as a bare conjunct: MariaDB would turn the latter into a
      // semi-join, which it may answer by reading the whole sub-select once, not by a probe.
      w << "(EXISTS (";
      ASRenderEmbedded(*n.select, n.outer, w);
      w << ")) IS TRUE";
      break;
    case ASNode::And:
    case ASNode::Or:
      w << "(";
      ASRenderCondition(*n.a, w);
      w << (n.kind == ASNode::And ? " AND " : " OR ");
      ASRenderCondition(*n.b, w);
      w << ")";
      break;
    case ASNode::Not:
      w << "NOT (";
      ASRenderCondition(*n.a, w);
      w << ")";
      break;
    case ASNode::Join:
      w << "(";
      w.Embed(n.sql);
      w << ")";
      break;
    default:
      throw AException("malformed condition");
  }
}
