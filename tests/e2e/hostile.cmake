# Hostile-input end-to-end tests: broken JSON, odd file systems and output
# faults, run against the built binary. Included from tests/e2e.
include_guard(GLOBAL)

lorebox_add_test(test_hostile
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/hostile_support.cc
          ${CMAKE_CURRENT_LIST_DIR}/hostile_json_test.cc
          ${CMAKE_CURRENT_LIST_DIR}/hostile_files_test.cc
          ${CMAKE_CURRENT_LIST_DIR}/hostile_output_test.cc
  LIBS lb_testsupport lb_io)
add_dependencies(test_hostile lorebox)
