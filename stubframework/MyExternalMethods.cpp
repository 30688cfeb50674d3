#include "stubframework/MyExternalMethods.h"

namespace myexternalmethods {

MyExternalMethods::MyExternalMethods(stubframework::StubApplication* app, RestoreStep restoreResumeProperties)
    : ExternalMethods(app, restoreResumeProperties) {
    RegisterWebServiceMethods();
}

MyExternalMethods::~MyExternalMethods() = default;

} // namespace myexternalmethods
