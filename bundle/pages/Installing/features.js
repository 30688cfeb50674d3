var Feature_IsSkipInstall = true;
var Feature_RestartHandler = true;
var Feature_LaunchApplicationButton = "Disable";
var Feature_DeferRebootToEnd = true;
// 0.50 to 1.00: from which fraction the bar is smoothed (1.00 none)
var Process_Smooth_Threshod = 1.00;
var Feature_IsBillBoardsEnabled = true;
var Feature_BillboardSwitchInterval = 2000;
var Feature_CheckingProgressBar = true;
