# The output-equality guard: exports and listings of a generated home must
# hash to recorded digests. Needs python3; the home comes from
# bench/gen_corpus.py.
include_guard(GLOBAL)

lorebox_add_test(test_golden
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/golden_e2e_test.cc
  LIBS lb_testsupport)
add_dependencies(test_golden lorebox)
