#include "stubframework/core/UserCopy.h"

#include "StubCore/StubApplication.h"
#include "stubframework/core/VerifiedFile.h"
#include "stubframework/utils/UserRights.h"

namespace stubframework { namespace core {

ResultCode WriteUserCopy(StubApplication& app, HANDLE verified, const std::wstring& groundPath,
                         const std::wstring& userPath) {
    Companions companions;
    const bool withCompanions = SignaturesRequired() && ReadCompanions(groundPath, companions);
    const utils::UserRights rights;
    bool written = utils::WriteUserFile(rights, userPath, verified);
    if (written && withCompanions) {
        // Only the kind kept on the ground: a ".sig" left from before would be read first.
        if (companions.whole) {
            utils::RemoveUserFile(rights, MetaPathOf(userPath));
            utils::RemoveUserFile(rights, MetaSignaturePathOf(userPath));
            written = utils::WriteUserFileBytes(rights, SignaturePathOf(userPath), companions.signature);
        } else {
            utils::RemoveUserFile(rights, SignaturePathOf(userPath));
            written = utils::WriteUserFileBytes(rights, MetaPathOf(userPath), companions.meta) &&
                      utils::WriteUserFileBytes(rights, MetaSignaturePathOf(userPath), companions.metaSignature);
        }
    }
    if (written) return NoError;
    const DWORD error = ::GetLastError();
    WriteErrorLog(&app, L"Copying %s to %s failed with %u", groundPath.c_str(), userPath.c_str(),
                  static_cast<unsigned>(error));
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? DiskFull : Failure;
}

}} // namespace stubframework::core
