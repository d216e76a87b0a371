# Third-party libraries, all from Debian's packages (see scripts/setup.sh).

# The Windows build links zlib statically like everything else (no zlib1.dll).
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)

# libcrypto: the system's on Linux; on Windows the static build that
# scripts/setup.sh makes from Debian's openssl sources (QM_OPENSSL_DIR).
if(WIN32)
  set(QM_OPENSSL_DIR "${PROJECT_SOURCE_DIR}/build/deps/openssl-mingw" CACHE PATH "OpenSSL built for mingw-w64")
  if(NOT EXISTS "${QM_OPENSSL_DIR}/libcrypto.a")
    message(FATAL_ERROR "No libcrypto.a in ${QM_OPENSSL_DIR}: run scripts/setup.sh first")
  endif()
  add_library(qm_crypto STATIC IMPORTED GLOBAL)
  set_target_properties(qm_crypto PROPERTIES
    IMPORTED_LOCATION "${QM_OPENSSL_DIR}/libcrypto.a"
    INTERFACE_INCLUDE_DIRECTORIES "${QM_OPENSSL_DIR}/include"
    INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;bcrypt;advapi32;user32")
else()
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  add_library(qm_crypto INTERFACE)
  target_link_libraries(qm_crypto INTERFACE OpenSSL::Crypto)
endif()

# liblzma only serves the build-time bundle writer and the decoder's
# differential tests, both on the build machine.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(LibLZMA REQUIRED)
endif()

# Header-only libraries: stb and the Vulkan headers. The Vulkan loader is
# opened at run time by name. For the cross build only their own folders
# are put on the include path, never the host's /usr/include.
set(QM_HEADERS_DIR "${PROJECT_BINARY_DIR}/third_party_headers")
file(MAKE_DIRECTORY "${QM_HEADERS_DIR}")
foreach(dir stb vulkan vk_video)
  if(EXISTS "/usr/include/${dir}" AND NOT EXISTS "${QM_HEADERS_DIR}/${dir}")
    file(COPY "/usr/include/${dir}" DESTINATION "${QM_HEADERS_DIR}")
  endif()
endforeach()
add_library(qm_headers INTERFACE)
target_include_directories(qm_headers SYSTEM INTERFACE "${QM_HEADERS_DIR}")

# SDL2: the Linux back end of the window, input and game pads.
if(NOT WIN32)
  find_package(SDL2 REQUIRED)
endif()

# Threads.
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)

# GoogleTest from the sources Debian's googletest package installs, built
# with this build's own compiler and flags (also for mingw).
if(QM_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${PROJECT_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  add_library(qm_gtest_main INTERFACE)
  # No test uses GoogleMock: it is neither built nor in the precompiled
  # header (its headers nearly doubled the header every test file loads).
  target_link_libraries(qm_gtest_main INTERFACE gtest_main Threads::Threads)
  # One precompiled header for every test program: GoogleTest's headers and
  # the standard ones most tests use are parsed once per build, not per file.
  file(WRITE "${PROJECT_BINARY_DIR}/qm_test_pch.cpp" "")
  add_library(qm_test_pch STATIC "${PROJECT_BINARY_DIR}/qm_test_pch.cpp")
  target_compile_options(qm_test_pch PRIVATE ${QM_TEST_OPTIONS})
  target_link_libraries(qm_test_pch PRIVATE qm_gtest_main)
  target_precompile_headers(qm_test_pch PRIVATE
    <gtest/gtest.h> <string> <vector> <cstdint> <cstring>
    <filesystem> <fstream> <functional> <map> <memory> <span> <sstream> <string_view>)
endif()
