# Checks the built module with objdump: PE32 for i386, exactly one export,
# ExecuteHDW by name as ordinal 1 in a module named ExecuteHDW.dll, and
# imports from Windows system DLLs alone.
execute_process(COMMAND ${OBJDUMP} -p ${MODULE}
                OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump -p ${MODULE} failed: ${status}")
endif()

set(failures "")
function(expect_equal expected actual what)
  if(NOT "${expected}" STREQUAL "${actual}")
    set(failures "${failures}  ${what}: expected '${expected}', got '${actual}'\n"
        PARENT_SCOPE)
  endif()
endfunction()

string(REGEX MATCH "file format ([^\n]+)" _ "${dump}")
expect_equal("pei-i386" "${CMAKE_MATCH_1}" "file format")

string(REGEX MATCH "\nName[ \t]+[0-9a-f]+[ \t]+([^\n]+)" _ "${dump}")
expect_equal("ExecuteHDW.dll" "${CMAKE_MATCH_1}" "module name in the export table")

string(REGEX MATCH "Ordinal Base[ \t]+([0-9]+)" _ "${dump}")
expect_equal("1" "${CMAKE_MATCH_1}" "ordinal base")

string(REGEX MATCH "Export Address Table -- Ordinal Base[^\n]*\n(([^\n]+\n)*)" _ "${dump}")
string(REGEX MATCHALL "\\+base\\[ *[0-9]+\\]" ordinals "${CMAKE_MATCH_1}")
expect_equal("+base[   1]" "${ordinals}" "export address table (ordinals)")

string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([^\n]+\n)*)" _ "${dump}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" names "${CMAKE_MATCH_1}")
expect_equal("[   0] ExecuteHDW" "${names}" "named exports")

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
string(REPLACE "DLL Name: " "" imports "${imports}")
string(TOUPPER "${imports}" imports)
list(SORT imports)
expect_equal("ADVAPI32.DLL;KERNEL32.DLL;MSVCRT.DLL;USER32.DLL" "${imports}"
             "imported DLLs")

if(failures)
  message(FATAL_ERROR "module check of ${MODULE} failed:\n${failures}")
endif()
message(STATUS "module check passed: ${names} (ordinal 1), imports ${imports}")
