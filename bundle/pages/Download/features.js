var Feature_DiskspaceCheck = true;
var Feature_DefaultDownloadDir = "C:\\SampleStub\\";
// "Desktop", "Current", "Temp" or "Default"
var Feature_DownloadDirMode = "Desktop";
var Feature_IsHideBackButton = true;
