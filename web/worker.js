// The page's worker: one run of the program on the file that the page
// reads for it, piece by piece on request, with progress as it reads, so
// that the page never waits on it. The page reads rather than the worker:
// a worker that a page opened from a file starts may not read a file
// itself in every browser.
//
// The module's WebAssembly is given to it from the hex that the build puts
// beside this file (codelist_wasm_hex), so that nothing is fetched.
const wasm_binary = Uint8Array.from(codelist_wasm_hex.match(/../g), (pair) => parseInt(pair, 16));
const waiting = new Map();

// Asks the page for something and resolves to its answer.
function ask_page(message, key) {
  return new Promise((resolve, reject) => {
    waiting.set(key, { resolve, reject });
    self.postMessage(message);
  });
}

function page_source(size, piece_size) {
  return {
    size,
    piece_size,
    piece: (index) => ask_page({ kind: 'want', index }, 'piece ' + index),
    unchanged: () => ask_page({ kind: 'check' }, 'check'),
    release: (bytes) => self.postMessage({ kind: 'release', bytes: bytes.buffer }, [bytes.buffer]),
  };
}

// The lines that the judge lists of each kind; it counts them all.
const most_listed = 1000;

async function run(job) {
  let last_report = 0;
  const code_txt = job.code_txt && job.code_txt.size !== undefined
    ? page_source(job.code_txt.size, job.code_txt.piece_size) : job.code_txt;
  let result;
  try {
    result = await run_codelist(create_codelist, {
      wasm_binary,
      code_txt,
      code_new_txt: job.code_new_txt,
      on_read(bytes) {
        const now = Date.now();
        if (now - last_report < 100) return;
        last_report = now;
        self.postMessage({ kind: 'progress', read: bytes });
      },
    });
    self.postMessage({ kind: 'done', result });
  } catch (error) {
    self.postMessage({ kind: 'failed', reason: String((error && error.message) || error) });
    return;
  }
  // Why each line was kept or dropped, once the result is shown: the page
  // never waits for it.
  if (result.status !== 0 || result.changed || typeof code_txt !== 'object' || code_txt === null) return;
  try {
    const { status, report } = await explain_codelist(create_codelist, { wasm_binary, code_txt }, most_listed);
    if (status !== 0) throw new Error('the judge could not read code.txt');
    self.postMessage({ kind: 'explained', report }, [report.buffer]);
  } catch (error) {
    self.postMessage({ kind: 'explained', failed: String((error && error.message) || error) });
  }
}

self.onmessage = (event) => {
  const message = event.data;
  if (message.kind === 'run') {
    run(message.job);
    return;
  }
  const key = message.kind === 'piece' ? 'piece ' + message.index : 'check';
  const answer = waiting.get(key);
  waiting.delete(key);
  if (message.failed) {
    answer.reject(new Error(message.failed));
  } else {
    answer.resolve(message.kind === 'piece' ? new Uint8Array(message.bytes, 0, message.length) : message.unchanged);
  }
};
