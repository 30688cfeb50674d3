// Global settings of the installer pages.

// Minimum OS name for checkOS. Allowed: "Windows XP", "Windows XP SP1", "Windows XP SP2",
// "Windows XP SP3", "Windows Vista", "Windows Vista SP1", "Windows Vista SP2", "Windows 7",
// "Windows 7 SP1", "Windows 8", "Windows 8.1", "Windows Server".
var Config_MinSupportOS = "Windows 7 SP1";
// "x86" or "x64"
var Config_MinOSBit = "x86";

// Page order; Initialization must be present.
var Config_SequencePages = ["Initialization", "Welcome", "Prerequisite", "Download", "Downloading", "Installing", "Finish"];

var Config_ModifyRepairRemove = false;
// true: installParams.DOWNLOAD_URL names the installer list; false: the single package.
var Config_MultiDownload = true;
// Architecture of the packages: "Disable" no choice (a 64-bit system takes 64-bit packages unless a
// 32-bit Office asks for 32-bit ones), "Force" the system's own, "UserOption" the system's own with
// a 32-bit choice on a 64-bit system.
var Config_OSArchitectureSelection = "Disable";
// true: a download or install error ends on the Error page; false: message box and go on.
var Config_Essential = true;
var Config_SupportSelfUpdate = false;
// Components flagged Patch: "Disable" never installed, "ForceHidden" installed and not shown,
// "ForceShow" installed and listed on the Download page, "UserOption" listed there for the user to decide.
var Config_PatchOption = "Disable";
var Config_ExtractInDownload = false;
var Config_CheckPrerequiste = true;

var Config_Steps = { NotStart: 0, Download: 1, Extract: 2, Install: 3, Current: 0 };

// Same numbers as the native result codes.
var Config_ErrorHandle = {
    NoError: 0, UnknowError: 1, FileNotExist: 2, DiskFull: 3, Failure: 4, Abort: 5,
    Md5Error: 6, VolumeReadOnly: 7, NoNetwork: 8, Cancelled: 9, Running: 10, Reboot: 11,
    HaveInstalled: 12, OtherInstalling: 13
};

var Config_ResumeMode = { NONE: 0, DOWNLOADING: 1, INSTALLING: 2 };

// Value names of the pages' resume record; it lives under getBaseRegKey() + "\ResumeRecord", "Key" is unused.
var Config_RegRecorder = {
    Key: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zarvo\\stubframework",
    OS: "OS", IsISO: "IsISO", Lang: "Lang", Directory: "Directory", Components: "Components",
    IsDownloadOnly: "IsDownloadOnly", DownloadUrl: "DownloadUrl", DownloadSize: "DownloadSize"
};

var Config_ProgressItem = { LastProcess: 0, CurrentProcess: 0, TotalProcess: 1 };

var ComponentType = { Inherit: 0, X86: 1, X64: 2, Selectable: 4, MustSelect: 8, Patch: 16, Prerequiste: 32 };

var Config_PostInstallActionType = { APP: 0, URL: 1, CMD: 2 };

var Config_PostInstallActions = [
    { type: Config_PostInstallActionType.APP, key: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zarvo\\Setup\\StubFrameWork", value: "RunAPP", data: "" },
    { type: Config_PostInstallActionType.URL, key: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zarvo\\Setup\\StubFrameWork", value: "OpenURL", data: "" },
    { type: Config_PostInstallActionType.CMD, key: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zarvo\\Setup\\StubFrameWork", value: "ExecuteCMD", data: "" }
];

// Used only when Config_MultiDownload is false.
var Config_PrerequisteComponents = [
    {
        "group": 0,
        "sku": "Pro",
        "type": ComponentType.Prerequiste | ComponentType.MustSelect,
        "name": "DotNet",
        "minValue": "461808",
        "registry": { "check": true, "key": "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full", "value": "Release" },
        "estimatedTime": 300,
        "files": [
            { "name": "Prerequisites/dotnet-web-setup.exe", "url": "https://download.example.invalid/prerequisites/dotnet-web-setup.exe", "param": "/q /norestart", "size": 1444856, "installSize": 0, "crc": "" }
        ]
    }
];

var Config_Status = { NOTSTART: 0, COMPLETED: 1, ERROR: 2, CANCEL: 3, ENVIRONMENT_NOT_MEET: 4, DOWNLOADED: 5, STUB_FAILED: 6 };
