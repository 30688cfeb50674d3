#include "stubframework/MyExternalMethods.h"

namespace myexternalmethods {

MyExternalMethods::MyExternalMethods(stubframework::StubApplication* app, RestoreStep restoreResumeProperties)
    : ExternalMethods(app, restoreResumeProperties) {
    RegisterWebServiceMethods();
    RegisterRegistryMethods();
    RegisterSystemMethods();
    RegisterWindowMethods();
    RegisterPropertyMethods();
    RegisterDownloadMethods();
    RegisterResumeMethods();
    RegisterMaintenanceMethods();
    RegisterSelfUpdateMethods();
    RegisterInstallMethods();
    // This product's own rows.
    RegisterMethod(L"getFileVersionEx", &MyExternalMethods::GetFileVersionEx);
    RegisterMethod(L"getSystemFolder", &MyExternalMethods::GetSystemFolder);
    RegisterMethod(L"getSystemFolderEx", &MyExternalMethods::GetSystemFolder);
}

MyExternalMethods::~MyExternalMethods() = default;

} // namespace myexternalmethods
