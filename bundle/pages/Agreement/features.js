// "Local", "Internet" or "Custom"
var Feature_AllowHTMLEULALoading = "Local";
var Feature_EulaLink = "https://www.tandora.invalid/legal/eula_${lang}.html";
var Feature_SkipIfAccepted = "Disable";
