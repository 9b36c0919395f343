# Helpers shared by every folder.
#
#   zq_test(NAME <name> SOURCES <files...> [LIBS <libs...>])
#     A GoogleTest executable registered with CTest. Not built for fuzzing.
#
#   zq_fuzz(NAME <name> SOURCE <file> [LIBS <libs...>] [CORPUS <dir>])
#     A libFuzzer target (LLVMFuzzerTestOneInput). Under ZQ_FUZZ it is built
#     with -fsanitize=fuzzer and `make test` runs it for a few seconds.
#     Otherwise it is linked with a small driver that replays the corpus, so
#     the seeds also run as an ordinary test under the sanitizers.

function(zq_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(ZQ_FUZZ)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES
    ENVIRONMENT "ZQ_SOURCE_DIR=${CMAKE_SOURCE_DIR};ZQ_BINARY_DIR=${CMAKE_BINARY_DIR}"
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()

function(zq_fuzz)
  cmake_parse_arguments(F "" "NAME;SOURCE;CORPUS" "LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCE} ${CMAKE_SOURCE_DIR}/cmake/fuzz_options.cpp)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  if(NOT F_CORPUS)
    # Seeds sit in tests/data/fuzz/<name>, whether the target is declared
    # from the folder or from its tests/ folder.
    if(CMAKE_CURRENT_SOURCE_DIR MATCHES "/tests$")
      set(F_CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/data/fuzz/${F_NAME})
    else()
      set(F_CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/tests/data/fuzz/${F_NAME})
    endif()
  endif()
  if(ZQ_FUZZ)
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    set_property(GLOBAL APPEND PROPERTY ZQ_FUZZERS ${F_NAME})
    set_property(GLOBAL APPEND PROPERTY ZQ_FUZZ_CORPORA "${F_NAME}=${F_CORPUS}")
  else()
    target_sources(${F_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/cmake/fuzz_replay.cpp)
    add_test(NAME ${F_NAME}_seeds COMMAND ${F_NAME} ${F_CORPUS})
  endif()
endfunction()
