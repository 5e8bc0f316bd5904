#include "TransferJob.h"

#include <chrono>

#include "SerialPort.h"

namespace updatetool {

TransferJob::TransferJob()
    : receiveBuffer(std::make_unique<std::uint8_t[]>(kReceiveBufferSize))
{
}

std::string TransferJob::portName() const
{
    return portDevice.empty() ? SerialPort::portNameForIndex(portIndex) : portDevice;
}

std::optional<TransferJob::Problem> TransferJob::problemFor(int result) const
{
    switch (result) {
    case kResultFileInvalid:
        if (!imageProblem.empty())
            return Problem{imagePath, imageProblem};
        break;
    case kResultSerialPortError:
        if (!portError.empty())
            return Problem{portName(), portError};
        break;
    case kResultImageFileError:
        if (kind == JobKind::ReceiveData && !receiveError.empty())
            return Problem{outputPath, receiveError};
        if (kind == JobKind::SendImage && !imageProblem.empty())
            return Problem{imagePath, imageProblem};
        break;
    default:
        break;
    }
    return std::nullopt;
}

std::uint32_t tickCount()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

} // namespace updatetool
