target_sources(lyr_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/sector_transport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/command_set.cpp
)
target_sources(lyr_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/disk_scanner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recorder_watcher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/connection.cpp
)
pkg_check_modules(UDEV REQUIRED IMPORTED_TARGET libudev)
target_link_libraries(lyr_core PUBLIC PkgConfig::UDEV)
