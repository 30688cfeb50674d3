// Command-line helpers over hostile command lines: the first line of the input is the raw
// command line, the second a switch name; the arguments are the raw line split at blanks.
#include "fuzz/FuzzInput.h"
#include "stubframework/utils/CommandLine.h"

#include <cstdlib>

using namespace stubframework::utils;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto lines = fuzzinput::Split(data, size, '\n');
    const std::wstring raw = fuzzinput::Widen(lines[0]);
    const std::wstring name = lines.size() > 1 ? fuzzinput::Widen(lines[1]) : L"passthrough";

    ArgList args(1);
    for (wchar_t c : raw) {
        if (c == L' ' || c == L'\t') { if (!args.back().empty()) args.emplace_back(); }
        else args.back() += c;
    }

    const std::wstring rest = ArgumentsAfterProgram(raw);
    if (!rest.empty() && rest[0] != L' ' && rest[0] != L'\t') std::abort();
    if (rest.size() > raw.size() + 1) std::abort();

    const std::wstring quoted = GetQuotedArgValue(raw, name);
    if (quoted.find(L'"') != std::wstring::npos || quoted.size() > raw.size()) std::abort();
    if (GetArgValue(args, name).size() > raw.size()) std::abort();
    std::wstring value;
    FindArgWithPrefix(args, name, value);
    HasSwitch(args, name);

    const StartupSwitches switches = ParseStartupSwitches(args, raw);
    if (switches.resumeMode < 0 || switches.resumeMode > 2) std::abort();
    if (!switches.passThrough.empty() && switches.passThrough.size() > raw.size()) std::abort();
    BuildStubCommand(rest, L" run=1", switches.shortcut);
    return 0;
}
