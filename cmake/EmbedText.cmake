# Writes a C++ source whose function FUNCTION (in NAMESPACE) returns the bytes
# of INPUT as a std::string_view: a file compiled into a program, byte for
# byte, without a string literal's length limits.
#   cmake -DINPUT=page.html -DOUTPUT=Page.cpp -DNAMESPACE=a::b -DFUNCTION=page -P EmbedText.cmake
file(READ "${INPUT}" bytes HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${bytes}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp" "// Made by the build from ${INPUT}; edit that instead.
#include <string_view>

namespace ${NAMESPACE} {

namespace {
const unsigned char kBytes[] = {
${bytes}};
}  // namespace

std::string_view ${FUNCTION}() {
    return {reinterpret_cast<const char*>(kBytes), sizeof kBytes};
}

}  // namespace ${NAMESPACE}
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
