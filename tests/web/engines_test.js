// The page in Chromium, Firefox and WebKit, each from file:// and from a
// server on 127.0.0.1 that the test starts: the example by the chooser and
// by a drop, lists from the fuzz corpus, a list of several pieces, the two
// ways of dropping several files, and a file changed while it is read. The
// download's bytes and the console's bytes are held to what the native
// program leaves in a folder with the same code.txt. Any error or policy
// violation that an engine reports, and any request for a file the page
// does not have, fails the case.
//
//   node engines_test.js PAGE NATIVE EXAMPLE CORPUS [--engine NAME]...
//
// Chromium and Firefox are driven by puppeteer-core (Firefox over WebDriver
// BiDi), WebKitGTK through WebKitWebDriver, which needs a display (run it
// under xvfb-run). WebKitWebDriver passes on nothing that the page logs, so
// there the page's own error and policy events are what is watched.
'use strict';

const child_process = require('child_process');
const fs = require('fs');
const http = require('http');
const net = require('net');
const os = require('os');
const path = require('path');
const puppeteer = require('puppeteer-core');

const argv = process.argv.slice(2);
const option = (name) => {
  const values = [];
  for (let at = argv.indexOf(name); at >= 0; at = argv.indexOf(name, at + 2)) {
    values.push(argv[at + 1]);
    argv.splice(at, 2, '', '');
  }
  return values;
};
const chosen_engines = option('--engine');
const [page_folder, native, example_path, corpus] = argv.filter((a) => a !== '').map((p) => path.resolve(p));
const page_files = new Set(fs.readdirSync(page_folder).map((name) => '/' + name));
// The test's own files, made in main().
let work;

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// What the native program prints and leaves in a folder holding `code_txt`.
function native_run(code_txt) {
  const folder = fs.mkdtempSync(path.join(work, 'native-'));
  fs.writeFileSync(path.join(folder, 'code.txt'), code_txt);
  const done = child_process.spawnSync(native, [], { cwd: folder, maxBuffer: 1 << 30 });
  const written = path.join(folder, 'code_new.txt');
  return { status: done.status, console: done.stdout, file: fs.existsSync(written) ? fs.readFileSync(written) : null };
}

// A server for the page, which notes every request for anything else.
function serve() {
  const strays = [];
  const server = http.createServer((request, response) => {
    const name = new URL(request.url, 'http://x').pathname;
    if (!page_files.has(name)) {
      strays.push(name);
      response.statusCode = 404;
      response.end();
      return;
    }
    const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };
    response.setHeader('Content-Type', (types[path.extname(name)] || 'application/octet-stream') + '; charset=utf-8');
    response.end(fs.readFileSync(path.join(page_folder, name)));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({ server, strays })));
}

// In the page: its own errors and the policy's refusals, where the engine
// tells the test nothing of them.
function watch_page() {
  window.test_errors = [];
  const note = (what) => window.test_errors.push(what);
  addEventListener('error', (event) => note('error: ' + event.message));
  addEventListener('unhandledrejection', (event) => note('rejection: ' + event.reason));
  document.addEventListener('securitypolicyviolation', (event) =>
    note('policy: ' + event.violatedDirective + ' ' + event.blockedURI));
  for (const kind of ['error', 'warn']) {
    const original = console[kind];
    console[kind] = (...words) => {
      note(kind + ': ' + words.join(' '));
      original.apply(console, words);
    };
  }
}

async function puppeteer_engine(options) {
  const browser = await puppeteer.launch({ headless: true, ...options });
  const page = await browser.newPage();
  const errors = [];
  const note = (message) => {
    if (['error', 'warn', 'warning', 'assert'].includes(message.type())) errors.push(message.type() + ': ' + message.text());
  };
  page.on('console', note);
  page.on('pageerror', (error) => errors.push('uncaught: ' + error.message));
  // What a worker logs, the policy's refusals among them, comes to the test
  // only from the worker's own session (Chromium); Firefox reports it as
  // the page's.
  page.on('workercreated', (worker) => {
    worker.on('console', note);
    let session;
    try {
      session = worker.client;
    } catch {
      return;
    }
    session.on('Log.entryAdded', ({ entry }) => {
      if (entry.level === 'error' || entry.level === 'warning') errors.push(`worker ${entry.level}: ${entry.text}`);
    });
    session.send('Log.enable').catch(() => {});
  });
  return {
    async open(url) {
      await page.goto(url);
    },
    evaluate: (fn, ...args) => page.evaluate(fn, ...args),
    async choose(file) {
      await (await page.$('#file')).uploadFile(file);
    },
    errors: () => errors.splice(0),
    close: () => browser.close(),
  };
}

// A W3C WebDriver session of WebKitWebDriver's MiniBrowser.
async function webkit_engine() {
  const [browser_path] = fs.readdirSync('/usr/lib', { withFileTypes: true })
    .map((entry) => `/usr/lib/${entry.name}/webkit2gtk-4.1/MiniBrowser`)
    .filter((candidate) => fs.existsSync(candidate));
  const port = await new Promise((resolve) => {
    const probe = net.createServer().listen(0, '127.0.0.1', () => {
      const { port: free } = probe.address();
      probe.close(() => resolve(free));
    });
  });
  const driver = child_process.spawn('WebKitWebDriver', [`--port=${port}`], { stdio: 'ignore' });
  const call = async (method, route, body) => {
    const response = await fetch(`http://127.0.0.1:${port}${route}`, {
      method,
      headers: { 'Content-Type': 'application/json' },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    const answer = await response.json();
    if (answer.value && answer.value.error) throw new Error(`${route}: ${answer.value.error}: ${answer.value.message}`);
    return answer.value;
  };
  for (let tries = 0; ; tries++) {
    try {
      await call('GET', '/status');
      break;
    } catch (error) {
      if (tries > 100) throw error;
      await sleep(100);
    }
  }
  const { sessionId: id } = await call('POST', '/session', {
    capabilities: {
      alwaysMatch: { 'webkitgtk:browserOptions': { binary: browser_path, args: ['--automation'] } },
    },
  });
  await call('POST', `/session/${id}/timeouts`, { script: 600000 });
  return {
    async open(url) {
      await call('POST', `/session/${id}/url`, { url });
    },
    async evaluate(fn, ...args) {
      const answer = await call('POST', `/session/${id}/execute/async`, {
        script: `const done = arguments[arguments.length - 1];
          Promise.resolve((${fn})(...[...arguments].slice(0, -1)))
            .then((value) => done({ value }), (error) => done({ error: String(error) }));`,
        args,
      });
      if ('error' in answer) throw new Error(answer.error);
      return answer.value;
    },
    async choose(file) {
      const input = await call('POST', `/session/${id}/element`, { using: 'css selector', value: '#file' });
      await call('POST', `/session/${id}/element/${Object.values(input)[0]}/value`, { text: file });
    },
    errors: () => [],
    async close() {
      await call('DELETE', `/session/${id}`).catch(() => {});
      driver.kill();
    },
  };
}

const chromium_flags = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync', '--lang=en-US'];
const engines = {
  chromium: () => puppeteer_engine({ browser: 'chrome', executablePath: '/usr/bin/chromium', args: chromium_flags }),
  firefox: () => puppeteer_engine({
    browser: 'firefox',
    executablePath: '/usr/bin/firefox-esr',
    extraPrefsFirefox: { 'intl.accept_languages': 'en-US' },
  }),
  webkit: webkit_engine,
};

// What the page shows after a run: its status, its notice, the console's
// bytes and the download's bytes (base64, or null for none).
async function shown(engine) {
  return engine.evaluate(async () => {
    const base64 = (bytes) => {
      let binary = '';
      for (let at = 0; at < bytes.length; at += 0x8000) {
        binary += String.fromCharCode(...bytes.subarray(at, at + 0x8000));
      }
      return btoa(binary);
    };
    const printed = page.console;
    const link = document.getElementById('download');
    return {
      status: page.status.key,
      status_text: document.getElementById('status').textContent,
      notice: page.notice && page.notice.key,
      console: printed && { head: base64(printed.head), tail: base64(printed.tail), total: printed.total },
      download: page.download && link.href === page.download.url && !link.classList.contains('hidden')
        ? base64(new Uint8Array(await page.download.blob.arrayBuffer())) : null,
      errors: window.test_errors,
    };
  });
}

async function until_ready(engine, seconds = 120) {
  const end = Date.now() + seconds * 1000;
  while (!(await engine.evaluate(() => document.body.dataset.state === 'ready'))) {
    if (Date.now() > end) throw new Error('the page never became ready');
    await sleep(20);
  }
}

// Waits for the page to say why lines were dropped.
async function until_explained(engine) {
  await until_ready(engine);
  for (const end = Date.now() + 60000; await engine.evaluate(() => !page.explanation || page.explanation.running);) {
    if (Date.now() > end) throw new Error('the page never said why lines were dropped');
    await sleep(20);
  }
}

// Puts the page in a state to be given a file: loaded, watched, and marked
// as not yet having run.
async function open(engine, url) {
  await engine.open(url);
  await engine.evaluate(watch_page);
  await engine.evaluate(() => {
    document.body.dataset.state = '';
  });
}

async function drop(engine, files) {
  await engine.evaluate((dropped) => {
    const transfer = new DataTransfer();
    for (const [name, data] of dropped) {
      transfer.items.add(new File([Uint8Array.from(atob(data), (c) => c.charCodeAt(0))], name));
    }
    document.getElementById('drop').dispatchEvent(
      new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
  }, files.map(([name, data]) => [name, data.toString('base64')]));
}

function chosen_file(name, data) {
  const file = path.join(fs.mkdtempSync(path.join(work, 'chosen-')), name);
  fs.writeFileSync(file, data);
  return file;
}

// A list of several of the page's pieces (8 MiB each).
function long_list() {
  const lines = ['GAME01', 'Several pieces'];
  for (let i = 0; lines.length < 500000; ++i) {
    lines.push(`${(i * 2654435761 >>> 0).toString(16).toUpperCase().padStart(8, '0')} 0000${String(i % 10000).padStart(4, '0')} ; line ${i}`);
  }
  return Buffer.from(lines.join('\r\n') + '\r\n');
}

// Each case: its name, the origins it runs from, and what it does; it
// returns what the page must then show, or throws.
function cases(example) {
  const expect_run = (code_txt, name) => {
    const native_result = native_run(code_txt);
    return {
      status: native_result.status === 0 ? (native_result.console.length === 0 ? 'no_header' : 'done') : 'failed',
      console: native_result.console,
      download: native_result.status === 0 ? native_result.file : null,
      named: name,
    };
  };
  const corpus_files = fs.readdirSync(corpus).sort().map((name) => fs.readFileSync(path.join(corpus, name)));
  const list = long_list();
  const overwrite_end = (file) => {
    const handle = fs.openSync(file, 'r+');
    fs.writeSync(handle, Buffer.from('FFFFFFFF 00000000'), 0, 17, list.length - 100);
    fs.closeSync(handle);
  };
  return [
    ['the example, chosen', ['file', 'http'], async (engine) => {
      await engine.choose(chosen_file('code.txt', example));
      return expect_run(example, 'code.txt');
    }],
    ['the example, dropped', ['file', 'http'], async (engine) => {
      await drop(engine, [['code.txt', example]]);
      return expect_run(example, 'code.txt');
    }],
    ...corpus_files.map((data, i) => [`corpus list ${i + 1}, under another name`, ['http'], async (engine) => {
      await engine.choose(chosen_file('list.txt', data));
      return expect_run(data, 'list.txt');
    }]),
    // The judge reads every piece too, after the program.
    ['a list of several pieces', ['file'], async (engine) => {
      await engine.choose(chosen_file('code.txt', list));
      await until_explained(engine);
      const counts = await engine.evaluate(() => page.explanation.counts);
      const expected = expect_run(list, 'code.txt');
      const codes = expected.download.toString('latin1').split('\r\n').length - 5;
      if (!counts || counts.code_with_more !== codes) throw new Error(`the judge counted ${JSON.stringify(counts)}, not ${codes} codes`);
      return expected;
    }],
    // Where the browser cannot open folders, the page says so, and offers
    // no button that would do nothing.
    ['the folder section', ['file'], async (engine) => {
      const shown_folder = await engine.evaluate(() => ({
        can: Boolean(window.showDirectoryPicker),
        said: document.getElementById('folder-text').textContent,
        button: !document.getElementById('folder').classList.contains('hidden'),
        missing: texts.en.folder_missing,
      }));
      if (shown_folder.button !== shown_folder.can || (shown_folder.said === shown_folder.missing) === shown_folder.can) {
        throw new Error('the folder section does not say what this browser can do: ' + JSON.stringify(shown_folder));
      }
      await engine.evaluate(() => {
        document.body.dataset.state = 'ready';
      });
      return { status: 'idle', console: null, download: null };
    }],
    // Why lines were dropped: a lower-case code is listed with its reason,
    // and a byte order mark is named as why no header line was found.
    ...[['a lower-case code', Buffer.concat([example, Buffer.from('0123abcd 89ABCDEF\r\n')]), 'lower_case'],
      ['a byte order mark', Buffer.from('\xEF\xBB\xBFSCJP01\r\nTitle\r\n0123ABCD 89ABCDEF\r\n', 'latin1'), 'byte_order_mark'],
    ].map(([what, data, reason]) => [`why: ${what}`, ['http'], async (engine) => {
      await engine.choose(chosen_file('code.txt', data));
      await until_explained(engine);
      const why = await engine.evaluate(() => ({
        listed: page.explanation.listed && page.explanation.listed.map((piece) => piece.fate),
        said: document.getElementById('why-summary').textContent,
        reasons: texts.en,
      }));
      const shown = reason === 'byte_order_mark' ? why.said.includes(why.reasons.no_header_byte_order_mark)
        : why.listed.includes(reason) && (await engine.evaluate(() => document.getElementById('mistakes').textContent))
          .includes(why.reasons['fate_' + reason]);
      if (!shown) throw new Error(`the page does not say ${reason}: ${why.said} ${JSON.stringify(why.listed)}`);
      return expect_run(data, 'code.txt');
    }]),
    ['several files, code.txt among them', ['http'], async (engine) => {
      await drop(engine, [['notes.txt', Buffer.from('notes\r\n')], ['code.txt', example]]);
      return { ...expect_run(example, 'code.txt'), notice: 'took_code_txt' };
    }],
    ['several files, none of them code.txt', ['http'], async (engine) => {
      await drop(engine, [['notes.txt', Buffer.from('notes\r\n')], ['list.txt', example]]);
      await engine.evaluate(() => {
        document.body.dataset.state = 'ready';
      });
      return { status: 'idle', console: null, download: null, notice: 'several_files' };
    }],
    // One of the page's streams of the file (the first, which takes stock,
    // the second, the run's, or the third, the judge's) is held back until
    // the file has changed: its end, which the program has not reached,
    // overwritten in place, its size kept, or a line added. The run must
    // fail with the program's read error, and offer nothing; only a browser
    // that still reads the file as it was chosen (WebKit, of a file that
    // grew) may give that file's result instead. Never one that mixes the
    // two. A file changed after the run keeps its result, but the page
    // gives no reasons for what the file no longer holds.
    ...[['a file changed in place while it is read', 2, overwrite_end],
      ['a file grown once it was chosen', 1, (file) => fs.appendFileSync(file, '0123ABCD 89ABCDEF\r\n')],
      ['a file changed while the reasons are read', 3, overwrite_end],
    ].map(([what, held_stream, change]) => [what, ['file'], async (engine) => {
      const file = chosen_file('code.txt', list);
      await engine.evaluate((held_one) => {
        const stream = Blob.prototype.stream;
        let streams = 0;
        const held = new Promise((resolve) => {
          window.test_release = resolve;
        });
        Blob.prototype.stream = function () {
          if (++streams !== held_one) return stream.call(this);
          const blob = this;
          let reader = null;
          return new ReadableStream({
            async pull(controller) {
              await held;
              reader = reader || stream.call(blob).getReader();
              const { done, value } = await reader.read();
              if (done) controller.close();
              else controller.enqueue(value);
            },
          });
        };
        window.test_streams = () => streams;
      }, held_stream);
      await engine.choose(file);
      for (const end = Date.now() + 60000; (await engine.evaluate(() => window.test_streams())) < held_stream;) {
        if (Date.now() > end) throw new Error('the page never began to read');
        await sleep(20);
      }
      change(file);
      await engine.evaluate(() => window.test_release());
      if (held_stream === 3) {
        await until_explained(engine);
        if (!(await engine.evaluate(() => Boolean(page.explanation.failed)))) throw new Error('the page gave reasons for a changed file');
        return expect_run(list, 'code.txt');
      }
      // "ファイル読み込みエラー" (file read error) and CR LF
      const read_error = Buffer.from('837483408343838b93c782dd8d9e82dd83478389815b0d0a', 'hex');
      return { status: 'failed', console: read_error, console_ends: true, download: null, named: 'code.txt',
        or: held_stream === 1 ? expect_run(list, 'code.txt') : undefined };
    }]),
  ];
}

async function run_engine(name, example, server) {
  const engine = await engines[name]();
  const origins = { file: 'file://' + page_folder + '/index.html', http: `http://127.0.0.1:${server.server.address().port}/index.html` };
  let passed = 0;
  let failed = 0;
  try {
    for (const [case_name, case_origins, act] of cases(example)) {
      for (const origin of case_origins) {
        const label = `${name}, ${origin}: ${case_name}`;
        const problems = [];
        try {
          engine.errors();
          await open(engine, origins[origin]);
          let want = await act(engine);
          await until_ready(engine);
          const got = await shown(engine);
          if (want.or && got.status === want.or.status) want = want.or;
          const bytes = (base64) => (base64 === null ? null : Buffer.from(base64, 'base64'));
          if (got.status !== want.status) problems.push(`status ${got.status}, not ${want.status}: ${got.status_text}`);
          if ((got.notice || undefined) !== want.notice) problems.push(`notice ${got.notice}, not ${want.notice}`);
          if (want.named && !got.status_text.includes(want.named)) problems.push(`the status does not name ${want.named}: ${got.status_text}`);
          // The console keeps its first 256 KiB and its last 64 KiB, and
          // counts all.
          const head = got.console && bytes(got.console.head);
          const tail = got.console && bytes(got.console.tail);
          const console_ok = !want.console ? !got.console : got.console && (want.console_ends
            ? Buffer.concat([head, tail]).subarray(-want.console.length).equals(want.console)
            : got.console.total === want.console.length && head.equals(want.console.subarray(0, 256 * 1024)) &&
              tail.equals(want.console.subarray(head.length).subarray(-64 * 1024)));
          if (!console_ok) problems.push('the console is not what the native program printed');
          if (String(got.download && bytes(got.download).toString('hex')) !== String(want.download && want.download.toString('hex'))) {
            problems.push('the download is not the native program\'s code_new.txt');
          }
          problems.push(...engine.errors(), ...got.errors, ...server.strays.splice(0).map((stray) => 'asked the server for ' + stray));
        } catch (error) {
          problems.push(String(error && error.stack || error));
        }
        if (problems.length === 0) {
          ++passed;
          console.log('ok: ' + label);
        } else {
          ++failed;
          console.log(`FAIL: ${label}: ${problems.join('; ')}`);
        }
      }
    }
  } finally {
    await engine.close();
  }
  return { passed, failed };
}

async function main() {
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'codelist-engines-'));
  const server = await serve();
  const names = chosen_engines.length ? chosen_engines : Object.keys(engines);
  let passed = 0;
  let failed = 0;
  try {
    for (const name of names) {
      const counts = await run_engine(name, fs.readFileSync(example_path), server);
      passed += counts.passed;
      failed += counts.failed;
    }
  } finally {
    server.server.close();
    fs.rmSync(work, { recursive: true, force: true });
  }
  console.log(`${passed} passed, ${failed} failed, 0 skipped`);
  process.exitCode = failed === 0 ? 0 : 1;
}

// The benchmark drives the page through the same engines.
module.exports = { engines, serve, open, until_ready };
if (require.main === module) {
  main().catch((error) => {
    console.log('FAIL: ' + (error && error.stack || error));
    process.exitCode = 1;
  });
}
