// The subcommands of stubtool. Each gets the arguments after its name and returns the exit code.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "stubframework/core/ContentSignature.h"
#include "stubframework/utils/SignatureFormat.h"

namespace stubtool {

using Arguments = std::vector<std::wstring>;

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

struct Command {
    const wchar_t* name;
    const wchar_t* arguments;
    const wchar_t* summary;
    int (*run)(const Arguments& arguments);
};

int RunPack(const Arguments& arguments);
int RunMeta(const Arguments& arguments);
int RunVerify(const Arguments& arguments);
int RunDownload(const Arguments& arguments);
int RunCheckServer(const Arguments& arguments);
int RunFetch(const Arguments& arguments);
int RunExtract(const Arguments& arguments);
int RunKeygen(const Arguments& arguments);
int RunSign(const Arguments& arguments);
int RunVerifySignature(const Arguments& arguments);
int RunPublish(const Arguments& arguments);

// The whole file; false when it cannot be read or exceeds 2 GiB.
bool ReadWholeFile(const std::wstring& path, std::vector<uint8_t>& bytes);
// The ".meta" body of the open file of the given size (read from its start); false when reading fails.
bool BuildMeta(void* file, int64_t size, std::vector<uint8_t>& meta);
// A P-256 private key (SEC1 or PKCS#8, DER or PEM) with its public point; false, said on stderr,
// when the file cannot be read or holds no such key.
bool ReadPrivateKey(const std::wstring& path, stubframework::utils::EcScalar& secret,
                    stubframework::utils::EcPoint& point);
// The signature over bytes against keys (DER); no keys: the keys built into this tool's stub.
stubframework::core::SignatureVerdict VerifyWithKeys(const std::vector<uint8_t>& bytes,
                                                     const std::vector<uint8_t>* signature,
                                                     const std::vector<std::vector<uint8_t>>& keys);

} // namespace stubtool
