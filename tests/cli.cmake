# kdr4tose-cli run as a process: against registry files natively, against Wine's registry in
# the Windows build.
if(TARGET kdr4tose-cli)
  # The program with another program's change of the registry file during its write-back.
  add_executable(kdr4tose-cli-changed EXCLUDE_FROM_ALL cli/registry_file_changed_hooks.cpp
                 ${PROJECT_SOURCE_DIR}/cli/user_profiles_source.cpp)
  target_link_libraries(kdr4tose-cli-changed PRIVATE kdr_cli)
  add_dependencies(kdr_tests kdr4tose-cli-changed)
  # The program over a list of users given by the test, each with a registry file.
  add_executable(kdr4tose-cli-users EXCLUDE_FROM_ALL cli/listed_user_profiles.cpp
                 ${PROJECT_SOURCE_DIR}/cli/registry_write_back_hooks.cpp)
  target_link_libraries(kdr4tose-cli-users PRIVATE kdr_cli)
  add_dependencies(kdr_tests kdr4tose-cli-users)
  if(WIN32)
    # Makes a second user's NTUSER.DAT for the tests with RegSaveKeyW.
    add_executable(save_key EXCLUDE_FROM_ALL cli/save_key_win32.cpp)
    target_link_options(save_key PRIVATE -municode)
    add_dependencies(kdr_tests save_key)
  endif()
  if(WIN32)
    add_test(NAME kdr4tose_cli_wine
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cli/cli_wine_test.sh
                     $<TARGET_FILE:kdr4tose-cli> ${CMAKE_SOURCE_DIR}/tools/wine-run
                     $<TARGET_FILE:kdr4tose-cli-changed>)
    set_tests_properties(kdr4tose_cli_wine PROPERTIES TIMEOUT 600)
    add_test(NAME kdr4tose_cli_wine_kill
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cli/wine_kill_collect_test.sh
                     $<TARGET_FILE:kdr4tose-cli> ${CMAKE_SOURCE_DIR}/tools/wine-run 10)
    set_tests_properties(kdr4tose_cli_wine_kill PROPERTIES TIMEOUT 600)
    add_test(NAME kdr4tose_cli_wine_all_users
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cli/wine_all_users_test.sh
                     $<TARGET_FILE:kdr4tose-cli> ${CMAKE_SOURCE_DIR}/tools/wine-run
                     $<TARGET_FILE:save_key>)
    set_tests_properties(kdr4tose_cli_wine_all_users PROPERTIES TIMEOUT 300)
  else()
    add_test(NAME kdr4tose_cli
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cli/cli_posix_test.sh
                     $<TARGET_FILE:kdr4tose-cli> ${CMAKE_SOURCE_DIR}/examples
                     $<TARGET_FILE:kdr4tose-cli-changed>)
    set_tests_properties(kdr4tose_cli PROPERTIES TIMEOUT 300)
    add_test(NAME kdr4tose_cli_progress
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cli/cli_progress_posix_test.sh
                     $<TARGET_FILE:kdr4tose-cli> ${CMAKE_SOURCE_DIR}/examples)
    # The runs are stopped 99 % of the time: they last a hundred times their wall time, disk
    # waits included, which on a slow disk (or under the sanitizers) is minutes.
    set_tests_properties(kdr4tose_cli_progress PROPERTIES TIMEOUT 1800)
    # Hive files made by the test from .reg text (make_empty_hive.py, then hivexregedit).
    add_test(NAME kdr4tose_cli_hive
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cli/hive_posix_test.sh
                     $<TARGET_FILE:kdr4tose-cli> ${CMAKE_SOURCE_DIR}/examples
                     $<TARGET_FILE:kdr4tose-cli-changed>)
    set_tests_properties(kdr4tose_cli_hive PROPERTIES TIMEOUT 120)
    add_test(NAME kdr4tose_cli_report
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cli/cli_report_posix_test.sh
                     $<TARGET_FILE:kdr4tose-cli> ${CMAKE_SOURCE_DIR}/examples)
    set_tests_properties(kdr4tose_cli_report PROPERTIES TIMEOUT 300)
    add_test(NAME kdr4tose_cli_all_users
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cli/cli_all_users_test.sh
                     $<TARGET_FILE:kdr4tose-cli-users> ${CMAKE_SOURCE_DIR}/examples)
    set_tests_properties(kdr4tose_cli_all_users PROPERTIES TIMEOUT 120)
    add_test(NAME kdr4tose_cli_lang
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cli/cli_lang_posix_test.sh
                     $<TARGET_FILE:kdr4tose-cli> $<TARGET_FILE:kdr4tose-cli-users>
                     ${CMAKE_SOURCE_DIR}/examples)
    set_tests_properties(kdr4tose_cli_lang PROPERTIES TIMEOUT 120)
  endif()
endif()
