# Player engine: a portable static library and its doctest tests in every
# build; natively also sanitizers, the libFuzzer target and the benchmark.
set(XM_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)

set(XM_ENGINE_SOURCES
  ${XM_ROOT}/src/player/xm_loader.cpp
  ${XM_ROOT}/src/player/xm_channel.cpp
  ${XM_ROOT}/src/player/xm_replayer.cpp
  ${XM_ROOT}/src/player/xm_mixer.cpp)
# The output: the wave-out device and its refill thread on Windows, a
# device-less stand-in natively.
if(WIN32)
  set(XM_OUTPUT_SOURCES ${XM_ROOT}/src/player/xm_wave_out.cpp)
else()
  set(XM_OUTPUT_SOURCES ${XM_ROOT}/src/player/xm_no_device.cpp)
endif()

if(NOT WIN32)
  option(ARK_SANITIZE "Build the player with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
endif()

# Flags every player target shares.
add_library(xm_flags INTERFACE)
target_compile_options(xm_flags INTERFACE ${ARK_WARNINGS} $<$<CONFIG:Release>:-O2>)
if(ARK_SANITIZE AND NOT WIN32)
  target_compile_options(xm_flags INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(xm_flags INTERFACE -fsanitize=address,undefined)
endif()

add_library(xmplayer STATIC ${XM_ENGINE_SOURCES} ${XM_OUTPUT_SOURCES})
target_include_directories(xmplayer PUBLIC ${XM_ROOT}/src/player)
target_link_libraries(xmplayer PRIVATE xm_flags)
if(WIN32)
  target_link_libraries(xmplayer PUBLIC winmm)
endif()

add_library(xm_writer STATIC ${XM_ROOT}/tools/xm_writer.cpp)
target_include_directories(xm_writer PUBLIC ${XM_ROOT}/tools)
target_link_libraries(xm_writer PUBLIC xmplayer PRIVATE xm_flags)

set(XM_TEST_SONGS ${XM_ROOT}/tests/player/songs.cpp)
add_executable(player_tests
  ${XM_ROOT}/tests/player/main.cpp
  ${XM_TEST_SONGS}
  ${XM_ROOT}/tests/player/loader_tests.cpp
  ${XM_ROOT}/tests/player/channel_tests.cpp
  ${XM_ROOT}/tests/player/replayer_tests.cpp
  ${XM_ROOT}/tests/player/mixer_tests.cpp)
target_link_libraries(player_tests PRIVATE xm_writer xmplayer doctest xm_flags)
if(WIN32)
  # One self-contained exe, so wine needs no MinGW runtime DLLs.
  target_link_options(player_tests PRIVATE -static)
endif()
add_test(NAME player COMMAND player_tests)

if(WIN32)
  return()
endif()

# The About box's tune: its generator, and the check that the committed
# module is what the score makes and that it sounds like music.
add_library(xm_tune STATIC ${XM_ROOT}/tools/tune.cpp)
target_link_libraries(xm_tune PUBLIC xm_writer PRIVATE xm_flags)
add_executable(make_tune ${XM_ROOT}/tools/make_tune.cpp)
target_link_libraries(make_tune PRIVATE xm_tune xm_flags)

target_sources(player_tests PRIVATE ${XM_ROOT}/tests/player/tune_tests.cpp)
target_link_libraries(player_tests PRIVATE xm_tune)
target_compile_definitions(player_tests PRIVATE XM_SOURCE_ROOT="${XM_ROOT}")

add_executable(xm_bench ${XM_ROOT}/bench/player/xm_bench.cpp)
target_link_libraries(xm_bench PRIVATE xm_writer xmplayer xm_flags)

if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  # The fuzz target compiles the engine itself so that libFuzzer's coverage
  # instrumentation reaches every branch of the loader and the replayer.
  set(XM_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)
  add_executable(xm_fuzz ${XM_ROOT}/tests/player/fuzz_load.cpp ${XM_ENGINE_SOURCES} ${XM_OUTPUT_SOURCES}
    ${XM_ROOT}/tools/xm_writer.cpp)
  target_include_directories(xm_fuzz PRIVATE ${XM_ROOT}/src/player ${XM_ROOT}/tools)
  target_compile_options(xm_fuzz PRIVATE ${ARK_WARNINGS} ${XM_FUZZ_FLAGS})
  target_link_options(xm_fuzz PRIVATE ${XM_FUZZ_FLAGS})

  add_executable(xm_fuzz_seeds ${XM_ROOT}/tests/player/fuzz_seeds.cpp ${XM_TEST_SONGS})
  target_link_libraries(xm_fuzz_seeds PRIVATE xm_writer xmplayer xm_flags)
endif()
