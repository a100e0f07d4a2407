# One static library per source folder, with its files listed by name.
#
# Every include names its folder ("core/edition.h"). Instead of the source tree, each library
# puts on the include path a folder of its own in the build tree holding links to exactly the
# headers it lists, at their source paths; a library sees its own headers and those of the
# libraries it depends on, nothing else, so an include against the direction of the
# dependencies does not compile. Sources marked PORTABLE also get a folder of stand-ins for the
# Win32 and POSIX headers, each an #error, so portable code cannot reach either platform.

set(KDR_PLATFORM_HEADER_GUARD ${CMAKE_CURRENT_LIST_DIR}/platform-header-guard)

# kdr_expose_headers(<target> <PUBLIC|PRIVATE> <header>...): headers of the current folder,
# relative to it, made visible to <target> (and with PUBLIC to what links it) at their path
# from the top of the source tree.
function(kdr_expose_headers target scope)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(header ${ARGN})
    get_filename_component(source ${header} ABSOLUTE)
    file(RELATIVE_PATH path ${PROJECT_SOURCE_DIR} ${source})
    get_filename_component(parent ${root}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${source} ${root}/${path} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# kdr_expose_folder(<target> <folder>...): whole folders (tests, benchmarks, fuzz targets) at
# their paths from the top of the source tree, for that target only.
function(kdr_expose_folder target)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  foreach(folder ${ARGN})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PRIVATE ${root})
endfunction()

# kdr_library(<target> [PORTABLE <source>...] [NATIVE <source>...] [HEADERS <header>...]
#             [DEPENDS <target>...]): PORTABLE sources may include no platform header,
# NATIVE ones may.
function(kdr_library target)
  cmake_parse_arguments(arg "" "" "PORTABLE;NATIVE;HEADERS;DEPENDS" ${ARGN})
  add_library(${target} STATIC ${arg_PORTABLE} ${arg_NATIVE} ${arg_HEADERS})
  kdr_guard_portable(${arg_PORTABLE})
  kdr_expose_headers(${target} PUBLIC ${arg_HEADERS})
  target_link_libraries(${target} PUBLIC ${arg_DEPENDS})
  set_property(GLOBAL APPEND PROPERTY KDR_PRODUCT_LIBRARIES ${target})
endfunction()

# kdr_guard_portable(<source>...): these sources may include no Win32 or POSIX header.
function(kdr_guard_portable)
  if(ARGN)
    set_source_files_properties(${ARGN} PROPERTIES INCLUDE_DIRECTORIES ${KDR_PLATFORM_HEADER_GUARD})
  endif()
endfunction()
