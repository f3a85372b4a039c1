# The byte-level text code (template lines, restore-script lines, REGEDIT4
# values) is portable: natively it builds under the sanitizers and feeds its
# fuzz targets.
set(ARK_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
set(ARK_TEXT_SOURCES
  ${ARK_ROOT}/src/core/code_page.cpp
  ${ARK_ROOT}/src/core/text_scan.cpp
  ${ARK_ROOT}/src/core/memory.cpp
  ${ARK_ROOT}/src/backup/template_format.cpp
  ${ARK_ROOT}/src/backup/restore_lines.cpp
  ${ARK_ROOT}/src/operations/reg_format.cpp)

if(WIN32)
  return()
endif()

set(ARK_TEXT_NATIVE ${ARK_ROOT}/src/core/code_page_native.cpp ${ARK_ROOT}/src/core/memory_native.cpp)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(ARK_TEXT_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
  foreach(target template reg_value)
    add_executable(${target}_fuzz ${ARK_ROOT}/tests/text/fuzz_${target}.cpp ${ARK_TEXT_SOURCES} ${ARK_TEXT_NATIVE})
    target_include_directories(${target}_fuzz PRIVATE ${ARK_ROOT}/src ${ARK_ROOT}/tests/text)
    target_compile_options(${target}_fuzz PRIVATE ${ARK_WARNINGS} ${ARK_TEXT_FUZZ_FLAGS})
    target_link_options(${target}_fuzz PRIVATE ${ARK_TEXT_FUZZ_FLAGS})
  endforeach()
endif()
