# The native build: the system over winsim, larksim, the tests and the
# benchmarks.
find_package(PkgConfig REQUIRED)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
find_package(GTest REQUIRED)

file(GLOB WINSIM_SOURCES CONFIGURE_DEPENDS winsim/src/*.cpp)
list(FILTER WINSIM_SOURCES EXCLUDE REGEX "winmain_entry\\.cpp$")
add_library(winsim SHARED ${WINSIM_SOURCES})
# The driver-interface records have one declaration, in kit/ (below both the
# platform and the product), for both builds.
target_include_directories(winsim PUBLIC winsim/include kit)
# The browser dialog's runner, by an absolute path (__FILE__ is relative
# when the compiler cache rewrites paths); set on its one file alone, so a
# clone elsewhere shares the cache for the rest.
set_source_files_properties(winsim/src/html_dialog.cpp PROPERTIES
  COMPILE_DEFINITIONS "WINSIM_BROWSER_DIR=\"${CMAKE_SOURCE_DIR}/winsim/browser\"")
target_link_libraries(winsim PRIVATE PkgConfig::SQLITE3 ${CMAKE_DL_LIBS} pthread)

add_library(winsim_winmain STATIC winsim/src/winmain_entry.cpp)
target_link_libraries(winsim_winmain PUBLIC winsim)

# Each source is compiled once per build: the objects of common/ and uidll/
# serve both the static libraries the tests link and the driver module
# (position-independent throughout, CMAKE_POSITION_INDEPENDENT_CODE).
add_library(lark_common_objects OBJECT ${COMMON_SOURCES})
target_include_directories(lark_common_objects PUBLIC common)
target_link_libraries(lark_common_objects PUBLIC winsim)
add_library(lark_common STATIC $<TARGET_OBJECTS:lark_common_objects>)
target_link_libraries(lark_common PUBLIC lark_common_objects)

# The driver's platform files, chosen by the build.
file(GLOB UIDLL_PLATFORM_SOURCES CONFIGURE_DEPENDS uidll/posix/*.cpp)
list(APPEND UIDLL_SOURCES ${UIDLL_PLATFORM_SOURCES})

add_library(larkui_objects OBJECT ${UIDLL_SOURCES})
target_include_directories(larkui_objects PUBLIC uidll)
target_link_libraries(larkui_objects PUBLIC lark_common_objects)
add_library(larkui_core STATIC $<TARGET_OBJECTS:larkui_objects>)
target_link_libraries(larkui_core PUBLIC larkui_objects lark_common)

# The spooler loads the driver by file name; only the entry points of the
# export definitions are visible, as from the Windows DLL.
file(STRINGS uidll/larkui.def DEF_LINES)
set(EXPORT_SYMBOLS "")
foreach(line IN LISTS DEF_LINES)
  string(STRIP "${line}" symbol)
  if(symbol MATCHES "^(Drv|Dev)[A-Za-z]+$")
    string(APPEND EXPORT_SYMBOLS "    ${symbol};\n")
  endif()
endforeach()
# The loader finds the module's entry by name, as Windows finds it in the
# image header.
string(APPEND EXPORT_SYMBOLS "    DllMain;\n")
file(WRITE ${CMAKE_BINARY_DIR}/larkui.map "{\n  global:\n${EXPORT_SYMBOLS}  local: *;\n};\n")
add_library(larkui SHARED $<TARGET_OBJECTS:larkui_objects> $<TARGET_OBJECTS:lark_common_objects>)
target_link_libraries(larkui PRIVATE winsim)
target_link_options(larkui PRIVATE -Wl,--version-script=${CMAKE_BINARY_DIR}/larkui.map)
# The sanitizers' runtime comes from the loading program, so an instrumented
# module has undefined symbols by design.
if(NOT LARK_SANITIZE AND NOT LARK_TSAN)
  target_link_options(larkui PRIVATE -Wl,--no-undefined)
endif()
set_target_properties(larkui PROPERTIES LINK_DEPENDS ${CMAKE_BINARY_DIR}/larkui.map)

add_library(larkmon_core STATIC ${MONITOR_SOURCES})
target_include_directories(larkmon_core PUBLIC printerstatus)
target_link_libraries(larkmon_core PUBLIC lark_common)

if(LARK_FUZZ)
  # libFuzzer's coverage covers the project's own code only: winsim stands in
  # for the platform, and its edges would only steer the fuzzer into the
  # stand-in and slow every input.
  foreach(library IN ITEMS lark_common_objects larkui_objects larkmon_core)
    target_compile_options(${library} PRIVATE -fsanitize=fuzzer-no-link)
  endforeach()
endif()
add_executable(larkmon printerstatus/larkmon_main.cpp)
target_link_libraries(larkmon PRIVATE larkmon_core winsim_winmain)

file(GLOB LARKSIM_SOURCES CONFIGURE_DEPENDS larksim/*.cpp)
add_executable(larksim ${LARKSIM_SOURCES})
target_include_directories(larksim PRIVATE common uidll)
# common/ for the contracts larksim looks for as the driver does (the status window title).
target_link_libraries(larksim PRIVATE lark_common winsim)

include(cmake/driver_package.cmake)

add_subdirectory(tests)
if(LARK_FUZZ)
  add_subdirectory(fuzz)
endif()
if(LARK_BENCHMARKS)
  add_subdirectory(bench)
endif()
