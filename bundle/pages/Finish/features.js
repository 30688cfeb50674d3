var Feature_LaunchApplicationButton = false;
var Feature_ThankYouPage = true;
var Feature_UseTYPInInstallParams = true;
var Feature_LaunchApplicationCheckbox = true;
