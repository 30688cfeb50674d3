#include "stubframework/utils/WinHttpApi.h"

bool WinHttpLoads() { return stubframework::utils::GetWinHttpApi() != nullptr; }
