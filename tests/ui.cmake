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
