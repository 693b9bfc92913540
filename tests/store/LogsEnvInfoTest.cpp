// Environment references: reading them from records, finding or creating their env_log
// rows, and the link rows of operations and events.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "JRXConversions.h"
#include "JRXEnvDirectory.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "JRXRequest.h"
#include "LogDbFixture.h"
#include "store/LogTables.h"
#include "store/LogsEnvInfo.h"

using namespace JRX;
using namespace JRX::logdb;

namespace {

const JRXEID kVm(0x1000, 0x1);
const JRXEID kNode(0x1000, 0x2);
const JRXEID kLocal(0x1000, 0x3);

JRXInfo ref(const JRXEID& eid, const std::string& type, const std::string& title) {
  JRXInfo info;
  info.addParameter("eid", eid.toString());
  if (!type.empty()) info.addParameter("type", type);
  if (!title.empty()) info.addParameter("title", title);
  return info;
}

TEST(LogsEnvInfoRead, TakesIdentifierTypeAndTitle) {
  LogsEnvInfo e(ref(kVm, "vm", "web-1"), true);
  EXPECT_EQ(e.getEID(), kVm);
  EXPECT_EQ(e.getType(), "vm");
  EXPECT_EQ(e.getTitle(), "web-1");
  EXPECT_TRUE(e.isDefault());

  // Braces and upper case are GUID texts too.
  JRXInfo braced;
  braced.addParameter("eid", "{" + kVm.toString() + "}");
  std::string upper = kNode.toString();
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  JRXInfo shouting;
  shouting.addParameter("eid", upper);
  EXPECT_EQ(LogsEnvInfo(braced, false).getEID(), kVm);
  EXPECT_EQ(LogsEnvInfo(shouting, false).getEID(), kNode);
}

TEST(LogsEnvInfoRead, NoUsableIdentifierMeansNothingElseIsRead) {
  JRXInfo noEid;
  noEid.addParameter("type", "vm");
  noEid.addParameter("title", "web-1");
  LogsEnvInfo a(noEid, false);
  EXPECT_FALSE(a.getEID().isValid());
  EXPECT_EQ(a.getType(), "");
  EXPECT_EQ(a.getTitle(), "");

  for (const std::string& bad :
       {std::string("not-a-guid"), kVm.toString() + "0", kVm.toString().substr(1),
        std::string("\0", 1) + kVm.toString(), std::string()}) {
    JRXInfo info = noEid;
    info.addParameter("eid", bad);
    LogsEnvInfo e(info, false);
    EXPECT_FALSE(e.getEID().isValid()) << bad;
    EXPECT_EQ(e.getType(), "") << bad;
    EXPECT_EQ(e.getTitle(), "") << bad;
  }
  // The identifier is read as a C string: what follows a NUL does not count.
  JRXInfo nul = noEid;
  nul.addParameter("eid", kVm.toString() + std::string("\0x", 2));
  LogsEnvInfo e(nul, false);
  EXPECT_EQ(e.getEID(), kVm);
  EXPECT_EQ(e.getTitle(), "web-1");
}

TEST(LogsEnvInfoRead, SourceEnvOnlyWhenValid) {
  LogsEnvInfo out(ref(kNode, "node", "n"), false);
  JRXInfo info;
  EXPECT_EQ(getSourceEnv(info, out), -1);
  info.addParameter("source_env", "no parameters at all");
  EXPECT_EQ(getSourceEnv(info, out), -1);
  EXPECT_EQ(out.getEID(), kNode);

  JRXInfo good;
  good.addParameter("source_env", ref(kVm, "", ""));
  EXPECT_EQ(getSourceEnv(good, out), 0);
  EXPECT_EQ(out.getEID(), kVm);
  EXPECT_EQ(out.getType(), "");
  EXPECT_FALSE(out.isDefault());
}

struct EnvRow {
  int id;
  JRXEID eid;
  std::string title, type;
};

struct LinkRow {
  int env_id;
  std::string role, is_default;
  bool operator<(const LinkRow& o) const {
    return std::tie(role, env_id, is_default) < std::tie(o.role, o.env_id, o.is_default);
  }
  bool operator==(const LinkRow& o) const {
    return std::tie(role, env_id, is_default) == std::tie(o.role, o.env_id, o.is_default);
  }
};

class EnvRefsTest : public jrxtest::LogDbFixture {
 protected:
  void SetUp() override { openLogDb(false, kLocal); }

  std::vector<EnvRow> envRows() {
    JRXRdbmsTran tran;
    env_log t;
    ASCursor c(*tran);
    c.Project() << t->id << t->eid << t->title << t->type;
    c.Order(t->id);
    std::vector<EnvRow> rows;
    while (c.Fetch())
      rows.push_back({static_cast<int>(t.id.Int()), rdbmsGuidToGuid(t.eid.Guid()), t.title.Bytes(),
                      t.type.Bytes()});
    return rows;
  }

  std::vector<LinkRow> links(int op_id) {
    JRXRdbmsTran tran;
    op_log_env t;
    ASCursor c(*tran);
    c.Project() << t->env_id << t->role << t->is_default;
    c.Set(t->op_id == op_id);
    std::vector<LinkRow> rows;
    while (c.Fetch())
      rows.push_back({static_cast<int>(t.env_id.Int()), t.role.Bytes(), t.is_default.Bytes()});
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  int link(const LogsEnvInfo& e, int op_id, char role) {
    JRXRdbmsTran tran;
    e.linkOperation(tran, op_id, role);
    int id = e.getSqlID(tran);
    tran.commit();
    return id;
  }
};

TEST_P(EnvRefsTest, RowsAreKeyedByIdentifierAndTitle) {
  JRXRdbmsTran tran;
  LogsEnvInfo web(ref(kVm, "vm", "web-1"), false);
  int a = web.getSqlID(tran);
  EXPECT_EQ(web.getSqlID(tran), a);
  // The type plays no part: same identifier and title, another type, the same row.
  EXPECT_EQ(LogsEnvInfo(ref(kVm, "container", "web-1"), false).getSqlID(tran), a);
  int b = LogsEnvInfo(ref(kVm, "vm", "web-1 renamed"), false).getSqlID(tran);
  EXPECT_NE(b, a);
  int c = LogsEnvInfo(ref(kNode, "node", "web-1"), false).getSqlID(tran);
  EXPECT_NE(c, a);
  // An unreadable reference still gets a row, under the invalid identifier.
  int d = LogsEnvInfo(JRXInfo("nothing"), false).getSqlID(tran);
  tran.commit();

  auto rows = envRows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].id, a);
  EXPECT_EQ(rows[0].eid, kVm);
  EXPECT_EQ(rows[0].title, "web-1");
  EXPECT_EQ(rows[0].type, "vm");
  EXPECT_EQ(rows[1].id, b);
  EXPECT_EQ(rows[1].title, "web-1 renamed");
  EXPECT_EQ(rows[2].eid, kNode);
  EXPECT_EQ(rows[3].id, d);
  EXPECT_FALSE(rows[3].eid.isValid());
  EXPECT_EQ(rows[3].title, "");
}

TEST_P(EnvRefsTest, NamedLinkTurnsTheSameDefaultLinkIntoANamedOne) {
  int env = link(LogsEnvInfo(ref(kVm, "vm", "web"), true), 7, 'S');
  EXPECT_EQ(links(7), (std::vector<LinkRow>{{env, "S", "Y"}}));
  link(LogsEnvInfo(ref(kVm, "vm", "web"), false), 7, 'S');
  EXPECT_EQ(links(7), (std::vector<LinkRow>{{env, "S", "N"}}));
  // A default link never undoes a named one.
  link(LogsEnvInfo(ref(kVm, "vm", "web"), true), 7, 'S');
  EXPECT_EQ(links(7), (std::vector<LinkRow>{{env, "S", "N"}}));
}

TEST_P(EnvRefsTest, FirstNamedLinkOfARoleReplacesItsDefaultLinks) {
  LogsEnvInfo local(ref(kLocal, "node", "here"), true);
  LogsEnvInfo vm(ref(kVm, "vm", "web"), false);
  int localId = link(local, 3, 'O');
  link(local, 3, 'S');
  link(local, 4, 'O');  // another operation keeps its own
  int vmId = link(vm, 3, 'O');
  EXPECT_EQ(links(3), (std::vector<LinkRow>{{vmId, "O", "N"}, {localId, "S", "Y"}}));
  EXPECT_EQ(links(4), (std::vector<LinkRow>{{localId, "O", "Y"}}));

  // A later default link of the local environment adds itself beside the named one.
  link(local, 3, 'O');
  EXPECT_EQ(links(3),
            (std::vector<LinkRow>{{localId, "O", "Y"}, {vmId, "O", "N"}, {localId, "S", "Y"}}));

  // Repeating a link writes nothing new.
  link(vm, 3, 'O');
  link(local, 3, 'O');
  EXPECT_EQ(links(3).size(), 3u);
}

TEST_P(EnvRefsTest, EventLinksAreWrittenEveryTime) {
  LogsEnvInfo vm(ref(kVm, "vm", "web"), false);
  JRXRdbmsTran tran;
  vm.linkEvent(tran, 11, 'S');
  vm.linkEvent(tran, 11, 'S');
  vm.linkEvent(tran, 11, 'O');
  tran.commit();

  ASSERT_EQ(envRows().size(), 1u);
  const int envId = envRows()[0].id;
  JRXRdbmsTran read;
  events_log_env t;
  ASCursor c(*read);
  c.Project() << t->event_id << t->env_id << t->role;
  int s = 0, o = 0;
  while (c.Fetch()) {
    EXPECT_EQ(t.event_id.Int(), 11);
    EXPECT_EQ(t.env_id.Int(), envId);
    (t.role.Bytes() == "S" ? s : o)++;
  }
  EXPECT_EQ(s, 2);
  EXPECT_EQ(o, 1);
}

TEST_P(EnvRefsTest, NothingSurvivesAnUncommittedTransaction) {
  {
    JRXRdbmsTran tran;
    LogsEnvInfo(ref(kVm, "vm", "web"), false).linkOperation(tran, 1, 'O');
  }
  EXPECT_TRUE(envRows().empty());
  EXPECT_TRUE(links(1).empty());
}

INSTANTIATE_TEST_SUITE_P(Db, EnvRefsTest, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
