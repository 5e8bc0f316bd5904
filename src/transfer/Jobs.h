#pragma once

#include "TransferJob.h"

namespace updatetool {

// Worker entry: runs the job that job.kind names and returns its result,
// which is also stored in job.result.
int runWorker(TransferJob& job);

int runSendImage(TransferJob& job);
int runReceiveData(TransferJob& job);
int runEraseApplication(TransferJob& job);

} // namespace updatetool
