// The layout version of a log's database and how an older layout is brought up to date.
#pragma once

#include <string>
#include <vector>

#include "ASQuery.h"

namespace JRX {

// The layout this build makes. Logs made before the layout was recorded count as 0; they
// are reconciled with the tables as declared here, which covers every layout made since the
// first one (missing tables, columns, keys and indexes are added, widths set, duplicate
// environment rows merged). A step that is more than that gets a version of its own.
// Version 2 adds the indexes of the listings' filters (operation name and parent, event
// category and type) and of operations by name, status and time (estimated ends); a log of
// version 1 is reconciled with the declarations to get them.
const int kLogLayoutVersion = 2;

// One row per part whose layout is recorded; the log's is named "log".
struct jrxlog_layout_domain : ASDomain {
  jrxlog_layout_domain() : ASDomain("jrxlog_layout") { SetPrimaryKey({&part}); }
  ASAttribute part{this, "part", AS_VSTR, AS_COL_NONE, 64};
  ASAttribute version{this, "version", AS_INT};
};
struct jrxlog_layout : ASTable<jrxlog_layout_domain> {
  jrxlog_layout() { BindValues({&part, &version}); }
  ASVStr part;
  ASInt version;
};

struct LayoutReport {
  int found = 0;  // the version the database had (0: none recorded, or no log at all)
  int now = kLogLayoutVersion;
  std::vector<std::string> changes;  // one line each; empty when it was up to date
};

// Brings the log's layout on the session up to date (see LogLayout.cpp). Throws AException
// when the database holds a newer layout than this build knows, having changed nothing.
// A log whose recorded version is this build's is taken as it is, unless `recheck` asks
// for every table to be compared with its declaration all the same (and mended).
LayoutReport upgradeLogLayout(ASSession* session, bool recheck = false);

}  // namespace JRX
