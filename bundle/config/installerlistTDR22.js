/* TANDORA-RELEASE-MANIFEST 1
product Tandora
serial 0
END-TANDORA-RELEASE-MANIFEST */
// Installer list. The signed copy the installer-list update downloads replaces this file at run
// time; until then its release manifest is the stub's, and it names no file: the hosts below are
// placeholders that "stubtool publish" never sees.
var Components = [
    {
        "group": 0,
        "sku": "Pro",
        "type": ComponentType.Prerequiste | ComponentType.MustSelect,
        "name": "DotNet",
        "minValue": "461808",
        "registry": { "check": true, "key": "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full", "value": "Release" },
        "estimatedTime": 420,
        "files": [
            { "name": "Prerequisites\\dotnet-web-setup.exe", "url": "https://download.tandora.invalid/prerequisites/dotnet-web-setup.exe", "param": "/q /norestart", "size": 1444856, "installSize": 2147483648, "crc": "" }
        ]
    },
    {
        "group": 0,
        "sku": "Pro",
        "type": ComponentType.Prerequiste | ComponentType.MustSelect,
        "name": "WebView2",
        "registry": { "check": false, "key": "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}", "value": "pv" },
        "registryWOW": { "check": false, "key": "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}", "value": "pv" },
        "estimatedTime": 120,
        "files": [
            { "name": "Prerequisites\\WebView2Setup.exe", "url": "https://download.tandora.invalid/prerequisites/WebView2Setup.exe", "param": "/silent /install", "size": 1713536, "installSize": 524288000, "crc": "" }
        ]
    },
    {
        "group": 0,
        "sku": "Pro",
        "type": ComponentType.X64 | ComponentType.Prerequiste | ComponentType.MustSelect,
        "name": "VS2015RedistX64",
        "versionCheck": { "check": true, "path": "System64Folder", "filename": "msvcp140.dll", "version": "14.0.24212.0" },
        "office32BitCheck": true,
        "estimatedTime": 60,
        "files": [
            { "name": "Prerequisites\\vc_redist.x64.exe", "url": "https://download.tandora.invalid/prerequisites/vc_redist.x64.exe", "param": "/install /quiet /norestart", "size": 14572000, "installSize": 23068672, "crc": "" }
        ]
    },
    {
        "group": 0,
        "sku": "Pro",
        "type": ComponentType.X64 | ComponentType.MustSelect,
        "name": "ProductName",
        "registry": { "check": false, "key": "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zarvo\\Tandora\\22", "value": "MainDir" },
        "program": "Tandora.exe",
        "estimatedTime": 240,
        "productCode": "{6E1B7C52-0D9A-4F43-9A3C-52B7E0C4A922}",
        "files": [
            { "name": "Tandora\\$BUILDNUMBER$\\64Bit\\Tandora22_x64.msi", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/64Bit/Tandora22_x64.msi", "param": "/qf TRANSFORMS=${LANG_ID}.mst HIDE_FINISH=1 ADDDESKTOPICON=1 ALLUSERS=1 REBOOT=ReallySuppress", "size": 0, "installSize": 734003200, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\64Bit\\1033.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/64Bit/1033.mst", "size": 0, "installSize": 0, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\64Bit\\1031.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/64Bit/1031.mst", "size": 0, "installSize": 0, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\64Bit\\1034.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/64Bit/1034.mst", "size": 0, "installSize": 0, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\64Bit\\1036.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/64Bit/1036.mst", "size": 0, "installSize": 0, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\64Bit\\1041.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/64Bit/1041.mst", "size": 0, "installSize": 0, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\64Bit\\1043.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/64Bit/1043.mst", "size": 0, "installSize": 0, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\64Bit\\1049.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/64Bit/1049.mst", "size": 0, "installSize": 0, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\64Bit\\2052.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/64Bit/2052.mst", "size": 0, "installSize": 0, "crc": "" }
        ]
    },
    {
        "group": 0,
        "sku": "Pro",
        "type": ComponentType.X86 | ComponentType.MustSelect,
        "name": "ProductName",
        "registry": { "check": false, "key": "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zarvo\\Tandora\\22", "value": "MainDir" },
        "program": "Tandora.exe",
        "estimatedTime": 210,
        "productCode": "{A84F0E19-6C2B-4B7D-8E15-3D90F6B2C711}",
        "files": [
            { "name": "Tandora\\$BUILDNUMBER$\\32Bit\\Tandora22_x86.msi", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/32Bit/Tandora22_x86.msi", "param": "/qf TRANSFORMS=${LANG_ID}.mst HIDE_FINISH=1 ADDDESKTOPICON=1 ALLUSERS=1 REBOOT=ReallySuppress", "size": 0, "installSize": 629145600, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\32Bit\\1033.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/32Bit/1033.mst", "size": 0, "installSize": 0, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\32Bit\\1031.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/32Bit/1031.mst", "size": 0, "installSize": 0, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\32Bit\\1034.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/32Bit/1034.mst", "size": 0, "installSize": 0, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\32Bit\\1036.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/32Bit/1036.mst", "size": 0, "installSize": 0, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\32Bit\\1041.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/32Bit/1041.mst", "size": 0, "installSize": 0, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\32Bit\\1043.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/32Bit/1043.mst", "size": 0, "installSize": 0, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\32Bit\\1049.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/32Bit/1049.mst", "size": 0, "installSize": 0, "crc": "" },
            { "name": "Tandora\\$BUILDNUMBER$\\32Bit\\2052.mst", "url": "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/32Bit/2052.mst", "size": 0, "installSize": 0, "crc": "" }
        ]
    }
];
