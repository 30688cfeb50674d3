#include "tools/devhost/Shim.h"

namespace devhost {

namespace {
// Calls are synchronous requests, as the script engine's calls are. A call with arguments is
// first made as one whose value is used (DISPATCH_METHOD | DISPATCH_PROPERTYGET); the host falls
// back to a plain statement call for methods that refuse that flag (see BrowserHost.cpp).
// Functions and objects travel as ids into this page's own table; the host hands them back
// inside events, which arrive through a long-poll and run in arrival order.
const char kShim[] = R"JS((function () {
  'use strict';
  var base = '@BASE@';
  var methods = new Set(@METHODS@);
  var page = Math.random().toString(36).slice(2) + Date.now().toString(36);
  var E_UNKNOWNNAME = -2147352570;
  var objects = [], ids = new Map(), wrappers = Object.create(null);
  var state = { page: page, window: @WINDOW@, closed: false, errors: [] };
  state.after = @AFTER@;   // the last event queued before this page: it takes those that follow

  function idOf(value) {
    var id = ids.get(value);
    if (id === undefined) { id = objects.length; objects.push(value); ids.set(value, id); }
    return id;
  }
  function encode(v) {
    if (typeof v === 'string') return 's:' + encodeURIComponent(v);
    if (typeof v === 'boolean') return 'b:' + (v ? 1 : 0);
    if (typeof v === 'number')
      return (Number.isInteger(v) && v >= -2147483648 && v <= 2147483647) ? 'i:' + v : 'd:' + v;
    if (v === null) return 'n:';
    if (v === undefined) return 'u:';
    return 'f:' + idOf(v);
  }
  function decode(v) {
    if (v && typeof v === 'object') return v.page === page ? objects[v.fn] : undefined;
    return v;
  }
  function failure(name, hr) {
    var error = new Error('window.external.' + name + ' failed with 0x' + (hr >>> 0).toString(16).toUpperCase());
    error.number = hr;
    return error;
  }
  function request(operation, name, args) {
    var lines = [operation, encodeURIComponent(name)];
    for (var i = 0; i < args.length; ++i) lines.push(encode(args[i]));
    var xhr = new XMLHttpRequest();
    xhr.open('POST', base + 'call', false);
    xhr.setRequestHeader('Content-Type', 'application/x-devhost-call');
    xhr.setRequestHeader('X-Devhost-Page', page);
    xhr.send(lines.join('\n'));
    if (xhr.status === 0) state.closed = true;   // the host process has gone (terminateWindow)
    if (xhr.status !== 200) throw new Error('window.external.' + name + ': the host answered ' + xhr.status);
    return JSON.parse(xhr.responseText);
  }
  // A credential prompt of the stub shows as this page's own dialogs: user name and password,
  // then whether to remember them. The answer goes back once, by whichever way it came.
  var asked = new Set();
  function credentials(ask) {
    asked.add(ask.id);
    var who = (ask.proxy ? 'The proxy server ' : 'The server ') + ask.target +
              ' asks for a user name and password.' + (ask.retry ? ' The last ones were refused.' : '');
    var user = window.prompt(who + '\nUser name:', '');
    var password = user === null ? null : window.prompt(who + '\nPassword:', '');
    var given = user !== null && password !== null;
    var remember = given && window.confirm('Remember the user name and password for ' + ask.target + '?');
    return request('credentials', String(ask.id), [given, given ? user : '', given ? password : '', remember]);
  }

  // A message box the call opened shows as this page's own dialog; its button goes back.
  function call(name, args) {
    var answer = request('call', name, args);
    while (answer.dialog || answer.credentials) {
      if (answer.credentials) { answer = credentials(answer.credentials); continue; }
      var box = answer.dialog, message = (box.caption ? box.caption + '\n\n' : '') + box.text, button = 'ok';
      if (box.buttons.indexOf('cancel') >= 0) button = window.confirm(message) ? 'ok' : 'cancel';
      else window.alert(message);
      answer = request('answer', button, []);
    }
    if (answer.hr < 0) throw failure(name, answer.hr);
    return decode(answer.value);
  }

  var external = new Proxy({}, {
    get: function (target, name) {
      if (typeof name !== 'string') return undefined;
      if (methods.has(name))
        return wrappers[name] || (wrappers[name] = function () { return call(name, Array.prototype.slice.call(arguments)); });
      var answer = request('get', name, []);
      if (answer.hr === E_UNKNOWNNAME) return undefined;
      if (answer.hr < 0) throw failure(name, answer.hr);
      return decode(answer.value);
    },
    set: function (target, name, value) {
      if (typeof name !== 'string') return false;
      var answer = request('put', name, [value]);
      if (answer.hr < 0) throw failure(name, answer.hr);
      return true;
    },
    has: function (target, name) {
      return typeof name === 'string' && (methods.has(name) || request('get', name, []).hr !== E_UNKNOWNNAME);
    },
    deleteProperty: function (target, name) {
      return typeof name === 'string' && request('delete', name, []).hr >= 0;
    }
  });
  Object.defineProperty(window, 'external', { value: external, configurable: true });

  function deliver(event) {
    if (event.type === 'call') {
      if (event.page !== page) return;   // a function of a page that is gone
      var f = objects[event.fn];
      if (typeof f === 'function') {
        try { f.apply(null, event.args.map(decode)); }
        catch (e) { state.errors.push(String(e && e.stack || e)); setTimeout(function () { throw e; }); }
      }
    } else if (event.type === 'window') {
      state.window = event;
    } else if (event.type === 'closed') {
      state.closed = true;
    } else if (event.type === 'credentials' && !asked.has(event.ask.id)) {
      try { credentials(event.ask); } catch (e) { state.errors.push(String(e)); }
    }
    window.dispatchEvent(new CustomEvent('devhost', { detail: event }));
  }
  function poll() {
    fetch(base + 'events?after=' + state.after, { cache: 'no-store' })
      .then(function (r) { return r.ok ? r.json() : Promise.reject(r.status); })
      .then(function (taken) {
              state.after = taken.next;
              taken.events.forEach(deliver);
              if (!state.closed) poll();
            },
            function (status) {
              // A refused connection means the host has gone; an error answer is worth another try.
              if (typeof status !== 'number') deliver({ type: 'closed' });
              else if (!state.closed) setTimeout(poll, 500);
            });
  }
  window.devhost = state;
  if (state.window) setTimeout(function () { deliver(state.window); });
  poll();
})();
)JS";

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}
} // namespace

std::string BuildShim(const std::string& base, const std::string& methods, const std::string& windowState,
                      unsigned long long lastEvent) {
    std::string shim = kShim;
    ReplaceAll(shim, "@BASE@", base);
    ReplaceAll(shim, "@METHODS@", methods);
    ReplaceAll(shim, "@WINDOW@", windowState);
    ReplaceAll(shim, "@AFTER@", std::to_string(lastEvent));
    return shim;
}

} // namespace devhost
