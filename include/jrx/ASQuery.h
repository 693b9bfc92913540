// The query library: a small object-relational layer over SQLite and MariaDB. This header
// gathers its parts, one concept each:
//
//   ASValue.h      Str, Int, Guid, RealBlob, AException; value members (ASInt, ASVStr, ...)
//   ASCondition.h  columns (ASAttribute), operands, conditions, orders, setters
//   ASDomain.h     tables: ASDomain (columns, keys, indexes) and ASTable
//   ASStatement.h  selects (ASFilter, ASCursor), ASUpdater, ASDeleter
//   ASSession.h    ASSession, ASTransaction, ASSchemaLock; table layouts and plans
//   ASDatabase.h   ASDatabase, the pool of per-thread sessions
//
// A table is a class deriving from its domain; `t->status == 2` is a condition on a column
// and `t.status` the value member a fetch fills:
//
//     op_log t;                       // every table object is an independent alias
//     ASCursor c(session);
//     c.Project() << t->op_id << t->status;
//     c.Set(t->id == "req-1" && !(t->status == 4));
//     c.Order(-t->time).Limit(10, 0);
//     while (c.Fetch()) use(t.op_id.Int(), t.status.Int());
//
// Values are always bound as statement parameters; SQL text that is embedded into another
// statement (ASFilter::Query) keeps its values attached and they are bound where it ends up.
// Every failure is reported as AException carrying the database's own message.
//
// Threads: everything made of table objects (conditions, statements) stays on the thread
// that made it; each thread works on its own session (ASDatabase::Session()).
// Lifetimes: names given to the library as `const char*` (tables, columns, indexes) are kept,
// not copied, and must outlive the objects given them; each header states what else a
// caller keeps alive (REQUIRES:). What statements cost: README, "Performance".
#pragma once

#include "ASCondition.h"
#include "ASDatabase.h"
#include "ASDomain.h"
#include "ASSession.h"
#include "ASStatement.h"
#include "ASValue.h"
