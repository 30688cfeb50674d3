// The stub's side of a token answer: the rule of TokenAnswerRule.h with the publisher hosts built
// in (TANDORA_PUBLISHER_HOSTS) and a log line for every refusal.
#pragma once
#include <string>
#include <vector>

namespace stubframework {

class StubApplication;

namespace core {

// The hosts, besides a download's own, that a tokenized address may move it to.
const std::vector<std::wstring>& PublisherHosts();

// True when answer may replace address; otherwise logs "Token answer refused for ADDRESS:
// REASON" and the caller keeps the untokenized address.
bool TakeTokenAnswer(StubApplication& app, const std::wstring& address, const std::wstring& answer);

}} // namespace stubframework::core
