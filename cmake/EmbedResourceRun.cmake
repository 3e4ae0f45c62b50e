file(READ ${INPUT} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(LENGTH "${hex}" hexlen)
math(EXPR len "${hexlen} / 2")
file(WRITE ${OUTPUT}
"#include <string_view>\n"
"namespace qm::resources {\n"
"static const unsigned char data[] = {${bytes} 0};\n"
"std::string_view ${SYMBOL}() { return {reinterpret_cast<const char*>(data), ${len}}; }\n"
"}\n")
