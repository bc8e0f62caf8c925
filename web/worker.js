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

// code.txt as the page reads it, from its start, for one reading: the
// program's, then the judge's.
function page_source({ size, piece_size }, reading) {
  return {
    size,
    piece_size,
    piece: (index) => ask_page({ kind: 'want', reading, index }, `piece ${reading} ${index}`),
    unchanged: () => ask_page({ kind: 'check' }, 'check'),
    release: (bytes) => self.postMessage({ kind: 'release', bytes: bytes.buffer }, [bytes.buffer]),
  };
}

// The lines that the judge lists of each kind; it counts them all.
const most_listed = 1000;

async function run(job) {
  let last_report = 0;
  const from_page = job.code_txt && job.code_txt.size !== undefined;
  const code_txt = from_page ? page_source(job.code_txt, 'program') : job.code_txt;
  // Whether the judge looks at the file once the result is shown, which the
  // page never waits for: after a run that read all it needed, unchanged.
  let judging;
  try {
    const result = await run_codelist(create_codelist, {
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
    judging = result.status === 0 && !result.changed && from_page;
    self.postMessage({ kind: 'done', result, judging });
  } catch (error) {
    self.postMessage({ kind: 'failed', reason: String((error && error.message) || error) });
    return;
  }
  if (!judging) return;
  try {
    const judged = { wasm_binary, code_txt: page_source(job.code_txt, 'judge') };
    const { status, report } = await explain_codelist(create_codelist, judged, most_listed);
    self.postMessage({ kind: 'explained', status, report }, [report.buffer]);
  } catch (error) {
    self.postMessage({ kind: 'explained', failed: { name: error && error.name, message: String((error && error.message) || error) } });
  }
}

self.onmessage = (event) => {
  const message = event.data;
  if (message.kind === 'run') {
    run(message.job);
    return;
  }
  const key = message.kind === 'piece' ? `piece ${message.reading} ${message.index}` : 'check';
  const answer = waiting.get(key);
  waiting.delete(key);
  if (!answer) {
    // Nothing waits for it any more.
  } else if (message.failed) {
    answer.reject(new Error(message.failed));
  } else {
    answer.resolve(message.kind === 'piece' ? new Uint8Array(message.bytes, 0, message.length) : message.unchanged);
  }
};
