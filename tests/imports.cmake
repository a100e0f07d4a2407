# The dialog program imports only the libraries every run needs: imagehlp, shlwapi and shell32
# (with what they pull in under Wine: ole32, shcore, dbghelp) are loaded on first use, so a run
# that never copies a folder does not pay for them at start-up.
if(WIN32 AND TARGET kdr4tose AND CMAKE_OBJDUMP)
  add_test(NAME kdr4tose_imports
    COMMAND bash -c "imports=$(\"$0\" -p \"$1\" | sed -n 's/^[[:space:]]*DLL Name: //p') && \
      echo \"$imports\" && grep -q -i '^kernel32.dll$' <<<\"$imports\" && \
      ! grep -i -E '^(imagehlp|shlwapi|shell32|ole32)[.]dll$' <<<\"$imports\""
      ${CMAKE_OBJDUMP} $<TARGET_FILE:kdr4tose>)
endif()
