# Configures the fuzz project with clang++, builds it and runs each fuzzer for SECONDS seconds.
foreach(step
        "${CMAKE_COMMAND};-S;${SOURCE_DIR};-B;${BINARY_DIR};-G;Ninja;-DCMAKE_CXX_COMPILER=${CLANGXX};-DCMAKE_BUILD_TYPE=Debug"
        "${CMAKE_COMMAND};--build;${BINARY_DIR};-j2")
    execute_process(COMMAND ${step} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "fuzz build step failed: ${step}")
    endif()
endforeach()
foreach(fuzzer vast json_results)
    set(corpus ${BINARY_DIR}/corpus-${fuzzer})
    file(MAKE_DIRECTORY ${corpus})
    string(REPLACE "_results" "" seeds ${fuzzer})
    execute_process(
        COMMAND ${BINARY_DIR}/fuzz_${fuzzer} -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048
                -max_len=65536 ${corpus} ${SOURCE_DIR}/corpus/${seeds}
        RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "fuzz_${fuzzer} found a failure (exit ${rc})")
    endif()
endforeach()
