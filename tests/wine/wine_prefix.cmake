cmake_minimum_required(VERSION 3.25)
# Prepares (ACTION=setup) or stops (ACTION=shutdown) the Wine tests' prefix.
# cmake -DACTION=setup|shutdown -DWINE64=<wine64> -DWINESERVER=<wineserver> -DPREFIX=<dir> -P ...
foreach(var ACTION WINE64 WINESERVER PREFIX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "wine_prefix.cmake needs -D${var}=...")
  endif()
endforeach()

set(ENV{WINEPREFIX} "${PREFIX}")
set(ENV{WINEDEBUG} "-all")
# No Mono or Gecko install prompts while the prefix is created: nothing here uses .NET, and the
# settings dialog's MSHTML entry is a stub in Wine either way.
set(ENV{WINEDLLOVERRIDES} "mscoree=d")

function(run)
  string(TIMESTAMP start "%s")
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(TIMESTAMP stop "%s")
  math(EXPR took "${stop} - ${start}")
  message(STATUS "${ARGN}: exit ${rc}, ${took} s")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}")
  endif()
endfunction()

if(ACTION STREQUAL "shutdown")
  # Kills what the tests left running in the prefix (a status monitor that still polls).
  execute_process(COMMAND ${WINESERVER} -k RESULT_VARIABLE rc)
  message(STATUS "wineserver -k: exit ${rc}")
  return()
endif()

if(NOT ACTION STREQUAL "setup")
  message(FATAL_ERROR "unknown ACTION ${ACTION}")
endif()

# A server left by an earlier, interrupted run would keep the old prefix's state alive.
if(EXISTS "${PREFIX}")
  execute_process(COMMAND ${WINESERVER} -k RESULT_VARIABLE ignored OUTPUT_QUIET ERROR_QUIET)
  file(REMOVE_RECURSE "${PREFIX}")
endif()
file(MAKE_DIRECTORY "${PREFIX}")

run(${WINE64} wineboot -i)
# The null graphics driver: windows exist and answer messages, nothing is drawn, no X needed.
run(${WINE64} reg add "HKCU\\Software\\Wine\\Drivers" /v Graphics /d null /f)
# A program that faults or calls a function Wine lacks ends at once instead of waiting in the
# debugger's crash dialog until the test's timeout.
run(${WINE64} reg add "HKCU\\Software\\Wine\\WineDbg" /v ShowCrashDialog /t REG_DWORD /d 0 /f)
run(${WINESERVER} -w)

# A server started on demand by a test stays 3 s after that test's last process and holds the
# test's output pipe, so ctest waited 2.5 s per test. One lingering server for the whole run,
# cut off from ctest's pipes, makes each test cost only its own run time. It ends at
# wine.shutdown, or by itself 120 s after its last client if the run is interrupted.
execute_process(COMMAND ${WINESERVER} -p120 RESULT_VARIABLE rc
                INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "wineserver -p120 failed: ${rc}")
endif()
