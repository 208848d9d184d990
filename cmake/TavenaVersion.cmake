# SPDX-License-Identifier: GPL-3.0-or-later
# The version the programs report: the project version and, when the source folder is a git
# checkout of its own, `git describe --always --dirty` of that checkout. Both are read when
# CMake configures and written into tavenaversion.h (rewritten only when they change). A program
# gets the header by linking the interface target tavena_version.
set(TAVENA_GIT_DESCRIBE "")
find_package(Git QUIET)
if(Git_FOUND)
    execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse --show-toplevel
        WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
        OUTPUT_VARIABLE git_top RESULT_VARIABLE git_status
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(git_status EQUAL 0)
        # A source tree unpacked inside some other checkout must not take that one's description.
        file(REAL_PATH "${git_top}" git_top)
        file(REAL_PATH "${PROJECT_SOURCE_DIR}" source_top)
        if(git_top STREQUAL source_top)
            execute_process(COMMAND "${GIT_EXECUTABLE}" describe --always --dirty
                WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
                OUTPUT_VARIABLE TAVENA_GIT_DESCRIBE RESULT_VARIABLE git_status
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
            if(NOT git_status EQUAL 0)
                set(TAVENA_GIT_DESCRIBE "")
            endif()
        endif()
    endif()
endif()

if(TAVENA_GIT_DESCRIBE)
    set(TAVENA_VERSION_TEXT "${PROJECT_VERSION} (${TAVENA_GIT_DESCRIBE})")
else()
    set(TAVENA_VERSION_TEXT "${PROJECT_VERSION}")
endif()
message(STATUS "Version: ${TAVENA_VERSION_TEXT}")

configure_file("${CMAKE_CURRENT_LIST_DIR}/tavenaversion.h.in"
    "${PROJECT_BINARY_DIR}/version/tavenaversion.h" @ONLY)
add_library(tavena_version INTERFACE)
target_include_directories(tavena_version INTERFACE "${PROJECT_BINARY_DIR}/version")
