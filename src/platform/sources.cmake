target_sources(lyr_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/last_error.cpp
  ${CMAKE_CURRENT_LIST_DIR}/event.cpp
  ${CMAKE_CURRENT_LIST_DIR}/trace.cpp
  ${CMAKE_CURRENT_LIST_DIR}/posix/raw_drive_posix.cpp
)
