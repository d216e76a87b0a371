# Makes the stand-in game's Android ARM64 inputs at build time. There is no
# Android NDK among Debian's packages, so the sysroot is a minimal one of our
# own, enough to compile and link the stand-in game the way the launcher
# links the real one; the real game's sysroot is an input of the launcher,
# like the sources.
#
#   cmake -DOUT=<cross/android_arm64 stage folder> -DSRC=<this folder>
#         -DCLANG=<clang> -DAR=<llvm-ar> [-DAAPT=<aapt>] -DSTAMP=<file written last>
#         -P android_inputs.cmake
#
# sysroot/usr/include                      the C library headers the game and the glue include
# sysroot/usr/lib/aarch64-linux-android/29 crtbegin_so.o, crtend_so.o and link-time stand-ins
#                                          for libc, libm, libdl, liblog, libandroid,
#                                          libaaudio and libmediandk (each by its soname)
# sysroot/builtins                         libclang_rt.builtins-aarch64-android.a
# sysroot/glue                             android_native_app_glue.c and .h
# apk/                                     the binary AndroidManifest.xml, resources.arsc and
#                                          res/, compiled by aapt (only with AAPT)

set(triple aarch64-linux-android29)
set(sysroot "${OUT}/sysroot")
set(libdir "${sysroot}/usr/lib/aarch64-linux-android/29")
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${libdir}" "${sysroot}/builtins" "${sysroot}/glue" "${sysroot}/usr/include")
set(work "${OUT}.work")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "Android inputs: ${what} failed: ${out}${err}")
  endif()
endfunction()

file(COPY "${SRC}/include/" DESTINATION "${sysroot}/usr/include")
file(COPY "${SRC}/glue/android_native_app_glue.c" "${SRC}/glue/android_native_app_glue.h"
  DESTINATION "${sysroot}/glue")

set(cflags --target=${triple} -O2 -fPIC -fno-stack-protector -ffreestanding)
foreach(lib c m dl log android aaudio mediandk)
  run("lib${lib}.so" "${CLANG}" ${cflags} -shared -nostdlib -fuse-ld=lld -Wl,-soname,lib${lib}.so
      -o "${libdir}/lib${lib}.so" "${SRC}/stubs/lib${lib}.c")
endforeach()
foreach(obj crtbegin_so crtend_so)
  run("${obj}.o" "${CLANG}" ${cflags} -c -o "${libdir}/${obj}.o" "${SRC}/stubs/${obj}.c")
endforeach()
run("builtins" "${CLANG}" ${cflags} -c -o "${work}/builtins.o" "${SRC}/stubs/builtins.c")
run("builtins archive" "${AR}" rcs "${sysroot}/builtins/libclang_rt.builtins-aarch64-android.a" "${work}/builtins.o")

if(AAPT)
  # The platform's attributes first (package id 0x01), then the app's
  # manifest and resources against them.
  run("aapt (platform attributes)" "${AAPT}" package -f -x -M "${SRC}/framework/AndroidManifest.xml"
      -S "${SRC}/framework/res" -F "${work}/platform.apk")
  run("aapt" "${AAPT}" package -f -M "${SRC}/apk/AndroidManifest.xml" -S "${SRC}/apk/res"
      -I "${work}/platform.apk" -F "${work}/app.apk")
  file(MAKE_DIRECTORY "${OUT}/apk")
  run("unpacking the compiled manifest" "${CMAKE_COMMAND}" -E chdir "${OUT}/apk" "${CMAKE_COMMAND}" -E tar xf "${work}/app.apk")
  foreach(f AndroidManifest.xml resources.arsc)
    if(NOT EXISTS "${OUT}/apk/${f}")
      message(FATAL_ERROR "Android inputs: aapt made no ${f}")
    endif()
  endforeach()
endif()

file(REMOVE_RECURSE "${work}")
file(WRITE "${STAMP}" "")
