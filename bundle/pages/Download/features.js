// true: the Download page lists the product's components of the chosen architecture to choose from
var Feature_ModuleOption = false;
// with Feature_ModuleOption: components found installed are not listed and not downloaded
var Feature_SkipInstalled = true;
var Feature_DiskspaceCheck = true;
var Feature_DefaultDownloadDir = "C:\\SampleStub\\";
// "Desktop", "Current", "Temp" or "Default"
var Feature_DownloadDirMode = "Desktop";
var Feature_IsHideBackButton = true;
