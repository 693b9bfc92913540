// Which environments an operation is linked to, with which role and mark, and what its
// links read back as.
#include "LogDbFixture.h"
#include "oplog/LogOp.h"

using namespace JRX;

namespace jrxtest {
namespace {

class LinksTest : public LogDbFixture {
 protected:
  // A report naming `source` (when valid), operands by identifier, and
  // further environments in its information.
  static JRXRequestProgressData named(const JRXEID& source, JRXEIDList operands,
                                      std::vector<JRXInfo> envs = {}, int status = 0) {
    auto r = report("", "vm.migrate", status, 0, kT0, "a");
    if (source.isValid()) r.info.addParameter("source_env", envRef(source, "vm", "source"));
    r.operands = operands;
    for (const JRXInfo& env : envs) r.info.addParameter("env", env);
    return r;
  }

  // "role|mark|title" of each link of the operation that has `id` now.
  static Lines links(const std::string& id) {
    op_log_env l;
    env_log e;
    op_log o;
    return rowsOf({&l, &e}, {&l->role, &l->is_default, &e->title},
                  l->env_id == e->id && l->op_id == o->op_id && o->id == id);
  }
};

TEST_P(LinksTest, EachReportLinksItsEnvironments) {
  const Lines stand_ins{"O|Y|local-node", "P|N|node-1", "S|Y|local-node"};
  auto noExecutor = named(JRXEID(), {});
  noExecutor.eid = JRXEID::EID_INVALID;
  struct Case {
    const char* what;
    std::vector<JRXRequestProgressData> reports;
    Lines links;
    JRXEID source;  // as read back
    JRXEIDList operands;
  };
  const std::vector<Case> cases{
      {"nothing named", {named(JRXEID(), {})}, stand_ins, kLocal, {kLocal}},
      {"source and operands; the source is no operand as well",
       {named(kVm2, {kVm1, kVm2, kNode})},
       {"O|N|node-1", "O|N|vm-1", "P|N|node-1", "S|N|source"}, kVm2, {kVm1, kNode}},
      {"\"env\" parameters with a type, once with the operand of the same identifier",
       {named(JRXEID(), {kVm1},
              {envRef(kVm1, "vm", "in info"), envRef(kVm2, "", "no type"), JRXInfo("no eid")})},
       {"O|N|in info", "P|N|node-1", "S|Y|local-node"}, kLocal, {kVm1}},
      {"operands unknown to the directory", {named(JRXEID(), {kUnknown})}, stand_ins, kLocal,
       {kLocal}},
      {"the local node as only operand", {named(JRXEID(), {kLocal})}, stand_ins, kLocal,
       {kLocal}},
      {"the local node as operand of a named source", {named(kVm1, {kLocal})},
       {"O|N|local-node", "P|N|node-1", "S|N|source"}, kVm1, {kLocal}},
      {"no executing node", {noExecutor}, {"O|Y|local-node", "P|N|", "S|Y|local-node"}, kLocal,
       {kLocal}},
      {"later reports replace the stand-ins of a role, and add nothing twice",
       {named(JRXEID(), {}), named(JRXEID(), {kVm1}), named(kVm2, {kVm1, kNode}),
        named(kVm2, {kVm1, kNode})},
       {"O|N|node-1", "O|N|vm-1", "P|N|node-1", "S|N|source"}, kVm2, {kVm1, kNode}},
      {"one identifier under two titles is two environments",
       {named(JRXEID(), {}, {envRef(kVm1, "vm", "old name")}),
        named(JRXEID(), {}, {envRef(kVm1, "vm", "new name")})},
       {"O|N|new name", "O|N|old name", "P|N|node-1", "S|Y|local-node"}, kLocal, {kVm1}},
      {"a later report naming the stand-in marks its link named, the other role's stays",
       {named(JRXEID(), {}), named(JRXEID(), {kLocal})},
       {"O|N|local-node", "P|N|node-1", "S|Y|local-node"}, kLocal, {kLocal}},
      {"a restart reads only its own links",
       {named(kVm2, {kVm1}), named(JRXEID(), {kNode}, {}, 1)},
       {"O|N|node-1", "P|N|node-1", "S|Y|local-node"}, kLocal, {kNode}},
  };
  JRXOpLogLocal log(nullptr);
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string id = "req-" + std::to_string(++n);
    for (auto r : c.reports) {
      r.id = id;
      ASSERT_EQ(log.saveProgress(r), 0);
    }
    EXPECT_EQ(links(id), c.links);
    JRXRdbmsTran tran;
    auto op = logdb::getOp(tran, id);
    ASSERT_TRUE(op);
    EXPECT_EQ(op->source, c.source);
    EXPECT_EQ(op->operands, c.operands);
  }
  // Each report changed its own operation's links only.
  EXPECT_EQ(links("req-1"), stand_ins);
  JRXRdbmsTran tran;
  EXPECT_FALSE(logdb::getOp(tran, "req-0"));
}

JRX_ON_EVERY_BACKEND(LinksTest);

}  // namespace
}  // namespace jrxtest
