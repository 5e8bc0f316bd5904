#include "ReceivedFile.h"

#include "ImageFile.h"

namespace updatetool {

bool ReceivedFile::create(const std::string& path)
{
    return file_.open(path);
}

bool ReceivedFile::commit(std::span<const std::uint8_t> data)
{
    const bool written = file_.write(kCompanySignature) && file_.write(data);
    return written && file_.commit();
}

} // namespace updatetool
