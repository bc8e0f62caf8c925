// The page's worker: one run of the program on what the page sends, with
// progress as it reads, so that the page never waits on it.
self.onmessage = async (event) => {
  const job = event.data;
  let last_report = 0;
  try {
    const result = await run_codelist(create_codelist, {
      code_txt: job.code_txt,
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
  }
};
