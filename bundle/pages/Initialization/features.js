var Feature_IsISO = false;
var Feature_ShowPageTime = 0;
var Feature_IsBillBoardsEnabled = true;
var Feature_BillboardSwitchInterval = 2000;
var Feature_HideProgressbar = true;
