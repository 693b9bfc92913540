# Writes a C++ source that holds files as byte arrays, for a program that must carry them
# instead of reading them at run time. Run at build time:
#   cmake -DOUTPUT=WebFiles.cpp -DNAMESPACE=jrxlog -DFILES="name=path;name=path" -P EmbedFiles.cmake
# Each file becomes one entry of `kEmbeddedFiles` (EmbeddedFiles.h) under its name.
foreach(var OUTPUT NAMESPACE FILES)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "EmbedFiles.cmake: ${var} is not set")
  endif()
endforeach()

set(arrays "")
set(entries "")
set(index 0)
foreach(pair IN LISTS FILES)
  string(FIND "${pair}" "=" eq)
  if(eq LESS 1)
    message(FATAL_ERROR "EmbedFiles.cmake: '${pair}' is not name=path")
  endif()
  string(SUBSTRING "${pair}" 0 ${eq} name)
  math(EXPR start "${eq} + 1")
  string(SUBSTRING "${pair}" ${start} -1 path)
  file(SIZE "${path}" size)
  file(READ "${path}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # An empty file still needs an array of one element; its size says 0.
  if(size EQUAL 0)
    set(bytes "0")
  endif()
  string(APPEND arrays "const unsigned char kFile${index}[] = {${bytes}};\n")
  string(APPEND entries "    {\"${name}\", kFile${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()

set(text "// Made by cmake/EmbedFiles.cmake from the files it names; edit those instead.
#include \"EmbeddedFiles.h\"

namespace ${NAMESPACE} {

namespace {

${arrays}
}  // namespace

const EmbeddedFile kEmbeddedFiles[] = {
${entries}};
const size_t kEmbeddedFileCount = ${index};

}  // namespace ${NAMESPACE}
")
file(WRITE "${OUTPUT}" "${text}")
