# Writes a C++ source that carries a binary file as an initialised array.
# cmake -DINPUT=file -DOUTPUT=source.cpp -DNAME=symbol -P embed.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by resources/embed.cmake.\n"
  "#include <cstddef>\n\n"
  "extern const unsigned char ${NAME}[] = {\n    ${bytes}\n};\n"
  "extern const size_t ${NAME}_size = ${size};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
