target_sources(lyr_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/recording_record.cpp)
target_sources(lyr_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/export_headers.cpp)
target_sources(lyr_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/mpeg_frame_header.cpp)
target_sources(lyr_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/recording_catalogue.cpp)
