// The part of ReplacementFile both platforms share; the rest is in posix/ and win32/.
#include "ReplacementFile.h"

namespace updatetool {

ReplacementFile::~ReplacementFile()
{
    discard();
}

bool ReplacementFile::writeWhole(const std::string& target, std::string_view content, std::string* error)
{
    ReplacementFile file;
    if (file.open(target) && file.write(content) && file.commit())
        return true;
    if (error != nullptr)
        *error = file.error();
    return false;
}

} // namespace updatetool
