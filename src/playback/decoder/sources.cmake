target_sources(lyr_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/audio_decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/decoder_tables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/layer2_stream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/synthesis.cpp
)
# The matrixing is written as plain loops over the blocks of a frame; full
# optimisation lets the compiler turn them into vector code.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/synthesis.cpp PROPERTIES COMPILE_OPTIONS "-O3")
