# The fleet report's parsing of logs and results is tested in kdr_tests.
if(TARGET kdr_fleet_report)
  target_link_libraries(kdr_tests PRIVATE kdr_fleet_report)
endif()
