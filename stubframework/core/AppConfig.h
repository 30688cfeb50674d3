// The product's settings for one run: fixed facts, per-product registry values, a description
// of the machine for the reports, and the property maps the pages and workers share.
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
    // "Tandora": the product this stub is built for, whatever the product id is set to.
    static std::wstring ProductName();

    AppConfig();

    const std::wstring& FrameworkKeyPath() const { return frameworkKeyPath_; }

    // Text getters fall back to their registry value under FrameworkKeyPath while the field is
    // empty; numeric ones while it is Unset.
    std::wstring RequestToken() const { return requestToken_; }
    std::wstring Country() const { return country_; }
    std::wstring ProductId();                   // "product_id"
    std::wstring ProductVersion();              // "production_version"
    std::wstring Channel();                     // "channel"
    void SetChannel(const std::wstring& channel);
    std::wstring InstallLanguage();             // "install_language"
    // Stores the language's name, sets the property "lang" to its code and writes the name.
    void SetInstallLanguage(int languageId);

    int Status();                               // "status"
    void SetStatus(int status);
    int SelfUpdateCode();                       // "selfupdate_code"
    void SetSelfUpdateCode(int code);

    std::wstring OsName() const { return osName_; }
    int UiLanguage() const { return uiLanguage_; }
    std::wstring UiLanguageName() const;
    std::wstring Architecture() const { return architecture_; }
    std::wstring DefaultBrowser() const { return defaultBrowser_; }
    std::wstring ClientVersion();               // "client_version"
    // The machine identity, derived on first use and the same for the rest of the process.
    std::wstring MachineId();

    // Unguarded: callers on several threads hold the method table's lock.
    PropertyMap& Properties() { return properties_; }
    PropertyMap& ExternalProperties() { return externalProperties_; }
    std::wstring Property(const std::wstring& name) const;
    void SetProperty(const std::wstring& name, const std::wstring& value) { properties_[name] = value; }

    const std::wstring& PassThrough() const { return passThrough_; }
    void SetPassThrough(const std::wstring& text) { passThrough_ = text; }

private:
    std::wstring TextField(std::wstring& field, const wchar_t* valueName) const;
    int ReadIntValue(const wchar_t* valueName) const;
    void WriteValue(const wchar_t* valueName, const std::wstring& text) const;
    void WriteIntValue(const wchar_t* valueName, int value) const;

    std::wstring frameworkKeyPath_;
    std::wstring requestToken_;
    std::wstring country_;
    std::wstring productId_;
    std::wstring productVersion_;
    std::wstring channel_;
    std::wstring installLanguage_;
    int status_;
    int selfUpdateCode_;
    std::wstring osName_;
    int uiLanguage_;
    std::wstring architecture_;
    std::wstring defaultBrowser_;
    std::wstring clientVersion_;
    std::wstring machineId_;
    PropertyMap properties_;
    PropertyMap externalProperties_;
    std::wstring passThrough_;
};

}} // namespace stubframework::core
