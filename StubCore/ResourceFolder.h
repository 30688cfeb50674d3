// The private folder that holds the UI bundle unpacked from the end of the executable.
#pragma once
#include <string>

namespace stubframework {

class StubLog;

class ResourceFolder {
public:
    explicit ResourceFolder(StubLog* log);   // creates the folder and unpacks into it
    ~ResourceFolder();                        // deletes the folder
    ResourceFolder(const ResourceFolder&) = delete;
    ResourceFolder& operator=(const ResourceFolder&) = delete;

    bool IsUnpacked() const { return unpacked_; }
    const std::wstring& Folder() const { return folder_; }   // with trailing backslash

private:

    bool unpacked_ = false;
    std::wstring folder_;
    StubLog* log_;
};

} // namespace stubframework
