# Helpers shared by every folder.

# qm_library(NAME SOURCES... [DEPS ...]) - a static library of our own code.
function(qm_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS;PUBLIC_INCLUDES" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES} ${A_UNPARSED_ARGUMENTS})
  target_compile_options(${name} PRIVATE ${QM_WARNINGS})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${A_PUBLIC_INCLUDES})
  if(A_DEPS)
    target_link_libraries(${name} PUBLIC ${A_DEPS})
  endif()
endfunction()

# qm_std_pch(TARGET): the standard headers most of our sources include,
# parsed once per library instead of once per file (a third of a typical
# file's compile time). Only the C++ sources use it.
function(qm_std_pch target)
  foreach(h string string_view cstdint cstring cstdio vector algorithm atomic mutex memory functional span array)
    target_precompile_headers(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:<${h}>>")
  endforeach()
endfunction()

# Picks the platform file of a concern: name_windows.cpp or name_posix.cpp.
function(qm_platform_sources out)
  set(list)
  foreach(base ${ARGN})
    if(WIN32)
      list(APPEND list ${base}_windows.cpp)
    else()
      list(APPEND list ${base}_posix.cpp)
    endif()
  endforeach()
  set(${out} ${list} PARENT_SCOPE)
endfunction()

# qm_test(NAME SOURCES... [DEPS ...] [ONLY linux|windows] [LABELS ...] [DISPLAY] [WRAP_EMULATED ...] [SHARDS n] [COST s])
# One GoogleTest program is one CTest test (n of them with SHARDS). A test
# that belongs to the other target is still registered, and reported by
# CTest as skipped.
# DISPLAY: the program runs under an X server of its own (scripts/with_xvfb.sh;
# under wine for the Windows build) and is labelled "display"; exit code 77
# (no Xvfb, or a tool it needs is missing) is reported as skipped.
# WRAP_EMULATED: a command put in front of the emulator (wine) when the
# target's tests run under one.
# COST s: the program's rough seconds in the slowest stage. The costliest
# tests start first when CTest runs several at once, so that no long one is
# left running alone at the end of a run; after its first run CTest goes by
# the times it keeps in the build folder.
function(qm_test name)
  set(args ${ARGN})
  if(name STREQUAL "NAME")   # qm_test(NAME x ...) and qm_test(x ...) both work
    list(POP_FRONT args name)
  endif()
  cmake_parse_arguments(A "DISPLAY" "ONLY;SHARDS;COST" "SOURCES;DEPS;LABELS;WRAP_EMULATED" ${args})
  set(wrap)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(wrap ${A_WRAP_EMULATED})
  endif()
  if(A_ONLY AND NOT A_ONLY STREQUAL QM_TARGET_OS)
    add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "skipped: ${name} runs on ${A_ONLY} only")
    set_tests_properties(${name} PROPERTIES LABELS "${A_ONLY}-only;${A_LABELS}"
      PASS_REGULAR_EXPRESSION "^$" SKIP_REGULAR_EXPRESSION "skipped:")
    return()
  endif()
  add_executable(${name} ${A_SOURCES} ${A_UNPARSED_ARGUMENTS})
  target_compile_options(${name} PRIVATE ${QM_TEST_OPTIONS})
  target_link_libraries(${name} PRIVATE ${A_DEPS} qm_gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_precompile_headers(${name} REUSE_FROM qm_test_pch)
  set(labels ${A_LABELS})
  set(command $<TARGET_FILE:${name}>)
  if(A_DISPLAY)
    set(command bash ${PROJECT_SOURCE_DIR}/scripts/with_xvfb.sh ${wrap} ${CMAKE_CROSSCOMPILING_EMULATOR} ${command})
    list(APPEND labels display)
  elseif(wrap OR CMAKE_CROSSCOMPILING_EMULATOR)
    set(command ${wrap} ${CMAKE_CROSSCOMPILING_EMULATOR} ${command})
  endif()
  if(A_ONLY)
    list(APPEND labels ${A_ONLY}-only)
  endif()
  # SHARDS n: the program's cases are dealt out to n CTest tests, name-part1
  # to name-partn (GoogleTest's sharding), which CTest runs side by side.
  set(shards 1)
  if(A_SHARDS)
    set(shards ${A_SHARDS})
  endif()
  foreach(shard RANGE 1 ${shards})
    set(test ${name})
    set(env "QM_SOURCE_DIR=${PROJECT_SOURCE_DIR};QM_BINARY_DIR=${PROJECT_BINARY_DIR}")
    if(shards GREATER 1)
      set(test ${name}-part${shard})
      math(EXPR index "${shard} - 1")
      list(APPEND env GTEST_TOTAL_SHARDS=${shards} GTEST_SHARD_INDEX=${index})
    endif()
    add_test(NAME ${test} COMMAND ${command})
    set_tests_properties(${test} PROPERTIES ENVIRONMENT "${env}"
      TIMEOUT 1800)   # only a guard against a hang: a busy machine may be many times slower
    if(A_DISPLAY)
      set_tests_properties(${test} PROPERTIES SKIP_RETURN_CODE 77)
      if(CMAKE_CROSSCOMPILING_EMULATOR)
        # Under one wineserver the first window's process starts the desktop
        # on its X server: run alone (scripts/wine_ctest.sh gives the whole run
        # one server), such tests must not end each other's desktop.
        set_tests_properties(${test} PROPERTIES RESOURCE_LOCK wine_desktop)
      endif()
    endif()
    if(labels)
      set_tests_properties(${test} PROPERTIES LABELS "${labels}")
    endif()
    if(A_COST)
      math(EXPR part_cost "${A_COST} / ${shards}")
      set_tests_properties(${test} PROPERTIES COST ${part_cost})
    endif()
  endforeach()
endfunction()

# Adds every .cpp of the calling folder to `target`, taking only this
# target's platform files (name_windows.cpp or name_posix.cpp) and leaving
# out the files named in EXCLUDE.
function(qm_folder_sources target)
  cmake_parse_arguments(A "" "" "EXCLUDE" ${ARGN})
  file(GLOB files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  foreach(f ${files})
    get_filename_component(n ${f} NAME)
    if(n IN_LIST A_EXCLUDE)
      continue()
    endif()
    if(WIN32 AND n MATCHES "_posix\\.cpp$")
      continue()
    endif()
    if(NOT WIN32 AND n MATCHES "_windows\\.cpp$")
      continue()
    endif()
    target_sources(${target} PRIVATE ${f})
  endforeach()
endfunction()
