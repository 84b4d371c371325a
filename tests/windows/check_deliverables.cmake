# cmake -DBUILD_DIR=... -DSCRATCH=... -DOBJDUMP=... -DLIBRARY=.../FTD2XX.dll -P check_deliverables.cmake
#
# What a Windows user gets: the install (the content of the zip) holds the
# programs, the README and the LICENSE and never a DLL; every program needs
# nothing but FTD2XX.dll and the system's own DLLs (the C and C++ runtimes
# and the thread library are linked in); gatesweep.exe and gatesweep-b.exe
# import FTD2XX.dll itself; and the stand-in FTD2XX.dll exports the vendor's
# D2XX functions under their plain names.
cmake_minimum_required(VERSION 3.20)
set(system_dlls kernel32.dll msvcrt.dll user32.dll advapi32.dll ucrtbase.dll)
set(required gatesweep.exe gatesweep-b.exe gatesweep-check.exe README.md LICENSE)
set(bound gatesweep.exe gatesweep-b.exe)
set(d2xx_functions FT_CreateDeviceInfoList FT_GetDeviceInfoList FT_OpenEx FT_ResetDevice FT_Purge
    FT_GetQueueStatus FT_SetLatencyTimer FT_SetBitMode FT_Write FT_Read FT_Close)

function(objdump_of file out)
    execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${OBJDUMP} -p ${file} failed")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(failures "")

file(REMOVE_RECURSE ${SCRATCH})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${SCRATCH}
                OUTPUT_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install ${BUILD_DIR} failed")
endif()
file(GLOB_RECURSE installed RELATIVE ${SCRATCH} ${SCRATCH}/*)
message(STATUS "installed: ${installed}")
set(names "")
foreach(path IN LISTS installed)
    get_filename_component(name ${path} NAME)
    list(APPEND names ${name})
    if(name MATCHES "\\.[dD][lL][lL]$")
        string(APPEND failures "the install holds ${path}\n")
    endif()
endforeach()
foreach(name IN LISTS required)
    if(NOT name IN_LIST names)
        string(APPEND failures "the install lacks ${name}\n")
    endif()
endforeach()

foreach(path IN LISTS installed)
    get_filename_component(name ${path} NAME)
    if(NOT name MATCHES "\\.exe$")
        continue()
    endif()
    objdump_of(${SCRATCH}/${path} text)
    string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${text}")
    set(imports "")
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "DLL Name: " "" dll "${line}")
        string(STRIP "${dll}" dll)
        list(APPEND imports "${dll}")
        string(TOLOWER "${dll}" lower)
        if(NOT lower IN_LIST system_dlls AND NOT lower MATCHES "^api-ms-win-" AND NOT dll STREQUAL "FTD2XX.dll")
            string(APPEND failures "${name} imports ${dll}\n")
        endif()
    endforeach()
    message(STATUS "${name} imports: ${imports}")
    if(name IN_LIST bound AND NOT "FTD2XX.dll" IN_LIST imports)
        string(APPEND failures "${name} does not import FTD2XX.dll\n")
    endif()
endforeach()

objdump_of(${LIBRARY} text)
foreach(fn IN LISTS d2xx_functions)
    if(NOT text MATCHES "\\] ${fn}\n")
        string(APPEND failures "${LIBRARY} does not export ${fn}\n")
    endif()
endforeach()
file(REMOVE_RECURSE ${SCRATCH})

if(failures)
    message(FATAL_ERROR "${failures}")
endif()
