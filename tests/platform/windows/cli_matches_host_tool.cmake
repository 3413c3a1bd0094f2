# The Windows command-line tool (under Wine) and the host's build of it on one folder tree: the
# same rows. Then the Windows tool's table, a missing folder and a refused compression.
# cmake -DWINE=... -DWINDOWS_CLI=... -DHOST_CLI=... -DWORK=<scratch folder> -P <this file>
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK}")
string(REPEAT "0123456789" 500 text)
string(REPEAT "${text}" 60 big)
file(WRITE "${WORK}/docs/a.txt" "${text}")
file(WRITE "${WORK}/docs/nested/b.bin" "${big}")
file(WRITE "${WORK}/Ελληνικά/κείμενο.txt" "${text}${text}")
file(MAKE_DIRECTORY "${WORK}/漢字")
file(WRITE "${WORK}/.git/config" "[core]\n")
file(WRITE "${WORK}/empty.txt" "")
file(WRITE "${WORK}/箱 📦.bin" "box")
execute_process(COMMAND truncate -s 5G "${WORK}/five.gib" COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "/" "\\" tree "Z:${WORK}")

execute_process(COMMAND "${HOST_CLI}" --format json "${WORK}" OUTPUT_VARIABLE host
    COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${WINE}" "${WINDOWS_CLI}" --format json "${tree}" OUTPUT_VARIABLE windows
    COMMAND_ERROR_IS_FATAL ANY)
string(JSON folder GET "${windows}" folder)
string(JSON rows LENGTH "${windows}" entries)
string(JSON host_rows LENGTH "${host}" entries)
if(NOT folder STREQUAL "${tree}\\" OR NOT rows EQUAL host_rows OR NOT rows EQUAL 7)
    message(FATAL_ERROR "folder ${folder}, ${rows} rows:\n${windows}\nhost:\n${host}")
endif()
math(EXPR last "${rows} - 1")
foreach(i RANGE ${last})
    string(JSON name GET "${windows}" entries ${i} name)
    set(match -1)
    foreach(j RANGE ${last})
        string(JSON host_name GET "${host}" entries ${j} name)
        if(host_name STREQUAL name)
            set(match ${j})
        endif()
    endforeach()
    foreach(field folder size size_text on_disk ratio)
        string(JSON w${field} GET "${windows}" entries ${i} ${field})
        if(match GREATER -1)
            string(JSON h${field} GET "${host}" entries ${match} ${field})
        endif()
    endforeach()
    # Wine reports no saving anywhere: the ratios agree wherever the host's data takes exactly
    # its size too (not for holes or partly used blocks).
    if(match EQUAL -1 OR NOT wfolder STREQUAL hfolder OR NOT wsize EQUAL hsize
       OR NOT wsize_text STREQUAL hsize_text OR NOT won_disk EQUAL wsize
       OR (hon_disk EQUAL hsize AND NOT wratio EQUAL hratio))
        message(FATAL_ERROR "row '${name}' differs:\n${windows}\nhost:\n${host}")
    endif()
endforeach()

execute_process(COMMAND "${WINE}" "${WINDOWS_CLI}" "${tree}\\docs" OUTPUT_VARIABLE table
    COMMAND_ERROR_IS_FATAL ANY)
string(FIND "${table}" "Path:        ${tree}\\docs\\\n" at_path)
string(FIND "${table}" "File System: NTFS    (Doesn't support file based compression!!)" at_volume)
if(at_path EQUAL -1 OR at_volume EQUAL -1)
    message(FATAL_ERROR "table:\n${table}")
endif()

execute_process(COMMAND "${WINE}" "${WINDOWS_CLI}" "${tree}\\missing" RESULT_VARIABLE missing
    ERROR_VARIABLE message)
file(SHA256 "${WORK}/docs/a.txt" before)
execute_process(COMMAND "${WINE}" "${WINDOWS_CLI}" compress "${tree}\\docs\\a.txt"
    RESULT_VARIABLE compress OUTPUT_QUIET ERROR_QUIET)
file(SHA256 "${WORK}/docs/a.txt" after)
if(NOT missing EQUAL 2 OR NOT message MATCHES "no such folder" OR NOT compress EQUAL 1
   OR NOT before STREQUAL after)
    message(FATAL_ERROR "missing folder: ${missing} ${message}; compress: ${compress}")
endif()
file(REMOVE_RECURSE "${WORK}")
