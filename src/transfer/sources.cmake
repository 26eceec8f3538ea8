target_sources(lyr_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/sha1.cpp)
target_sources(lyr_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/transfer_jobs.cpp)
target_sources(lyr_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/progress_job.cpp)
