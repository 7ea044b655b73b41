# The Windows build: larkui.dll and larkmon.exe against the real Windows
# headers, with a static runtime so the binaries need nothing beside them.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
# The driver kit's records that MinGW lacks, for every target that includes platform.h.
include_directories(kit)
set(STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# The driver's platform files, chosen by the build.
file(GLOB UIDLL_PLATFORM_SOURCES CONFIGURE_DEPENDS uidll/win/*.cpp)
list(APPEND UIDLL_SOURCES ${UIDLL_PLATFORM_SOURCES})

# common/ is compiled once for both deliverables.
add_library(lark_common_objects OBJECT ${COMMON_SOURCES})
target_include_directories(lark_common_objects PUBLIC common)

add_library(larkui SHARED ${UIDLL_SOURCES} $<TARGET_OBJECTS:lark_common_objects> uidll/larkui.def)
target_include_directories(larkui PRIVATE uidll common)
set_target_properties(larkui PROPERTIES PREFIX "" OUTPUT_NAME larkui)
target_link_options(larkui PRIVATE ${STATIC_RUNTIME} -Wl,--kill-at)
target_link_libraries(larkui PRIVATE winspool gdi32 user32 ole32 oleaut32 urlmon uuid)

add_executable(larkmon WIN32 printerstatus/larkmon_main.cpp ${MONITOR_SOURCES}
                              $<TARGET_OBJECTS:lark_common_objects>)
target_include_directories(larkmon PRIVATE printerstatus common)
target_link_options(larkmon PRIVATE ${STATIC_RUNTIME})
target_link_libraries(larkmon PRIVATE winspool setupapi user32 gdi32 advapi32)

include(cmake/driver_package.cmake)

add_subdirectory(tests/wine)
add_subdirectory(bench/wine)
