# Fails when the build compiles a file of uidll/, common/ or printerstatus/
# more than once: each source is built once per build, and its objects
# serve every target that needs them.
#   cmake -DNINJA=<ninja> -DBUILD=<build dir> -DSOURCE=<source dir> -P check_single_compile.cmake
execute_process(COMMAND ${NINJA} -C ${BUILD} -t commands all
                OUTPUT_VARIABLE commands RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "ninja -t commands failed in ${BUILD}")
endif()
set(twice "")
set(count 0)
foreach(folder uidll common printerstatus)
  string(REGEX MATCHALL " -c ${SOURCE}/${folder}/[A-Za-z0-9_/]+\\.cpp" compiles "${commands}")
  set(unique ${compiles})
  list(REMOVE_DUPLICATES unique)
  list(LENGTH unique files)
  math(EXPR count "${count} + ${files}")
  # What is left after taking each file out once was compiled again.
  foreach(c IN LISTS unique)
    list(FIND compiles "${c}" at)
    list(REMOVE_AT compiles ${at})
  endforeach()
  list(APPEND twice ${compiles})
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "no compile of uidll/, common/ or printerstatus/ found in ${BUILD}")
endif()
if(twice)
  message(FATAL_ERROR "compiled more than once in ${BUILD}: ${twice}")
endif()
message(STATUS "${count} sources of uidll/, common/ and printerstatus/, each compiled once")
