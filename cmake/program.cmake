# The program, its libraries and its tests, for Windows.

file(GLOB ARK_CORE_SOURCES CONFIGURE_DEPENDS src/core/*.cpp)
# The native stand-ins of the portable text code are for native builds only.
list(FILTER ARK_CORE_SOURCES EXCLUDE REGEX "_native\\.cpp$")
file(GLOB ARK_BACKUP_SOURCES CONFIGURE_DEPENDS src/backup/*.cpp)
file(GLOB ARK_OPERATIONS_SOURCES CONFIGURE_DEPENDS src/operations/*.cpp)
file(GLOB ARK_UI_SOURCES CONFIGURE_DEPENDS src/ui/*.cpp src/about/*.cpp)
list(FILTER ARK_UI_SOURCES EXCLUDE REGEX "/main\\.cpp$")

# Everything but the entry point, so tests link the same code.
add_library(arkivanto STATIC ${ARK_CORE_SOURCES} ${ARK_BACKUP_SOURCES} ${ARK_OPERATIONS_SOURCES} ${ARK_UI_SOURCES})
target_include_directories(arkivanto PUBLIC src resources)
# No exception may cross a window or dialog procedure: the program has none.
target_compile_options(arkivanto PRIVATE ${ARK_WARNINGS} -fno-exceptions)
target_compile_definitions(arkivanto PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
target_link_libraries(arkivanto PUBLIC xmplayer comctl32 comdlg32 shell32 ole32 advapi32 bcrypt gdi32 user32 winmm version ntdll)
# zlib deflates the ZIP archives: MinGW's static build (libz-mingw-w64-dev),
# named by its file so no import library for a zlib1.dll is picked instead.
find_library(ARK_ZLIB NAMES libz.a REQUIRED)
target_link_libraries(arkivanto PUBLIC ${ARK_ZLIB})

# The version record takes the numbers of project(): the one place the
# version is set. Every resource compilation gets them, the tests' too.
add_compile_definitions($<$<COMPILE_LANGUAGE:RC>:ARK_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}>
  $<$<COMPILE_LANGUAGE:RC>:ARK_VERSION_MINOR=${PROJECT_VERSION_MINOR}>
  $<$<COMPILE_LANGUAGE:RC>:ARK_VERSION_PATCH=${PROJECT_VERSION_PATCH}>
  $<$<COMPILE_LANGUAGE:RC>:ARK_VERSION_TWEAK=${PROJECT_VERSION_TWEAK}>)

set(ARK_RESOURCES ${CMAKE_SOURCE_DIR}/resources/arkivanto2.rc)
file(GLOB ARK_ARTWORK CONFIGURE_DEPENDS resources/*.bmp resources/*.ico resources/*.xm resources/*.rc)
# The resource compiler reports no included files: every script, picture and
# header it reads is named here, for the program and the tests alike.
set(ARK_RESOURCE_DEPENDS ${ARK_ARTWORK} ${CMAKE_SOURCE_DIR}/resources/resource.h
  ${CMAKE_SOURCE_DIR}/resources/message_ids.h)
set_source_files_properties(${ARK_RESOURCES} PROPERTIES OBJECT_DEPENDS "${ARK_RESOURCE_DEPENDS}")

add_executable(Arkivanto2 WIN32 src/ui/main.cpp ${ARK_RESOURCES})
target_link_libraries(Arkivanto2 PRIVATE arkivanto)
target_compile_options(Arkivanto2 PRIVATE ${ARK_WARNINGS})
target_link_options(Arkivanto2 PRIVATE -static)

add_subdirectory(tests)
add_subdirectory(bench)
