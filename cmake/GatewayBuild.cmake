# Compiler flags shared by every target of the gateway, and the helpers that declare a layer's
# library and its one test binary.

add_compile_options(-Wall -Wextra)
if(GATEWAY_WARNINGS_AS_ERRORS)
  add_compile_options(-Werror)
endif()

if(GATEWAY_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(GATEWAY_SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread)
  add_link_options(-fsanitize=thread)
elseif(NOT GATEWAY_SANITIZER STREQUAL "")
  message(FATAL_ERROR "GATEWAY_SANITIZER must be empty, 'address' or 'thread'")
endif()

# Fuzz builds instrument every target for libFuzzer's coverage and run under AddressSanitizer
# and UndefinedBehaviorSanitizer; only the fuzz executables link libFuzzer's main.
if(GATEWAY_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "GATEWAY_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  if(NOT GATEWAY_SANITIZER STREQUAL "")
    message(FATAL_ERROR "GATEWAY_FUZZ brings its own sanitizers: leave GATEWAY_SANITIZER empty")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# gateway_test(<name> SOURCES <files...> LIBRARIES <targets...> [LABELS <labels...>])
# One GoogleTest binary; every test in it is registered with CTest.
function(gateway_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${ARG_LABELS}")
endfunction()

# gateway_fuzzer(<name> SOURCES <files...> LIBRARIES <targets...>)
# One libFuzzer executable, built by the custom target fuzz_targets.
function(gateway_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  if(NOT TARGET fuzz_targets)
    add_custom_target(fuzz_targets)
  endif()
  add_dependencies(fuzz_targets ${name})
endfunction()
