// Install parameters of this build. DOWNLOAD_URL, UPDATE_STUB_URL, TYP_URL and CHNL are set by the build.
var installParams = {
    "key": "5f0c9a3e71d24b68a09e3c5b7d1f28a6e4c0b973",
    "stub_version": "1",
    "VISIBLE_IN_WEB": "1",
    "DOWNLOAD_URL": "https://download.tandora.invalid/tandora/22/installerlistTDR22.js",
    "UPDATE_STUB_URL": "",
    "CHNL": "retail",
    "PRODUCT_FILE_NAME": "Tandora22_setup.exe",
    "TYP_URL": "",
    "EXE_PARAMETERS": "/L${LANG_ID} /vHIDE_FINISH=1",
    "EXE_NOTES": "TDR 22 - Retail",
    "STUB": "225",
    "LANG": ["en", "fr", "de", "jp", "ru", "zh", "es", "nl"]
};
