# add_suite(NAME SOURCE...): one test executable per suite, registered as one
# test, since every start under Wine costs seconds.
function(add_suite name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE project_options GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
endfunction()
