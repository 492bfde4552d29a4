# Installs the build tree BUILD_DIR to a fresh prefix under WORK_DIR and checks the result
# as a user would: the programs, the plug-in, man pages, completions and the package files
# are there and nothing else is empty; the installed host loads the installed plug-in on its
# own; a consumer project (CONSUMER_DIR) builds against the package with find_package and
# runs; pkg-config resolves the library.
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DCONSUMER_DIR=... -DGENERATOR=Ninja
#         -DCXX=g++ [-DLAUNCHER=ccache] [-DSANITIZE=address,undefined] -DLIBDIR=lib
#         -P InstallTest.cmake

function(run)
    cmake_parse_arguments(RUN "" "INPUT;OUTPUT" "COMMAND" ${ARGN})
    set(input)
    if(RUN_INPUT)
        set(input INPUT_FILE ${RUN_INPUT})
    endif()
    execute_process(COMMAND ${RUN_COMMAND} ${input} RESULT_VARIABLE status
                    OUTPUT_VARIABLE output ERROR_VARIABLE errors TIMEOUT 300)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "failed (${status}): ${RUN_COMMAND}\n${output}\n${errors}")
    endif()
    if(RUN_OUTPUT)
        set(${RUN_OUTPUT} "${output}" PARENT_SCOPE)
    endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
run(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(file IN ITEMS
        bin/scheduler-cron
        bin/scheduler-host
        ${LIBDIR}/zent/libScheduler.so
        ${LIBDIR}/libZentCommon.so
        ${LIBDIR}/cmake/ZentCommon/ZentCommonConfig.cmake
        ${LIBDIR}/pkgconfig/zent-common.pc
        include/zent/common/security/IUser.h
        include/zent/datadefinition/Scheduler.pb.h
        share/man/man1/scheduler-cron.1
        share/man/man1/scheduler-host.1
        share/bash-completion/completions/scheduler-cron
        share/bash-completion/completions/scheduler-host)
    if(NOT EXISTS ${prefix}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
foreach(tool IN ITEMS scheduler-cron scheduler-host)
    run(COMMAND bash -n ${prefix}/share/bash-completion/completions/${tool})
endforeach()
file(GLOB_RECURSE folders LIST_DIRECTORIES true ${prefix}/*)
foreach(folder IN LISTS folders)
    if(IS_DIRECTORY ${folder})
        file(GLOB content ${folder}/*)
        if(NOT content)
            message(FATAL_ERROR "empty folder installed: ${folder}")
        endif()
    endif()
endforeach()

# The installed host finds the installed plug-in beside itself.
file(WRITE ${WORK_DIR}/request.jsonl
     "{\"type\": 556, \"id\": 5, \"timeEvent\": {\"timespecification\": \"0 0 12 L * ? 2030\", \"utclocal\": true}}\n")
run(COMMAND ${prefix}/bin/scheduler-host serve --log-level 4 INPUT ${WORK_DIR}/request.jsonl
    OUTPUT served)
if(NOT served MATCHES "\"id\":5,.*\"lastTick\":\"2030-12-31T12:00:00Z\"")
    message(FATAL_ERROR "the installed host did not answer: ${served}")
endif()
run(COMMAND ${prefix}/bin/scheduler-cron --help)

set(options)
if(LAUNCHER)
    list(APPEND options -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER})
endif()
if(SANITIZE)
    # A library built with sanitizers links only into a program built with them.
    list(APPEND options -DCMAKE_CXX_FLAGS=-fsanitize=${SANITIZE}
                        -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=${SANITIZE})
endif()
run(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer -G ${GENERATOR}
            -DCMAKE_CXX_COMPILER=${CXX} ${options} -DCMAKE_PREFIX_PATH=${prefix})
run(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(COMMAND ${WORK_DIR}/consumer/consumer OUTPUT consumed)
if(NOT consumed STREQUAL "GetLastTickRequest 556 system-user\n")
    message(FATAL_ERROR "the consumer printed: ${consumed}")
endif()

find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
    set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
    run(COMMAND ${PKG_CONFIG} --cflags --libs zent-common OUTPUT flags)
    if(NOT flags MATCHES "-std=c\\+\\+20" OR NOT flags MATCHES "/include/zent" OR
       NOT flags MATCHES "-lZentCommon")
        message(FATAL_ERROR "pkg-config gave: ${flags}")
    endif()
endif()
file(REMOVE_RECURSE ${WORK_DIR})
