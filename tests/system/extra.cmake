# system_tzprobe shows the zone the library read at load; the tests get its path as
# QB_TZPROBE (deferred: tests_system is created after this file is included).
add_executable(system_tzprobe ${CMAKE_CURRENT_LIST_DIR}/tzprobe.cc)
target_link_libraries(system_tzprobe PRIVATE quillbox_system)
function(qb_wire_system_tzprobe)
  add_dependencies(tests_system system_tzprobe)
  target_compile_definitions(tests_system PRIVATE QB_TZPROBE="$<TARGET_FILE:system_tzprobe>")
endfunction()
cmake_language(DEFER CALL qb_wire_system_tzprobe)
