# The quillbox-admin tests run the real program as an operator would; its path reaches
# them as QB_ADMIN_PROGRAM.  tests_directory is created after this file is included,
# so the wiring is deferred to the end of the directory.
function(qb_wire_admin_program)
  if(TARGET tests_directory AND TARGET quillbox-admin)
    add_dependencies(tests_directory quillbox-admin)
    target_compile_definitions(tests_directory PRIVATE
      QB_ADMIN_PROGRAM="$<TARGET_FILE:quillbox-admin>")
  endif()
endfunction()
cmake_language(DEFER CALL qb_wire_admin_program)
