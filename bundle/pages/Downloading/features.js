var Feature_BuildVersionRange = ["1.0.0", "1.1.1"];
// "Simple" or "ResumableSimple"
var Feature_DownloadMode = "ResumableSimple";
var Feature_IsSecureDownload = true;
var Feature_IsCrcCheck = false;
var Feature_IsBillBoardsEnabled = false;
var Feature_BillboardSwitchInterval = 2000;
var Feature_CheckingProgressBar = true;
var Feature_IsDestinationHide = true;
// folder used when the Download page was skipped
var Feature_DownloadDirMode = "Current";
