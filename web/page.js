// The page around the program: it hands codelist the user's code.txt, shows
// what the program printed and offers what it wrote. Every rule about the
// list is the program's; nothing here looks inside the bytes but to show
// them.
'use strict';

const texts = {
  en: {
    title: 'codelist',
    switch_language: '日本語で表示',
    language_note: 'Switches the page to Japanese',
    intro: 'codelist keeps the header block and the code lines of a code list (code.txt) and writes them to code_new.txt with Windows line ends, as the command-line program does.',
    private: 'Everything happens on this computer: your file is not uploaded or sent anywhere, and the page works without a network.',
    file_heading: 'A file',
    drop_here: 'Choose code.txt, or drop it on this page.',
    folder_heading: 'A folder',
    folder_text: 'Open a folder that holds code.txt: code_new.txt is written in the same folder, as the program does. When the program fails, nothing in the folder changes.',
    folder_missing: 'This browser cannot open folders. Use a file above; code_new.txt is then offered as a download.',
    folder_button: 'Open a folder…',
    result_heading: 'Result',
    progress_label: 'Read so far',
    download: 'Download code_new.txt',
    console_heading: 'Console output',
    idle: 'Choose a file, and the result appears here.',
    running: 'codelist is running on {name}…',
    in_folder: '{name} in the folder “{folder}”',
    done: 'Done: code_new.txt, made from {name}, holds {size}.',
    done_folder: 'Done: code_new.txt ({size}) was written in the folder “{folder}”.',
    no_header: 'No header line was found in {name}, so code_new.txt is empty.',
    no_header_folder: 'No header line was found in code.txt, so an empty code_new.txt was written in the folder “{folder}”.',
    failed: 'codelist failed on {name} with exit status {status}; its message is below. No code_new.txt was made.',
    failed_folder: 'codelist failed with exit status {status}; its message is below. Nothing in the folder “{folder}” was changed.',
    changed: '{name} changed while codelist read it, so no code_new.txt was made. Choose it again to run codelist on what it holds now.',
    changed_folder: 'code.txt changed while codelist read it, so nothing in the folder “{folder}” was changed. Run it again on what it holds now.',
    write_failed: 'code_new.txt could not be written in the folder “{folder}”: {reason}. The folder keeps what it had; the result can be downloaded instead.',
    folder_failed: 'The folder could not be read: {reason}. Nothing in it was changed.',
    crashed: 'The page could not run codelist on {name}: {reason}.',
    several_files: 'Drop one file: codelist reads one list, code.txt. None of the {count} files dropped is named code.txt, so none was run.',
    took_code_txt: 'Of the {count} files dropped, codelist took the one named code.txt.',
    folder_dropped: 'codelist took code.txt from the dropped folder “{folder}”. To write code_new.txt in that folder, use “Open a folder…”.',
    folder_without_code_txt: 'The dropped folder “{folder}” holds no code.txt, so nothing was run.',
    busy: 'codelist is still running on {name}, so what was dropped was not taken. Drop it again once this run is done.',
    unreadable: 'The browser could not read what was dropped: {reason}.',
    omitted: '… {count} bytes not shown …',
    bytes: '{count} bytes',
    // Why a write or a read failed, as the browser names it.
    reason_QuotaExceededError: 'there is not enough room',
    reason_NotAllowedError: 'the browser was not allowed to',
    reason_NoModificationAllowedError: 'the file may not be changed',
    reason_InvalidModificationError: 'the file may not be changed',
    reason_NotFoundError: 'the folder or file is gone',
    reason_NotReadableError: 'the file can no longer be read',
    reason_SecurityError: 'the browser does not allow it here',
    reason_TypeMismatchError: 'code_new.txt there is a folder',
    reason_RangeError: 'the browser has no memory left for it',
    reason_other: 'the browser said “{detail}”',
    reason_detail: '{reason} (the browser said “{detail}”)',
  },
  ja: {
    title: 'codelist',
    switch_language: 'Show in English',
    language_note: 'ページを英語に切り替えます',
    intro: 'codelist はコードリスト（code.txt）のヘッダーブロックとコード行を残し、Windows の改行で code_new.txt に書き出します。コマンドライン版と同じ動きです。',
    private: '処理はすべてこのパソコンの中で行われます。ファイルはどこにもアップロード・送信されず、ネットワークがなくても動きます。',
    file_heading: 'ファイルで使う',
    drop_here: 'code.txt を選ぶか、このページにドラッグ＆ドロップしてください。',
    folder_heading: 'フォルダーで使う',
    folder_text: 'code.txt のあるフォルダーを開くと、プログラムと同じように、同じフォルダーに code_new.txt を書き出します。プログラムが失敗したときは、フォルダーの中は何も変わりません。',
    folder_missing: 'このブラウザーではフォルダーを開けません。上の「ファイルで使う」を使ってください。code_new.txt はダウンロードで受け取れます。',
    folder_button: 'フォルダーを開く…',
    result_heading: '結果',
    progress_label: '読み込み済み',
    download: 'code_new.txt をダウンロード',
    console_heading: 'コンソール出力',
    idle: 'ファイルを選ぶと、ここに結果が表示されます。',
    running: '{name} を処理しています…',
    in_folder: 'フォルダー「{folder}」の {name}',
    done: '完了しました。{name} から作った code_new.txt は {size}です。',
    done_folder: '完了しました。フォルダー「{folder}」に code_new.txt（{size}）を書き出しました。',
    no_header: '{name} にヘッダー行が見つからなかったため、code_new.txt は空です。',
    no_header_folder: 'code.txt にヘッダー行が見つからなかったため、フォルダー「{folder}」に空の code_new.txt を書き出しました。',
    failed: '{name} の処理は終了ステータス {status} で失敗しました。メッセージは下のとおりです。code_new.txt は作られていません。',
    failed_folder: 'codelist は終了ステータス {status} で失敗しました。メッセージは下のとおりです。フォルダー「{folder}」の中は何も変わっていません。',
    changed: '読み込みの途中で {name} が変更されたため、code_new.txt は作っていません。今の内容で処理するには、もう一度選んでください。',
    changed_folder: '読み込みの途中で code.txt が変更されたため、フォルダー「{folder}」の中は何も変えていません。今の内容で、もう一度実行してください。',
    write_failed: 'フォルダー「{folder}」に code_new.txt を書き出せませんでした（{reason}）。フォルダーの中身は元のままです。結果はダウンロードで受け取れます。',
    folder_failed: 'フォルダーを読めませんでした（{reason}）。フォルダーの中は何も変わっていません。',
    crashed: '{name} で codelist を実行できませんでした（{reason}）。',
    several_files: 'ファイルは 1 つだけドロップしてください。codelist が読むのは code.txt 1 つです。ドロップされた {count} 個のファイルに code.txt という名前のものがないため、何も実行していません。',
    took_code_txt: 'ドロップされた {count} 個のファイルのうち、code.txt という名前のものを使いました。',
    folder_dropped: 'ドロップされたフォルダー「{folder}」の code.txt を使いました。そのフォルダーに code_new.txt を書き出すには「フォルダーを開く…」を使ってください。',
    folder_without_code_txt: 'ドロップされたフォルダー「{folder}」に code.txt がないため、何も実行していません。',
    busy: '{name} をまだ処理しているため、ドロップされたものは受け付けませんでした。処理が終わってから、もう一度ドロップしてください。',
    unreadable: 'ドロップされたものをブラウザーが読めませんでした（{reason}）。',
    omitted: '…… {count} バイト省略 ……',
    bytes: '{count} バイト',
    reason_QuotaExceededError: '空き容量が足りません',
    reason_NotAllowedError: 'ブラウザーに許可されていません',
    reason_NoModificationAllowedError: 'ファイルを変更できません',
    reason_InvalidModificationError: 'ファイルを変更できません',
    reason_NotFoundError: 'フォルダーかファイルが見つかりません',
    reason_NotReadableError: 'ファイルを読めなくなりました',
    reason_SecurityError: 'この場所ではブラウザーに許可されていません',
    reason_TypeMismatchError: 'code_new.txt という名前のフォルダーがあります',
    reason_RangeError: 'ブラウザーのメモリーが足りません',
    reason_other: 'ブラウザーのメッセージ：{detail}',
    reason_detail: '{reason}。ブラウザーのメッセージ：{detail}',
  },
};

const page = {
  // The first of the browser's languages that the page has.
  language: (navigator.languages || [navigator.language || 'en'])
    .map((l) => (/^(ja|en)\b/i.exec(l) || [''])[0].toLowerCase())
    .find((l) => l !== '') || 'en',
  status: { key: 'idle', values: {} },
  notice: null,
  console: null,
  // The result that the download link offers: its Blob and the link's URL.
  download: null,
  // What the run going on reads, named as the statuses name it.
  running: null,
  focused: null,
};

const element = (id) => document.getElementById(id);

// A text in the page's language. A value that is itself a text ({ key,
// values }) is put in that language too, so that a status made before the
// language is switched reads right after it.
function text(key, values = {}) {
  return texts[page.language][key].replace(/\{(\w+)\}/g, (_, name) => {
    const value = values[name];
    if (name === 'size') return text('bytes', { count: Number(value).toLocaleString(page.language) });
    if (value && value.key) return text(value.key, value.values);
    return String(value);
  });
}

function show_status(key, values = {}) {
  page.status = { key, values };
  element('status').textContent = text(key, values);
}

// A note beside the status about what the page took from a drop, or why it
// took nothing; null for none.
function show_notice(key, values = {}) {
  page.notice = key ? { key, values } : null;
  element('notice').textContent = key ? text(key, values) : '';
  element('notice').classList.toggle('hidden', !key);
}

// Why the browser refused, in the page's words where it names a reason the
// page knows; its own message only as a detail.
function reason(error) {
  const detail = String((error && error.message) || error);
  const known = error && texts.en['reason_' + error.name];
  if (!known) return { key: 'reason_other', values: { detail } };
  return { key: 'reason_detail', values: { reason: { key: 'reason_' + error.name }, detail } };
}

// The program's console, line by line. A line that is valid UTF-8 is shown
// as UTF-8; any other as Shift-JIS, the program's own messages among them.
const utf8 = new TextDecoder('utf-8', { fatal: true });
const shift_jis = new TextDecoder('shift_jis');

function decode_lines(bytes) {
  const lines = [];
  let start = 0;
  while (start < bytes.length) {
    let end = bytes.indexOf(0x0a, start);
    const next = end < 0 ? bytes.length : end + 1;
    if (end < 0) end = bytes.length;
    const line = bytes.subarray(start, end > start && bytes[end - 1] === 0x0d ? end - 1 : end);
    try {
      lines.push(utf8.decode(line));
    } catch {
      lines.push(shift_jis.decode(line));
    }
    start = next;
  }
  return lines;
}

function show_console() {
  const printed = page.console;
  if (!printed) {
    element('console').textContent = '';
    return;
  }
  const omitted = printed.total - printed.head.length - printed.tail.length;
  let lines;
  if (omitted > 0) {
    lines = [...decode_lines(printed.head),
      text('omitted', { count: omitted.toLocaleString(page.language) }),
      ...decode_lines(printed.tail)];
  } else {
    // Decoded whole, so that no line is cut where the head ends.
    const whole = new Uint8Array(printed.total);
    whole.set(printed.head, 0);
    whole.set(printed.tail, printed.head.length);
    lines = decode_lines(whole);
  }
  element('console').textContent = lines.join('\n');
}

function show_language() {
  document.documentElement.lang = page.language;
  for (const node of document.querySelectorAll('[data-text]')) {
    node.textContent = text(node.dataset.text);
  }
  element('language').lang = page.language === 'en' ? 'ja' : 'en';
  if (!window.showDirectoryPicker) element('folder-text').textContent = text('folder_missing');
  show_status(page.status.key, page.status.values);
  if (page.notice) show_notice(page.notice.key, page.notice.values);
  show_console();
}

function offer_download(blob) {
  if (page.download) URL.revokeObjectURL(page.download.url);
  page.download = blob ? { blob, url: URL.createObjectURL(blob) } : null;
  const link = element('download');
  if (page.download) {
    link.href = page.download.url;
  } else {
    link.removeAttribute('href');
  }
  link.classList.toggle('hidden', !blob);
}

function show_progress(read, size) {
  const progress = element('progress');
  progress.max = Math.max(size, 1);
  progress.value = Math.min(read, size);
}

// The controls rest while a run goes on; the one that started it has the
// keyboard again afterwards.
function set_busy(name) {
  const busy = name !== null;
  page.running = name;
  document.body.dataset.state = busy ? 'running' : 'ready';
  if (busy) page.focused = document.activeElement;
  for (const id of ['file', 'folder']) element(id).disabled = busy;
  for (const id of ['progress', 'progress-label']) element(id).classList.toggle('hidden', !busy);
  if (!busy && page.focused && document.activeElement === document.body) page.focused.focus();
}

// The worker reads code.txt in pieces of this size, each asked for when it
// needs it; the page reads them, since a worker that a page opened from a
// file starts may not read a file itself in every browser.
const piece_size = 8 * 1024 * 1024;

// A check of a piece's bytes: enough to tell that a file now holds other
// bytes than it did, not to keep them from anyone. Four lanes, so that it
// costs next to nothing beside reading the piece.
function checksum(bytes) {
  const words = new Int32Array(bytes.buffer, bytes.byteOffset, bytes.length >>> 2);
  const lanes = [0x811c9dc5, 1, 2, 3];
  let [a, b, c, d] = lanes;
  const whole = words.length & ~3;
  for (let i = 0; i < whole; i += 4) {
    a = Math.imul(a ^ words[i], 0x01000193);
    b = Math.imul(b ^ words[i + 1], 0x01000193);
    c = Math.imul(c ^ words[i + 2], 0x01000193);
    d = Math.imul(d ^ words[i + 3], 0x01000193);
  }
  for (let i = whole * 4; i < bytes.length; i++) a = Math.imul(a ^ bytes[i], 0x01000193);
  return `${bytes.length} ${a} ${b} ${c} ${d}`;
}

// Fills buffers of piece_size, one after another, with the file from its
// start, through the file's stream: of the ways to read a file, the one
// that is fast in every browser. Resolves to the bytes filled, fewer at the
// end of the file.
function stream_filler(file) {
  const reader = file.stream().getReader();
  let rest = new Uint8Array(0);
  return async (buffer) => {
    let filled = 0;
    while (filled < buffer.length) {
      if (rest.length === 0) {
        const { done, value } = await reader.read();
        if (done) break;
        rest = value;
      }
      const n = Math.min(rest.length, buffer.length - filled);
      buffer.set(rest.subarray(0, n), filled);
      filled += n;
      rest = rest.subarray(n);
    }
    return buffer.subarray(0, filled);
  };
}

// The chosen file as the worker reads it. The file is read once before the
// run, and every piece that the program reads must hold what it held then:
// a file changed since is a read error for the program, whether or not the
// browser notices the change itself (not every one does, nor keeps the
// file's size and time up to date). For the run, the file is read again
// from its start, a few pieces ahead of what the program has asked for,
// into buffers that the worker gives back once it is done with them: a new
// buffer for every piece costs more than reading it.
function file_reader(file, on_progress) {
  const size = file.size;
  const time = file.lastModified;
  const sums = [];
  const spare = [];
  const coming = new Map();
  let fill = null;
  let read_to = 0;
  let last = Promise.resolve();
  const read_ahead = (index) => {
    fill = fill || stream_filler(file);
    // A piece read ahead may fail before the program asks for it; the
    // failure then waits for the read that asks.
    for (; read_to <= index; read_to++) {
      last = last.then(() => fill(spare.pop() || new Uint8Array(piece_size)));
      last.catch(() => {});
      coming.set(read_to, last);
    }
  };
  return {
    job: { size, piece_size },
    // A piece that cannot be read now, or that the file no longer has,
    // fails where the program reads it.
    async take_stock() {
      const next = stream_filler(file);
      const buffer = new Uint8Array(piece_size);
      let read = 0;
      try {
        for (let piece; (piece = await next(buffer)).length > 0; read += piece.length) {
          sums.push(checksum(piece));
          on_progress(Math.min(read + piece.length, size));
        }
      } catch {
        sums.push(null);
      }
      if (read !== size) sums.push(null);
    },
    async piece(index) {
      read_ahead(index + 2);
      const bytes = await coming.get(index);
      coming.delete(index);
      if (!sums[index] || checksum(bytes) !== sums[index]) throw new Error('code.txt cannot be read as it was chosen');
      return bytes;
    },
    release(buffer) {
      spare.push(new Uint8Array(buffer));
    },
    async unchanged() {
      try {
        return file.size === size && file.lastModified === time;
      } catch {
        return false;
      }
    },
  };
}

// One run in a worker of its own, made from the function that
// codelist-worker.js defines: a page opened from a file may not load a
// worker script by name, but may start one from a Blob.
function run_in_worker(job, reader, size) {
  return new Promise((resolve, reject) => {
    const source = new Blob(['(' + codelist_worker.toString() + ')()'], { type: 'text/javascript' });
    const url = URL.createObjectURL(source);
    const worker = new Worker(url);
    const finish = () => {
      worker.terminate();
      URL.revokeObjectURL(url);
    };
    worker.onmessage = (event) => {
      const message = event.data;
      if (message.kind === 'want') {
        reader.piece(message.index).then(
          (bytes) => worker.postMessage({ kind: 'piece', index: message.index, bytes: bytes.buffer, length: bytes.length },
            [bytes.buffer]),
          (error) => worker.postMessage({ kind: 'piece', index: message.index, failed: String(error) }));
      } else if (message.kind === 'release') {
        reader.release(message.bytes);
      } else if (message.kind === 'check') {
        reader.unchanged().then((unchanged) => worker.postMessage({ kind: 'checked', unchanged }));
      } else if (message.kind === 'progress') {
        // Only the bar moves: a status read out at every step would drown a
        // screen reader.
        show_progress(size + message.read, 2 * size);
      } else if (message.kind === 'done') {
        finish();
        resolve(message.result);
      } else {
        finish();
        reject(new Error(message.reason));
      }
    };
    worker.onerror = (event) => {
      finish();
      reject(new Error(event.message || 'worker error'));
    };
    worker.postMessage({ kind: 'run', job });
  });
}

// Runs the program on `file` (null where code.txt is missing or is a
// folder, as `job` says) and shows what it printed. `name` names the input
// in every status.
async function start(job, file, name) {
  offer_download(null);
  page.console = null;
  show_console();
  const size = file ? file.size : 0;
  show_progress(0, 2 * size);
  show_status('running', { name });
  // The bar shows the file read once before the run, then as the program
  // reads it.
  const reader = file ? file_reader(file, (read) => show_progress(read, 2 * size)) : null;
  if (reader) await reader.take_stock();
  const result = await run_in_worker(reader ? { ...job, code_txt: reader.job } : job, reader, size);
  page.console = result.console;
  show_console();
  return result;
}

// One thing at a time: the page is busy until `work` has shown its last
// status, a folder's code_new.txt written and all.
async function one_at_a_time(name, work) {
  set_busy(name);
  try {
    await work();
  } finally {
    set_busy(null);
  }
}

function run_file(file, name = file.name) {
  return one_at_a_time(name, async () => {
    try {
      const result = await start({ code_new_txt: 'file' }, file, name);
      if (result.changed || result.status !== 0) {
        show_status(result.changed ? 'changed' : 'failed', { name, status: result.status });
      } else {
        offer_download(result.file.blob);
        show_status(result.console.total === 0 ? 'no_header' : 'done', { name, size: result.file.size });
      }
    } catch (error) {
      show_status('crashed', { name, reason: reason(error) });
    }
  });
}

// What a name in the folder is: a file (with its handle), a folder, or
// nothing; the program is shown the same.
async function entry_of(folder, name) {
  try {
    return { kind: 'file', handle: await folder.getFileHandle(name) };
  } catch (error) {
    if (error.name === 'TypeMismatchError') return { kind: 'folder' };
    if (error.name === 'NotFoundError') return null;
    throw error;
  }
}

// A file's new bytes, which take its place only when the writable closes.
async function write_whole(handle, blob) {
  const writable = await handle.createWritable({ keepExistingData: false });
  try {
    await writable.write(blob);
    await writable.close();
  } catch (error) {
    await writable.abort().catch(() => {});
    throw error;
  }
}

// code_new.txt beside code.txt, never empty or in part behind a failure. An
// old one is replaced whole; a new one is written under a name of its own
// and renamed once whole, so that a page closed part-way leaves at most
// that other name. The folder is looked at anew: it may have changed while
// the program ran.
async function write_beside(folder, blob) {
  const existing = await entry_of(folder, 'code_new.txt');
  if (existing && existing.kind === 'folder') throw new DOMException('code_new.txt is a folder', 'TypeMismatchError');
  if (existing) return write_whole(existing.handle, blob);
  const part_name = 'code_new.txt.' + Date.now().toString(36) + '.part';
  const part = await folder.getFileHandle(part_name, { create: true });
  try {
    await write_whole(part, blob);
    await part.move('code_new.txt');
  } catch (error) {
    // An aborted writable may keep its file a moment longer.
    for (let tries = 0; tries < 5; tries++) {
      try {
        await folder.removeEntry(part_name);
        break;
      } catch {
        await new Promise((resolve) => setTimeout(resolve, 100));
      }
    }
    throw error;
  }
}

async function run_folder() {
  if (page.running) return;
  show_notice(null);
  let folder;
  try {
    folder = await window.showDirectoryPicker({ id: 'codelist', mode: 'readwrite' });
  } catch (error) {
    if (error.name !== 'AbortError') show_status('folder_failed', { reason: reason(error) });
    return;
  }
  const folder_name = folder.name || '/';
  const name = { key: 'in_folder', values: { name: 'code.txt', folder: folder_name } };
  let code;
  let job;
  try {
    code = await entry_of(folder, 'code.txt');
    const code_new = await entry_of(folder, 'code_new.txt');
    job = { code_txt: code ? code.kind : null, code_new_txt: code_new && code_new.kind === 'folder' ? 'folder' : 'file' };
    if (code && code.kind === 'file') code = await code.handle.getFile();
  } catch (error) {
    show_status('folder_failed', { reason: reason(error) });
    return;
  }
  await one_at_a_time(name, async () => {
    let result;
    try {
      result = await start(job, code instanceof Blob ? code : null, name);
    } catch (error) {
      show_status('crashed', { name, reason: reason(error) });
      return;
    }
    if (result.changed || result.status !== 0) {
      show_status(result.changed ? 'changed_folder' : 'failed_folder', { status: result.status, folder: folder_name });
      return;
    }
    offer_download(result.file.blob);
    try {
      await write_beside(folder, result.file.blob);
    } catch (error) {
      show_status('write_failed', { folder: folder_name, reason: reason(error) });
      return;
    }
    show_status(result.console.total === 0 ? 'no_header_folder' : 'done_folder', {
      folder: folder_name,
      size: result.file.size,
    });
  });
}

// The files of a folder entry that a drop gave.
function folder_files(folder) {
  const reader = folder.createReader();
  const all = [];
  return new Promise((resolve, reject) => {
    const more = () => reader.readEntries((entries) => {
      if (entries.length === 0) return resolve(all);
      all.push(...entries);
      more();
    }, reject);
    more();
  });
}

const file_of = (entry) => new Promise((resolve, reject) => entry.file(resolve, reject));

// What a drop gives the program: one file as it is; of several, the one
// named code.txt; of a folder, its code.txt. Anything else is refused with
// a sentence, and so is a drop while a run goes on.
async function run_drop(transfer) {
  if (page.running) {
    show_notice('busy', { name: page.running });
    return;
  }
  show_notice(null);
  const entries = [...(transfer.items || [])]
    .map((item) => item.kind === 'file' && item.webkitGetAsEntry && item.webkitGetAsEntry())
    .filter((entry) => entry);
  const files = [...(transfer.files || [])];
  try {
    if (entries.length === 1 && entries[0].isDirectory) {
      const folder = entries[0].name;
      const code = (await folder_files(entries[0])).find((e) => e.isFile && e.name === 'code.txt');
      if (!code) {
        show_notice('folder_without_code_txt', { folder });
        return;
      }
      show_notice('folder_dropped', { folder });
      await run_file(await file_of(code), { key: 'in_folder', values: { name: 'code.txt', folder } });
    } else if (files.length === 1) {
      await run_file(files[0]);
    } else if (files.length > 1) {
      const code = files.find((file) => file.name === 'code.txt');
      if (!code) {
        show_notice('several_files', { count: files.length });
        return;
      }
      show_notice('took_code_txt', { count: files.length });
      await run_file(code);
    }
  } catch (error) {
    show_notice('unreadable', { reason: reason(error) });
  }
}

function set_up() {
  element('language').addEventListener('click', () => {
    page.language = page.language === 'en' ? 'ja' : 'en';
    show_language();
  });
  element('file').addEventListener('change', (event) => {
    const file = event.target.files[0];
    // Cleared, so that choosing the same file again, edited, runs it again.
    event.target.value = '';
    if (file && !page.running) {
      show_notice(null);
      run_file(file);
    }
  });
  if (window.showDirectoryPicker) {
    element('folder').addEventListener('click', run_folder);
  } else {
    element('folder').classList.add('hidden');
  }
  const drop = element('drop');
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    drop.classList.add('over');
  });
  document.addEventListener('dragleave', () => drop.classList.remove('over'));
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    drop.classList.remove('over');
    if (event.dataTransfer) run_drop(event.dataTransfer);
  });
  show_language();
}

set_up();
