// Turning an ASFilter into a SELECT: which tables take part, how they are joined, and the
// text of the statement (with the additions a paging cursor makes).
#pragma once

#include <string>
#include <vector>

#include "ASNode.h"
#include "ASShapeKey.h"
#include "ASSqlText.h"

struct ASSelectShape {
  std::vector<ASDomain*> inner;             // joined through the WHERE conditions
  std::vector<ASDomain*> outer;             // LEFT JOINed, in the same order as `on`
  std::vector<std::vector<const ASNode*>> on;
  std::vector<const ASNode*> where;         // top-level conjuncts
};

// `outer`: tables of an enclosing select, which this one names without reading them.
ASSelectShape ASAnalyzeSelect(const ASFilter& f, const std::vector<const ASDomain*>& outer = {});

// One key of an ORDER BY: tokenised expression and direction.
struct ASOrderKey {
  std::string expr;
  bool desc = false;
};

struct ASSelectExtras {
  std::vector<std::string> hidden;  // further select expressions after the projection
  const ASSqlWriter* where = nullptr;  // a further conjunct (keyset continuation)
  const std::vector<ASOrderKey>* order = nullptr;  // replaces the filter's order
  bool limit = false;
  unsigned long long count = 0, offset = 0;
  // Where the LIMIT and OFFSET values come from (ASSqlWriter::sources).
  const void* countSource = &ASLimitCountSource;
  const void* offsetSource = &ASLimitOffsetSource;
  // The dialect of the filter's plan hints; without it they are left out.
  const ASDriverConnection* dialect = nullptr;
};

// The shape key of a select: what its text depends on, less what a cursor adds.
void ASKeySelect(const ASFilter& f, ASShapeKey& k);
// Writes SELECT ... FROM ... WHERE ... ORDER BY ... [LIMIT ? OFFSET ?].
void ASRenderSelect(const ASFilter& f, const ASSelectShape& shape, const ASSelectExtras& x,
                    ASSqlWriter& w);

// A select inside another's condition, in the enclosing statement's dialect.
void ASRenderEmbedded(const ASFilter& f, const std::vector<const ASDomain*>& outer,
                      ASSqlWriter& w);

std::string ASColumnExpr(const ASDomain& d, size_t column);
std::string ASRowKeyExpr(const ASDomain& d, const std::string& column);
