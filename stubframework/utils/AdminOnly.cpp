#include "stubframework/utils/AdminOnly.h"
#include "stubframework/utils/Handle.h"

#include <aclapi.h>

namespace stubframework { namespace utils {

namespace {
// The installer service's SID (S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464),
// laid out as a SID: it owns much of the system's own folders.
const struct {
    BYTE revision;
    BYTE count;
    SID_IDENTIFIER_AUTHORITY authority;
    DWORD parts[6];
} kTrustedInstaller = {SID_REVISION, 6, SECURITY_NT_AUTHORITY, {80, 956008885, 3418522649, 1831038044, 1853292631,
                                                                2271478464}};

// Writing, adding files or folders, deleting, and changing attributes, permissions or owner.
const ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                  FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                  GENERIC_ALL | MAXIMUM_ALLOWED;

} // namespace

bool IsAdministrationSid(PSID sid) {
    return sid && ::IsValidSid(sid) &&
           (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(sid, WinLocalSystemSid) ||
            ::EqualSid(sid, const_cast<void*>(static_cast<const void*>(&kTrustedInstaller))));
}

bool DescriptorIsAdminOnly(PSECURITY_DESCRIPTOR descriptor) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!descriptor || !::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !IsAdministrationSid(owner))
        return false;
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl) return false;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        ACE_HEADER* header = nullptr;
        if (!::GetAce(dacl, index, reinterpret_cast<void**>(&header))) return false;
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;
        switch (header->AceType) {
        case ACCESS_DENIED_ACE_TYPE:
        case ACCESS_DENIED_CALLBACK_ACE_TYPE:
        case ACCESS_DENIED_OBJECT_ACE_TYPE:
        case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
            continue;
        case ACCESS_ALLOWED_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
            // Both share the plain layout: mask, then the SID.
            auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
            if ((ace->Mask & kChangeRights) && !IsAdministrationSid(&ace->SidStart)) return false;
            continue;
        }
        default:
            // A grant of a kind not read here could be anything.
            return false;
        }
    }
    return true;
}

bool IsAdminOnlyPath(const std::wstring& path) {
    ScopedFileHandle handle(::CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!handle || !::GetFileInformationByHandle(handle.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (::GetSecurityInfo(handle.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                          nullptr, nullptr, nullptr, nullptr, &raw) != ERROR_SUCCESS)
        return false;
    const ScopedLocalMemory descriptor(raw);
    return DescriptorIsAdminOnly(raw);
}

}} // namespace stubframework::utils
