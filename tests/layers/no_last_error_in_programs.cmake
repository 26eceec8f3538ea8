# The programs (lyrctl, the windows, the application) see failures only as
# lyr::Status / lyr::Result: the last error is the core's to read. Fails
# naming each program source under ROOT that reads or sets it.
#   cmake -DROOT=<tree> -P no_last_error_in_programs.cmake
file(GLOB_RECURSE sources LIST_DIRECTORIES false
  "${ROOT}/tools/lyrctl/*.cpp" "${ROOT}/tools/lyrctl/*.h"
  "${ROOT}/src/app/*.cpp" "${ROOT}/src/app/*.h"
  "${ROOT}/src/gui/*.cpp" "${ROOT}/src/gui/*.h"
  "${ROOT}/src/*/ui/*.cpp" "${ROOT}/src/*/ui/*.h")
if(NOT sources)
  message(FATAL_ERROR "no program sources under ${ROOT}")
endif()
set(found "")
foreach(source IN LISTS sources)
  file(STRINGS "${source}" hits REGEX "(^|[^A-Za-z0-9_])(Get|Set)LastError[ \t]*\\(")
  if(hits)
    file(RELATIVE_PATH name "${ROOT}" "${source}")
    list(APPEND found "${name}")
  endif()
endforeach()
if(found)
  list(JOIN found "\n  " names)
  message(FATAL_ERROR "the last error is read or set outside the core (use the Status/Result face):\n  ${names}")
endif()
