# Shared compile settings and helpers for the folders of the project.

add_library(quillvex_options INTERFACE)
target_compile_options(quillvex_options INTERFACE -Wall -Wextra)
if(QUILLVEX_WERROR)
  target_compile_options(quillvex_options INTERFACE -Werror)
endif()
if(QUILLVEX_SANITIZE)
  target_compile_options(quillvex_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                         -fno-sanitize-recover=undefined)
  target_link_options(quillvex_options INTERFACE -fsanitize=address,undefined)
endif()
target_compile_definitions(quillvex_options INTERFACE QT_NO_KEYWORDS)
if(QUILLVEX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QUILLVEX_FUZZ needs clang (libFuzzer)")
  endif()
  # Coverage for every library; the fuzz targets themselves link the fuzzer's main.
  target_compile_options(quillvex_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# quillvex_library(<folder> [DEPS lib...]): one static library per src/ folder, from every
# source file in it.
function(quillvex_library folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  list(FILTER sources INCLUDE REGEX "\\.cpp$")
  if(NOT sources)
    # A folder whose code has not arrived yet still gives its dependents a target.
    add_library(quillvex_${folder} INTERFACE)
    target_include_directories(quillvex_${folder} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(quillvex_${folder} INTERFACE quillvex_options ${ARG_DEPS})
    return()
  endif()
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(quillvex_${folder} STATIC ${sources} ${headers})
  target_include_directories(quillvex_${folder} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(quillvex_${folder} PUBLIC quillvex_options ${ARG_DEPS})
endfunction()

# quillvex_test(<folder> [DEPS lib...]): one GoogleTest executable per tests/ folder.
function(quillvex_test folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${folder} ${sources})
  target_link_libraries(test_${folder} PRIVATE quillvex_test_support ${ARG_DEPS})
  # Screenshot comparisons (support/golden_image.h) read and write the folder's golden/ pictures.
  target_compile_definitions(test_${folder} PRIVATE QUILLVEX_GOLDEN_DIR="${CMAKE_CURRENT_SOURCE_DIR}/golden")
  # Folders with golden pictures carry the label that `ctest -L golden` selects to redraw them.
  set(labels "")
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/golden)
    set(labels golden)
  endif()
  gtest_discover_tests(test_${folder}
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS "${labels}"
    DISCOVERY_TIMEOUT 60)
endfunction()

# quillvex_bench(<name> [DEPS lib...]): a Google Benchmark executable, never run by CTest.
function(quillvex_bench name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(bench_${name} ${name}.cpp)
  target_link_libraries(bench_${name} PRIVATE benchmark::benchmark ${ARG_DEPS})
endfunction()
