cmake_minimum_required(VERSION 3.25)
# Fails when the program imports at load time a library that Windows does
# not take from System32 itself (a KnownDLL): the loader would look for it in
# the program's folder first, where anyone who can write there (Downloads)
# can plant one.
#   cmake -DOBJDUMP=... -DPROGRAM=... -P imports.cmake
set(allowed kernel32.dll msvcrt.dll ws2_32.dll ole32.dll advapi32.dll
    user32.dll shell32.dll)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot read the imports of ${PROGRAM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${dump}")
if(NOT names)
  message(FATAL_ERROR "no imports found in ${PROGRAM}")
endif()
foreach(entry ${names})
  string(REPLACE "DLL Name: " "" name "${entry}")
  string(TOLOWER "${name}" name)
  if(NOT name IN_LIST allowed)
    message(FATAL_ERROR "${PROGRAM} imports ${name} at load time")
  endif()
endforeach()
message(STATUS "imports: ${names}")
