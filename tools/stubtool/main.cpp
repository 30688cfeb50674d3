// stubtool: the publisher's tool around the stub. One table entry per subcommand.
#include "tools/stubtool/Commands.h"
#include "tools/stubtool/Console.h"
#include "stubframework/utils/WideFormat.h"

#include <cwchar>

namespace stubtool {
namespace {

const Command kCommands[] = {
    {L"pack", L"<stub.exe> <bundle-folder> <out.exe>",
     L"copies the stub to out.exe and appends the bundle folder as a ZIP archive", RunPack},
    {L"meta", L"<file>", L"writes file.meta: the 8-byte size and one SHA-1 per MiB block", RunMeta},
    {L"verify", L"<file> <meta>", L"says whether the file matches its .meta, and where it first differs",
     RunVerify},
    {L"download", L"[-v] <url> <path>", L"resumable, verified download of url (metadata at url.meta)",
     RunDownload},
    {L"check-server", L"[-v] <url>", L"checks a published file against the download server contract",
     RunCheckServer},
};

int Usage() {
    PrintLine(L"usage: stubtool <command> [arguments]");
    for (const Command& command : kCommands) {
        PrintLine(stubframework::utils::FormatWide(L"  %s %s", command.name, command.arguments));
        PrintLine(stubframework::utils::FormatWide(L"      %s", command.summary));
    }
    return kExitUsage;
}

} // namespace
} // namespace stubtool

int wmain(int argc, wchar_t** argv) {
    using namespace stubtool;
    if (argc < 2) return Usage();
    for (const Command& command : kCommands) {
        if (std::wcscmp(argv[1], command.name) != 0) continue;
        const Arguments arguments(argv + 2, argv + argc);
        return command.run(arguments);
    }
    PrintError(stubframework::utils::FormatWide(L"unknown command '%s'", argv[1]));
    return Usage();
}
