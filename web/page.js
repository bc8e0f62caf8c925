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
    failed: 'codelist failed on {name} with exit status {status}, so no code_new.txt was made. {meaning}',
    failed_folder: 'codelist failed with exit status {status}, so nothing in the folder “{folder}” was changed. {meaning}',
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
    // What the program's messages mean, and what to do.
    failed_open: 'codelist could not open a file. Its message, “ファイルオープンエラー”, means “file open error”. In a folder, code.txt must be a file and code_new.txt must not be a folder.',
    failed_read: 'codelist could not read {name} to its end. Its message, “ファイル読み込みエラー”, means “file read error”: the browser could no longer read the file, or the file changed while it was read. Choose it again.',
    failed_write: 'codelist could not write code_new.txt. Its message, “ファイル書き込みエラー”, means “file write error”. Try again.',
    // Why each line was kept or dropped.
    why_heading: 'Why lines were dropped',
    why_running: 'Looking at why lines were dropped…',
    why_failed: 'The page could not tell why lines were dropped ({reason}).',
    summary: 'Kept {codes} and dropped {dropped}.',
    summary_near: 'Kept {codes} and dropped {dropped} ({near} of them look like mistyped codes).',
    summary_near_one: 'Kept {codes} and dropped {dropped} (one of them looks like a mistyped code).',
    codes: '{count} codes',
    codes_one: '1 code',
    lines: '{count} lines',
    lines_one: '1 line',
    with_more: '{count} of the codes had more after them on their line, which is not copied.',
    ctrl_z: 'Everything after the Ctrl-Z on line {line} ({size}) was ignored, as a Ctrl-Z ends a text file.',
    ctrl_z_uncounted: 'Everything after the Ctrl-Z on line {line} was ignored, as a Ctrl-Z ends a text file.',
    mistakes_none: 'No dropped line looks like a mistyped code.',
    others_summary: 'Other dropped lines: {count}',
    unlisted: 'Only the first {most} lines of each kind are listed.',
    line: 'Line {line}',
    no_header_byte_order_mark: 'No header line was found: the file starts with a UTF-8 byte order mark. Save it without one, or as Shift-JIS.',
    no_header_utf16: 'No header line was found: the file is saved as UTF-16. Save it as Shift-JIS or UTF-8.',
    no_header_cr_only: 'No header line was found: its lines end in CR alone (old Mac line ends), so the file reads as one long line. Save it with CR LF or LF line ends.',
    no_header_trailing_space: 'No header line was found: line {line} would be one but for the blank at its end. Delete the blank.',
    no_header_full_width: 'No header line was found: line {line} would be one, but it is typed in full-width characters. Type it in half-width characters.',
    no_header_no_line_end: 'No header line was found: line {line}, the last, would be one, but it has no line end. End it with a line end.',
    no_header_unknown: 'No header line was found: none has six characters and a line end, or an “l” as its seventh character.',
    fate_code_cut: 'kept as its first 17 characters, but a ninth digit follows: check that it is the code you meant',
    fate_code_before_header: 'a code above the header line: codes count only after the header block',
    fate_lower_case: 'lower-case letters: code digits are 0–9 and capital A–F',
    fate_full_width_shift_jis: 'full-width characters (Shift-JIS): type the code in half-width characters',
    fate_full_width_utf8: 'full-width characters (UTF-8): type the code in half-width characters',
    fate_spacing: 'a tab, more than one space, or a blank in front: put one space between the two words, and nothing before them',
    fate_short_word: 'a word of fewer than eight digits',
    fate_long_word: 'a first word of more than eight digits',
    fate_non_hex_letter: 'a letter that is not A–F (an O for a 0?)',
    fate_before_header: 'above the header line',
    fate_long_line_piece: 'the rest of a line longer than 199 bytes',
    fate_text: 'not a code',
    empty_line: 'an empty line',
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
    language_note: 'ページの表示を英語に切り替えます',
    intro: 'codelist は、コード一覧（code.txt）からヘッダーブロックとコード行を取り出し、改行を Windows 形式（CR LF）にして code_new.txt に書き出します。コマンドライン版と同じ処理です。',
    private: '処理はすべてこのデバイスの中で行われます。ファイルがアップロードされたり、どこかに送られたりすることはありません。ネットワークにつながっていなくても使えます。',
    file_heading: 'ファイルで使う',
    drop_here: 'code.txt を選ぶか、このページにドラッグ＆ドロップしてください。',
    folder_heading: 'フォルダーで使う',
    folder_text: 'code.txt のあるフォルダーを開くと、コマンドライン版と同じように、そのフォルダーに code_new.txt を書き出します。処理に失敗したときは、フォルダーの中身は変わりません。',
    folder_missing: 'このブラウザーはフォルダーを開けません。上の「ファイルで使う」からファイルを選んでください。code_new.txt はダウンロードで受け取れます。',
    folder_button: 'フォルダーを開く…',
    result_heading: '結果',
    progress_label: '読み込み状況',
    download: 'code_new.txt をダウンロード',
    console_heading: 'コンソール出力',
    idle: 'ファイルを選ぶと、ここに結果が表示されます。',
    running: '{name} を処理しています…',
    in_folder: 'フォルダー「{folder}」の {name}',
    done: '完了しました。{name} から code_new.txt（{size}）を作りました。',
    done_folder: '完了しました。フォルダー「{folder}」に code_new.txt（{size}）を書き出しました。',
    no_header: '{name} にヘッダー行が見つからなかったため、code_new.txt は空です。',
    no_header_folder: 'code.txt にヘッダー行が見つからなかったため、フォルダー「{folder}」に空の code_new.txt を書き出しました。',
    failed: '{name} の処理に失敗しました（終了ステータス {status}）。code_new.txt は作っていません。{meaning}',
    failed_folder: 'フォルダー「{folder}」の code.txt の処理に失敗しました（終了ステータス {status}）。フォルダーの中身は変えていません。{meaning}',
    changed: '{name} が読み込みの途中で変更されたため、code_new.txt は作っていません。今の内容で処理するには、もう一度選んでください。',
    changed_folder: '読み込みの途中で code.txt が変更されたため、フォルダー「{folder}」の中身は変えていません。今の内容で処理するには、もう一度フォルダーを開いてください。',
    write_failed: 'フォルダー「{folder}」に code_new.txt を書き出せませんでした。{reason}。フォルダーの中身は元のままです。結果はダウンロードで受け取れます。',
    folder_failed: 'フォルダーを読めませんでした。{reason}。フォルダーの中身は変えていません。',
    crashed: 'ページで codelist を実行できず、{name} を処理できませんでした。{reason}。',
    several_files: 'ファイルは 1 つだけドロップしてください。codelist が読むのは code.txt 1 つだけです。ドロップされた {count} 個のファイルの中に code.txt がないため、処理していません。',
    took_code_txt: 'ドロップされた {count} 個のファイルのうち、code.txt を処理しました。',
    folder_dropped: 'ドロップされたフォルダー「{folder}」の code.txt を処理しました。このフォルダーに code_new.txt を書き出すには、「フォルダーを開く…」を使ってください。',
    folder_without_code_txt: 'ドロップされたフォルダー「{folder}」に code.txt がないため、処理していません。',
    busy: '{name} を処理している最中なので、ドロップされたものは受け付けませんでした。処理が終わってから、もう一度ドロップしてください。',
    unreadable: 'ドロップされたものをブラウザーが読み込めませんでした。{reason}。',
    omitted: '…… {count} バイト省略 ……',
    bytes: '{count} バイト',
    failed_open: '「ファイルオープンエラー」は、codelist がファイルを開けなかったことを表します。フォルダーで使うときは、フォルダーに code.txt というファイルがあること、code_new.txt という名前のフォルダーがないことを確かめてください。',
    failed_read: '「ファイル読み込みエラー」は、{name} を最後まで読めなかったことを表します。ブラウザーがファイルを読めなくなったか、読み込みの途中でファイルが変更されたためです。もう一度選んでください。',
    failed_write: '「ファイル書き込みエラー」は、codelist が code_new.txt を書き出せなかったことを表します。もう一度試してください。',
    why_heading: '除外した行とその理由',
    why_running: '行を除外した理由を調べています…',
    why_failed: '行を除外した理由を調べられませんでした（{reason}）。',
    summary: '{codes}を書き出し、{dropped}を除外しました。',
    summary_near: '{codes}を書き出し、{dropped}を除外しました（うち {near} 行は、コードの入力ミスのようです）。',
    summary_near_one: '{codes}を書き出し、{dropped}を除外しました（うち 1 行は、コードの入力ミスのようです）。',
    codes: 'コード {count} 行',
    codes_one: 'コード 1 行',
    lines: '{count} 行',
    lines_one: '1 行',
    with_more: 'コード行のうち {count} 行は、コードの後ろに続く部分（コメントなど）を削除して書き出しました。',
    ctrl_z: '{line} 行目に Ctrl-Z があるため、それより後ろ（{size}）は無視しました。Ctrl-Z はテキストファイルの終わりを表します。',
    ctrl_z_uncounted: '{line} 行目に Ctrl-Z があるため、それより後ろは無視しました。Ctrl-Z はテキストファイルの終わりを表します。',
    mistakes_none: 'コードの入力ミスと思われる行はありません。',
    others_summary: 'そのほかの除外した行（{count} 行）',
    unlisted: '一覧には、種類ごとに最初の {most} 行だけを表示しています。',
    line: '{line} 行目',
    no_header_byte_order_mark: 'ヘッダー行が見つかりません。ファイルの先頭に UTF-8 の BOM が付いています。BOM なしの UTF-8 か、Shift-JIS で保存し直してください。',
    no_header_utf16: 'ヘッダー行が見つかりません。ファイルが UTF-16 で保存されています。Shift-JIS か UTF-8 で保存し直してください。',
    no_header_cr_only: 'ヘッダー行が見つかりません。改行コードが CR だけ（古い Mac の形式）なので、ファイル全体が 1 つの長い行として読まれます。改行コードを CR LF か LF にして保存し直してください。',
    no_header_trailing_space: 'ヘッダー行が見つかりません。{line} 行目は、行末の空白がなければヘッダー行になります。空白を削除してください。',
    no_header_full_width: 'ヘッダー行が見つかりません。{line} 行目は全角文字で入力されているため、ヘッダー行になりません。半角で入力し直してください。',
    no_header_no_line_end: 'ヘッダー行が見つかりません。最後の行（{line} 行目）は、行末に改行がないためヘッダー行になりません。行末に改行を入れてください。',
    no_header_unknown: 'ヘッダー行が見つかりません。6 文字の後ろに改行が続く行も、7 文字目が「l」（小文字のエル）の行もありません。',
    fate_code_cut: '先頭の 17 文字だけを書き出しました。後ろに 9 桁目が続いているので、意図したコードか確かめてください。',
    fate_code_before_header: 'ヘッダー行より前にあるコードです。コードを書き出すのは、ヘッダーブロックより後ろの行だけです。',
    fate_lower_case: '英小文字が含まれています。コードに使えるのは 0～9 と大文字の A～F だけです。',
    fate_full_width_shift_jis: '全角文字（Shift-JIS）が含まれています。コードは半角で入力してください。',
    fate_full_width_utf8: '全角文字（UTF-8）が含まれています。コードは半角で入力してください。',
    fate_spacing: 'タブ、連続した空白、または行頭の空白があります。8 桁と 8 桁の間は半角スペース 1 つだけにし、行頭には何も入れないでください。',
    fate_short_word: '8 桁に満たない数字があります。',
    fate_long_word: '前半の数字が 8 桁を超えています。',
    fate_non_hex_letter: 'A～F 以外の英字が含まれています。0（ゼロ）を O（オー）と入力していませんか。',
    fate_before_header: 'ヘッダー行より前の行です。',
    fate_long_line_piece: '199 バイトを超える行の続きです。',
    fate_text: 'コード行ではありません。',
    empty_line: '空行です。',
    reason_QuotaExceededError: '空き容量が足りません',
    reason_NotAllowedError: 'アクセスが許可されませんでした',
    reason_NoModificationAllowedError: 'ファイルを変更できません',
    reason_InvalidModificationError: 'ファイルを変更できません',
    reason_NotFoundError: 'フォルダーかファイルが見つかりません',
    reason_NotReadableError: 'ファイルを読めなくなりました',
    reason_SecurityError: 'ブラウザーのセキュリティ上の制限で、この操作は許可されていません',
    reason_TypeMismatchError: 'code_new.txt という名前のフォルダーがあります',
    reason_RangeError: 'ブラウザーのメモリが足りません',
    reason_other: 'ブラウザーのメッセージは「{detail}」です',
    reason_detail: '{reason}（ブラウザーのメッセージ「{detail}」）',
  },
};

const page = {
  // The first of the browser's languages that the page has.
  language: (navigator.languages || [navigator.language || 'en'])
    .map((l) => (/^(ja|en)\b/i.exec(l) || [''])[0].toLowerCase())
    .find((l) => l !== '') || 'en',
  status: { key: 'idle', values: {} },
  notice: null,
  // What the program printed ({ head, tail, total }), how much of it is its
  // echo, and code.txt's encoding.
  console: null,
  // The judge's report, read; { running } or { failed } before and without.
  explanation: null,
  // The worker of the last run, which may still be judging.
  worker: null,
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

// The program's console. What it echoes is what it wrote to code_new.txt,
// the lines of code.txt, and is shown in code.txt's encoding, decided once
// for the whole file: UTF-8 where all of it is, Shift-JIS otherwise. What
// follows are the program's own messages, in Shift-JIS. The lines that the
// page lists as dropped are shown the same way.
const decoders = { utf8: new TextDecoder('utf-8'), shift_jis: new TextDecoder('shift_jis') };

function decoded(bytes, encoding) {
  return decoders[encoding].decode(bytes).replace(/\r\n/g, '\n');
}

// The echo's first `echo` bytes of `bytes` (which start at the console's
// byte `from`) in the file's encoding, the rest as Shift-JIS.
function console_text(bytes, from, printed) {
  const echo = Math.max(0, Math.min(bytes.length, printed.echo - from));
  return decoded(bytes.subarray(0, echo), printed.encoding) + decoded(bytes.subarray(echo), 'shift_jis');
}

function show_console() {
  const printed = page.console;
  if (!printed) {
    element('console').textContent = '';
    return;
  }
  const omitted = printed.total - printed.head.length - printed.tail.length;
  let shown;
  if (omitted > 0) {
    shown = console_text(printed.head, 0, printed) + '\n' +
      text('omitted', { count: omitted.toLocaleString(page.language) }) + '\n' +
      console_text(printed.tail, printed.total - printed.tail.length, printed);
  } else {
    // Decoded whole, so that no character is cut where the head ends.
    const whole = new Uint8Array(printed.total);
    whole.set(printed.head, 0);
    whole.set(printed.tail, printed.head.length);
    shown = console_text(whole, 0, printed);
  }
  element('console').textContent = shown.replace(/\n$/, '');
}

// Which of the program's messages a failed run ended with, as the key of
// the page's words for what it means.
function failure_meaning(printed) {
  const last = decoded(printed.tail.length ? printed.tail : printed.head, 'shift_jis').trim().split('\n').pop();
  const meanings = { 'ファイルオープンエラー': 'failed_open', 'ファイル読み込みエラー': 'failed_read', 'ファイル書き込みエラー': 'failed_write' };
  return meanings[last] || null;
}

// The judge's report (see explanation.txt in the sources): its counts, the
// lines it lists, and why no header line was found; null unless it is whole
// and says that code.txt was read to its end.
function read_report(bytes) {
  const report = { counts: {}, listed: [], header: 'none', header_line: 0, ctrl_z_line: 0, ctrl_z_bytes: 0 };
  let read = null;
  let whole = false;
  for (const line of new TextDecoder('ascii').decode(bytes).split('\r\n')) {
    const [what, ...fields] = line.split(' ');
    if (what === 'read') {
      read = fields[0];
    } else if (what === 'end') {
      whole = true;
    } else if (what === 'count') {
      report.counts[fields[1]] = Number(fields[2]);
    } else if (what === 'header') {
      [report.header, report.header_line] = [fields[0], Number(fields[1])];
    } else if (what === 'ctrl_z') {
      [report.ctrl_z_line, report.ctrl_z_bytes] = fields.map(Number);
    } else if (what === 'kept' || what === 'near_miss' || what === 'other') {
      const hex = fields[2] || '';
      const piece = new Uint8Array(hex.length / 2);
      for (let i = 0; i < piece.length; i++) piece[i] = parseInt(hex.substr(2 * i, 2), 16);
      report.listed.push({ group: what, line: Number(fields[0]), fate: fields[1], bytes: piece });
    }
  }
  return whole && read === 'ok' ? report : null;
}

// The lines that the judge lists, the likely mistakes apart from the rest,
// at most `most` in all.
const most_shown = 1000;

function line_item(piece) {
  const item = document.createElement('li');
  const label = document.createElement('strong');
  label.textContent = text('line', { line: piece.line.toLocaleString(page.language) });
  const bytes = document.createElement('code');
  // Shown as text, never as markup; without its line end.
  bytes.textContent = decoded(piece.bytes, page.console.encoding).replace(/\r?\n$/, '');
  if (bytes.textContent === '' && piece.fate === 'text') {
    item.append(label, ' ', text('empty_line'));
  } else {
    item.append(label, ' ', bytes, ' ', text('fate_' + piece.fate));
  }
  return item;
}

// Why each line was kept or dropped, once the judge has said: a summary, the
// likely mistakes, and the other dropped lines folded away.
function show_why() {
  const why = page.explanation;
  element('why').classList.toggle('hidden', !why);
  if (!why) return;
  const summary = element('why-summary');
  const mistakes = element('mistakes');
  const others = element('other-lines');
  mistakes.replaceChildren();
  others.replaceChildren();
  element('others').classList.add('hidden');
  element('unlisted').classList.add('hidden');
  if (why.running || why.failed) {
    summary.textContent = why.running ? text('why_running') : text('why_failed', { reason: why.failed });
    return;
  }
  const count = (...fates) => fates.reduce((sum, fate) => sum + (why.counts[fate] || 0), 0);
  const near = count('code_before_header', 'lower_case', 'full_width_shift_jis', 'full_width_utf8', 'spacing',
    'short_word', 'long_word', 'non_hex_letter');
  // A line longer than the rule's is counted in its pieces, each judged as
  // a line, here as in the list.
  const other_count = count('before_header', 'long_line_piece', 'text');
  const counted = (key, n) => ({ key: n === 1 ? key + '_one' : key, values: { count: n.toLocaleString(page.language) } });
  const values = {
    codes: counted('codes', count('code', 'code_with_more', 'code_cut')),
    dropped: counted('lines', near + other_count),
    near: near.toLocaleString(page.language),
  };
  const sentences = [];
  if (why.header !== 'none') sentences.push(text('no_header_' + why.header, { line: why.header_line }));
  sentences.push(text(near === 0 ? 'summary' : near === 1 ? 'summary_near_one' : 'summary_near', values));
  if (why.counts.code_with_more) {
    sentences.push(text('with_more', { count: why.counts.code_with_more.toLocaleString(page.language) }));
  }
  if (why.ctrl_z_line) {
    // The bytes after it are counted only where they could be read.
    const size = why.ctrl_z_bytes;
    sentences.push(size >= 0 ? text('ctrl_z', { line: why.ctrl_z_line, size }) : text('ctrl_z_uncounted', { line: why.ctrl_z_line }));
  }
  // Japanese sentences follow one another without a space.
  summary.textContent = sentences.join(page.language === 'ja' ? '' : ' ');
  const listed_mistakes = why.listed.filter((piece) => piece.group !== 'other').slice(0, most_shown);
  const listed_others = why.listed.filter((piece) => piece.group === 'other')
    .slice(0, most_shown - listed_mistakes.length);
  mistakes.append(...listed_mistakes.map(line_item));
  others.append(...listed_others.map(line_item));
  if (listed_mistakes.length === 0) {
    const none = document.createElement('li');
    none.textContent = text('mistakes_none');
    mistakes.append(none);
  }
  element('others-summary').textContent = text('others_summary', { count: other_count.toLocaleString(page.language) });
  element('others').classList.toggle('hidden', other_count === 0);
  const unlisted = why.listed.length > listed_mistakes.length + listed_others.length ||
    near + count('code_cut') > listed_mistakes.length || other_count > listed_others.length;
  element('unlisted').textContent = text('unlisted', { most: most_shown.toLocaleString(page.language) });
  element('unlisted').classList.toggle('hidden', !unlisted);
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
  show_why();
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
  // A drop refused during the run may be dropped again now.
  if (!busy && page.notice && page.notice.key === 'busy') show_notice(null);
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

// Whether bytes, given piece after piece, are all valid UTF-8. A piece of
// ASCII alone changes nothing but a character left unfinished before it,
// which its first bytes would show.
function utf8_check() {
  const decoder = new TextDecoder('utf-8', { fatal: true });
  let valid = true;
  const all_ascii = (bytes) => {
    const words = new Int32Array(bytes.buffer, bytes.byteOffset, bytes.length >>> 2);
    let high = 0;
    for (let i = 0; i < words.length; i++) high |= words[i];
    for (let i = words.length * 4; i < bytes.length; i++) high |= bytes[i];
    return (high & 0x80808080) === 0;
  };
  return {
    take(bytes) {
      try {
        if (valid) decoder.decode(all_ascii(bytes) ? bytes.subarray(0, 4) : bytes, { stream: true });
      } catch {
        valid = false;
      }
    },
    valid() {
      try {
        if (valid) decoder.decode();
      } catch {
        valid = false;
      }
      return valid;
    },
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
  // The reading under way: the program's, then the judge's, each from the
  // file's start, through a stream of its own.
  let reading = null;
  const read_ahead = (index) => {
    const { coming, fill } = reading;
    // A piece read ahead may fail before the program asks for it; the
    // failure then waits for the read that asks.
    for (; reading.read_to <= index; reading.read_to++) {
      reading.last = reading.last.then(() => fill(spare.pop() || new Uint8Array(piece_size)));
      reading.last.catch(() => {});
      coming.set(reading.read_to, reading.last);
    }
  };
  const utf8 = utf8_check();
  return {
    job: { size, piece_size },
    // Whether the whole file is UTF-8, once stock is taken.
    utf8: false,
    // A piece that cannot be read now, or that the file no longer has,
    // fails where the program reads it.
    async take_stock() {
      const next = stream_filler(file);
      const buffer = new Uint8Array(piece_size);
      let read = 0;
      try {
        for (let piece; (piece = await next(buffer)).length > 0; read += piece.length) {
          sums.push(checksum(piece));
          utf8.take(piece);
          on_progress(Math.min(read + piece.length, size));
        }
      } catch {
        sums.push(null);
      }
      // A file that is no longer as long as it was when it was chosen has
      // changed: every piece fails.
      if (read !== size) sums.fill(null).push(null);
      this.utf8 = utf8.valid();
    },
    // Piece `index` of reading `id`; a reading asks for each piece once.
    async piece(id, index) {
      if (!reading || reading.id !== id) {
        reading = { id, coming: new Map(), fill: stream_filler(file), read_to: 0, last: Promise.resolve() };
      }
      const { coming } = reading;
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
        return !sums.includes(null) && file.size === size && file.lastModified === time;
      } catch {
        return false;
      }
    },
  };
}

// One run in a worker of its own, made from the function that
// codelist-worker.js defines: a page opened from a file may not load a
// worker script by name, but may start one from a Blob. It resolves to the
// program's result; the worker then judges each line, and ends with that.
function run_in_worker(job, reader, size) {
  return new Promise((resolve, reject) => {
    const source = new Blob(['(' + codelist_worker.toString() + ')()'], { type: 'text/javascript' });
    const url = URL.createObjectURL(source);
    const worker = new Worker(url);
    const finish = () => {
      worker.terminate();
      URL.revokeObjectURL(url);
      if (page.worker === finish) page.worker = null;
    };
    page.worker = finish;
    worker.onmessage = (event) => {
      const message = event.data;
      if (message.kind === 'want') {
        const { reading, index } = message;
        reader.piece(reading, index).then(
          (bytes) => worker.postMessage({ kind: 'piece', reading, index, bytes: bytes.buffer, length: bytes.length },
            [bytes.buffer]),
          (error) => worker.postMessage({ kind: 'piece', reading, index, failed: String(error) }));
      } else if (message.kind === 'release') {
        reader.release(message.bytes);
      } else if (message.kind === 'check') {
        reader.unchanged().then((unchanged) => worker.postMessage({ kind: 'checked', unchanged }));
      } else if (message.kind === 'progress') {
        // Only the bar moves: a status read out at every step would drown a
        // screen reader.
        show_progress(size + message.read, 2 * size);
      } else if (message.kind === 'done') {
        resolve({ ...message.result, judging: message.judging });
        if (!message.judging) finish();
      } else if (message.kind === 'explained') {
        finish();
        const report = message.status === 0 ? read_report(message.report) : null;
        // A report that is not whole says that code.txt could not be read.
        const failed = message.failed || { name: 'NotReadableError' };
        page.explanation = report ||
          { failed: texts.en['reason_' + failed.name] ? { key: 'reason_' + failed.name } : reason(failed) };
        show_why();
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
  if (page.worker) page.worker();
  offer_download(null);
  page.console = null;
  page.explanation = null;
  show_console();
  show_why();
  const size = file ? file.size : 0;
  show_progress(0, 2 * size);
  show_status('running', { name });
  // The bar shows the file read once before the run, then as the program
  // reads it.
  const reader = file ? file_reader(file, (read) => show_progress(read, 2 * size)) : null;
  if (reader) await reader.take_stock();
  const result = await run_in_worker(reader ? { ...job, code_txt: reader.job } : job, reader, size);
  page.console = { ...result.console, echo: result.file.size, encoding: reader && reader.utf8 ? 'utf8' : 'shift_jis' };
  show_console();
  if (result.judging) {
    page.explanation = { running: true };
    show_why();
  }
  return result;
}

// The status of a run that failed: what the program's message means.
function show_failure(key, values, result) {
  const meaning = result.changed ? null : failure_meaning(page.console);
  show_status(result.changed ? key.replace('failed', 'changed') : key,
    { ...values, status: result.status, meaning: meaning ? { key: meaning, values } : '' });
}

// One thing at a time: the page is busy from the moment something is given
// to it (looking up a folder's files takes time too) until `work` has shown
// its last status, a folder's code_new.txt written and all.
async function one_at_a_time(name, work) {
  set_busy(name);
  try {
    await work();
  } finally {
    set_busy(null);
  }
}

// Runs the program on `file`, with the page busy.
async function run_file(file, name = file.name) {
  // What was given may have been a drop of several files, or a folder.
  page.running = name;
  try {
    const result = await start({ code_new_txt: 'file' }, file, name);
    if (result.changed || result.status !== 0) {
      show_failure('failed', { name }, result);
    } else {
      offer_download(result.file.blob);
      show_status(result.console.total === 0 ? 'no_header' : 'done', { name, size: result.file.size });
    }
  } catch (error) {
    show_status('crashed', { name, reason: reason(error) });
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
  await one_at_a_time(name, () => folder_run(folder, folder_name, name));
}

async function folder_run(folder, folder_name, name) {
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
  let result;
  try {
    result = await start(job, code instanceof Blob ? code : null, name);
  } catch (error) {
    show_status('crashed', { name, reason: reason(error) });
    return;
  }
  if (result.changed || result.status !== 0) {
    show_failure('failed_folder', { name, folder: folder_name }, result);
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
  const given = entries.length ? entries[0].name : files.length ? files[0].name : null;
  if (given !== null) await one_at_a_time(given, () => take_drop(entries, files));
}

async function take_drop(entries, files) {
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
      one_at_a_time(file.name, () => run_file(file));
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
