// One run of codelist, in a fresh instance of the WebAssembly module: the
// page's worker and the tests under node both come through here. The
// program works in /work, as it works in the current folder anywhere else;
// this file only gives it the folder it is asked to see and takes back the
// bytes it printed and wrote.
'use strict';

// A huge echo would fill memory: the console keeps its first and last bytes
// and counts the rest.
const console_head_size = 256 * 1024;
const console_tail_size = 64 * 1024;
// Written bytes are gathered into a Blob every so often, which the browser
// may keep on disk, rather than as many small arrays.
const blob_every = 16 * 1024 * 1024;
const eio = 29;

function console_capture() {
  const head = new Uint8Array(console_head_size);
  const tail = new Uint8Array(console_tail_size);
  let head_length = 0;
  let past_head = 0;
  return {
    take(bytes) {
      const into_head = Math.min(bytes.length, console_head_size - head_length);
      head.set(bytes.subarray(0, into_head), head_length);
      head_length += into_head;
      let rest = bytes.subarray(into_head);
      const skipped = Math.max(0, rest.length - console_tail_size);
      rest = rest.subarray(skipped);
      past_head += skipped;
      while (rest.length > 0) {
        const at = past_head % console_tail_size;
        const n = Math.min(rest.length, console_tail_size - at);
        tail.set(rest.subarray(0, n), at);
        past_head += n;
        rest = rest.subarray(n);
      }
    },
    // The head, the tail after it, and how many bytes were printed in all.
    finish() {
      let kept;
      if (past_head <= console_tail_size) {
        kept = tail.slice(0, past_head);
      } else {
        const at = past_head % console_tail_size;
        kept = new Uint8Array(console_tail_size);
        kept.set(tail.subarray(at), 0);
        kept.set(tail.subarray(0, at), console_tail_size - at);
      }
      return { head: head.slice(0, head_length), tail: kept, total: head_length + past_head };
    },
  };
}

function file_capture() {
  const blobs = [];
  let parts = [];
  let pending = 0;
  let total = 0;
  const seal = () => {
    if (parts.length > 0) blobs.push(new Blob(parts));
    parts = [];
    pending = 0;
  };
  return {
    take(bytes) {
      parts.push(bytes.slice());
      pending += bytes.length;
      total += bytes.length;
      if (pending >= blob_every) seal();
    },
    finish() {
      seal();
      return { blob: new Blob(blobs, { type: 'text/plain' }), size: total };
    },
  };
}

// A character device whose writes go to `sink`, which copies what it keeps:
// the module's memory is reused for the next write.
function sink_device(module, number, sink) {
  const device = module.FS.makedev(number, 0);
  module.FS.registerDevice(device, {
    read: () => 0,
    write: (stream, buffer, offset, length) => {
      sink.take(new Uint8Array(buffer.buffer, buffer.byteOffset + offset, length));
      return length;
    },
  });
  return device;
}

// code.txt as it comes from a source: `size` bytes, which piece(index)
// resolves to in pieces of `piece_size`; unchanged(), which resolves to
// whether the file is still the one that was read; and, where the source
// reuses its pieces' memory, release(piece) for a piece that is done with. A piece that has not
// arrived when the program reads it makes the read wait: the module is
// built so that a read may sleep and the program go on where it was. Only
// the piece being read and the next one are held, so that memory stays the
// same whatever the file's size.
//
// A piece that cannot be had, and a file that changed while it was read,
// are read errors for the program, which then says so and fails as it does
// on a disk that fails. The file is asked whether it changed at its end;
// `reached_end()` says whether the program got that far.
function input_node(module, source, on_read) {
  const { FS, asyncify } = module;
  FS.writeFile('/work/code.txt', new Uint8Array(0));
  const node = FS.lookupPath('/work/code.txt').node;
  node.usedBytes = source.size;
  const arrived = new Map();
  const asked = new Map();
  let checked = false;
  let total = 0;

  // A piece asked for ahead may fail before the program needs it; the
  // failure then waits for the read that needs it.
  const ask = (index) => {
    if (!asked.has(index) && index * source.piece_size < source.size) {
      const coming = Promise.resolve(index).then(source.piece).then((bytes) => arrived.set(index, bytes));
      coming.catch(() => {});
      asked.set(index, coming);
    }
  };
  // The bytes at `position` copied into the program's buffer, or undefined
  // where they have not arrived yet.
  const take = (buffer, offset, length, position) => {
    if (position >= source.size) return checked ? 0 : undefined;
    const index = Math.floor(position / source.piece_size);
    const piece = arrived.get(index);
    ask(index);
    ask(index + 1);
    if (!piece) return undefined;
    const done_with = arrived.get(index - 1);
    if (done_with) {
      arrived.delete(index - 1);
      if (source.release) source.release(done_with);
    }
    const at = position - index * source.piece_size;
    const n = Math.min(length, piece.length - at, source.size - position);
    buffer.set(piece.subarray(at, at + n), offset);
    return n;
  };
  const until = (position) => {
    if (position >= source.size) {
      return source.unchanged().then((same) => {
        if (!same) throw new Error('code.txt changed while it was read');
        checked = true;
      });
    }
    // take() has asked for it.
    return asked.get(Math.floor(position / source.piece_size));
  };

  node.stream_ops = Object.assign({}, node.stream_ops, {
    read(stream, buffer, offset, length, position) {
      let n;
      if (asyncify.state === asyncify.State.Normal) n = take(buffer, offset, length, position);
      if (n === undefined) {
        // Called again once the program is back where it slept, with what
        // the wait brought.
        n = asyncify.handleSleep((wake) => {
          until(position).then(() => wake(take(buffer, offset, length, position)), () => wake(-1));
        });
        if (asyncify.state === asyncify.State.Unwinding) return 0;
      }
      if (n < 0) throw new FS.ErrnoError(eio);
      total += n;
      on_read(total);
      return n;
    },
  });
  return { reached_end: () => checked };
}

// A fresh instance of the module, working in /work, where job.code_txt is
// code.txt: a source (see input_node), 'folder', or null for none. Its
// console is a device whose bytes go to `console_sink`: not a terminal, so
// the program prints its bytes as they are, as it does into a pipe.
async function instance(create_module, job, console_sink) {
  const module = await create_module({
    wasmBinary: job.wasm_binary,
    noInitialRun: true,
    // The status comes from the program's end; nothing may end the process
    // that hosts the module, which under node is the test's.
    quit: (status, thrown) => {
      throw thrown;
    },
    print: () => {},
    printErr: () => {},
  });
  const FS = module.FS;
  FS.mkdev('/dev/codelist_console', sink_device(module, 64, console_sink));
  FS.close(FS.getStream(1));
  const console_stream = FS.open('/dev/codelist_console', 'w');
  if (console_stream.fd !== 1) throw new Error('the console did not become descriptor 1');
  FS.mkdir('/work');
  let input = null;
  if (job.code_txt === 'folder') {
    FS.mkdir('/work/code.txt');
  } else if (job.code_txt) {
    input = input_node(module, job.code_txt, job.on_read || (() => {}));
  }
  return { module, input };
}

// Calls an entry of the module, which returns at once where a read sleeps,
// and resolves to what it returns once it has really returned.
async function call(module, entry, ...args) {
  const returned = entry(...args);
  return module.asyncify.currData ? module.asyncify.whenDone() : returned;
}

// job.code_txt: as instance() takes it. job.code_new_txt: 'folder' for a
// folder of that name; anything else lets the program write the file, which
// is then handed back. job.on_read(bytes): called as the program reads
// code.txt. job.wasm_binary: the module's WebAssembly, where it must not be
// fetched. Resolves to { status, changed, console: { head, tail, total },
// file: { blob, size } }; `changed` says that code.txt changed while it was
// read although the program, which stopped short of its end, did not see it.
async function run_codelist(create_module, job) {
  const console_sink = console_capture();
  const file_sink = file_capture();
  const { module, input } = await instance(create_module, job, console_sink);
  const FS = module.FS;
  if (job.code_new_txt === 'folder') {
    FS.mkdir('/work/code_new.txt');
  } else {
    FS.mkdev('/work/code_new.txt', sink_device(module, 65, file_sink));
  }
  FS.chdir('/work');
  // The program ends as it ends anywhere: static objects destroyed and the
  // console flushed.
  const status = await call(module, module._main, 0, 0);
  try {
    module.exit_program(status);
  } catch (error) {
    if (!(error && error.name === 'ExitStatus')) throw error;
  }
  const changed = status === 0 && input !== null && !input.reached_end() && !(await job.code_txt.unchanged());
  return { status, changed, console: console_sink.finish(), file: file_sink.finish() };
}

// Why each line of code.txt (job.code_txt, a source) was kept or dropped:
// the report that codelist_explain writes, at most `most_listed` lines of
// each kind listed, or every line, the kept ones too, where it is negative.
// Resolves to { status, report } (report: its bytes), status 0 once the
// report is whole.
async function explain_codelist(create_module, job, most_listed) {
  const report = [];
  const sink = { take: (bytes) => report.push(bytes.slice()) };
  const { module } = await instance(create_module, job, { take() {} });
  module.FS.mkdev('/work/explanation.txt', sink_device(module, 66, sink));
  module.FS.chdir('/work');
  const status = await call(module, module._codelist_explain, most_listed);
  const bytes = new Uint8Array(report.reduce((size, part) => size + part.length, 0));
  report.reduce((at, part) => (bytes.set(part, at), at + part.length), 0);
  return { status, report: bytes };
}

// code.txt held in memory, as a source: the tests' and the benchmark's.
function bytes_source(bytes, piece_size = 8 * 1024 * 1024) {
  return {
    size: bytes.length,
    piece_size,
    piece: (index) => Promise.resolve(bytes.subarray(index * piece_size, (index + 1) * piece_size)),
    unchanged: () => Promise.resolve(true),
  };
}

if (typeof module === 'object' && module.exports) module.exports = { run_codelist, explain_codelist, bytes_source };
