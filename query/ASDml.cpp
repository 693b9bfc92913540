// UPDATE and DELETE. The target table is named without an alias (not every SQLite accepts
// one there); its columns in the conditions and in sub-selects refer to it by table name.
#include "ASNode.h"
#include "ASRowLimits.h"
#include "ASSessionAccess.h"
#include "ASSqlText.h"

namespace {

void keyWhere(const ASComparison& c, ASShapeKey& k) {
  if (c.IsEmpty()) {
    k.Tag(ASKeyTag::None);
    return;
  }
  k.Tag(ASKeyTag::Where);
  ASKeyCondition(ASNodeOf(c.Node()), k);
}

void where(const ASComparison& c, ASSqlWriter& w) {
  if (c.IsEmpty()) return;
  w << ASKeySql(ASKeyTag::Where);
  ASRenderCondition(ASNodeOf(c.Node()), w);
}

}  // namespace

ASUpdater::ASUpdater(ASDomain& domain) : domain_(&domain) {}
ASUpdater::~ASUpdater() = default;

ASUpdater& ASUpdater::Keep() {
  if (!kept_) kept_.reset(new ASKeptShape);
  return *this;
}

long long ASUpdater::Execute(ASSession* session) {
  if (!session) throw AException("an update needs a session");
  if (setters_.empty()) throw AException("an update of " + domain_->TableName() + " sets nothing");
  auto key = [&](ASShapeKey& k) {
    k.Tag(ASKeyTag::Update);
    k.Table(*domain_);
    for (const ASSetter& setter : setters_) {
      const ASAttribute* a = setter.Attribute();
      if (a->Domain() != domain_)
        throw AException("column " + a->Name() + " set by an update of " +
                         domain_->TableName() + " belongs to another table object");
      k.Column(*domain_, a->Index());
      const ASTerm& t = setter.Expression().Operand().term;
      if (t.kind == ASTerm::Value || t.kind == ASTerm::Bound) {
        k.Tag(ASKeyTag::Value);
        ASBindSlot slot;
        slot.how = t.bound ? ASBindSlot::Member : ASBindSlot::Assigned;
        slot.type = a->Type();
        slot.value = &t.value;
        slot.member = t.bound;
        slot.limited = a;
        k.Bind(slot);
      } else {
        ASKeyTerm(t, AS_VSTR, k);
      }
    }
    keyWhere(cond_, k);
  };
  auto write = [&](ASSqlWriter& w) {
    w.bare = domain_;
    w << ASKeySql(ASKeyTag::Update) << domain_->TableName() << " SET ";
    for (size_t i = 0; i < setters_.size(); ++i) {
      const ASAttribute* a = setters_[i].Attribute();
      if (i) w << ", ";
      w << a->Name() << " = ";
      const ASTerm& t = setters_[i].Expression().Operand().term;
      if (t.kind == ASTerm::Value) {
        w.Value(ASBindValue(), &t.value);
      } else if (t.kind == ASTerm::Bound) {
        w.Value(ASBindValue(), t.bound);
      } else if (t.kind == ASTerm::Column) {
        w.Column(*t.domain, t.column);
      } else {
        w << "(";
        w.Embed(*t.sql);
        w << ")";
      }
    }
    where(cond_, w);
  };
  ASFound found = ASSessionAccess::Shape(*session, kept_.get(), version_, key, write);
  ASRowLimits limits(*domain_);
  return ASSessionAccess::Run(*session, found, 0, 0, &limits, nullptr);
}

long long ASDeleter::Execute(ASSession* session) {
  if (!session) throw AException("a delete needs a session");
  ASShapeKey& k = ASSessionAccess::Key(*session);
  k.Tag(ASKeyTag::Delete);
  k.Table(*domain_);
  keyWhere(cond_, k);
  ASPrepared& p = ASSessionAccess::Statement(*session, [&](ASSqlWriter& w) {
    w.bare = domain_;
    w << ASKeySql(ASKeyTag::Delete) << domain_->TableName();
    where(cond_, w);
  });
  return ASSessionAccess::Run(*session, ASFound{p, k.Slots()}, 0, 0, nullptr, nullptr);
}
