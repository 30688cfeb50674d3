// Binds the bridge the way the product's pages do, at load time, before anything else runs.
var appExternal = window.external;
window.bridgeAtLoad = typeof appExternal.echoValue;
