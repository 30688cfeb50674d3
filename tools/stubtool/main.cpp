// stubtool: the publisher's tool around the stub. One table entry per subcommand.
#include "tools/stubtool/Commands.h"
#include "tools/stubtool/Console.h"
#include "stubframework/utils/WideFormat.h"

#include <windows.h>
#include <psapi.h>
#include <cwchar>

namespace stubtool {
namespace {

const Command kCommands[] = {
    {L"pack", L"<stub.exe> <bundle-folder> <out.exe>",
     L"copies the stub to out.exe and appends the bundle folder as a ZIP archive", RunPack},
    {L"meta", L"<file>", L"writes file.meta: the 8-byte size and one SHA-1 per MiB block", RunMeta},
    {L"verify", L"<file> <meta>", L"says whether the file matches its .meta, and where it first differs",
     RunVerify},
    {L"download", L"[-v] [--receive-timeout=MS] <url> <path>",
     L"resumable, verified download of url (metadata at url.meta)", RunDownload},
    {L"check-server", L"[-v] [--key=PUBLIC]... <url>",
     L"checks a published file against the download server contract and its signatures (built-in keys unless given)",
     RunCheckServer},
    {L"fetch", L"<url> <path>", L"plain whole-file download of url over URL monikers", RunFetch},
    {L"extract", L"<archive> <folder>",
     L"unpacks a ZIP archive (also one behind leading data) into folder, which it creates if missing",
     RunExtract},
    {L"keygen", L"<private> <public>",
     L"makes a P-256 key pair: private key as SEC1 DER, public key as SubjectPublicKeyInfo DER", RunKeygen},
    {L"sign", L"<private> <file> [sig]",
     L"writes file.sig (or sig): the DER ECDSA signature over SHA-256 of the file; the key may be DER or PEM",
     RunSign},
    {L"verify-signature", L"<public> <file> [sig]",
     L"says whether file.sig (or sig) is the public key's signature over the file", RunVerifySignature},
    {L"publish", L"--key <private> [--base <url>] [--list <name>] [--product <name>] [--mirror <base>=<alternate>]... <folder>",
     L"publishes a release: every file the list (default installerlistTDR22.js) names gets its .meta, the list "
     L"its sizes, SHA-256s and release manifest with the next serial, and everything its signature",
     RunPublish},
};

int Usage() {
    PrintLine(L"usage: stubtool [--peak-memory] <command> [arguments]");
    PrintLine(L"  --peak-memory: prints the process's peak working set after the command");
    for (const Command& command : kCommands) {
        PrintLine(stubframework::utils::FormatWide(L"  %s %s", command.name, command.arguments));
        PrintLine(stubframework::utils::FormatWide(L"      %s", command.summary));
    }
    return kExitUsage;
}

// Printed even after a failed command: a bench measures the memory of any run.
void PrintPeakMemory() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) {
        PrintLine(stubframework::utils::FormatWide(L"peak working set %Iu bytes", counters.PeakWorkingSetSize));
    } else {
        PrintError(stubframework::utils::FormatWide(L"GetProcessMemoryInfo failed %lu", ::GetLastError()));
    }
}

} // namespace
} // namespace stubtool

int wmain(int argc, wchar_t** argv) {
    using namespace stubtool;
    int first = 1;
    const bool peakMemory = argc > first && std::wcscmp(argv[first], L"--peak-memory") == 0;
    if (peakMemory) ++first;
    if (argc <= first) return Usage();
    for (const Command& command : kCommands) {
        if (std::wcscmp(argv[first], command.name) != 0) continue;
        const Arguments arguments(argv + first + 1, argv + argc);
        const int exitCode = command.run(arguments);
        if (peakMemory) PrintPeakMemory();
        return exitCode;
    }
    PrintError(stubframework::utils::FormatWide(L"unknown command '%s'", argv[first]));
    return Usage();
}
