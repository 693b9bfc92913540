// What the query core needs of a session beyond its public interface.
#pragma once

#include <string>
#include <vector>

#include "ASDriver.h"
#include "ASQuery.h"

using ASRow = std::vector<ASBindValue>;

struct ASSessionAccess {
  // Runs `sql` (tokenised aliases already resolved) with `params` on the session's
  // connection, through its statement cache. A select's rows are all read into `rows` before
  // this returns, so the connection is free for the next statement. Returns the number of
  // rows an UPDATE or DELETE matched.
  static long long Run(ASSession& s, const std::string& sql, const std::vector<ASBindValue>& params,
                       std::vector<ASRow>* rows);
  // The connection, reconnected first when it was lost outside any transaction.
  static ASDriverConnection& Connection(ASSession& s);
};
