// A scripted stand-in for the stub's window.external, injected before every page script runs.
// It checks argument counts and types the way the native method table does, keeps its state
// (properties, registry, call log) in sessionStorage so it survives page navigations, and parks
// callbacks in window.__callbacks for the test to fire.
(function () {
  "use strict";
  // stubframework/MethodTable.txt as method_table.js reads it; page_harness.js puts it in place
  // of the name below. Types S text, B flag, I whole number, F function, V any value.
  const TABLE = METHOD_TABLE;
  const CODES = { 0: "other", 1: "en", 2: "fr", 3: "de", 4: "it", 5: "jp", 6: "es", 7: "pt", 8: "nl", 9: "ko",
    10: "ru", 11: "cs", 12: "zh", 13: "tw", 30: "da", 33: "fi", 72: "pl", 87: "sv" };
  const LCIDS = { 1033: 1, 1036: 2, 1031: 3, 1040: 4, 1041: 5, 3082: 6, 1043: 8, 1049: 10, 1029: 11, 2052: 12, 1028: 13 };
  const BASE = "HKEY_CURRENT_USER\\SOFTWARE\\Zarvo\\stubframework\\Tandora\\22";
  const KEY = "__externalDouble";

  function load() {
    return JSON.parse(sessionStorage.getItem(KEY) || "null");
  }
  let state = load();
  if (!state) {
    return; // no scenario set yet: the page runs with Chromium's own window.external
  }
  function save() {
    sessionStorage.setItem(KEY, JSON.stringify(state));
  }
  function kindOf(v) {
    if (typeof v === "string") return "S";
    if (typeof v === "boolean") return "B";
    if (typeof v === "number" && Number.isInteger(v) && v >= -2147483648 && v <= 2147483647) return "I";
    if (typeof v === "function") return "F";
    return "?";
  }
  function regGet(key, name) {
    const v = state.registry[key.toUpperCase() + "|" + name];
    return v === undefined ? "" : v;
  }
  function regSet(key, name, data) {
    state.registry[key.toUpperCase() + "|" + name] = data;
  }

  const impl = {
    getProperty: (n) => (n in state.props ? state.props[n] : (state.props[n] = "")),
    setProperty: (n, v) => { state.props[n] = v; },
    setLang: (id) => { state.props.lang = CODES[id] || "other"; },
    getOSLang: () => state.scenario.osLang,
    getLanguageByID: (lcid) => LCIDS[lcid] || 0,
    getParsedInstallLanguage: (code) => {
      for (const id in CODES) if (CODES[id] === code && id !== "0") return Number(id);
      return 0;
    },
    checkOS: () => {
      if (!state.scenario.osOk && state.scenario.osBitFail) state.props.OSBitNotSupport = "true";
      return state.scenario.osOk;
    },
    isInternetConnected: () => state.scenario.online,
    isInEmbargoedCountry: () => { state.props.Country = state.scenario.country || ""; return state.scenario.embargoed; },
    isSilentLaunchStub: () => state.scenario.silent,
    isSkipSelfUpdate: () => state.scenario.skipSelfUpdate,
    isNeedSelfUpdate: () => state.scenario.needSelfUpdate,
    getResumeMode: () => state.scenario.resumeMode,
    getResourceLocation: () => state.scenario.resourceLocation,
    getBaseRegKey: () => BASE,
    getCurrentPath: () => state.scenario.currentPath,
    getDesktopPath: () => state.scenario.desktopPath,
    getTempPath: () => state.scenario.tempPath,
    getSystemFolder: () => "C:\\windows\\system32",
    getSystemFolderEx: () => "C:\\windows\\system32",
    getDataFromReg: (k, n) => regGet(k, n),
    setDataToReg: (k, n, d) => regSet(k, n, d),
    deleteRegKey: (k) => {
      const prefix = k.toUpperCase() + "|";
      for (const name of Object.keys(state.registry)) if (name.startsWith(prefix)) delete state.registry[name];
    },
    searchRegKey: (use64, key) => (use64 ? state.scenario.office64 : state.scenario.office32) && /office$/i.test(key),
    getFileVersion: (ext, p) => state.scenario.fileVersions[p.toLowerCase()] || "",
    getFileVersionEx: (ext, p) => state.scenario.fileVersions[p.toLowerCase()] || "",
    isFileExists: (p) => p in state.scenario.files || state.scenario.folders.indexOf(p.replace(/\\$/, "")) >= 0,
    createDirectory: (p) => { if (state.scenario.folders.indexOf(p) >= 0) return false; state.scenario.folders.push(p); return true; },
    getFileSize: (p) => String(state.scenario.files[p] || 0),
    getDiskAvailableSpace: (p) => String(state.scenario.freeSpace[p.substring(0, 3).toUpperCase()] || 0),
    getLastInstallError: () => state.scenario.lastInstallError,
    initDownloadSize: (url) => { state.props.downloadTotal = String(state.scenario.remoteSizes[url] || 0); },
    selectFolder: (p) => state.scenario.selectFolderAnswer || p,
    openPage: () => true,
    runApplication: () => true,
    executeCommand: () => true,
    confirmMessageBox: () => state.scenario.confirmAnswer !== false,
    getCrc: () => "0",
    getOSVersion: () => "10.0",
    getMachineId: () => "0000",
    isUninstallModeLaunch: () => false
  };

  // Settings the scenario overrides: the page's own "var X = ..." then leaves them alone.
  Object.keys(state.scenario.overrides || {}).forEach(function (name) {
    const value = state.scenario.overrides[name];
    let stored = value;
    Object.defineProperty(window, name, {
      get: () => stored,
      set: (v) => {
        if (value && typeof value === "object" && !Array.isArray(value) && v && typeof v === "object") {
          stored = Object.assign(v, value);
        }
      },
      configurable: false
    });
  });

  const double = {};
  Object.keys(TABLE).forEach(function (name) {
    const types = TABLE[name].args, result = TABLE[name].result;
    double[name] = function () {
      state = load();
      const args = Array.prototype.slice.call(arguments);
      if (types !== null) {
        if (args.length !== types.length) {
          state.faults.push(`${name}: ${args.length} arguments, expected ${types.length}`);
          save();
          throw new Error(`DISP_E_BADPARAMCOUNT ${name}`);
        }
        for (let i = 0; i < types.length; i++) {
          if (types[i] !== "V" && kindOf(args[i]) !== types[i]) {
            state.faults.push(`${name}: argument ${i} is ${kindOf(args[i])} (${String(args[i])}), expected ${types[i]}`);
            save();
            throw new Error(`DISP_E_TYPEMISMATCH ${name}`);
          }
        }
      }
      const callback = args.find((a) => typeof a === "function");
      state.calls.push({ m: name, a: args.filter((a) => typeof a !== "function"), page: document.title });
      let value;
      if (impl[name]) value = impl[name].apply(null, args);
      save();
      if (callback) {
        window.__callbacks = window.__callbacks || {};
        window.__callbacks[name] = callback;
      }
      if (result === "S") return value === undefined ? "" : String(value);
      if (result === "B") return value === true;
      if (result === "I") return value | 0;
      if (result === "U") return value >>> 0;
      return undefined;
    };
  });
  Object.defineProperty(window, "external", { value: double, configurable: true, writable: true });
})();
