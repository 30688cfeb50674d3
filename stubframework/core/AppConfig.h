// The product's settings for one run: fixed facts, per-product registry values, and the
// property maps the pages and workers share.
#pragma once
#include <map>
#include <string>

namespace stubframework { namespace core {

constexpr int SelfUpdateExitCode = 197800;

class AppConfig {
public:
    static constexpr int Unset = 0x7FFFFFFF;
    using PropertyMap = std::map<std::wstring, std::wstring>;

    // "HKEY_CURRENT_USER\SOFTWARE\Zarvo\stubframework\Tandora\22": from the fixed product name
    // and version, never from the changeable product id. The launcher uses it too.
    static std::wstring DefaultFrameworkKeyPath();

    AppConfig();

    const std::wstring& FrameworkKeyPath() const { return frameworkKeyPath_; }
    const std::wstring& ProductId() const { return productId_; }
    const std::wstring& ProductVersion() const { return productVersion_; }
    const std::wstring& Channel() const { return channel_; }

    int Status();
    void SetStatus(int status);               // stored and written as "status"

    int SelfUpdateCode();                     // read from "selfupdate_code" while unset
    void SetSelfUpdateCode(int code);         // stored and written as "selfupdate_code"

    // Unguarded: callers on several threads hold the method table's lock.
    PropertyMap& Properties() { return properties_; }
    PropertyMap& ExternalProperties() { return externalProperties_; }
    std::wstring Property(const std::wstring& name) const;
    void SetProperty(const std::wstring& name, const std::wstring& value) { properties_[name] = value; }

    const std::wstring& PassThrough() const { return passThrough_; }
    void SetPassThrough(const std::wstring& text) { passThrough_ = text; }

private:
    int ReadIntValue(const wchar_t* valueName) const;
    void WriteIntValue(const wchar_t* valueName, int value) const;

    std::wstring frameworkKeyPath_;
    std::wstring productId_;
    std::wstring productVersion_;
    std::wstring channel_;
    int status_;
    int selfUpdateCode_;
    PropertyMap properties_;
    PropertyMap externalProperties_;
    std::wstring passThrough_;
};

}} // namespace stubframework::core
