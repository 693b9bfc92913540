// Files the tool carries inside its binary, written into a source at build time by
// cmake/EmbedFiles.cmake: what they hold is fixed when the tool is built, and nothing is read
// from the disk when it runs.
#pragma once

#include <cstddef>

namespace jrxlog {

struct EmbeddedFile {
  const char* name;
  const unsigned char* data;
  size_t size;
};

extern const EmbeddedFile kEmbeddedFiles[];
extern const size_t kEmbeddedFileCount;

}  // namespace jrxlog
