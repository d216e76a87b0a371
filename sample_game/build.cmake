# What the stand-in game needs per target beside its source tree: stub
# FFmpeg archives (and on Windows SDL2 and the icon resource object), built
# with the target's C compiler, and the profile for profile-guided builds.
# Everything goes into the bundle's staging folder, which is packed with the
# tree.
#
# The stubs are built by plain commands, not as CMake targets, so that no
# flag of the launcher's own build (sanitizers, debug information) ends up in
# the archives the game is linked with.

if(NOT DEFINED QM_BUNDLE_STAGE_DIR)
  set(QM_BUNDLE_STAGE_DIR "${PROJECT_BINARY_DIR}/bundle_stage" CACHE INTERNAL
    "Per-target files packed into the bundle beside QM_BUNDLE_TREE")
endif()

set(QM_STAND_IN_STUBS "${CMAKE_CURRENT_SOURCE_DIR}/stubs")

# qm_stand_in_libs(<stage folder> <C compiler and its flags (list)> <ar> <windows ON/OFF> <outputs var>)
function(qm_stand_in_libs stage cc ar windows outputs_var)
  string(MD5 tag "${stage}")
  set(work "${CMAKE_CURRENT_BINARY_DIR}/stubs-${tag}")
  set(outputs)
  # name of the stub source : folder of its archive in the stage
  set(archives avformat:ffmpeg/lib avcodec:ffmpeg/lib swresample:ffmpeg/lib avutil:ffmpeg/lib)
  if(windows)
    list(APPEND archives SDL2:sdl2)
  endif()
  foreach(pair ${archives})
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 lib)
    list(GET pair 1 dir)
    string(TOLOWER "${lib}" src)
    set(archive "${stage}/${dir}/lib${lib}.a")
    add_custom_command(OUTPUT "${archive}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${work}" "${stage}/${dir}"
      COMMAND ${cc} -O2 -c "${QM_STAND_IN_STUBS}/${src}.c" -o "${work}/${src}.o"
      COMMAND ${CMAKE_COMMAND} -E rm -f "${archive}"
      COMMAND "${ar}" rcs "${archive}" "${work}/${src}.o"
      DEPENDS "${QM_STAND_IN_STUBS}/${src}.c"
      COMMENT "Stand-in game: lib${lib}.a"
      VERBATIM)
    list(APPEND outputs "${archive}")
  endforeach()
  if(windows)
    set(icon "${stage}/runtime/res/quillmarsh_icon_x64.o")
    add_custom_command(OUTPUT "${icon}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${stage}/runtime/res"
      COMMAND ${cc} -c "${QM_STAND_IN_STUBS}/icon.c" -o "${icon}"
      DEPENDS "${QM_STAND_IN_STUBS}/icon.c"
      COMMENT "Stand-in game: quillmarsh_icon_x64.o"
      VERBATIM)
    list(APPEND outputs "${icon}")
  endif()
  set(${outputs_var} ${outputs} PARENT_SCOPE)
endfunction()

# This target's files, packed into the launcher's bundle.
if(WIN32)
  set(stand_in_windows ON)
else()
  set(stand_in_windows OFF)
endif()
qm_stand_in_libs("${QM_BUNDLE_STAGE_DIR}" "${CMAKE_C_COMPILER}" "${CMAKE_AR}" ${stand_in_windows} stage_outputs)

# The profile: the checked-in text form of one instrumented run, turned into
# the indexed form Clang reads. Without llvm-profdata the bundle carries no
# profile and builds say so.
find_program(QM_LLVM_PROFDATA NAMES llvm-profdata llvm-profdata-16 llvm-profdata-15 llvm-profdata-14)
if(QM_LLVM_PROFDATA)
  set(profile "${QM_BUNDLE_STAGE_DIR}/pgo/efsg.profdata")
  add_custom_command(OUTPUT "${profile}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${QM_BUNDLE_STAGE_DIR}/pgo"
    COMMAND "${QM_LLVM_PROFDATA}" merge -o "${profile}" "${CMAKE_CURRENT_SOURCE_DIR}/efsg.proftext"
    DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/efsg.proftext"
    COMMENT "Stand-in game: efsg.profdata"
    VERBATIM)
  list(APPEND stage_outputs "${profile}")
else()
  message(STATUS "llvm-profdata not found: the bundle carries no profile for profile-guided builds")
endif()

add_custom_target(qm_stand_in_stage ALL DEPENDS ${stage_outputs})
set_property(GLOBAL APPEND PROPERTY QM_BUNDLE_STAGE_DEPENDS ${stage_outputs} qm_stand_in_stage)

# On Linux the tests also build the stand-in game for Windows and run it
# under wine: its Windows libraries are made here, outside the bundle.
if(NOT WIN32 AND QM_TESTS)
  find_program(QM_MINGW_CC NAMES x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-gcc)
  find_program(QM_MINGW_AR NAMES x86_64-w64-mingw32-ar)
  if(QM_MINGW_CC AND QM_MINGW_AR)
    set(QM_STAND_IN_WINDOWS_STAGE "${CMAKE_CURRENT_BINARY_DIR}/windows_stage" CACHE INTERNAL
      "The stand-in game's Windows libraries, for the tests on Linux")
    qm_stand_in_libs("${QM_STAND_IN_WINDOWS_STAGE}" "${QM_MINGW_CC}" "${QM_MINGW_AR}" ON windows_outputs)
    add_custom_target(qm_stand_in_windows ALL DEPENDS ${windows_outputs})
  endif()
endif()

# The Linux ARM64 cross build's inputs, under "cross/linux_arm64/": the
# aarch64 sysroot staged from Debian's arm64 cross packages and the stub
# FFmpeg archives built for aarch64 by the same rule as the native ones; and
# "appimage/runtime-aarch64", our small static stand-in for the AppImage
# runtime. They are made with the build machine's Clang and LLVM tools, for
# either target of the launcher. Without them the bundle carries no files for
# the target and a cross build says so.
find_program(QM_CROSS_CLANG NAMES clang clang-19 clang-18 clang-17 clang-16 clang-15 clang-14)
find_program(QM_CROSS_AR NAMES llvm-ar llvm-ar-19 llvm-ar-18 llvm-ar-17 llvm-ar-16 llvm-ar-15 llvm-ar-14)
find_program(QM_CROSS_LLD NAMES ld.lld ld.lld-19 ld.lld-18 ld.lld-17 ld.lld-16 ld.lld-15 ld.lld-14)
set(QM_ARM64_LIBDIR /usr/aarch64-linux-gnu/lib)
set(QM_ARM64_INCDIR /usr/aarch64-linux-gnu/include)
file(GLOB QM_ARM64_GCCDIRS LIST_DIRECTORIES true /usr/lib/gcc-cross/aarch64-linux-gnu/*)
list(SORT QM_ARM64_GCCDIRS COMPARE NATURAL ORDER DESCENDING)
set(QM_ARM64_GCCDIR "")
foreach(dir ${QM_ARM64_GCCDIRS})
  if(NOT QM_ARM64_GCCDIR AND EXISTS "${dir}/crtbegin.o")
    set(QM_ARM64_GCCDIR "${dir}")
  endif()
endforeach()
if(QM_CROSS_CLANG AND QM_CROSS_AR AND QM_CROSS_LLD AND QM_ARM64_GCCDIR AND EXISTS "${QM_ARM64_LIBDIR}/libc.so.6")
  set(arm64_stage "${QM_BUNDLE_STAGE_DIR}/cross/linux_arm64")
  qm_stand_in_libs("${arm64_stage}" "${QM_CROSS_CLANG};--target=aarch64-linux-gnu" "${QM_CROSS_AR}" OFF arm64_outputs)

  set(tree "${QM_BUNDLE_TREE}")
  file(GLOB_RECURSE arm64_sources CONFIGURE_DEPENDS "${tree}/gen/*.c" "${tree}/runtime/*.c")
  set(arm64_includes "${tree}/include" "${tree}/runtime" "${tree}/ffmpeg/include" "${tree}/vulkan/include")
  set(sysroot_stamp "${CMAKE_CURRENT_BINARY_DIR}/arm64_sysroot.stamp")
  add_custom_command(OUTPUT "${sysroot_stamp}"
    COMMAND ${CMAKE_COMMAND} "-DOUT=${arm64_stage}/sysroot" "-DLIBDIR=${QM_ARM64_LIBDIR}"
      "-DGCCDIR=${QM_ARM64_GCCDIR}" "-DINCDIR=${QM_ARM64_INCDIR}" "-DCLANG=${QM_CROSS_CLANG}"
      "-DSOURCES=${arm64_sources}" "-DINCLUDES=${arm64_includes}" "-DSTUB=${QM_STAND_IN_STUBS}/openssl.c"
      "-DSTAMP=${sysroot_stamp}" -P "${CMAKE_CURRENT_SOURCE_DIR}/cross_sysroot.cmake"
    DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/cross_sysroot.cmake" "${QM_STAND_IN_STUBS}/openssl.c" ${arm64_sources}
      "${QM_ARM64_LIBDIR}/libc.so.6"
    COMMENT "Stand-in game: the aarch64 sysroot"
    VERBATIM)
  list(APPEND arm64_outputs "${sysroot_stamp}")

  set(runtime "${QM_BUNDLE_STAGE_DIR}/appimage/runtime-aarch64")
  set(runtime_src "${PROJECT_SOURCE_DIR}/tools/appimage_runtime/runtime.c")
  add_custom_command(OUTPUT "${runtime}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${QM_BUNDLE_STAGE_DIR}/appimage"
    COMMAND "${QM_CROSS_CLANG}" --target=aarch64-linux-gnu -static -O2 -fuse-ld=lld -Wl,-s -o "${runtime}" "${runtime_src}"
    DEPENDS "${runtime_src}"
    COMMENT "Stand-in AppImage runtime for aarch64"
    VERBATIM)
  list(APPEND arm64_outputs "${runtime}")

  add_custom_target(qm_stand_in_arm64 ALL DEPENDS ${arm64_outputs})
  set_property(GLOBAL APPEND PROPERTY QM_BUNDLE_STAGE_DEPENDS ${arm64_outputs} qm_stand_in_arm64)
  set(QM_ARM64_SYSROOT_STAGE "${arm64_stage}/sysroot" CACHE INTERNAL "The staged aarch64 sysroot, for the tests")
else()
  message(STATUS "No aarch64 cross packages, Clang, llvm-ar or ld.lld: the bundle carries no Linux ARM64 files")
endif()

# The Android ARM64 cross build's inputs, under "cross/android_arm64/": a
# minimal sysroot of our own (Debian has no Android NDK) and the APK's
# compiled manifest and resources, made with Debian's aapt. Without Clang,
# llvm-ar and ld.lld the bundle carries no files for the target; without
# aapt it carries no APK files, and an Android build says so.
find_program(QM_AAPT NAMES aapt)
if(QM_CROSS_CLANG AND QM_CROSS_AR AND QM_CROSS_LLD)
  set(android_src "${CMAKE_CURRENT_SOURCE_DIR}/android")
  set(android_stage "${QM_BUNDLE_STAGE_DIR}/cross/android_arm64")
  set(android_stamp "${CMAKE_CURRENT_BINARY_DIR}/android_inputs.stamp")
  file(GLOB_RECURSE android_inputs CONFIGURE_DEPENDS "${android_src}/*")
  set(aapt_arg)
  if(QM_AAPT)
    set(aapt_arg "-DAAPT=${QM_AAPT}")
  else()
    message(STATUS "No aapt: the bundle carries no APK files for Android ARM64")
  endif()
  add_custom_command(OUTPUT "${android_stamp}"
    COMMAND ${CMAKE_COMMAND} "-DOUT=${android_stage}" "-DSRC=${android_src}" "-DCLANG=${QM_CROSS_CLANG}"
      "-DAR=${QM_CROSS_AR}" ${aapt_arg} "-DSTAMP=${android_stamp}" -P "${android_src}/android_inputs.cmake"
    DEPENDS ${android_inputs}
    COMMENT "Stand-in game: the Android ARM64 sysroot and APK files"
    VERBATIM)
  add_custom_target(qm_stand_in_android ALL DEPENDS "${android_stamp}")
  set_property(GLOBAL APPEND PROPERTY QM_BUNDLE_STAGE_DEPENDS "${android_stamp}" qm_stand_in_android)
  set(QM_ANDROID_STAGE "${android_stage}" CACHE INTERNAL "The staged Android ARM64 inputs, for the tests")
else()
  message(STATUS "No Clang, llvm-ar or ld.lld: the bundle carries no Android ARM64 files")
endif()
