#include "ReceivedFile.h"

#include "ImageFile.h"

namespace updatetool {

ReceivedFile::~ReceivedFile() = default;

bool ReceivedFile::create(const std::string& path)
{
    file_.reset(std::fopen(path.c_str(), "wb"));
    return file_ != nullptr;
}

bool ReceivedFile::writeSignature()
{
    return writeData({reinterpret_cast<const std::uint8_t*>(kCompanySignature.data()), kCompanySignature.size()});
}

bool ReceivedFile::writeData(std::span<const std::uint8_t> bytes)
{
    if (!file_)
        return false;
    if (bytes.empty())
        return true;
    return std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) == bytes.size();
}

bool ReceivedFile::close()
{
    if (!file_)
        return false;
    const bool flushed = std::fflush(file_.get()) == 0 && !std::ferror(file_.get());
    const bool closed = std::fclose(file_.release()) == 0;
    return flushed && closed;
}

} // namespace updatetool
