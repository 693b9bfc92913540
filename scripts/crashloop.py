#!/usr/bin/env python3
"""Kills jrxlog with SIGKILL at random moments and checks what the log is left with.

crashloop.py [ROUNDS [sqlite|mariadb]] -- ROUNDS per database (default 20), on both or one. Each round takes the next of four
kinds of work and kills it somewhere between its start and its usual end:

  import   an import of a JSON Lines file into a new log: what is stored is a prefix of the
           file's records, each whole; a second import completes it to what one whole import
           stores.
  compact  compaction of operations and events in small batches, then the sweep: every
           operation and event left is whole; the next run ends as a run without a kill does.
  upgrade  the first opening of a log of the first layout: the next opening finishes the
           upgrade, and the log answers as the log the rows came from.
  copy     a copy into a new database: the source is untouched, the half-filled target is
           refused by a second copy, and a copy into a new target is whole.

After each: the log opens, no progress row, link, task or event detail is left without its
operation or event, and every link names an environment row. SQLite always; MariaDB when
JRX_TEST_MARIADB_URL names a server (mysql://root@localhost/?socket=...). JRXLOG names the
tool (default build/test/bin/jrxlog). Exits non-zero on the first round that fails a check.
"""
import json
import os
import random
import re
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
JRXLOG = os.environ.get("JRXLOG", os.path.join(ROOT, "build/test/bin/jrxlog"))
LAYOUT_TEST = os.path.join(ROOT, "tests/common/OldLogLayouts.h")

# Child tables and the parent each row needs.
CHILDREN = [("op_log_data", "op_id", "op_log", "op_id"),
            ("op_log_env", "op_id", "op_log", "op_id"),
            ("op_log_task", "op_id", "op_log", "op_id"),
            ("events_log_env", "event_id", "events_log", "event_id"),
            ("events_log_resource", "event_id", "events_log", "event_id"),
            ("events_log_status", "event_id", "events_log", "event_id"),
            ("events_log_audit", "event_id", "events_log", "event_id"),
            ("op_log_env", "env_id", "env_log", "id"),
            ("events_log_env", "env_id", "env_log", "id")]
TABLES = ["op_log", "op_log_data", "op_log_env", "op_log_task", "env_log", "events_log",
          "events_log_env", "events_log_resource", "events_log_status", "events_log_audit"]
# Rows of each operation and event, by its own key.
PER_RECORD = {
    "op": "SELECT o.id, (SELECT COUNT(*) FROM op_log_data d WHERE d.op_id = o.op_id), "
          "(SELECT COUNT(*) FROM op_log_env l WHERE l.op_id = o.op_id), "
          "(SELECT COUNT(*) FROM op_log_task t WHERE t.op_id = o.op_id) FROM op_log o",
    "event": "SELECT e.guid, (SELECT COUNT(*) FROM events_log_env l WHERE l.event_id = e.event_id), "
             "(SELECT COUNT(*) FROM events_log_resource r WHERE r.event_id = e.event_id), "
             "(SELECT COUNT(*) FROM events_log_status s WHERE s.event_id = e.event_id), "
             "(SELECT COUNT(*) FROM events_log_audit a WHERE a.event_id = e.event_id) "
             "FROM events_log e",
}


class Failure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)


def jrxlog(url, *args, timeout=600):
    p = subprocess.run([JRXLOG, "--db", url] + list(args), stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=timeout)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


def ok(url, *args):
    rc, out, err = jrxlog(url, *args)
    check(rc == 0, "jrxlog %s exited %d: %s" % (" ".join(args), rc, err.strip()[-500:]))
    return out


def killed_at_random(args, shortest, longest):
    """Starts a command, kills it (its whole process group) at a random moment; True if killed."""
    p = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
    try:
        p.wait(timeout=random.uniform(shortest, longest))
        return False
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        p.wait()
        return True


class SqliteServer:
    name = "sqlite"

    def __init__(self, folder):
        self.folder, self.n = folder, 0

    def fresh(self):
        self.n += 1
        path = os.path.join(self.folder, "log%d.db" % self.n)
        for suffix in ("", "-wal", "-shm", "-journal"):
            if os.path.exists(path + suffix):
                os.remove(path + suffix)
        return "sqlite:" + path

    def rows(self, url, sql):
        con = sqlite3.connect(url[len("sqlite:"):], timeout=30)
        con.text_factory = bytes  # texts are bytes, not always UTF-8
        try:
            return [tuple(r) for r in con.execute(sql)]
        finally:
            con.close()

    def run(self, url, statements):
        con = sqlite3.connect(url[len("sqlite:"):], timeout=30)
        try:
            for s in statements:
                con.execute(s)
            con.commit()
        finally:
            con.close()

    def copy_rows(self, source, target, table, columns):
        con = sqlite3.connect(target[len("sqlite:"):], timeout=30)
        try:
            con.execute("ATTACH DATABASE ? AS src", (source[len("sqlite:"):],))
            cols = ", ".join(columns)
            con.execute("INSERT INTO %s (%s) SELECT %s FROM src.%s" % (table, cols, cols, table))
            con.commit()
        finally:
            con.close()

    def drop(self, url):
        path = url[len("sqlite:"):]
        for suffix in ("", "-wal", "-shm", "-journal"):
            if os.path.exists(path + suffix):
                os.remove(path + suffix)


class MariadbServer:
    name = "mariadb"

    def __init__(self, url):
        m = re.match(r"mysql://([^@:]+)@[^/]*/[^?]*\?socket=(.*)$", url)
        if not m:
            raise SystemExit("crashloop: cannot use %s (want mysql://USER@localhost/?socket=...)" % url)
        self.user, self.socket, self.n = m.group(1), m.group(2), 0
        self.prefix = "crash%d_" % os.getpid()

    def client(self, db, sql):
        args = ["mariadb", "--no-defaults", "-u" + self.user, "--socket=" + self.socket, "-N",
                "-B"] + ([db] if db else [])
        p = subprocess.run(args, input=sql.encode(), stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=600)
        if p.returncode:
            raise Failure("mariadb: " + p.stderr.decode("utf-8", "replace").strip())
        return p.stdout.decode("utf-8", "replace")

    def fresh(self):
        self.n += 1
        db = "%s%d" % (self.prefix, self.n)
        self.client(None, "DROP DATABASE IF EXISTS %s; CREATE DATABASE %s;" % (db, db))
        return "mysql://%s@localhost/%s?socket=%s" % (self.user, db, self.socket)

    @staticmethod
    def db(url):
        return url.split("/")[3].split("?")[0]

    def rows(self, url, sql):
        out = self.client(self.db(url), sql + ";")
        return [tuple(line.split("\t")) for line in out.splitlines()]

    def run(self, url, statements):
        self.client(self.db(url), ";\n".join(statements) + ";")

    def copy_rows(self, source, target, table, columns):
        cols = ", ".join(columns)
        self.client(self.db(target), "INSERT INTO %s (%s) SELECT %s FROM %s.%s;" %
                    (table, cols, cols, self.db(source), table))

    def drop(self, url):
        self.client(None, "DROP DATABASE IF EXISTS %s;" % self.db(url))


def first_layout(kind):
    """The statements of the log's first layout, as tests/common/OldLogLayouts.h keeps them."""
    text = open(LAYOUT_TEST).read()
    block = text[text.index("const OldLayout kFirst = {"):]
    block = block[:block.index("false};")]
    lists, current, literal, depth = [], None, None, 0
    for token in re.finditer(r'"((?:[^"\\]|\\.)*)"|[{},]', block):
        t = token.group(0)
        if t == "{":
            depth += 1
            if depth == 2:
                current, literal = [], None
        elif t == "}":
            if depth == 2:
                if literal is not None:
                    current.append(literal)
                lists.append(current)
            depth -= 1
        elif t == ",":
            if depth == 2 and literal is not None:
                current.append(literal)
                literal = None
        elif depth == 2:
            literal = (literal or "") + token.group(1).encode().decode("unicode_escape")
    check(len(lists) == 2, "cannot read the first layout from " + LAYOUT_TEST)
    return lists[0] if kind == "sqlite" else lists[1]


def columns_of(create):
    """Column names of a CREATE TABLE statement (keys and hidden row numbers left out)."""
    m = re.match(r"CREATE TABLE (\w+) \((.*)\)( ENGINE=\w+)?$", create)
    body, cols, depth, part = m.group(2), [], 0, ""
    for ch in body + ",":
        if ch == "(":
            depth += 1
        elif ch == ")":
            depth -= 1
        if ch == "," and depth == 0:
            word = part.strip().split()[0]
            if word not in ("PRIMARY", "KEY", "UNIQUE", "jrx_row"):
                cols.append(word)
            part = ""
        else:
            part += ch
    return m.group(1), cols


def records_file(path, ops, events):
    """Environments, then progress records of running operations with events among them:
    every record stored a second time leaves the log as it was (same text, same status; a
    known event GUID is ignored). Returns the records' keys in file order."""
    envs = ["%08x-0000-4000-8000-%012x" % (0xe0, i) for i in range(6)]
    node = "%08x-0000-4000-8000-%012x" % (0x70de, 1)
    keys = []
    with open(path, "w") as f:
        for i, e in enumerate(envs):
            f.write(json.dumps({"kind": "env", "eid": e, "type": "vm", "title": "vm-%d" % i}) + "\n")
        f.write(json.dumps({"kind": "env", "eid": node, "type": "node", "title": "node-1"}) + "\n")
        for i in range(ops):
            ref = {"params": {"eid": envs[i % 6], "type": "vm", "title": "vm-%d" % (i % 6)}}
            f.write(json.dumps({
                "kind": "progress", "id": "op-%d" % i, "parentId": "op-0" if i else "",
                "name": "vm.start", "status": 2, "progress": i % 100, "time": 1701000000 + i,
                "operands": [envs[(i + 1) % 6]], "sessionId": "s-%d" % (i % 7), "eid": node,
                "info": {"text": "step \"%d\" \\ 'x'" % i,
                         "params": {"task_id": "task-%d" % i, "source_env": ref, "env": ref}}}) + "\n")
            keys.append(("op", "op-%d" % i))
            if i % (ops // events) == 0 and len([k for k in keys if k[0] == "event"]) < events:
                n = len([k for k in keys if k[0] == "event"])
                guid = "%08x-0000-4000-8000-%012x" % (0xe7, n)
                ev = {"kind": "event", "guid": guid, "time": 1701000000 + i, "category": "vm",
                      "type": "env_status" if n % 2 else "audit", "code": n, "sid": "0102ff",
                      "info": {"text": "event %d" % n,
                               "params": {"source_env": ref, "env": {"params": {
                                   "eid": envs[(n + 2) % 6], "type": "vm", "title": "vm-%d" % ((n + 2) % 6)}},
                                   "id": "disk-%d" % n, "type": "disk", "old_status": "1",
                                   "new_status": "2", "old_transition": "0", "new_transition": "1"}}}
                if n % 2 == 0:
                    ev["audit"] = {"session": "s-%d" % n, "address": "2001:db8::%x" % (n + 1),
                                   "detail": "login", "kind": 0}
                f.write(json.dumps(ev) + "\n")
                keys.append(("event", guid))
    return keys


def ended_file(path, ops, events):
    """Operations half ended, half running, and events: what compaction works on."""
    envs = ["%08x-0000-4000-8000-%012x" % (0xe0, i) for i in range(4)]
    with open(path, "w") as f:
        for i in range(ops):
            ref = {"params": {"eid": envs[i % 4], "type": "vm", "title": "vm-%d" % (i % 4)}}
            base = {"kind": "progress", "id": "op-%d" % i, "name": "vm.stop", "status": 2,
                    "progress": 10, "time": 1600000000 + i, "operands": [envs[(i + 1) % 4]],
                    "info": {"text": "half", "params": {"task_id": "t-%d" % i, "source_env": ref}}}
            f.write(json.dumps(base) + "\n")
            if i % 2:
                base.update(status=3, progress=100, info={"text": "done"})
                f.write(json.dumps(base) + "\n")
        for n in range(events):
            f.write(json.dumps({
                "kind": "event", "guid": "%08x-0000-4000-8000-%012x" % (0xe8, n),
                "time": 1600000000 + n, "category": "vm", "type": "env_status", "code": n,
                "info": {"text": "e", "params": {
                    "source_env": {"params": {"eid": envs[n % 4], "type": "vm", "title": "vm-%d" % (n % 4)}},
                    "old_status": "1", "new_status": "2", "old_transition": "0",
                    "new_transition": "1"}}}) + "\n")


class Loop:
    def __init__(self, server, folder):
        self.s, self.folder = server, folder
        self.killed = {k: 0 for k in ("import", "compact", "upgrade", "copy")}
        self.ran = {k: 0 for k in self.killed}

    # What a log holds, without its own keys.
    def listings(self, url):
        return (ok(url, "ops", "--json", "--limit", "100000"),
                ok(url, "events", "--json", "--with-data", "--limit", "100000"))

    # The same without the environment directory, which is the framework's and not the
    # log's (a log of the first layout is made without it).
    def log_listings(self, url):
        return tuple("".join(line for line in text.splitlines(True) if '"kind":"env"' not in line)
                     for text in self.listings(url))

    def per_record(self, url, kind):
        return {(r[0].decode() if isinstance(r[0], bytes) else r[0]).lower().strip("{}"):
                tuple(int(x) for x in r[1:])
                for r in self.s.rows(url, PER_RECORD[kind])}

    def table_rows(self, url):
        return {t: sorted(self.s.rows(url, "SELECT * FROM " + t), key=repr) for t in TABLES}

    def expect_consistent(self, url, orphans=True):
        ok(url, "ops", "--limit", "1")
        if not orphans:
            return
        for child, key, parent, pkey in CHILDREN:
            n = int(self.s.rows(url, "SELECT COUNT(*) FROM %s WHERE %s NOT IN (SELECT %s FROM %s)"
                                % (child, key, pkey, parent))[0][0])
            check(n == 0, "%d rows of %s name a %s that is gone" % (n, child, parent))

    def setup(self):
        self.records = os.path.join(self.folder, "records.jsonl")
        self.keys = records_file(self.records, 120, 24)
        self.imported = self.s.fresh()
        start = time.time()
        ok(self.imported, "import", "--batch", "20", self.records)
        self.import_time = time.time() - start
        self.imported_listings = self.listings(self.imported)
        # Most kills should land in the work, not in the tool's start.
        start = time.time()
        ok(self.imported, "init")
        self.startup = (time.time() - start) * 0.8
        self.imported_records = {k: self.per_record(self.imported, k) for k in PER_RECORD}
        # Whole records stored a second time change nothing: the premise of a re-import.
        ok(self.imported, "import", "--batch", "20", self.records)
        check(self.listings(self.imported) == self.imported_listings, "a second import changed the log")

        ended = os.path.join(self.folder, "ended.jsonl")
        ended_file(ended, 160, 80)
        self.ended = self.s.fresh()
        ok(self.ended, "import", "--batch", "100", ended)
        target = self.copy_of(self.ended)
        self.before_compaction = self.table_rows(target)
        self.ended_records = {k: self.per_record(target, k) for k in PER_RECORD}
        start = time.time()
        self.compact(target)
        self.compact_time = time.time() - start
        self.compacted = self.table_rows(target)
        self.expect_consistent(target)
        check(self.compacted != self.before_compaction, "compaction removed nothing")
        self.s.drop(target)

        self.layout = first_layout(self.s.name)
        old = self.old_log()
        start = time.time()
        ok(old, "init")
        self.upgrade_time = time.time() - start
        self.imported_log_listings = self.log_listings(self.imported)
        check(self.log_listings(old) == self.imported_log_listings,
              "the upgrade changed the log's answers")
        self.s.drop(old)

        target = self.s.fresh()
        start = time.time()
        ok(self.imported, "copy", "--batch", "20", "--to", target)
        self.copy_time = time.time() - start
        self.s.drop(target)

    def compact_args(self):
        return ["bash", "-c", '"$0" --db "$1" compact ops --age 0 --batch 5 && '
                '"$0" --db "$1" compact events --keep 30 --batch 5']

    def compact(self, url):
        p = subprocess.run(self.compact_args() + [JRXLOG, url], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE)
        check(p.returncode == 0, "compaction failed: " + p.stderr.decode("utf-8", "replace")[-500:])

    def copy_of(self, url):
        target = self.s.fresh()
        ok(url, "copy", "--to", target)
        return target

    def old_log(self):
        """A log of the first layout holding the rows of the imported log."""
        url = self.s.fresh()
        self.s.run(url, self.layout)
        current = {t for t in TABLES}
        for create in self.layout:
            if create.startswith("CREATE TABLE"):
                table, cols = columns_of(create)
                if table in current:
                    self.s.copy_rows(self.imported, url, table, cols)
        return url

    def round_import(self):
        url = self.s.fresh()
        ok(url, "init")
        killed = killed_at_random([JRXLOG, "--db", url, "import", "--batch", "20", self.records],
                                  self.startup, self.import_time * 1.1)
        self.expect_consistent(url)
        stored = {k: self.per_record(url, k) for k in PER_RECORD}
        keys = [(k, v.lower()) for k, v in self.keys]
        held = [v in stored[k] for k, v in keys]
        prefix = held.index(False) if False in held else len(held)
        check(not any(held[prefix:]),
              "stored records are not a prefix of the file (first gap at record %d)" % prefix)
        for kind, values in stored.items():
            for key, counts in values.items():
                check(self.imported_records[kind].get(key) == counts,
                      "%s %s is stored in part: %s of %s" % (kind, key, counts,
                                                            self.imported_records[kind].get(key)))
        ok(url, "import", "--batch", "20", self.records)
        check(self.listings(url) == self.imported_listings,
              "the import after the kill did not complete the log")
        self.expect_consistent(url)
        self.s.drop(url)
        return killed

    def round_compact(self):
        url = self.copy_of(self.ended)
        killed = killed_at_random(self.compact_args() + [JRXLOG, url], self.startup,
                                  self.compact_time * 1.1)
        # Compaction leaves children behind until its sweep: whole records, orphans allowed.
        self.expect_consistent(url, orphans=False)
        for kind in PER_RECORD:
            for key, counts in self.per_record(url, kind).items():
                check(self.ended_records[kind].get(key) == counts,
                      "%s %s is left in part: %s of %s" % (kind, key, counts,
                                                          self.ended_records[kind].get(key)))
        self.compact(url)
        self.expect_consistent(url)
        check(self.table_rows(url) == self.compacted,
              "compaction after the kill did not end where one without a kill ends")
        self.s.drop(url)
        return killed

    def round_upgrade(self):
        url = self.old_log()
        killed = killed_at_random([JRXLOG, "--db", url, "init"], self.startup,
                                  self.upgrade_time * 1.1)
        self.expect_consistent(url)
        check(self.log_listings(url) == self.imported_log_listings,
              "the log upgraded after a kill answers otherwise")
        self.s.drop(url)
        return killed

    def round_copy(self):
        target = self.s.fresh()
        killed = killed_at_random([JRXLOG, "--db", self.imported, "copy", "--batch", "20", "--to",
                                   target], self.startup, self.copy_time * 1.1)
        self.expect_consistent(self.imported)
        source_rows = self.table_rows(self.imported)
        # The target holds nothing but the source's rows.
        copied = {}
        for t in TABLES:
            try:
                copied[t] = sorted(self.s.rows(target, "SELECT * FROM " + t), key=repr)
            except (Failure, sqlite3.Error):
                pass  # not made yet
        for t, rows in copied.items():
            left = list(source_rows[t])
            for r in rows:
                check(r in left, "the copy's %s holds a row the source does not" % t)
                left.remove(r)
        if any(copied.values()):
            rc, _, err = jrxlog(self.imported, "copy", "--to", target)
            check(rc == 1 and "not empty" in err, "a second copy into a half-filled target: %d %s"
                  % (rc, err.strip()))
            check(all(sorted(self.s.rows(target, "SELECT * FROM " + t), key=repr) == rows
                      for t, rows in copied.items()), "a refused copy changed the target")
        fresh = self.s.fresh()
        ok(self.imported, "copy", "--to", fresh)
        check(self.table_rows(fresh) == source_rows, "the copy into a new target differs")
        self.expect_consistent(fresh)
        check(self.listings(fresh) == self.imported_listings, "the copy answers otherwise")
        self.s.drop(target)
        self.s.drop(fresh)
        return killed

    def run(self, rounds):
        began = time.time()
        self.setup()
        kinds = ["import", "compact", "upgrade", "copy"]
        for r in range(rounds):
            kind = kinds[r % len(kinds)]
            try:
                if getattr(self, "round_" + kind)():
                    self.killed[kind] += 1
                self.ran[kind] += 1
            except Failure as e:
                print("crashloop %s: round %d (%s) failed: %s" % (self.s.name, r + 1, kind, e))
                return False
        print("crashloop %s: %d rounds passed in %.0f s; %s" % (
            self.s.name, rounds, time.time() - began,
            ", ".join("%s %d (killed in %d)" % (k, self.ran[k], self.killed[k]) for k in kinds)))
        return True


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 20
    only = sys.argv[2] if len(sys.argv) > 2 else ""
    if only not in ("", "sqlite", "mariadb"):
        raise SystemExit("crashloop: no database kind " + only)
    if not os.access(JRXLOG, os.X_OK):
        raise SystemExit("crashloop: no tool at %s (build it, or set JRXLOG)" % JRXLOG)
    good = True
    with tempfile.TemporaryDirectory(prefix="jrx-crashloop-") as folder:
        if only != "mariadb":
            good = Loop(SqliteServer(folder), folder).run(rounds) and good
        url = os.environ.get("JRX_TEST_MARIADB_URL", "")
        if only == "sqlite":
            pass
        elif url:
            server = MariadbServer(url)
            try:
                good = Loop(server, folder).run(rounds) and good
            finally:
                for n in range(1, server.n + 1):
                    server.drop("mysql://x@localhost/%s%d?" % (server.prefix, n))
        else:
            print("crashloop: JRX_TEST_MARIADB_URL is not set; MariaDB skipped")
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
