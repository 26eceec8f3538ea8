target_sources(lyr_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/profile_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/config_path.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings_templates.cpp
  ${CMAKE_CURRENT_LIST_DIR}/recorder_model.cpp
)
