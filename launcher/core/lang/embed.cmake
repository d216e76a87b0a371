# Turns one file into a C++ source that holds its bytes:
#   cmake -DIN=<file> -DOUT=<file.cpp> -DNAME=<symbol> -P embed.cmake
# defines `const unsigned char NAME[]` and `const size_t NAME_size`.
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
# 16 bytes to a line.
string(REGEX REPLACE "([0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f])" "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
get_filename_component(from "${IN}" NAME)
file(WRITE "${OUT}.tmp"
  "// Made from ${from} at build time.\n"
  "#include <cstddef>\n"
  "extern const unsigned char ${NAME}[];\n"
  "extern const size_t ${NAME}_size;\n"
  "const unsigned char ${NAME}[] = {\n${bytes}0};\n"
  "const size_t ${NAME}_size = ${size};\n")
file(RENAME "${OUT}.tmp" "${OUT}")
