# UI tests of the Windows dialog program: a driver program of our own clicks through
# kdr4tose.exe under Wine on a virtual X display (tests/ui/run-ui-tests).
if(WIN32 AND TARGET kdr4tose)
  add_executable(ui_driver ${CMAKE_CURRENT_LIST_DIR}/ui/ui_driver.cpp)
  target_link_options(ui_driver PRIVATE -municode)
  target_link_libraries(ui_driver PRIVATE comctl32)
  add_test(NAME ui_tests
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/ui/run-ui-tests $<TARGET_FILE:kdr4tose>
            $<TARGET_FILE:ui_driver>)
  set_tests_properties(ui_tests PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
endif()

# kdr4tose.exe ended by force in its Migrate and Collect, then checked with the console tool.
if(WIN32 AND TARGET kdr4tose AND TARGET kdr4tose-cli)
  add_test(NAME ui_wine_kill
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/ui/wine_kill_window_test.sh $<TARGET_FILE:kdr4tose>
            $<TARGET_FILE:kdr4tose-cli> $<TARGET_FILE:ui_driver> ${CMAKE_SOURCE_DIR}/tools/wine-run)
  set_tests_properties(ui_wine_kill PROPERTIES TIMEOUT 900 RUN_SERIAL TRUE)
endif()

# Exit pressed during a Collect and a Migrate: the window answers throughout, shows its progress,
# and the run stops in a state verify, status and undo understand.
if(WIN32 AND TARGET kdr4tose AND TARGET kdr4tose-cli)
  add_test(NAME ui_wine_stop
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/ui/wine_stop_window_test.sh $<TARGET_FILE:kdr4tose>
            $<TARGET_FILE:kdr4tose-cli> $<TARGET_FILE:ui_driver> ${CMAKE_SOURCE_DIR}/tools/wine-run)
  set_tests_properties(ui_wine_stop PROPERTIES TIMEOUT 900 RUN_SERIAL TRUE)
endif()
