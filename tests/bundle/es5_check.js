// Parses every script of the staged bundle (files and inline blocks) as ES5, refuses library
// members IE11 lacks, and checks each
// call on appExternal against the method table: known name, argument count, and the dispatch
// flags the native side expects (a result-bearing method with arguments must have its value
// used, a method without a result must not).
//   node es5_check.js STAGED_BUNDLE_DIR
"use strict";
const fs = require("fs");
const path = require("path");
const acorn = require("acorn");

const { readMethodTable } = require("./method_table");

const TABLE = readMethodTable();

// Library members that ES5 syntax admits but IE11's script engine lacks.
const MISSING_METHODS = new Set(["includes", "startsWith", "endsWith", "repeat", "padStart", "padEnd", "findIndex",
  "codePointAt", "normalize", "flat", "flatMap"]);
const MISSING_GLOBALS = new Set(["Promise", "Symbol", "Map", "Set", "WeakMap", "WeakSet", "Proxy", "Reflect", "fetch"]);
const MISSING_STATICS = { Object: ["assign", "entries", "values", "is"], Array: ["from", "of"], Number: ["isInteger", "isNaN"] };

const problems = [];
let scripts = 0, externalCalls = 0;

function walk(node, parent, visit) {
  if (!node || typeof node.type !== "string") return;
  visit(node, parent);
  for (const key of Object.keys(node)) {
    const child = node[key];
    if (Array.isArray(child)) child.forEach((c) => walk(c, node, visit));
    else if (child && typeof child.type === "string") walk(child, node, visit);
  }
}

function checkSource(source, where, lineOffset) {
  scripts++;
  let ast;
  try {
    ast = acorn.parse(source, { ecmaVersion: 5, sourceType: "script", locations: true });
  } catch (e) {
    problems.push(`${where}:${(e.loc ? e.loc.line : 0) + lineOffset}: not ES5: ${e.message}`);
    return;
  }
  walk(ast, null, (node, parent) => {
    if (node.type === "Identifier" && MISSING_GLOBALS.has(node.name) &&
        !(parent && parent.type === "MemberExpression" && parent.property === node && !parent.computed)) {
      problems.push(`${where}:${node.loc.start.line + lineOffset}: ${node.name} does not exist in IE11`);
    }
    if (node.type === "MemberExpression" && !node.computed && node.object.type === "Identifier" &&
        (MISSING_STATICS[node.object.name] || []).indexOf(node.property.name) >= 0) {
      problems.push(`${where}:${node.loc.start.line + lineOffset}: ${node.object.name}.${node.property.name} does not exist in IE11`);
    }
    if (node.type !== "CallExpression" || node.callee.type !== "MemberExpression") return;
    if (!node.callee.computed && MISSING_METHODS.has(node.callee.property.name)) {
      problems.push(`${where}:${node.loc.start.line + lineOffset}: .${node.callee.property.name}() does not exist in IE11`);
    }
    const obj = node.callee.object, prop = node.callee.property;
    if (obj.type !== "Identifier" || obj.name !== "appExternal" || node.callee.computed) return;
    externalCalls++;
    const line = `${where}:${node.loc.start.line + lineOffset}`;
    const row = Object.prototype.hasOwnProperty.call(TABLE, prop.name) ? TABLE[prop.name] : null;
    if (!row) {
      problems.push(`${line}: appExternal.${prop.name} is not in the method table`);
      return;
    }
    const count = row.args === null ? null : row.args.length;
    const flags3 = row.flags === 3;
    if (count !== null && node.arguments.length !== count) {
      problems.push(`${line}: appExternal.${prop.name} takes ${count} arguments, called with ${node.arguments.length}`);
    }
    const valueUnused = parent && parent.type === "ExpressionStatement";
    if (flags3 && valueUnused) {
      problems.push(`${line}: appExternal.${prop.name} must have its value used (the method expects a result request)`);
    }
    if (row.result === "" && count > 0 && !valueUnused) {
      problems.push(`${line}: appExternal.${prop.name} has no result; call it as a statement`);
    }
  });
}

function visitDir(dir) {
  for (const entry of fs.readdirSync(dir, { withFileTypes: true })) {
    const file = path.join(dir, entry.name);
    const rel = path.relative(root, file);
    if (entry.isDirectory()) {
      visitDir(file);
    } else if (entry.name.endsWith(".js")) {
      checkSource(fs.readFileSync(file, "utf8"), rel, 0);
    } else if (entry.name.endsWith(".html")) {
      const html = fs.readFileSync(file, "utf8");
      const re = /<script(?![^>]*\bsrc=)[^>]*>([\s\S]*?)<\/script>/gi;
      let m;
      while ((m = re.exec(html)) !== null) {
        const line = html.substring(0, m.index + m[0].indexOf(">") + 1).split("\n").length - 1;
        checkSource(m[1], rel, line);
      }
    }
  }
}

const root = path.resolve(process.argv[2] || "");
if (!fs.existsSync(path.join(root, "Load.html"))) {
  console.error(`es5_check: no staged bundle in ${root}`);
  process.exit(2);
}
visitDir(root);
problems.forEach((p) => console.log(p));
console.log(`es5_check: ${scripts} scripts, ${externalCalls} calls on appExternal`);
const ok = problems.length === 0 && scripts > 20 && externalCalls > 50;
console.log(`${ok ? 1 : 0} passed, ${ok ? 0 : 1} failed`);
process.exit(ok ? 0 : 1);
