#include "ServePage.h"

#include <httplib.h>

#include <cstring>
#include <string>

#include "EmbeddedFiles.h"

namespace jrxlog {

namespace {

const char* typeOf(const std::string& name) {
  const std::string ext = name.substr(name.rfind('.') + 1);
  if (ext == "html") return "text/html; charset=utf-8";
  if (ext == "js") return "text/javascript; charset=utf-8";
  if (ext == "css") return "text/css; charset=utf-8";
  if (ext == "svg") return "image/svg+xml";
  return "application/octet-stream";
}

// Routes are patterns: a dot in a name stands for itself only.
void serve(httplib::Server& server, const std::string& path, const EmbeddedFile& file) {
  std::string pattern;
  for (char c : path) pattern += c == '.' ? std::string("\\.") : std::string(1, c);
  const char* type = typeOf(file.name);
  server.Get(pattern, [&file, type](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-cache");
    res.set_content(reinterpret_cast<const char*>(file.data), file.size, type);
  });
}

}  // namespace

void addPageRoutes(httplib::Server& server) {
  for (size_t i = 0; i < kEmbeddedFileCount; ++i) {
    const EmbeddedFile& file = kEmbeddedFiles[i];
    serve(server, std::strcmp(file.name, "index.html") == 0 ? "/" : std::string("/") + file.name,
          file);
  }
}

}  // namespace jrxlog
