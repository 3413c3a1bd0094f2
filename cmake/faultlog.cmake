# Instrumented copies of the programs: the same files with the fault logger's data block written
# in by the instrumenting tool, so that the logger is active in them. The programs themselves
# stay as built, with the logger inactive.
option(PACKMETER_INSTRUMENTED
       "Also build copies of the programs with an active fault logger, in <build>/instrumented" OFF)
set(PACKMETER_FAULTLOG_INSTRUMENT "" CACHE FILEPATH
    "The instrumenting tool built for this machine (needed when cross-compiling)")
set(PACKMETER_FAULTLOG_OPTIONS "${CMAKE_SOURCE_DIR}/src/tools/faultlog-options.txt" CACHE FILEPATH
    "The logger options written into instrumented programs")

# The tool as a command: our own target on a native build, else the one given.
if(TARGET packmeter-faultlog-instrument)
    set(PACKMETER_FAULTLOG_TOOL "$<TARGET_FILE:packmeter-faultlog-instrument>")
    set(PACKMETER_FAULTLOG_TOOL_TARGET packmeter-faultlog-instrument)
elseif(PACKMETER_FAULTLOG_INSTRUMENT)
    set(PACKMETER_FAULTLOG_TOOL "${PACKMETER_FAULTLOG_INSTRUMENT}")
    set(PACKMETER_FAULTLOG_TOOL_TARGET "")
else()
    set(PACKMETER_FAULTLOG_TOOL "")
endif()

# Makes OUTPUT, an instrumented copy of the program TARGET, with the options file OPTIONS, as
# part of the target NAME (built by default when ALL is given).
function(packmeter_instrumented_copy name target output options)
    if(NOT PACKMETER_FAULTLOG_TOOL)
        message(FATAL_ERROR "Instrumented programs need PACKMETER_FAULTLOG_INSTRUMENT: the "
                            "instrumenting tool built for this machine")
    endif()
    # Windows programs carry DWARF line tables too; the build machine's object dumper reads PE.
    get_filename_component(folder ${output} DIRECTORY)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND ${PACKMETER_FAULTLOG_TOOL} $<TARGET_FILE:${target}> ${options} ${output}
        DEPENDS ${target} ${PACKMETER_FAULTLOG_TOOL_TARGET} ${options}
        COMMENT "Instrumenting ${target}"
        VERBATIM)
    add_custom_target(${name} ${ARGN} DEPENDS ${output})
endfunction()

# Every library and program below `folder`, recursively.
function(packmeter_targets_below folder out)
    get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(folders DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
    foreach(sub IN LISTS folders)
        packmeter_targets_below(${sub} below)
        list(APPEND targets ${below})
    endforeach()
    set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(packmeter_instrumented_programs)
    if(NOT PACKMETER_INSTRUMENTED)
        return()
    endif()
    # Reports name files and lines only from a line table: a build type without debug
    # information still gets the smallest one (-g1) in every library and program.
    packmeter_targets_below(${CMAKE_SOURCE_DIR}/src targets)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(type MATCHES "^(STATIC_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
            target_compile_options(${target} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-g1>)
        endif()
    endforeach()
    foreach(program IN ITEMS packmeter packmeter-cli)
        if(TARGET ${program})
            packmeter_instrumented_copy(${program}-instrumented ${program}
                "${CMAKE_BINARY_DIR}/instrumented/${program}${CMAKE_EXECUTABLE_SUFFIX}"
                "${PACKMETER_FAULTLOG_OPTIONS}" ALL)
        endif()
    endforeach()
endfunction()
