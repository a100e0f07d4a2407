# The layers hold: a library sees the headers of the libraries it depends on and nothing more,
# and portable code no platform header. Each probe is one include compiled against one library
# by its test, which passes only on the compiler's error that says why it must not compile
# (`unseen`: the header is not on the library's path; else the platform-header stand-in).
function(kdr_layer_probe name library include expect)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/layer_probes/${name}.cpp)
  file(WRITE ${source} "#include ${include}\n")
  add_library(layer_probe_${name} OBJECT EXCLUDE_FROM_ALL ${source})
  target_link_libraries(layer_probe_${name} PRIVATE ${library})
  kdr_guard_portable(${source})
  add_test(NAME layer_probe_${name}
           COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target layer_probe_${name})
  if(expect STREQUAL "unseen")
    string(REGEX REPLACE "[\"<>]" "" path ${include})
    set(why "${path}: No such file or directory")
  else()
    set(why "platform header ${include} included from portable code")
  endif()
  set_tests_properties(layer_probe_${name} PROPERTIES PASS_REGULAR_EXPRESSION "${why}"
                       RESOURCE_LOCK kdr_build_tree)
endfunction()

# What may be seen is seen already by the product's own build; these are what may not.
kdr_layer_probe(settings_not_app kdr_settings "\"app/messages.h\"" unseen)
kdr_layer_probe(datafolders_not_settings kdr_datafolders "\"settings/entry_codec.h\"" unseen)
kdr_layer_probe(platform_not_core kdr_platform "\"core/edition.h\"" unseen)
kdr_layer_probe(app_not_platform_code kdr_app "\"platform/win32/win32_registry.h\"" unseen)
kdr_layer_probe(portable_not_windows_h kdr_settings "<windows.h>" guarded)
kdr_layer_probe(portable_not_posix_h kdr_core "<sys/stat.h>" guarded)
kdr_layer_probe(engine_not_app kdr_engine "\"app/messages.h\"" unseen)

# The console tells what the engine did: it plans nothing itself, so it includes nothing of the
# subsystems the engine drives.
add_test(NAME layer_cli_through_engine
  COMMAND bash -c "! grep -n -E '#include \"(settings|datafolders)/' \"$0\"/*.cpp \"$0\"/*.h"
          ${PROJECT_SOURCE_DIR}/cli)
