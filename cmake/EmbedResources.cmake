# Writes a C++ source holding every file of a folder as a resource table
# (platform/winapi/resources.h): run as
#   cmake -DRESOURCE_DIR=<folder> -DOUTPUT=<file.cpp> -P EmbedResources.cmake
#
# A file's name without its extension, in upper case, is the resource's
# name; its extension decides the type:
#   .BMP  BITMAP, without the 14-byte file header (a bitmap resource starts
#         at its BITMAPINFOHEADER)
#   .INF  the font record, under both record types, TEXT and INFO
#   .ICO  ICON     .WAV  WAVE     anything else  RCDATA

if(NOT RESOURCE_DIR OR NOT OUTPUT)
  message(FATAL_ERROR "EmbedResources: RESOURCE_DIR and OUTPUT are required")
endif()

file(GLOB files LIST_DIRECTORIES false "${RESOURCE_DIR}/*")
list(SORT files)

set(arrays "")
set(entries "")
set(count 0)
foreach(path IN LISTS files)
  get_filename_component(fname "${path}" NAME)
  if(fname MATCHES "^\\." OR fname MATCHES "\\.(md|txt)$")
    continue()
  endif()
  get_filename_component(stem "${path}" NAME_WE)
  get_filename_component(ext "${path}" LAST_EXT)
  string(TOUPPER "${stem}" name)
  string(TOUPPER "${ext}" ext)

  set(offset 0)
  if(ext STREQUAL ".BMP")
    set(types BITMAP)
    set(offset 14)
    file(READ "${path}" magic LIMIT 2 HEX)
    file(SIZE "${path}" size)
    if(NOT magic STREQUAL "424d" OR size LESS 54)
      message(FATAL_ERROR "EmbedResources: ${path} is not a BMP file")
    endif()
  elseif(ext STREQUAL ".INF")
    set(types TEXT INFO)
  elseif(ext STREQUAL ".ICO")
    set(types ICON)
  elseif(ext STREQUAL ".WAV")
    set(types WAVE)
  else()
    set(types RCDATA)
  endif()

  file(READ "${path}" hex HEX OFFSET ${offset})
  string(LENGTH "${hex}" hexlen)
  math(EXPR size "${hexlen} / 2")
  # Two hex digits per byte become "0x..,"; a line break every 16 bytes
  # keeps the generated source readable.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REPEAT "0x..," 16 row)
  string(REGEX REPLACE "(${row})" "\\1\n" bytes "${bytes}")

  string(MAKE_C_IDENTIFIER "res_${fname}" id)
  if(size EQUAL 0)
    string(APPEND arrays "alignas(4) const unsigned char ${id}[1] = {0};\n")
  else()
    string(APPEND arrays "alignas(4) const unsigned char ${id}[${size}] = {\n${bytes}\n};\n")
  endif()
  foreach(type IN LISTS types)
    string(APPEND entries "    {\"${name}\", \"${type}\", ${id}, ${size}u},\n")
    math(EXPR count "${count} + 1")
  endforeach()
endforeach()

if(count EQUAL 0)
  set(entries "    {\"\", \"\", nullptr, 0u},\n")
endif()

set(source "// Generated from ${RESOURCE_DIR} by cmake/EmbedResources.cmake. Do not edit.
#include \"platform/winapi/resources.h\"

namespace {
${arrays}}  // namespace

extern const ResourceEntry kResourceTable[] = {
${entries}};
extern const size_t kResourceTableCount = ${count};
")

file(WRITE "${OUTPUT}" "${source}")
