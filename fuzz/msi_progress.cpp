// Windows Installer progress messages, one per line, fed through the tick counting of an install.
#include "fuzz/FuzzInput.h"
#include "stubframework/core/InstallText.h"

#include <cstdlib>

using namespace stubframework::core;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MsiTicks ticks;
    for (const std::string& line : fuzzinput::Split(data, size, '\n')) {
        MsiProgressFields fields;
        const bool any = ParseMsiProgress(fuzzinput::Widen(line), fields);
        if (!any && (fields.kind || fields.amount || fields.flag || fields.phase || fields.hasPhase)) std::abort();
        if (fields.kind < -0x7FFFFFFFL || fields.kind > 0x7FFFFFFFL) std::abort();
        if (fields.amount < -0x7FFFFFFFL || fields.amount > 0x7FFFFFFFL) std::abort();
        if (any) ApplyMsiProgress(fields, ticks);
    }
    return 0;
}
