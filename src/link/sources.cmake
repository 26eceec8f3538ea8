target_sources(lyr_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/sector_transport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/command_set.cpp
)
