# Sources generated at build time from the data shipped in the tree.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/generated)

# The UFF parameter table: data/uff_params.tsv (comment lines starting with
# "#", one header line, then one row per label in table order) becomes a
# constant array in generated/uff_params_table.hpp.
set(ZELT_UFF_TSV ${CMAKE_SOURCE_DIR}/data/uff_params.tsv)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZELT_UFF_TSV})
file(STRINGS ${ZELT_UFF_TSV} zelt_uff_lines ENCODING UTF-8)
set(zelt_uff_rows "")
set(zelt_uff_count 0)
set(zelt_uff_header_seen FALSE)
foreach(line IN LISTS zelt_uff_lines)
  if(line MATCHES "^#" OR line STREQUAL "")
    continue()
  endif()
  string(REPLACE "\t" ";" fields "${line}")
  list(LENGTH fields nfields)
  if(NOT nfields EQUAL 9)
    message(FATAL_ERROR "uff_params.tsv: expected 9 columns, got ${nfields}: ${line}")
  endif()
  if(NOT zelt_uff_header_seen)
    set(zelt_uff_header_seen TRUE)
    continue()
  endif()
  list(GET fields 0 label)
  list(SUBLIST fields 1 8 numbers)
  foreach(x IN LISTS numbers)
    if(NOT x MATCHES "^-?[0-9]+(\\.[0-9]+)?([eE][-+]?[0-9]+)?$")
      message(FATAL_ERROR "uff_params.tsv: not a number '${x}' in row ${label}")
    endif()
  endforeach()
  list(JOIN numbers ", " joined)
  string(APPEND zelt_uff_rows "    {\"${label}\", ${joined}},\n")
  math(EXPR zelt_uff_count "${zelt_uff_count} + 1")
endforeach()
if(NOT zelt_uff_count EQUAL 129)
  message(FATAL_ERROR "uff_params.tsv: expected 129 rows, got ${zelt_uff_count}")
endif()
set(zelt_uff_header_text "// Generated from data/uff_params.tsv by cmake/generated.cmake; do not edit.
// Rows: label, r1, theta0, x1, d1, zeta, z1, chi, v_sp3.
#pragma once

#include <array>

#include \"forcefield/params.hpp\"

namespace zelt::forcefield::generated {

inline constexpr std::array<UffParams, ${zelt_uff_count}> uff_params_rows{{
${zelt_uff_rows}}};

}  // namespace zelt::forcefield::generated
")
# Rewritten only when the text changes, so that an unchanged table does not
# trigger a rebuild.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/uff_params_table.hpp CONTENT "${zelt_uff_header_text}" @ONLY)
