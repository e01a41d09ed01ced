# Writes a committed loader image as a C++ header, so the program carries the
# very bytes the loader source assembles to. Variables: IMAGE (the .bin),
# HEADER (the header to write), NAME (the array's name).
file(READ ${IMAGE} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n    "
       bytes "${bytes}")
get_filename_component(image_name ${IMAGE} NAME)
set(text "// Generated from loaders/prebuilt/${image_name}; do not edit.\n#pragma once\n\n#include <array>\n#include <cstdint>\n\n")
string(APPEND text "namespace loaders {\n\ninline constexpr std::array<std::uint8_t, ${size}> ${NAME} = {\n    ${bytes}};\n\n}  // namespace loaders\n")
# Rewritten only when it changes, so its users are not rebuilt for nothing.
if(EXISTS ${HEADER})
  file(READ ${HEADER} old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE ${HEADER} "${text}")
