// The subcommands of stubtool. Each gets the arguments after its name and returns the exit code.
#pragma once
#include <string>
#include <vector>

namespace stubtool {

using Arguments = std::vector<std::wstring>;

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

struct Command {
    const wchar_t* name;
    const wchar_t* arguments;
    const wchar_t* summary;
    int (*run)(const Arguments& arguments);
};

int RunPack(const Arguments& arguments);
int RunMeta(const Arguments& arguments);
int RunVerify(const Arguments& arguments);
int RunDownload(const Arguments& arguments);
int RunCheckServer(const Arguments& arguments);
int RunFetch(const Arguments& arguments);
int RunExtract(const Arguments& arguments);

} // namespace stubtool
