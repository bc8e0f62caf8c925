// The page in each browser the tests drive (Chromium, Firefox, WebKit),
// served from 127.0.0.1, on LIST: for each, the wall seconds from choosing
// the list to the result, the CPU seconds that the browser's processes used
// meanwhile (user + system, as the kernel accounts it), and the peak memory
// of the largest of them (the page's) and of all of them together, in MiB.
//
//   node bench/web_browsers.js PAGE LIST   (under xvfb-run, for WebKit)
'use strict';
const fs = require('fs');
const path = require('path');
const [page_folder, list] = process.argv.slice(2).map((p) => path.resolve(p));
// The browser test's engines and page serving, which take the page folder
// as their first argument.
process.argv.splice(2, process.argv.length, page_folder, '', '', '');
const { engines, serve, open, until_ready } = require('../tests/web/engines_test.js');

// Of each process that this one started, the browser's among them, and of
// theirs: its resident memory in KiB, and the CPU it has used, user and
// system, in clock ticks.
function descendants() {
  const fields_of = new Map();
  for (const pid of fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      fields_of.set(pid, stat.slice(stat.lastIndexOf(')') + 2).split(' '));
    } catch {}
  }
  const ours = (pid) => pid === String(process.pid) || (fields_of.has(pid) && pid !== '1' && ours(fields_of.get(pid)[1]));
  const found = [];
  for (const [pid, fields] of fields_of) {
    if (pid === String(process.pid) || !ours(pid)) continue;
    try {
      const memory = Number(/VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'))[1]);
      found.push({ memory, ticks: Number(fields[11]) + Number(fields[12]) });
    } catch {}
  }
  return found;
}

// Prints the wall seconds from choosing the list to the result, the CPU
// seconds that the browser's processes used meanwhile, and the peak memory
// of the largest of them (the page's) and of all of them together, in MiB.
async function time_engine(name, server) {
  const engine = await engines[name]();
  try {
    await open(engine, `http://127.0.0.1:${server.server.address().port}/index.html`);
    const ticks = () => descendants().reduce((sum, process) => sum + process.ticks, 0);
    const peak = { one: 0, all: 0 };
    const sampler = setInterval(() => {
      const memory = descendants().map((process) => process.memory);
      peak.one = Math.max(peak.one, ...memory);
      peak.all = Math.max(peak.all, memory.reduce((a, b) => a + b, 0));
    }, 100);
    const ticks_before = ticks();
    const began = Date.now();
    await engine.choose(list);
    await until_ready(engine, 1800);
    const seconds = (Date.now() - began) / 1000;
    const cpu = (ticks() - ticks_before) / 100;
    clearInterval(sampler);
    const { status } = await engine.evaluate(() => ({ status: page.status.key }));
    console.log(`${name} ${seconds.toFixed(2)} ${cpu.toFixed(2)} ${status} ${(peak.one / 1024).toFixed(0)} ${(peak.all / 1024).toFixed(0)}`);
  } finally {
    await engine.close();
  }
}

(async () => {
  const server = await serve();
  try {
    for (const name of Object.keys(engines)) await time_engine(name, server);
  } finally {
    server.server.close();
  }
})();
