// Values shared between the native side and the page scripts.
#pragma once

namespace stubframework {

// Result codes that the page scripts receive through their callbacks.
enum ResultCode {
    NoError = 0,
    UnknowError = 1,
    FileNotExist = 2,
    DiskFull = 3,
    Failure = 4,
    Abort = 5,
    Md5Error = 6,
    VolumeReadOnly = 7,
    NoNetwork = 8,
    Cancelled = 9,
    Running = 10,
    Reboot = 11,
    HaveInstalled = 12,
    OtherInstalling = 13,
};

} // namespace stubframework
