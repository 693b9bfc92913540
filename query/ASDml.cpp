// UPDATE and DELETE. The target table is named without an alias (not every SQLite accepts
// one there); its columns in the conditions and in sub-selects refer to it by table name.
#include <map>

#include "ASNode.h"
#include "ASRowLimits.h"
#include "ASSessionAccess.h"
#include "ASSqlText.h"

namespace {

std::map<unsigned long, std::string> bare(const ASDomain& d) {
  return {{d.Serial(), d.TableName()}};
}

void where(const ASComparison& c, ASSqlWriter& w) {
  if (c.IsEmpty()) return;
  w << " WHERE ";
  ASRenderCondition(*c.Node(), w);
}

}  // namespace

long long ASUpdater::Execute(ASSession* session) {
  if (!session) throw AException("an update needs a session");
  if (setters_.empty()) throw AException("an update of " + domain_->TableName() + " sets nothing");
  ASSqlWriter w;
  ASRowLimits limits(*domain_);
  w << "UPDATE " << domain_->TableName() << " SET ";
  for (size_t i = 0; i < setters_.size(); ++i) {
    const ASAttribute* a = setters_[i].Attribute();
    if (a->Domain() != domain_)
      throw AException("column " + a->Name() + " set by an update of " + domain_->TableName() +
                       " belongs to another table object");
    if (i) w << ", ";
    w << a->Name() << " = ";
    const ASNode& n = *setters_[i].Expression().Operand().node;
    if (n.kind == ASNode::Value) {
      ASBindValue v = ASCoerce(n.value, a->Type());
      if (v.kind == ASBindValue::Integer && (a->Type() == AS_INT || a->Type() == AS_TIME))
        v.i = static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(v.i)));
      limits.Add(*a, v);
      w.Value(std::move(v));
    } else if (n.kind == ASNode::Attr) {
      w.Column(*n.domain, n.column);
    } else {
      w << "(";
      w.Embed(n.sql);
      w << ")";
    }
  }
  limits.Check();
  where(cond_, w);
  auto names = bare(*domain_);
  return ASSessionAccess::Run(*session, ASResolveAliases(w.sql, &names), w.values, nullptr);
}

long long ASDeleter::Execute(ASSession* session) {
  if (!session) throw AException("a delete needs a session");
  ASSqlWriter w;
  w << "DELETE FROM " << domain_->TableName();
  where(cond_, w);
  auto names = bare(*domain_);
  return ASSessionAccess::Run(*session, ASResolveAliases(w.sql, &names), w.values, nullptr);
}
