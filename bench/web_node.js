// One run of the WebAssembly program under node on LIST, kept in memory as
// the page's tests keep it. Prints the CPU time (user + system, as the
// kernel accounts it) of the run alone, in milliseconds: node's start and
// the reading of LIST into memory are left out.
//
//   node bench/web_node.js MODULE RUN_JS LIST
'use strict';
const fs = require('fs');
const path = require('path');
const [module_path, run_path, list] = process.argv.slice(2).map((p) => path.resolve(p));
const { run_codelist, bytes_source } = require(run_path);
const create_codelist = require(module_path);
const wasm_binary = fs.readFileSync(module_path.replace(/\.js$/, '.wasm'));
const bytes = new Uint8Array(fs.readFileSync(list));
const before = process.cpuUsage();
run_codelist(create_codelist, { wasm_binary, code_txt: bytes_source(bytes) }).then((result) => {
  const used = process.cpuUsage(before);
  if (result.status !== 0) throw new Error(`exit status ${result.status}`);
  console.log(((used.user + used.system) / 1000).toFixed(3));
});
