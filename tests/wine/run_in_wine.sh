#!/bin/sh
# run_in_wine.sh <log file> <wine64> <program.exe> [arguments...]
# Runs a program under Wine with its output going to a file, then prints the file and exits with
# the program's code. Processes that Wine starts on the side (services, the desktop) live as long
# as the wineserver and inherit the output handles: given ctest's pipe, they would keep ctest
# waiting until the server ends; given the file, they keep nothing waiting.
log="$1"
shift
if [ ! -f "$2" ]; then
    echo "$2 is not built: ctest does not build, run ninja -C <build dir> first"
    exit 1
fi
"$@" >"$log" 2>&1 </dev/null
rc=$?
cat "$log"
exit $rc
