# norvlite's statements through the protocol client's db_execute, against the built norvlite.
# Included from tests/e2e/CMakeLists.txt.
norv_test(norv_statements_e2e_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/statements_e2e_test.cpp
  DEPS norv_protocol norv_test_support)
add_dependencies(norv_statements_e2e_tests norvlite)
