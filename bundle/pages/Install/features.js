// 0 none, a number of bytes, or "installerlistJS" for the installer list's installSize values
var Feature_RequiredDiskSpaceCheck = "installerlistJS";
// "Disable", "UserOption" or "BaseOnDiskSpace"
var Feature_InstallationPathOption = "BaseOnDiskSpace";
var Feature_DefaultInstallDir = "C:\\Program Files\\Zarvo\\Tandora 22\\";
