# The queue tests drive the module frame as a real process: queue_test_module is a
# tiny module program (TestModule.cc) whose path reaches the tests as
# QB_QUEUE_TEST_MODULE.  tests_queue is created after this file is included, so the
# wiring is deferred to the end of the directory.
add_executable(queue_test_module ${CMAKE_CURRENT_LIST_DIR}/TestModule.cc)
target_link_libraries(queue_test_module PRIVATE quillbox_queue)

function(qb_wire_queue_test_module)
  if(TARGET tests_queue)
    add_dependencies(tests_queue queue_test_module)
    target_compile_definitions(tests_queue PRIVATE
      QB_QUEUE_TEST_MODULE="$<TARGET_FILE:queue_test_module>")
  endif()
endfunction()
cmake_language(DEFER CALL qb_wire_queue_test_module)
