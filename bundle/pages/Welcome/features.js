// "Enable", "Disable" (shown but fixed) or "None" (hidden)
var Feature_LanguageSelection = "Enable";
var Feature_DefaultLanguageOrder = ["OSLang", "OSLocation", "Channel", "InstalledLang"];
var Feature_Channel = 1033;
