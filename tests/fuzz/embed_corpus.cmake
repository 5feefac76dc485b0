# Writes OUTPUT, a C++ source holding every file below CORPUS_DIR (CORPUS_DIR/NAME/FILE) as bytes,
# for corpus.h:  cmake -DCORPUS_DIR=... -DOUTPUT=... -P embed_corpus.cmake
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${CORPUS_DIR}" "${CORPUS_DIR}/*/*")
list(SORT files)
set(arrays "")
set(rows "")
set(index 0)
foreach(file IN LISTS files)
  string(REGEX MATCH "^([^/]+)/(.+)$" matched "${file}")
  set(target "${CMAKE_MATCH_1}")
  set(name "${CMAKE_MATCH_2}")
  file(READ "${CORPUS_DIR}/${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  if(size EQUAL 0)
    set(bytes "0")
  endif()
  string(APPEND arrays "const std::uint8_t file${index}[] = {${bytes}};\n")
  string(APPEND rows "    {\"${target}\", \"${name}\", file${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
if(index EQUAL 0)
  message(FATAL_ERROR "embed_corpus: no files below ${CORPUS_DIR}")
endif()
set(text "// Generated from tests/fuzz/corpus by embed_corpus.cmake; do not edit.
#include \"tests/fuzz/corpus.h\"

namespace tavrin::fuzz {
namespace {
${arrays}}  // namespace

const CorpusFile kCorpus[] = {
${rows}};
const std::size_t kCorpusCount = ${index};

}  // namespace tavrin::fuzz
")
file(WRITE "${OUTPUT}" "${text}")
