# Writes OUTPUT, a C++ source defining the std::string_view SYMBOL (in NAMESPACE) that holds
# the bytes of INPUT, so that a program carries a file of the repository in itself.
#   cmake -DINPUT=... -DOUTPUT=... -DNAMESPACE=... -DSYMBOL=... -P EmbedFile.cmake
file(READ ${INPUT} bytes HEX)
string(LENGTH "${bytes}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," array "${bytes}")
string(REGEX REPLACE "(([^,]*,){16})" "\\1\n  " array "${array}")
get_filename_component(name ${INPUT} NAME)
file(WRITE ${OUTPUT}.part
"// Made from ${name} when the program is built; edit that file instead.
#include <string_view>

namespace {
const char kBytes[] = {
  ${array}'\\0'};
}  // namespace

namespace ${NAMESPACE} {
extern const std::string_view ${SYMBOL}(kBytes, ${size});
}  // namespace ${NAMESPACE}
")
file(RENAME ${OUTPUT}.part ${OUTPUT})
