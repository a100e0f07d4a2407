# profile_bench: export-shaped writes through PortableProfileFile, and in the Windows build
# through the platform's profile functions too. Included from bench/CMakeLists.txt.
add_executable(profile_bench ${CMAKE_CURRENT_LIST_DIR}/profile_bench.cpp)
target_link_libraries(profile_bench PRIVATE kdr_bench_gen)
if(WIN32)
  target_link_libraries(profile_bench PRIVATE kdr_platform_win32)
endif()
