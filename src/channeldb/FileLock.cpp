// What the lock does alike on every system; the system's calls are in posix/ and win32/.
#include "FileLock.h"

namespace updatetool::channelfile {

FileLock::~FileLock()
{
    abandonReplacement();
    release();
}

void FileLock::commitReplacement()
{
    if (replacement_ == kNone)
        return;
    release();
    handle_ = replacement_;
    replacement_ = kNone;
}

} // namespace updatetool::channelfile
