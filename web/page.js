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
    drop_here: 'Choose code.txt, or drop it anywhere on this page:',
    folder_heading: 'A folder',
    folder_text: 'Open a folder that holds code.txt: code_new.txt is written beside it, as the program does. When the program fails, nothing in the folder changes.',
    folder_missing: 'This browser cannot open folders. Use a file above; code_new.txt is then offered as a download.',
    folder_button: 'Open a folder…',
    result_heading: 'Result',
    progress_label: 'Read so far',
    download: 'Download code_new.txt',
    console_heading: 'What codelist printed',
    idle: 'No list yet.',
    running: 'codelist is running on {name}…',
    done: 'Done: code_new.txt holds {size}.',
    done_folder: 'Done: code_new.txt ({size}) was written in the folder {folder}.',
    no_header: 'No header line was found in code.txt, so code_new.txt is empty.',
    no_header_folder: 'No header line was found in code.txt, so an empty code_new.txt was written in the folder {folder}.',
    failed: 'codelist failed with exit status {status}; its message is below. No code_new.txt was made.',
    failed_folder: 'codelist failed with exit status {status}; its message is below. Nothing in the folder {folder} was changed.',
    write_failed: 'code_new.txt could not be written in the folder {folder} ({reason}). The folder keeps what it had; the result can be downloaded instead.',
    folder_failed: 'The folder could not be read ({reason}). Nothing in it was changed.',
    crashed: 'The page could not run codelist ({reason}).',
    omitted: '… {count} bytes not shown …',
    bytes: '{count} bytes',
  },
  ja: {
    title: 'codelist',
    switch_language: 'Show in English',
    language_note: 'ページを英語に切り替えます',
    intro: 'codelist はコードリスト（code.txt）のヘッダーブロックとコード行を残し、Windows の改行で code_new.txt に書き出します。コマンドライン版と同じ動きです。',
    private: '処理はすべてこのパソコンの中で行われます。ファイルはどこにもアップロード・送信されず、ネットワークがなくても動きます。',
    file_heading: 'ファイルで使う',
    drop_here: 'code.txt を選ぶか、このページのどこかにドロップしてください：',
    folder_heading: 'フォルダーで使う',
    folder_text: 'code.txt のあるフォルダーを開くと、プログラムと同じように、その横に code_new.txt を書き出します。プログラムが失敗したときは、フォルダーの中は何も変わりません。',
    folder_missing: 'このブラウザーではフォルダーを開けません。上の「ファイルで使う」を使ってください。code_new.txt はダウンロードで受け取れます。',
    folder_button: 'フォルダーを開く…',
    result_heading: '結果',
    progress_label: '読み込み済み',
    download: 'code_new.txt をダウンロード',
    console_heading: 'codelist の表示',
    idle: 'まだリストがありません。',
    running: '{name} を処理しています…',
    done: '完了しました。code_new.txt は {size}です。',
    done_folder: '完了しました。フォルダー {folder} に code_new.txt（{size}）を書き出しました。',
    no_header: 'code.txt にヘッダー行が見つからなかったため、code_new.txt は空です。',
    no_header_folder: 'code.txt にヘッダー行が見つからなかったため、フォルダー {folder} に空の code_new.txt を書き出しました。',
    failed: 'codelist は終了ステータス {status} で失敗しました。メッセージは下のとおりです。code_new.txt は作られていません。',
    failed_folder: 'codelist は終了ステータス {status} で失敗しました。メッセージは下のとおりです。フォルダー {folder} の中は何も変わっていません。',
    write_failed: 'フォルダー {folder} に code_new.txt を書き出せませんでした（{reason}）。フォルダーの中身は元のままです。結果はダウンロードで受け取れます。',
    folder_failed: 'フォルダーを読めませんでした（{reason}）。フォルダーの中は何も変わっていません。',
    crashed: 'codelist を実行できませんでした（{reason}）。',
    omitted: '…… {count} バイト省略 ……',
    bytes: '{count} バイト',
  },
};

const page = {
  // The first of the browser's languages that the page has.
  language: (navigator.languages || [navigator.language || 'en'])
    .map((l) => (/^(ja|en)\b/i.exec(l) || [''])[0].toLowerCase())
    .find((l) => l !== '') || 'en',
  status: { key: 'idle', values: {} },
  console: null,
  download_url: null,
  busy: false,
  focused: null,
};

const element = (id) => document.getElementById(id);

function text(key, values = {}) {
  return texts[page.language][key].replace(/\{(\w+)\}/g, (_, name) =>
    name === 'size' || name === 'read'
      ? text('bytes', { count: Number(values[name]).toLocaleString(page.language) })
      : String(values[name]));
}

function show_status(key, values = {}) {
  page.status = { key, values };
  element('status').textContent = text(key, values);
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
  element('status').textContent = text(page.status.key, page.status.values);
  show_console();
}

function offer_download(blob) {
  if (page.download_url) URL.revokeObjectURL(page.download_url);
  page.download_url = blob ? URL.createObjectURL(blob) : null;
  const link = element('download');
  if (page.download_url) {
    link.href = page.download_url;
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
function set_busy(busy) {
  page.busy = busy;
  document.body.dataset.state = busy ? 'running' : 'ready';
  if (busy) page.focused = document.activeElement;
  for (const id of ['file', 'folder']) element(id).disabled = busy;
  for (const id of ['progress', 'progress-label']) element(id).classList.toggle('hidden', !busy);
  if (!busy && page.focused && document.activeElement === document.body) page.focused.focus();
}

// One run in a worker of its own, made from the function that
// codelist-worker.js defines: a page opened from a file may not load a
// worker script by name, but may start one from a Blob.
function run_in_worker(job, name, size) {
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
      // Only the bar moves: a status read out at every step would drown a
      // screen reader.
      if (message.kind === 'progress') {
        show_progress(message.read, size);
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
    worker.postMessage(job);
  });
}

async function start(job, name, size) {
  set_busy(true);
  offer_download(null);
  page.console = null;
  show_console();
  show_progress(0, size);
  show_status('running', { name });
  try {
    const result = await run_in_worker(job, name, size);
    page.console = result.console;
    show_console();
    return result;
  } finally {
    set_busy(false);
  }
}

async function run_file(file) {
  if (page.busy || !file) return;
  try {
    const result = await start({ code_txt: file, code_new_txt: 'file' }, file.name, file.size);
    if (result.status !== 0) {
      show_status('failed', { status: result.status });
    } else {
      offer_download(result.file.blob);
      show_status(result.console.total === 0 ? 'no_header' : 'done', { size: result.file.size });
    }
  } catch (error) {
    show_status('crashed', { reason: error.message });
  }
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
  if (existing && existing.kind === 'folder') throw new Error('code_new.txt is a folder');
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
  if (page.busy) return;
  let folder;
  try {
    folder = await window.showDirectoryPicker({ id: 'codelist', mode: 'readwrite' });
  } catch (error) {
    if (error.name !== 'AbortError') show_status('folder_failed', { reason: error.message });
    return;
  }
  const name = folder.name || '/';
  let code;
  let code_new;
  let job;
  try {
    code = await entry_of(folder, 'code.txt');
    code_new = await entry_of(folder, 'code_new.txt');
    job = {
      code_txt: !code ? null : code.kind === 'folder' ? 'folder' : await code.handle.getFile(),
      code_new_txt: code_new && code_new.kind === 'folder' ? 'folder' : 'file',
    };
  } catch (error) {
    show_status('folder_failed', { reason: error.message });
    return;
  }
  let result;
  try {
    result = await start(job, name + '/code.txt', job.code_txt instanceof Blob ? job.code_txt.size : 0);
  } catch (error) {
    show_status('crashed', { reason: error.message });
    return;
  }
  if (result.status !== 0) {
    show_status('failed_folder', { status: result.status, folder: name });
    return;
  }
  offer_download(result.file.blob);
  try {
    await write_beside(folder, result.file.blob);
  } catch (error) {
    show_status('write_failed', { folder: name, reason: error.message });
    return;
  }
  show_status(result.console.total === 0 ? 'no_header_folder' : 'done_folder', {
    folder: name,
    size: result.file.size,
  });
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
    run_file(file);
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
    const files = event.dataTransfer && event.dataTransfer.files;
    if (files && files.length > 0) run_file(files[0]);
  });
  show_language();
}

set_up();
