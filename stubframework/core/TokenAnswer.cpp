#include "stubframework/core/TokenAnswer.h"

#include "StubCore/StubApplication.h"
#include "stubframework/core/TokenAnswerRule.h"

#ifndef TANDORA_PUBLISHER_HOSTS
#define TANDORA_PUBLISHER_HOSTS L""
#endif

namespace stubframework { namespace core {

const std::vector<std::wstring>& PublisherHosts() {
    static const std::vector<std::wstring> hosts = SplitHostList(TANDORA_PUBLISHER_HOSTS);
    return hosts;
}

bool TakeTokenAnswer(StubApplication& app, const std::wstring& address, const std::wstring& answer) {
    std::wstring reason;
    if (TokenAnswerAllowed(address, answer, PublisherHosts(), reason)) return true;
    WriteErrorLog(&app, L"Token answer refused for %s: %s; the untokenized address is used", address.c_str(),
                  reason.c_str());
    return false;
}

}} // namespace stubframework::core
