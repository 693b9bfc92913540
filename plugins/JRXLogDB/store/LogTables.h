// The tables of the operation log and the event log, as query-library table classes: the
// domain names each column (attribute), the table class holds one value member per column,
// both in column order. Every table object is an independent alias in a query.
//
// Primary keys are made of the tables' own columns: the auto-increment key, or the columns
// the log keeps unique (one link per operation, role and environment; at most one task row
// per operation; at most one detail row of each kind per event). `events_log_env` may hold
// the same link twice and `Environment` belongs to others, so they have none. That is safe on
// a multi-primary cluster, which replicates a row change by the row's key: no statement of
// the log updates or deletes rows of these two tables (it inserts and reads them only), so
// no node ever has to find one of their rows again.
//
// Texts are of any length (AS_MAX_ROW_BYTES bounds a whole row) except those that keys are
// made of, which have the widths given here on every database.
#pragma once

#include "ASQuery.h"

namespace JRX {

// Role letters and marks are one character; a GUID's text is 36 (38 with braces).
const size_t kGuidTextBytes = 38;
// An environment's title is part of the unique key of its row. With a width the database
// keeps the key unique in the index itself: a second writer of the same new environment
// waits for the first one's row and then finds it. Over texts of any length it can only
// keep a hash unique, whose check locks the gap before either insert, so two such writers
// deadlock. 1024 bytes hold any name a management system gives (255 characters of UTF-8).
const size_t kEnvTitleBytes = 1024;

// ------------------------------------------------------------------- operation side

struct op_log_domain : ASDomain {
  op_log_domain() : ASDomain("op_log") {}
  void DeclareIndexes(ASIndexes& x) const override {
    x.Add("op_log_id", {&id});
    x.Add("op_log_time", {&time, &op_id});
    // Recovery starts from the unfinished operations through this index, which holds few
    // of them however long the log (finishOps.cpp names it in its plan hints).
    x.Add("op_log_status_time", {&status, &time});
    x.Add("op_log_session", {&session_id});
    // The newest ended runs of one operation name, for the estimated end of a running one
    // (jrxlog): a few entries read whatever the log's size.
    x.Add("op_log_name_status_time", {&op, &status, &time});
    // A listing of one name or one parent walks only those operations, in time order, so
    // that a name that is rare or missing costs what it keeps (oplog/OpSelection.cpp).
    x.Add("op_log_name", {&op, &time, &op_id});
    x.Add("op_log_parent", {&parent_id, &time, &op_id});
  }
  ASAttribute op_id{this, "op_id", AS_INT, AS_COL_AUTOINC};
  ASAttribute op{this, "op", AS_VSTR};
  ASAttribute id{this, "id", AS_VSTR};
  ASAttribute parent_id{this, "parent_id", AS_VSTR};
  ASAttribute time{this, "time", AS_TIME};
  ASAttribute status{this, "status", AS_INT};
  ASAttribute session_id{this, "session_id", AS_VSTR};
};
struct op_log : ASTable<op_log_domain> {
  op_log() { BindValues({&op_id, &op, &id, &parent_id, &time, &status, &session_id}); }
  ASInt op_id;
  ASVStr op;
  ASVStr id;
  ASVStr parent_id;
  ASTime time;
  ASInt status;
  ASVStr session_id;
};

struct op_log_data_domain : ASDomain {
  op_log_data_domain() : ASDomain("op_log_data") {}
  void DeclareIndexes(ASIndexes& x) const override {
    // An operation's rows in order, its newest first: named in the hints of the reads.
    x.Add("op_log_data_op", {&op_id, &data_id});
  }
  ASAttribute data_id{this, "data_id", AS_INT, AS_COL_AUTOINC};
  ASAttribute op_id{this, "op_id", AS_INT};
  ASAttribute progress{this, "progress", AS_INT};
  ASAttribute time{this, "time", AS_TIME};
  ASAttribute status{this, "status", AS_INT};
  ASAttribute info{this, "info", AS_BLOB};
};
struct op_log_data : ASTable<op_log_data_domain> {
  op_log_data() { BindValues({&data_id, &op_id, &progress, &time, &status, &info}); }
  ASInt data_id;
  ASInt op_id;
  ASInt progress;
  ASTime time;
  ASInt status;
  ASRealBlob info;
};

struct op_log_env_domain : ASDomain {
  op_log_env_domain() : ASDomain("op_log_env") {
    // Also the index of an operation's links, and of those of one role. The link lookups of
    // a progress report name all three columns: only this key matches them, whatever the
    // statistics say of the other index.
    SetPrimaryKey({&op_id, &role, &env_id});
  }
  void DeclareIndexes(ASIndexes& x) const override {
    x.Add("op_log_env_env", {&env_id, &role});
  }
  ASAttribute op_id{this, "op_id", AS_INT};
  ASAttribute env_id{this, "env_id", AS_INT};
  ASAttribute role{this, "role", AS_VSTR, AS_COL_NONE, 1};
  ASAttribute is_default{this, "is_default", AS_VSTR, AS_COL_NONE, 1};
};
struct op_log_env : ASTable<op_log_env_domain> {
  op_log_env() { BindValues({&op_id, &env_id, &role, &is_default}); }
  ASInt op_id;
  ASInt env_id;
  ASVStr role;
  ASVStr is_default;
};

struct op_log_task_domain : ASDomain {
  op_log_task_domain() : ASDomain("op_log_task") { SetPrimaryKey({&op_id}); }
  ASAttribute op_id{this, "op_id", AS_INT};
  ASAttribute task_id{this, "task_id", AS_VSTR};
};
struct op_log_task : ASTable<op_log_task_domain> {
  op_log_task() { BindValues({&op_id, &task_id}); }
  ASInt op_id;
  ASVStr task_id;
};

struct env_log_domain : ASDomain {
  // Unique: writers that meet the same new environment at once end up with one row.
  env_log_domain() : ASDomain("env_log") {}
  void DeclareIndexes(ASIndexes& x) const override {
    x.Add("env_log_eid_title", {&eid, &title}, true);
  }
  ASAttribute id{this, "id", AS_INT, AS_COL_AUTOINC};
  ASAttribute eid{this, "eid", AS_GUID};
  ASAttribute title{this, "title", AS_VSTR, AS_COL_NONE, kEnvTitleBytes};
  ASAttribute type{this, "type", AS_VSTR};
};
struct env_log : ASTable<env_log_domain> {
  env_log() { BindValues({&id, &eid, &title, &type}); }
  ASInt id;
  ASGuid eid;
  ASVStr title;
  ASVStr type;
};

// The management system's table of environments; only its identifier column is used here.
struct Environment_domain : ASDomain {
  Environment_domain() : ASDomain("Environment") {}
  void DeclareIndexes(ASIndexes& x) const override {
    x.Add("Environment_eid", {&eid});
  }
  ASAttribute eid{this, "eid", AS_GUID};
};
struct Environment : ASTable<Environment_domain> {
  Environment() { BindValues({&eid}); }
  ASGuid eid;
};

// ----------------------------------------------------------------------- event side

struct events_log_domain : ASDomain {
  events_log_domain() : ASDomain("events_log") {}
  void DeclareIndexes(ASIndexes& x) const override {
    x.Add("events_log_guid", {&guid}, true);
    // The event query's walk, newest first, in the order of its answer (no sort).
    x.Add("events_log_time", {&time, &event_id});
    // The same walk over the events of one category or one type only, so that a filter
    // that keeps few events, or none, does not read the whole log to find them.
    x.Add("events_log_category", {&category, &time, &event_id});
    x.Add("events_log_type", {&type, &time, &event_id});
  }
  ASAttribute event_id{this, "event_id", AS_INT, AS_COL_AUTOINC};
  ASAttribute guid{this, "guid", AS_VSTR, AS_COL_NONE, kGuidTextBytes};
  ASAttribute code{this, "code", AS_INT};
  ASAttribute time{this, "time", AS_TIME};
  ASAttribute category{this, "category", AS_VSTR};
  ASAttribute type{this, "type", AS_VSTR};
  ASAttribute sid{this, "sid", AS_VSTR};
  ASAttribute info_bin{this, "info_bin", AS_BLOB};
  ASAttribute info{this, "info", AS_BLOB};
  ASAttribute data{this, "data", AS_BLOB};
};
struct events_log : ASTable<events_log_domain> {
  events_log() {
    BindValues({&event_id, &guid, &code, &time, &category, &type, &sid, &info_bin, &info, &data});
  }
  ASInt event_id;
  ASVStr guid;
  ASInt code;
  ASTime time;
  ASVStr category;
  ASVStr type;
  ASVStr sid;
  ASRealBlob info_bin;
  ASRealBlob info;
  ASRealBlob data;
};

struct events_log_env_domain : ASDomain {
  events_log_env_domain() : ASDomain("events_log_env") {}
  void DeclareIndexes(ASIndexes& x) const override {
    // The probe of one event's link while walking the time index, and the links of one
    // role (of some environments) in recording order; see eventlog/EventQuery.cpp.
    x.Add("events_log_env_link", {&event_id, &role, &env_id});
    x.Add("events_log_env_role", {&role, &env_id, &event_id});
  }
  ASAttribute event_id{this, "event_id", AS_INT};
  ASAttribute env_id{this, "env_id", AS_INT};
  ASAttribute role{this, "role", AS_VSTR, AS_COL_NONE, 1};
};
struct events_log_env : ASTable<events_log_env_domain> {
  events_log_env() { BindValues({&event_id, &env_id, &role}); }
  ASInt event_id;
  ASInt env_id;
  ASVStr role;
};

struct events_log_resource_domain : ASDomain {
  events_log_resource_domain() : ASDomain("events_log_resource") {
    SetPrimaryKey({&event_id});
  }
  ASAttribute event_id{this, "event_id", AS_INT};
  ASAttribute resource_id{this, "resource_id", AS_VSTR};
  ASAttribute resource_type{this, "resource_type", AS_VSTR};
};
struct events_log_resource : ASTable<events_log_resource_domain> {
  events_log_resource() { BindValues({&event_id, &resource_id, &resource_type}); }
  ASInt event_id;
  ASVStr resource_id;
  ASVStr resource_type;
};

struct events_log_status_domain : ASDomain {
  events_log_status_domain() : ASDomain("events_log_status") { SetPrimaryKey({&event_id}); }
  ASAttribute event_id{this, "event_id", AS_INT};
  ASAttribute old_status{this, "old_status", AS_INT};
  ASAttribute old_transition{this, "old_transition", AS_INT};
  ASAttribute new_status{this, "new_status", AS_INT};
  ASAttribute new_transition{this, "new_transition", AS_INT};
};
struct events_log_status : ASTable<events_log_status_domain> {
  events_log_status() {
    BindValues({&event_id, &old_status, &old_transition, &new_status, &new_transition});
  }
  ASInt event_id;
  ASInt old_status;
  ASInt old_transition;
  ASInt new_status;
  ASInt new_transition;
};

struct events_log_audit_domain : ASDomain {
  events_log_audit_domain() : ASDomain("events_log_audit") {
    SetPrimaryKey({&event_id});
  }
  void DeclareIndexes(ASIndexes& x) const override {
    x.Add("events_log_audit_session", {&session_id});
  }
  ASAttribute event_id{this, "event_id", AS_INT};
  ASAttribute session_id{this, "session_id", AS_VSTR};
  ASAttribute address{this, "address", AS_VSTR};
  ASAttribute address_bin{this, "address_bin", AS_VSTR};
  ASAttribute detail{this, "detail", AS_VSTR};
};
struct events_log_audit : ASTable<events_log_audit_domain> {
  events_log_audit() { BindValues({&event_id, &session_id, &address, &address_bin, &detail}); }
  ASInt event_id;
  ASVStr session_id;
  ASVStr address;
  ASVStr address_bin;
  ASVStr detail;
};

// Creates every table of logTables() (JRXLogDBLocal.h) that is missing (with its indexes) on
// the session, and brings an older layout up to date (store/LogLayout.h). Not inside a
// transaction of the caller: on MariaDB, changing a table ends the transaction.
void createLogTables(ASSession* session);

}  // namespace JRX
