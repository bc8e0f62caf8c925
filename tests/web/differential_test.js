// The WebAssembly program under node against the native program, built from
// the same sources: the same console bytes, the same code_new.txt and the
// same exit status, on the example, the fuzz corpus, hundreds of lists made
// from a fixed seed and the folder shapes the page can show the program.
// All in one node process, with a fresh module instance for every case.
//
//   node differential_test.js MODULE RUN_JS NATIVE EXAMPLE CORPUS_FOLDER
'use strict';

const assert = require('assert');
const child_process = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');

const [module_path, run_path, native, example, corpus] = process.argv.slice(2).map((p) => path.resolve(p));
const create_codelist = require(module_path);
const wasm_binary = fs.readFileSync(module_path.replace(/\.js$/, '.wasm'));
const { run_codelist, explain_codelist, bytes_source } = require(run_path);

// A small generator with a fixed seed, so that every run sees the same lists.
function random_source(seed) {
  return () => {
    seed = (seed + 0x6d2b79f5) | 0;
    let t = Math.imul(seed ^ (seed >>> 15), 1 | seed);
    t = (t + Math.imul(t ^ (t >>> 7), 61 | t)) ^ t;
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

const random = random_source(24);
const pick = (items) => items[Math.floor(random() * items.length)];
const hex = (n, digits) => Array.from({ length: digits }, () => pick(n)).join('');

// Lines of every kind the rules tell apart, with every kind of line end.
function random_list() {
  const upper = '0123456789ABCDEF';
  const kinds = [
    () => Buffer.from('GAME01'),
    () => Buffer.from('Title line'),
    () => Buffer.from('ab\x00def'),
    () => Buffer.from(`${hex(upper, 8)} ${hex(upper, 8)}`),
    () => Buffer.from(`${hex(upper, 8)} ${hex(upper, 8)} ; note`),
    () => Buffer.from(`${hex(upper, 8)}  ${hex(upper, 8)}`),
    () => Buffer.from(`${hex('0123456789abcdef', 8)} ${hex(upper, 8)}`),
    () => Buffer.from('\x83\x81\x83\x82 \x82\xa0'),
    () => Buffer.from('ゲーム'),
    () => Buffer.from(''),
    () => Buffer.from('x'.repeat(150 + Math.floor(random() * 300))),
    () => Buffer.from(`${'y'.repeat(199)}${hex(upper, 8)} ${hex(upper, 8)}`),
    () => Buffer.from(`${hex(upper, 8)} ${hex(upper, 8)}${'z'.repeat(200)}`),
    () => Buffer.from(`${hex(upper, 4)}\r${hex(upper, 4)} ${hex(upper, 8)}`),
    () => Buffer.from([0, 0, 0x0d, 0]),
  ];
  const ends = ['\r\n', '\r\n', '\r\n', '\n', '\r', ''];
  const parts = [];
  const lines = Math.floor(random() * 60);
  for (let i = 0; i < lines; ++i) {
    parts.push(pick(kinds)(), Buffer.from(pick(ends)));
    if (random() < 0.01) parts.push(Buffer.from('\x1a'));
  }
  return Buffer.concat(parts);
}

// A list whose echo is far longer than the console keeps.
function long_list() {
  const lines = ['GAME01', 'Long list'];
  for (let i = 0; i < 60000; ++i) lines.push(`${(i * 2654435761 >>> 0).toString(16).toUpperCase().padStart(8, '0')} 0000${String(i % 10000).padStart(4, '0')}`);
  return Buffer.from(lines.join('\r\n') + '\r\n');
}

// Each case: a name, code.txt (bytes, 'folder' or null) and code_new.txt
// before the run (bytes, 'folder' or undefined for none).
const cases = [
  { name: 'example', code_txt: fs.readFileSync(example) },
  { name: 'long echo', code_txt: long_list() },
  { name: 'no code.txt', code_txt: null },
  { name: 'no code.txt, code_new.txt there', code_txt: null, code_new_txt: Buffer.from('old\r\n') },
  { name: 'code.txt a folder', code_txt: 'folder' },
  { name: 'code_new.txt a folder', code_txt: fs.readFileSync(example), code_new_txt: 'folder' },
  { name: 'no header line, code_new.txt there', code_txt: Buffer.from('a\r\nb\r\n'), code_new_txt: Buffer.from('old\r\n') },
  { name: 'empty code.txt', code_txt: Buffer.alloc(0) },
  ...fs.readdirSync(corpus).sort().map((name) => ({ name: `corpus ${name}`, code_txt: fs.readFileSync(path.join(corpus, name)) })),
  ...Array.from({ length: 400 }, (_, i) => ({ name: `random ${i}`, code_txt: random_list() })),
];

function run_native(scratch, job) {
  fs.rmSync(scratch, { recursive: true, force: true });
  fs.mkdirSync(scratch);
  const place = (name, what) => {
    if (what === 'folder') fs.mkdirSync(path.join(scratch, name));
    else if (what) fs.writeFileSync(path.join(scratch, name), what);
  };
  place('code.txt', job.code_txt);
  place('code_new.txt', job.code_new_txt);
  const done = child_process.spawnSync(native, [], { cwd: scratch, stdio: ['ignore', 'pipe', 'inherit'], maxBuffer: 1 << 30 });
  const written = path.join(scratch, 'code_new.txt');
  let file = fs.existsSync(written) && fs.statSync(written).isFile() ? fs.readFileSync(written) : Buffer.alloc(0);
  // A refused run leaves code_new.txt as it was; the page then writes nothing.
  if (done.status !== 0 && Buffer.isBuffer(job.code_new_txt) && file.equals(job.code_new_txt)) file = Buffer.alloc(0);
  return { status: done.status, console: done.stdout, file };
}

// The file that the pieces the judge calls kept make, as the program
// writes them: the header line, the line after it, the heading, then each
// code, every line feed as CR LF.
function kept_file(report) {
  const lines = report.toString('latin1').split('\r\n');
  if (lines[lines.length - 2] !== 'end') throw new Error('the report is not whole');
  const kept = lines.map((line) => line.split(' ')).filter(([group]) => group === 'kept')
    .map(([, , fate, hex]) => ({ fate, bytes: Buffer.from(hex, 'hex') }));
  const in_block = (piece) => piece.fate === 'header' || piece.fate === 'after_header';
  const block = kept.filter(in_block).map((piece) => piece.bytes);
  const codes = kept.filter((piece) => !in_block(piece)).map((piece) => Buffer.concat([piece.bytes.subarray(0, 17), Buffer.from('\n')]));
  const file = block.length > 0 ? Buffer.concat([...block, Buffer.from('\nCode\n'), ...codes]) : Buffer.alloc(0);
  return Buffer.from(file.toString('latin1').replace(/\n/g, '\r\n'), 'latin1');
}

// Pieces of every size, so that a read waits for its piece at every kind
// of place: inside a line, at its line end, between a CR and its LF. Not so
// small that a long list takes thousands of waits.
function piece_size_for(bytes) {
  return Math.max(pick([1, 13, 199, 200, 4096, 65536]), Math.ceil(bytes.length / 1000));
}

async function main() {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'codelist-web-'));
  let failed = 0;
  const fail = (name, why) => {
    ++failed;
    console.log(`FAIL: ${name}: ${why}`);
  };
  for (const job of cases) {
    const expected = run_native(path.join(scratch, 'native'), job);
    const code_txt = job.code_txt === 'folder' || job.code_txt === null ? job.code_txt
      : bytes_source(new Uint8Array(job.code_txt), piece_size_for(job.code_txt));
    const got = await run_codelist(create_codelist, { wasm_binary, code_txt, code_new_txt: job.code_new_txt === 'folder' ? 'folder' : 'file' });
    // The console keeps its first 256 KiB and its last 64 KiB, and counts all.
    const head = expected.console.subarray(0, 256 * 1024);
    const want = { status: expected.status, changed: false, total: expected.console.length, head,
      tail: expected.console.subarray(head.length).subarray(-64 * 1024), file: expected.file };
    const have = { status: got.status, changed: got.changed, total: got.console.total, head: Buffer.from(got.console.head),
      tail: Buffer.from(got.console.tail), file: Buffer.from(await got.file.blob.arrayBuffer()) };
    try {
      for (const key of Object.keys(want)) assert.deepStrictEqual(have[key], want[key], key);
      // Every line that the judge calls kept is a line of code_new.txt, and
      // every line of code_new.txt one that it calls kept, in order.
      if (expected.status === 0 && job.code_txt !== 'folder' && job.code_txt !== null) {
        const judged = await explain_codelist(create_codelist, { wasm_binary, code_txt: bytes_source(new Uint8Array(job.code_txt)) }, -1);
        assert.strictEqual(judged.status, 0, 'the judge ended');
        assert.deepStrictEqual(kept_file(Buffer.from(judged.report)), expected.file, 'the judge');
      }
    } catch (error) {
      fail(job.name, error.message.split('\n')[0]);
    }
  }
  // A piece that cannot be had (the browser can no longer read the file)
  // and a file that changed while it was read fail the run with the
  // program's read error. A change that the program never reached, past a
  // Ctrl-Z, is told apart.
  // "ファイル読み込みエラー" (file read error) and CR LF
  const read_error = Buffer.from('837483408343838b93c782dd8d9e82dd83478389815b0d0a', 'hex');
  const example_bytes = new Uint8Array(fs.readFileSync(example));
  const broken = [
    { name: 'a piece cannot be read', bytes: example_bytes, piece: (i) => i === 2, same: true, status: 1, changed: false },
    { name: 'changed while it was read', bytes: example_bytes, piece: () => false, same: false, status: 1, changed: false },
    { name: 'changed past a Ctrl-Z', bytes: Buffer.from('GAME01\r\nTitle\r\n\x1a0123ABCD 89ABCDEF\r\n'), piece: () => false,
      same: false, status: 0, changed: true },
  ];
  for (const row of broken) {
    const source = bytes_source(row.bytes, 40);
    const piece = source.piece;
    source.piece = (i) => (row.piece(i) ? Promise.reject(new Error('NotReadableError')) : piece(i));
    source.unchanged = () => Promise.resolve(row.same);
    const got = await run_codelist(create_codelist, { wasm_binary, code_txt: source });
    const shown = Buffer.from(got.console.tail.length ? got.console.tail : got.console.head);
    const ends_in_error = shown.subarray(-read_error.length).equals(read_error);
    if (got.status !== row.status || got.changed !== row.changed || ends_in_error !== (row.status === 1)) {
      fail(row.name, `status ${got.status}, changed ${got.changed}, console ends ${shown.subarray(-24).toString('hex')}`);
    }
  }
  fs.rmSync(scratch, { recursive: true, force: true });
  console.log(`${cases.length + broken.length - failed} passed, ${failed} failed, 0 skipped`);
  process.exitCode = failed === 0 ? 0 : 1;
}

main();
