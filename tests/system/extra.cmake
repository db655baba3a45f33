# The system tests start system_tzprobe (tzprobe.cc) to see the zone the library read
# at load; its path reaches the tests as QB_TZPROBE.  tests_system is created after
# this file is included, so the wiring is deferred to the end of the directory.
add_executable(system_tzprobe ${CMAKE_CURRENT_LIST_DIR}/tzprobe.cc)
target_link_libraries(system_tzprobe PRIVATE quillbox_system)

function(qb_wire_system_tzprobe)
  if(TARGET tests_system)
    add_dependencies(tests_system system_tzprobe)
    target_compile_definitions(tests_system PRIVATE
      QB_TZPROBE="$<TARGET_FILE:system_tzprobe>")
  endif()
endfunction()
cmake_language(DEFER CALL qb_wire_system_tzprobe)
