cmake_minimum_required(VERSION 3.25)
# Checks the cross-built binaries with objdump -p: larkui.dll exports exactly the ten entry points
# by name, and neither binary imports a DLL beyond the system's own; larkmon.exe is a GUI program.
# cmake -DOBJDUMP=<objdump> -DDLL=<larkui.dll> -DEXE=<larkmon.exe> -P check_binaries.cmake
set(expected_exports
  DevQueryPrintEx DrvAdvancedDocumentProperties DrvConvertDevMode DrvDeviceCapabilities
  DrvDevicePropertySheets DrvDocumentEvent DrvDocumentProperties DrvDocumentPropertySheets
  DrvPrinterEvent DrvUpgradePrinter)
# The system's own DLLs (compared in upper case); api-ms-win-* sets are the system's as well.
set(system_dlls
  KERNEL32.DLL USER32.DLL GDI32.DLL WINSPOOL.DRV ADVAPI32.DLL SETUPAPI.DLL OLE32.DLL
  OLEAUT32.DLL URLMON.DLL MSVCRT.DLL SHELL32.DLL SHLWAPI.DLL COMCTL32.DLL COMDLG32.DLL
  NTDLL.DLL UCRTBASE.DLL COMPSTUI.DLL MSHTML.DLL VERSION.DLL WS2_32.DLL CFGMGR32.DLL)

set(failures "")

function(objdump file out_var)
  execute_process(COMMAND ${OBJDUMP} -p ${file} RESULT_VARIABLE rc OUTPUT_VARIABLE text
                  ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump -p ${file} failed: ${err}")
  endif()
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

function(check_imports file text)
  string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${text}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "DLL Name: ([^ \r\n]+).*" "\\1" name "${line}")
    string(TOUPPER "${name}" upper)
    list(APPEND names ${name})
    if(NOT upper IN_LIST system_dlls AND NOT upper MATCHES "^API-MS-WIN-")
      set(failures "${failures}\n${file}: imports ${name}, not a system DLL" PARENT_SCOPE)
    endif()
  endforeach()
  message(STATUS "${file} imports: ${names}")
endfunction()

objdump(${DLL} dll_text)
objdump(${EXE} exe_text)

# Export names: the lines after "[Ordinal/Name Pointer] Table" look like "\t[   0] DevQueryPrintEx".
string(FIND "${dll_text}" "[Ordinal/Name Pointer] Table" at)
if(at LESS 0)
  set(failures "${failures}\n${DLL}: no export name table")
  set(exports "")
else()
  string(SUBSTRING "${dll_text}" ${at} -1 table)
  string(REGEX MATCHALL "\n[\t ]+\\[ *[0-9]+\\] [^\n]+" rows "${table}")
  set(exports "")
  foreach(row IN LISTS rows)
    string(REGEX REPLACE "\n[\t ]+\\[ *[0-9]+\\] ([^ \r\n]+).*" "\\1" name "${row}")
    list(APPEND exports ${name})
  endforeach()
endif()
list(SORT exports)
message(STATUS "${DLL} exports: ${exports}")
if(NOT exports STREQUAL expected_exports)
  list(JOIN exports "," got)
  list(JOIN expected_exports "," wanted)
  set(failures "${failures}\n${DLL}: exports ${got}\n  expected ${wanted}")
endif()

check_imports(${DLL} "${dll_text}")
check_imports(${EXE} "${exe_text}")

# "Subsystem		00000002	(Windows GUI)"
if(NOT exe_text MATCHES "Subsystem[\t ]+0+2[\t ]+\\(Windows GUI\\)")
  set(failures "${failures}\n${EXE}: not a Windows GUI subsystem program")
endif()

if(failures)
  # STATUS lines are never re-wrapped, unlike an error text, so the failures
  # read (and match) the same whatever the length of the build path.
  string(REPLACE "\n" ";" failure_lines "${failures}")
  foreach(line IN LISTS failure_lines)
    if(line)
      message(STATUS "FAIL ${line}")
    endif()
  endforeach()
  message(FATAL_ERROR "binaries check failed")
endif()
message(STATUS "binaries check passed")
