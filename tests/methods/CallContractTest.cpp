// The common handler contract, driven row by row from stubframework/MethodTable.txt through
// window.external: the file names exactly the registered methods; each row refuses every other
// flags value, a wrong argument count and each wrong argument type (reported with its rgvarg
// index); its accepted call answers the row's result type, and nothing when no result is wanted.
// Entry lines are written even for refused calls.
#include "tests/methods/MethodsFixture.h"

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

using namespace stubframework;
using namespace methodstest;

namespace {

struct Row {
    std::wstring name;
    int flags;          // -1: any
    std::string args;   // script order: S text, B flag, I number, F function, V any value
    bool anyArgs;
    char result;        // S, B, I, U, or '-' for none
};

// The file's rows; a malformed or repeated line is a failure named by its line number.
std::vector<Row> ReadTable() {
    std::vector<Row> rows;
    const std::unique_ptr<FILE, int (*)(FILE*)> file(::_wfopen(TANDORA_METHOD_TABLE, L"rb"), std::fclose);
    if (!file) {
        ADD_FAILURE() << "cannot open the method table";
        return rows;
    }
    std::set<std::wstring> seen;
    char buffer[512];
    for (int number = 1; std::fgets(buffer, sizeof buffer, file.get()); ++number) {
        std::istringstream line(buffer);
        std::string name, flags, args, result, extra;
        if (!(line >> name) || name[0] == '#') continue;
        const bool read = (line >> flags >> args >> result) && !(line >> extra);
        const bool ok = read && (flags == "1" || flags == "3" || flags == "*") &&
                        (args == "-" || args == "*" || args.find_first_not_of("SBIFV") == std::string::npos);
        Row row{std::wstring(name.begin(), name.end()), flags == "*" ? -1 : flags[0] - '0',
                args == "-" || args == "*" ? "" : args, args == "*", result.empty() ? '?' : result[0]};
        if (!ok || result.size() != 1 || std::string("SBIU-").find(row.result) == std::string::npos ||
            !seen.insert(row.name).second) {
            ADD_FAILURE() << "line " << number << " is not a method row: " << buffer;
            continue;
        }
        rows.push_back(row);
    }
    return rows;
}

VARTYPE TypeOf(char kind) {
    switch (kind) {
    case 'S': return VT_BSTR;
    case 'B': return VT_BOOL;
    case 'I': return VT_I4;
    case 'U': return VT_UI4;
    case 'F': return VT_DISPATCH;
    default: return VT_EMPTY;
    }
}

// Rows whose accepted call stays inside the test's registry and folder; the others open dialogs,
// move the host window, launch programs, reach the network, start workers or reboot, and their
// accepted calls are covered by their own suites.
const std::set<std::wstring> kCallable = {
    L"getDataFromReg", L"setDataToReg", L"deleteRegKey", L"searchRegKey", L"getBaseRegKey",
    L"isFileExists", L"createDirectory", L"getDiskAvailableSpace", L"getOSLang", L"getLanguageByID",
    L"getParsedInstallLanguage", L"getFileVersion", L"getFileVersionEx", L"getCrc", L"getOSVersion",
    L"getCurrentPath", L"getDesktopPath", L"getTempPath", L"getFileSize", L"checkOS",
    L"getProperty", L"setProperty", L"setLang", L"setChannel", L"getResumeMode", L"getResourceLocation",
    L"getLastInstallError", L"isSkipSelfUpdate", L"isSilentLaunchStub", L"isUninstallModeLaunch",
    L"stopDownload", L"cancelVerifyThread", L"getSystemFolder", L"getSystemFolderEx",
};

// The line a row writes before its checks.
const std::map<std::wstring, std::string> kEntryLines = {
    {L"getDataFromReg", "EMGetDataFromReg"}, {L"setDataToReg", "EMSetDataToReg"},
    {L"deleteRegKey", "EMDeleteRegKey"}, {L"searchRegKey", "EMSearchRegKey"},
    {L"getBaseRegKey", "EMGetBaseRegKey"}, {L"getDiskAvailableSpace", "EMGetDiskAvailableSpace"},
    {L"getFileVersion", "EMGetMSIFileVersion"}, {L"getFileVersionEx", "EMGetMSIFileVersion"},
    {L"getCrc", "EMGetCRC"}, {L"getCurrentPath", "EMGetCurrentPath"}, {L"getDesktopPath", "EMGetDesktopPath"},
    {L"getTempPath", "EMGetTempPath"}, {L"getFileSize", "EMGetFileSize"}, {L"checkOS", "EMCheckOS"},
};

size_t Count(const std::string& text, const std::string& needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
    return count;
}

class CallContract : public MethodsTest {
protected:
    // Harmless arguments of the row's types; wrongAt puts a mismatching one at that script position.
    void Fill(Args& args, const std::string& kinds, int wrongAt = -1) {
        for (int i = 0; i < static_cast<int>(kinds.size()); ++i) {
            const char kind = kinds[i];
            if (i == wrongAt) {
                if (kind == 'S' || kind == 'V') args.Number(1);
                else args.Text(L"true");
            } else if (kind == 'S' || kind == 'V') {
                args.Text(text_);
            } else if (kind == 'B') {
                args.Bool(false);
            } else if (kind == 'I') {
                args.Number(1033);
            } else {
                args.Function(function_.Get());
            }
        }
    }

    void ExpectResult(const Row& row, HRESULT hr, const VARIANT& result) {
        ASSERT_EQ(hr, S_OK);
        EXPECT_EQ(V_VT(&result), TypeOf(row.result));
        if (V_VT(&result) == VT_BSTR) {
            EXPECT_EQ(::SysStringLen(V_BSTR(&result)), std::wcslen(V_BSTR(&result)));
        }
        if (V_VT(&result) == VT_BOOL) {
            EXPECT_TRUE(V_BOOL(&result) == VARIANT_TRUE || V_BOOL(&result) == VARIANT_FALSE);
        }
    }

    // Text arguments name a missing file below the test's own folder, so no row changes anything
    // that matters (getTempPath creates that folder's subfolder).
    const std::wstring text_ = temp_ / L"missing";
    Microsoft::WRL::ComPtr<htmluitest::RecordingFunction> function_ =
        htmluitest::Adopt(new htmluitest::RecordingFunction());
};

} // namespace

TEST_F(CallContract, TableFileNamesExactlyTheRegisteredMethods) {
    const std::vector<Row> rows = ReadTable();
    std::set<std::wstring> inFile;
    for (const Row& row : rows) inFile.insert(row.name);
    for (const auto& registered : Registered()) {
        EXPECT_TRUE(inFile.count(registered.first)) << Narrow(registered.first) << " is registered but not in the file";
    }
    for (const std::wstring& name : inFile) {
        EXPECT_TRUE(Registered().count(name)) << Narrow(name) << " is in the file but not registered";
    }
    EXPECT_EQ(rows.size(), Registered().size());
}

TEST_F(CallContract, EveryRowChecksFlagsCountAndTypes) {
    const std::vector<Row> rows = ReadTable();
    ASSERT_FALSE(rows.empty());
    for (const Row& row : rows) {
        SCOPED_TRACE(Narrow(row.name));
        const std::string& kinds = row.args;
        const UINT count = static_cast<UINT>(kinds.size());
        const bool callable = kCallable.count(row.name) != 0;

        if (row.flags < 0 || row.anyArgs) {   // any flags or arguments: always the result
            for (WORD flags : {WORD(1), WORD(2), WORD(3)}) {
                for (const char* shape : {"", "S", "IB"}) {
                    Args args;
                    Fill(args, shape);
                    utils::ScopedVariant result;
                    ExpectResult(row, Call(row.name.c_str(), flags, args, result.Receive()), *result.Ptr());
                    EXPECT_EQ(Call(row.name.c_str(), flags, args, nullptr), S_OK);
                }
            }
            continue;
        }
        if (callable) {   // the accepted call
            Args args;
            Fill(args, kinds);
            utils::ScopedVariant result;
            ExpectResult(row, Call(row.name.c_str(), static_cast<WORD>(row.flags), args, result.Receive()), *result.Ptr());
        }
        // Any other flags value, even with a result pointer.
        for (WORD flags : {WORD(0), WORD(1), WORD(2), WORD(3), WORD(4), WORD(7), WORD(8)}) {
            if (flags == row.flags) continue;
            const std::string before = LogText();
            Args args;
            Fill(args, kinds);
            utils::ScopedVariant result;
            EXPECT_EQ(Call(row.name.c_str(), flags, args, result.Receive()), DISP_E_MEMBERNOTFOUND) << flags;
            EXPECT_EQ(V_VT(result.Ptr()), VT_EMPTY);
            const auto entry = kEntryLines.find(row.name);
            if (entry != kEntryLines.end()) {
                // The entry line comes first, also for a refused call.
                const std::string line = entry->second + "\r\n";
                EXPECT_EQ(Count(LogText(), line), Count(before, line) + 1);
            }
        }
        {   // one argument too many, one too few
            Args more;
            Fill(more, kinds + "S");
            EXPECT_EQ(Call(row.name.c_str(), static_cast<WORD>(row.flags), more, nullptr), DISP_E_BADPARAMCOUNT);
            if (count > 0) {
                Args fewer;
                Fill(fewer, kinds.substr(1));
                EXPECT_EQ(Call(row.name.c_str(), static_cast<WORD>(row.flags), fewer, nullptr), DISP_E_BADPARAMCOUNT);
            }
        }
        // Each position with a wrong type; the log names it by its rgvarg index. A position of any
        // type takes a number too (without a result wanted, so nothing runs).
        for (UINT position = 0; position < count; ++position) {
            Args args;
            Fill(args, kinds, static_cast<int>(position));
            if (kinds[position] == 'V') {
                EXPECT_EQ(Call(row.name.c_str(), static_cast<WORD>(row.flags), args, nullptr), S_OK) << position;
                continue;
            }
            utils::ScopedVariant result;
            EXPECT_EQ(Call(row.name.c_str(), static_cast<WORD>(row.flags), args, result.Receive()), DISP_E_TYPEMISMATCH)
                << position;
            const VARTYPE wrong = kinds[position] == 'S' ? VT_I4 : VT_BSTR;
            const std::string line = "CheckParamTypes -- DISP_E_TYPEMISMATCH -- " +
                                     std::to_string(count - 1 - position) + " " + std::to_string(wrong) + " " +
                                     std::to_string(TypeOf(kinds[position]));
            EXPECT_TRUE(LogHas(line)) << line;
        }
        if (callable && row.result != '-') {   // no result wanted: S_OK
            Args args;
            Fill(args, kinds);
            EXPECT_EQ(Call(row.name.c_str(), static_cast<WORD>(row.flags), args, nullptr), S_OK);
        }
    }
    EXPECT_EQ(function_->calls.size(), 0u);   // no refused call reached a callback
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
