target_sources(lyr_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/sha1.cpp)
