# Turns the default decorative bitmaps into a C++ source: cmake -DOUT=file -DDIR=folder -P embed.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/decoration_names.cmake)
tamb_decoration_names(names)
set(text "// Generated from resources/decoration by embed.cmake; do not edit.\n#include \"decoration.h\"\n\n#include <assert.h>\n\n#include \"app/setuplayout.h\"\n\n")
set(list "")
foreach(name IN LISTS names)
    file(READ "${DIR}/${name}.bmp" hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
    string(APPEND text "static const uint8_t bitmap${name}[] = {\n${bytes}};\n")
    string(APPEND list "        std::vector<uint8_t>(bitmap${name}, bitmap${name} + sizeof bitmap${name}),\n")
endforeach()
string(APPEND text "\nconst std::vector<uint8_t>& defaultDecoration(int index)\n{\n"
    "    static const std::vector<uint8_t> images[] = {\n${list}    };\n"
    "    static_assert(sizeof images / sizeof images[0] == DECORATION_COUNT, \"one image a bitmap name\");\n"
    "    assert(index >= 0 && index < DECORATION_COUNT);\n"
    "    return images[index];\n}\n")
file(WRITE "${OUT}.tmp" "${text}")
file(RENAME "${OUT}.tmp" "${OUT}")
