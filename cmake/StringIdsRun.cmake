# Script mode: reads the string table INPUT ("<id> <name>\t<text>" lines, the
# name optional) and writes OUTPUT, a header with one constant per name in
# namespace qm::core::str. Stops with an error naming the line when an entry
# is malformed, an id is given twice, a name is used twice or a named id has
# no text, so a name can never point at a missing or another text.
file(READ "${INPUT}" content)
# Keep every line one list element: CMake lists split at ';' and pair
# brackets across elements, and a backslash before the ';' of a line end
# would join two lines; the texts may hold all three.
string(REGEX REPLACE "[][;]" "_" content "${content}")
string(REPLACE "\\" "_" content "${content}")
string(REPLACE "\r" "" content "${content}")
string(REPLACE "\n" ";" lines "${content}")

set(problems "")
set(constants "")
set(number 0)
foreach(line IN LISTS lines)
  math(EXPR number "${number} + 1")
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  if(NOT line MATCHES "^([^\t]*)\t(.*)$")
    string(APPEND problems "  line ${number}: no tab between the id and the text\n")
    continue()
  endif()
  set(key "${CMAKE_MATCH_1}")
  set(text "${CMAKE_MATCH_2}")
  if(NOT key MATCHES "^([0-9][0-9]?[0-9]?[0-9]?[0-9]?[0-9]?[0-9]?[0-9]?[0-9]?)( (k[A-Z][A-Za-z0-9]*))?$")
    string(APPEND problems "  line ${number}: \"${key}\" is not \"<id>\" or \"<id> k<Name>\" (an id of up to 9 digits)\n")
    continue()
  endif()
  set(id "${CMAKE_MATCH_1}")
  set(name "${CMAKE_MATCH_3}")
  # Leading zeros would let "07" and "7" pass as two ids.
  math(EXPR id "${id}")
  if(DEFINED line_of_id_${id})
    string(APPEND problems "  line ${number}: id ${id} is already given on line ${line_of_id_${id}}\n")
    continue()
  endif()
  set(line_of_id_${id} ${number})
  if(name STREQUAL "")
    continue()
  endif()
  if(DEFINED id_of_name_${name})
    string(APPEND problems "  line ${number}: ${name} is already the name of id ${id_of_name_${name}}\n")
    continue()
  endif()
  set(id_of_name_${name} ${id})
  if(text STREQUAL "")
    string(APPEND problems "  line ${number}: ${name} (id ${id}) has no text\n")
    continue()
  endif()
  string(APPEND constants "inline constexpr uint32_t ${name} = ${id};\n")
endforeach()

if(NOT problems STREQUAL "")
  message(FATAL_ERROR "String table ${INPUT} has entries that cannot be named:\n${problems}")
endif()

# Written only when it changes, so a changed text rebuilds nothing but the
# embedded table.
file(WRITE "${OUTPUT}.new"
"#pragma once\n"
"// Generated from resources/strings.txt at build time: edit the names there.\n"
"#include <cstdint>\n"
"\n"
"namespace qm::core::str {\n"
"\n"
"${constants}"
"\n"
"}  // namespace qm::core::str\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.new" "${OUTPUT}")
file(REMOVE "${OUTPUT}.new")
