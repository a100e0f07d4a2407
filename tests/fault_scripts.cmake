# Process-level reliability tests of kdr4tose-cli: runs killed at random moments, repeated and
# concurrent runs, the permissions of what it creates, and folders it cannot read or make
# (Linux only).
if(TARGET kdr4tose-cli AND NOT WIN32)
  # The sanitizer build runs several times slower: fewer rounds there, the full count natively.
  if(KDR_SANITIZE)
    set(kdr_kill_rounds 3)
  else()
    set(kdr_kill_rounds 20)
  endif()
  add_test(NAME kdr4tose_cli_kill
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/posix/kill_interrupt_test.sh
                   $<TARGET_FILE:kdr4tose-cli> ${kdr_kill_rounds})
  set_tests_properties(kdr4tose_cli_kill PROPERTIES TIMEOUT 400)
  add_test(NAME kdr4tose_cli_repeat_concurrent_permission
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/posix/repeat_concurrent_permission_test.sh
                   $<TARGET_FILE:kdr4tose-cli> ${CMAKE_SOURCE_DIR}/examples)
  set_tests_properties(kdr4tose_cli_repeat_concurrent_permission PROPERTIES TIMEOUT 300)
  add_test(NAME kdr4tose_cli_folder_not_copied
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/posix/folder_not_copied_test.sh
                   $<TARGET_FILE:kdr4tose-cli> ${CMAKE_SOURCE_DIR}/examples)
  set_tests_properties(kdr4tose_cli_folder_not_copied PROPERTIES TIMEOUT 120)
endif()
