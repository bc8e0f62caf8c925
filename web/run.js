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

// Counts what the program reads of the node at `path`. A file that the
// browser can no longer read (changed or removed since it was chosen) is a
// read error for the program, which then says so and fails, as it does on a
// disk that fails.
function watch_reads(FS, path, on_read) {
  const node = FS.lookupPath(path, { follow: true }).node;
  const read = node.stream_ops.read;
  let total = 0;
  node.stream_ops = Object.assign({}, node.stream_ops, {
    read(stream, buffer, offset, length, position) {
      let n;
      try {
        n = read.call(this, stream, buffer, offset, length, position);
      } catch (error) {
        if (error instanceof FS.ErrnoError) throw error;
        throw new FS.ErrnoError(29 /* EIO */);
      }
      total += n;
      on_read(total);
      return n;
    },
  });
}

// job.code_txt: a Uint8Array (kept in memory), a File or Blob (read in pieces
// through WORKERFS, in a worker only), 'folder', or null for none.
// job.code_new_txt: 'folder' for a folder of that name; anything else lets
// the program write the file, which is then handed back.
// job.on_read(bytes): called as the program reads code.txt.
// Resolves to { status, console: { head, tail, total }, file: { blob, size } }.
async function run_codelist(create_module, job) {
  const console_sink = console_capture();
  const file_sink = file_capture();
  const module = await create_module({
    noInitialRun: true,
    // The status comes back from callMain; nothing may end the process that
    // hosts the module, which under node is the test's.
    quit: (status, thrown) => {
      throw thrown;
    },
    print: () => {},
    printErr: () => {},
  });
  const FS = module.FS;
  // The console: a device that is not a terminal, so the program prints its
  // bytes as they are, as it does into a pipe.
  FS.mkdev('/dev/codelist_console', sink_device(module, 64, console_sink));
  FS.close(FS.getStream(1));
  const console_stream = FS.open('/dev/codelist_console', 'w');
  if (console_stream.fd !== 1) throw new Error('the console did not become descriptor 1');

  FS.mkdir('/work');
  const code = job.code_txt;
  if (code === 'folder') {
    FS.mkdir('/work/code.txt');
  } else if (code instanceof Uint8Array) {
    // Read where it lies rather than copied: the program never writes it.
    FS.writeFile('/work/code.txt', code, { canOwn: true });
  } else if (code) {
    FS.mkdir('/input');
    FS.mount(FS.filesystems.WORKERFS, { blobs: [{ name: 'code.txt', data: code }] }, '/input');
    FS.symlink('/input/code.txt', '/work/code.txt');
  }
  if (code && code !== 'folder') watch_reads(FS, '/work/code.txt', job.on_read || (() => {}));
  if (job.code_new_txt === 'folder') {
    FS.mkdir('/work/code_new.txt');
  } else {
    FS.mkdev('/work/code_new.txt', sink_device(module, 65, file_sink));
  }
  FS.chdir('/work');

  const status = module.callMain([]);
  return { status, console: console_sink.finish(), file: file_sink.finish() };
}

if (typeof module === 'object' && module.exports) module.exports = { run_codelist };
