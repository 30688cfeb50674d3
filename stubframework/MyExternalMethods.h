// The method table the application creates: the shared rows plus this product's own.
#pragma once
#include "stubframework/ExternalMethods.h"

namespace myexternalmethods {

class MyExternalMethods : public stubframework::ExternalMethods {
public:
    explicit MyExternalMethods(stubframework::StubApplication* app,
                               RestoreStep restoreResumeProperties = nullptr);
    ~MyExternalMethods() override;

private:
    // Rows 64 to 66 (SystemMethods.cpp).
    HRESULT GetFileVersionEx(WORD flags, DISPPARAMS* params, VARIANT* result);
    HRESULT GetSystemFolder(WORD flags, DISPPARAMS* params, VARIANT* result);
};

} // namespace myexternalmethods
