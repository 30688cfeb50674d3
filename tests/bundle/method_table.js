// Reads stubframework/MethodTable.txt: { name: { flags, args, result } }, args a string of
// type letters in script order (null: any), flags a number (null: any), result a letter or "".
"use strict";
const fs = require("fs");
const path = require("path");

function readMethodTable() {
  const file = path.join(__dirname, "..", "..", "stubframework", "MethodTable.txt");
  const table = {};
  fs.readFileSync(file, "utf8").split(/\r?\n/).forEach((line, index) => {
    if (line.trim() === "" || line.startsWith("#")) return;
    const fields = line.trim().split(/\s+/);
    const [name, flags, args, result] = fields;
    if (fields.length !== 4 || !/^(1|3|\*)$/.test(flags) || !/^(-|\*|[SBIFV]+)$/.test(args) ||
        !/^[-SBIU]$/.test(result) || name in table) {
      throw new Error(`${file}:${index + 1}: not a method row: ${line}`);
    }
    table[name] = {
      flags: flags === "*" ? null : Number(flags),
      args: args === "*" ? null : args === "-" ? "" : args,
      result: result === "-" ? "" : result
    };
  });
  return table;
}

module.exports = { readMethodTable };
