// The common handler contract for every registry, system and file row, table-driven through
// window.external: the one accepted flags value, the argument count, the exact argument types
// (reported with their rgvarg index), the result type, the null-result rule and the entry lines
// that are written even for refused calls.
#include "tests/methods/MethodsFixture.h"

#include <vector>

using namespace stubframework;
using namespace methodstest;

namespace {

struct Row {
    const wchar_t* name;
    WORD flags;
    const char* args;       // script order: S text, B flag, I number
    VARTYPE result;         // VT_EMPTY: none
    const char* entryLine;  // written before the checks, or null
};

const Row kRows[] = {
    {L"getDataFromReg", 3, "SS", VT_BSTR, "EMGetDataFromReg"},
    {L"setDataToReg", 1, "SSSB", VT_EMPTY, "EMSetDataToReg"},
    {L"deleteRegKey", 1, "SB", VT_EMPTY, "EMDeleteRegKey"},
    {L"searchRegKey", 3, "BSSS", VT_BOOL, "EMSearchRegKey"},
    {L"getBaseRegKey", 1, "", VT_BSTR, "EMGetBaseRegKey"},
    {L"isFileExists", 3, "S", VT_BOOL, nullptr},
    {L"createDirectory", 3, "S", VT_BOOL, nullptr},
    {L"getDiskAvailableSpace", 3, "S", VT_BSTR, "EMGetDiskAvailableSpace"},
    {L"getOSLang", 1, "", VT_I4, nullptr},
    {L"getLanguageByID", 3, "I", VT_I4, nullptr},
    {L"getParsedInstallLanguage", 3, "S", VT_I4, nullptr},
    {L"getFileVersion", 3, "SS", VT_BSTR, "EMGetMSIFileVersion"},
    {L"getFileVersionEx", 3, "SS", VT_BSTR, "EMGetMSIFileVersion"},
    {L"getCrc", 3, "S", VT_BSTR, "EMGetCRC"},
    {L"getOSVersion", 1, "", VT_BSTR, nullptr},
    {L"getCurrentPath", 1, "", VT_BSTR, "EMGetCurrentPath"},
    {L"getDesktopPath", 1, "", VT_BSTR, "EMGetDesktopPath"},
    {L"getTempPath", 3, "S", VT_BSTR, "EMGetTempPath"},
    {L"getFileSize", 3, "S", VT_BSTR, "EMGetFileSize"},
    {L"checkOS", 3, "SS", VT_BOOL, "EMCheckOS"},
};

VARTYPE TypeOf(char kind) { return kind == 'S' ? VT_BSTR : kind == 'B' ? VT_BOOL : VT_I4; }

// Harmless arguments of the row's types; wrongAt puts a mismatching one at that script position.
void Fill(Args& args, const std::string& kinds, const std::wstring& text, int wrongAt = -1) {
    for (int i = 0; i < static_cast<int>(kinds.size()); ++i) {
        const char kind = kinds[i];
        if (i == wrongAt) {
            if (kind == 'S') args.Number(1);
            else args.Text(L"true");
        } else if (kind == 'S') {
            args.Text(text);
        } else if (kind == 'B') {
            args.Bool(false);
        } else {
            args.Number(1033);
        }
    }
}

size_t Count(const std::string& text, const std::string& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}

class CallContract : public MethodsTest {};

} // namespace

TEST_F(CallContract, EveryRowChecksFlagsCountAndTypes) {
    // Text arguments name a missing file below the test's own folder, so no row changes anything
    // that matters (getTempPath creates that folder's subfolder).
    const std::wstring text = temp_ / L"missing";
    for (const Row& row : kRows) {
        SCOPED_TRACE(Narrow(row.name));
        const std::string kinds = row.args;
        const UINT count = static_cast<UINT>(kinds.size());

        {   // the accepted call
            Args args;
            Fill(args, kinds, text);
            utils::ScopedVariant result;
            ASSERT_EQ(Call(row.name, row.flags, args, result.Receive()), S_OK);
            EXPECT_EQ(V_VT(result.Ptr()), row.result);
            if (row.result == VT_BSTR) {
                EXPECT_EQ(::SysStringLen(V_BSTR(result.Ptr())), std::wcslen(V_BSTR(result.Ptr())));
            }
            if (row.result == VT_BOOL) {
                EXPECT_TRUE(V_BOOL(result.Ptr()) == VARIANT_TRUE || V_BOOL(result.Ptr()) == VARIANT_FALSE);
            }
        }
        // Any other flags value, even with a result pointer.
        for (WORD flags : {WORD(0), WORD(1), WORD(2), WORD(3), WORD(4), WORD(7), WORD(8)}) {
            if (flags == row.flags) continue;
            const std::string before = LogText();
            Args args;
            Fill(args, kinds, text);
            utils::ScopedVariant result;
            EXPECT_EQ(Call(row.name, flags, args, result.Receive()), DISP_E_MEMBERNOTFOUND) << flags;
            EXPECT_EQ(V_VT(result.Ptr()), VT_EMPTY);
            if (row.entryLine) {
                // The entry line comes first, also for a refused call.
                const std::string line = std::string(row.entryLine) + "\r\n";
                EXPECT_EQ(Count(LogText(), line), Count(before, line) + 1);
            }
        }
        {   // one argument too many, one too few
            Args more;
            Fill(more, kinds + "S", text);
            EXPECT_EQ(Call(row.name, row.flags, more, nullptr), DISP_E_BADPARAMCOUNT);
            if (count > 0) {
                Args fewer;
                Fill(fewer, kinds.substr(1), text);
                EXPECT_EQ(Call(row.name, row.flags, fewer, nullptr), DISP_E_BADPARAMCOUNT);
            }
        }
        // Each position with a wrong type; the log names it by its rgvarg index.
        for (UINT position = 0; position < count; ++position) {
            Args args;
            Fill(args, kinds, text, static_cast<int>(position));
            utils::ScopedVariant result;
            EXPECT_EQ(Call(row.name, row.flags, args, result.Receive()), DISP_E_TYPEMISMATCH) << position;
            const VARTYPE wrong = kinds[position] == 'S' ? VT_I4 : VT_BSTR;
            const std::string line = "CheckParamTypes -- DISP_E_TYPEMISMATCH -- " +
                                     std::to_string(count - 1 - position) + " " + std::to_string(wrong) + " " +
                                     std::to_string(TypeOf(kinds[position]));
            EXPECT_TRUE(LogHas(line)) << line;
        }
        if (row.result != VT_EMPTY) {   // no result wanted: S_OK
            Args args;
            Fill(args, kinds, text);
            EXPECT_EQ(Call(row.name, row.flags, args, nullptr), S_OK);
        }
    }
}

TEST_F(CallContract, ReferencesAreNotText) {
    BSTR text = ::SysAllocString(L"C:\\");
    VARIANT byRef;
    ::VariantInit(&byRef);
    V_VT(&byRef) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&byRef) = &text;
    DISPPARAMS params = {&byRef, nullptr, 1, 0};
    utils::ScopedVariant result;
    EXPECT_EQ(CallParams(L"isFileExists", DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, result.Receive()),
              DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(LogHas("CheckParamTypes -- DISP_E_TYPEMISMATCH -- 0 16392 8"));
    ::SysFreeString(text);
}

TEST_F(CallContract, SetDataToRegNamesIndexZeroForATextFlag) {
    Args args;
    args.Text(L"HKCU\\Software\\TandoraTests\\x").Text(L"v").Text(L"d").Text(L"true");
    EXPECT_EQ(Call(L"setDataToReg", DISPATCH_METHOD, args, nullptr), DISP_E_TYPEMISMATCH);
    EXPECT_TRUE(LogHas("CheckParamTypes -- DISP_E_TYPEMISMATCH -- 0 8 11"));
    Args read;
    read.Text(L"HKCU\\Software\\TandoraTests\\x").Text(L"v");
    EXPECT_EQ(TextOf(L"getDataFromReg", read), L"");
}
