// The block hasher behind CreateHashTask, and its form that trails a writer: a block is read as
// soon as the writer has written its last byte, so a download is verified while it arrives.
#pragma once
#include <windows.h>
#include <cstdint>

#include "downloader/Downloader.h"

namespace downloader { namespace details {

class ITrailingHashTask : public ITask {
public:
    // The bytes before written (a file offset) are in the file.
    virtual void Advance(int64_t written) = 0;
    // Nothing more will be written: blocks not complete by now are not hashed.
    virtual void EndOfWrites() = 0;
protected:
    ~ITrailingHashTask() = default;
};

// Hashes the 1 MiB blocks of [offset, end) of file, each once the writer's mark passes its end.
// Digests reach callback in block order; null when memory runs out.
ITrailingHashTask* CreateTrailingHashTask(HANDLE file, int64_t offset, int64_t end, IHashCallback* callback);

}} // namespace downloader::details
