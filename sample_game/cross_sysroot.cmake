# Stages the aarch64 glibc sysroot of the stand-in game's Linux ARM64 cross
# build from Debian's arm64 cross packages (libc6-dev-arm64-cross and the GCC
# runtime objects of libgcc-12-dev-arm64-cross): only what the game needs to
# compile and link, and what qemu-aarch64 -L needs to run it.
#
#   cmake -DOUT=<sysroot> -DLIBDIR=<cross lib folder> -DGCCDIR=<gcc-cross folder>
#         -DINCDIR=<cross include folder> -DCLANG=<clang> -DSOURCES=<;-list>
#         -DINCLUDES=<;-list of -I folders> -DSTUB=<openssl stub .c>
#         -DSTAMP=<file written last> -P cross_sysroot.cmake
#
# Layout (Debian's multiarch one, which Clang finds by itself under
# --sysroot): usr/include, usr/lib/aarch64-linux-gnu, usr/lib/gcc/
# aarch64-linux-gnu/<version>, lib/ld-linux-aarch64.so.1. Linker scripts that
# name absolute paths are rewritten to bare names, found beside the script or
# on the library path, so the sysroot works wherever it is unpacked.

set(triple aarch64-linux-gnu)
file(REMOVE_RECURSE "${OUT}")
set(lib "${OUT}/usr/lib/${triple}")
get_filename_component(gcc_version "${GCCDIR}" NAME)
set(gcc "${OUT}/usr/lib/gcc/${triple}/${gcc_version}")
file(MAKE_DIRECTORY "${lib}" "${gcc}" "${OUT}/lib" "${OUT}/usr/include")

# glibc: start files, the shared libraries and their static companions.
foreach(f crt1.o crti.o crtn.o libc_nonshared.a libc.so.6 libm.so.6 libpthread.a libdl.a libgcc_s.so.1)
  file(COPY "${LIBDIR}/${f}" DESTINATION "${lib}")
endforeach()
file(COPY "${LIBDIR}/ld-linux-aarch64.so.1" DESTINATION "${OUT}/lib")

# Linker scripts: absolute paths become bare names.
foreach(script libc.so libm.so)
  set(from "${LIBDIR}/${script}")
  if(IS_SYMLINK "${from}")
    # A link to the library itself (libm.so on arm64): a one-line script.
    file(READ_SYMLINK "${from}" target)
    file(WRITE "${lib}/${script}" "GROUP ( ${target} )\n")
  else()
    file(READ "${from}" text)
    string(REGEX REPLACE "/[^ ()]*/" "" text "${text}")
    file(WRITE "${lib}/${script}" "${text}")
  endif()
endforeach()

# GCC's runtime objects.
foreach(f crtbegin.o crtend.o libgcc.a libgcc_eh.a libgcc_s.so)
  file(COPY "${GCCDIR}/${f}" DESTINATION "${gcc}")
endforeach()

# The headers the stand-in's sources include, and those they include.
set(include_args)
foreach(dir ${INCLUDES})
  list(APPEND include_args -I "${dir}")
endforeach()
set(headers)
# Some headers come in only with optimisation or fast math: both ways.
set(variants "-O0" "-O2;-ffast-math")
foreach(src ${SOURCES})
 foreach(variant IN LISTS variants)
  execute_process(COMMAND "${CLANG}" --target=${triple} ${variant} -M -MF - -DZQR_VULKAN -DZQR_FRAME_LIMIT=60
                          ${include_args} "${src}"
                  OUTPUT_VARIABLE deps RESULT_VARIABLE code ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "cross sysroot: cannot list the headers of ${src}: ${err}")
  endif()
  string(REPLACE "\\\n" " " deps "${deps}")
  # Clang names them through the GCC folder ("<gcc>/../../../../<triple>/include/..."):
  # what follows "<triple>/include/" is the path inside the include folder.
  string(REGEX MATCHALL "[^ \n]*/${triple}/include/[^ \n]+" found "${deps}")
  foreach(h ${found})
    string(REGEX REPLACE "^.*/${triple}/include/" "" rel "${h}")
    list(APPEND headers "${rel}")
  endforeach()
 endforeach()
endforeach()
list(REMOVE_DUPLICATES headers)
foreach(rel ${headers})
  get_filename_component(rel_dir "${rel}" DIRECTORY)
  file(COPY "${INCDIR}/${rel}" DESTINATION "${OUT}/usr/include/${rel_dir}")
endforeach()

# OpenSSL 3 by its sonames: stand-ins of our own.
foreach(name ssl crypto)
  execute_process(COMMAND "${CLANG}" --target=${triple} -O2 -shared -nostdlib -fuse-ld=lld
                          -Wl,-soname,lib${name}.so.3 -o "${lib}/lib${name}.so.3" "${STUB}"
                  RESULT_VARIABLE code ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "cross sysroot: cannot build lib${name}.so.3: ${err}")
  endif()
endforeach()

file(WRITE "${STAMP}" "")
