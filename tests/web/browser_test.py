#!/usr/bin/python3
"""The page in headless Chromium, from file:// and from a server on
127.0.0.1: a list given through the file chooser, by a drop and through a
folder, the console as characters, the download's bytes against the native
program's code_new.txt, the keyboard, the language, and no request to
anywhere else.

  browser_test.py PAGE_FOLDER NATIVE_PROGRAM EXAMPLE [--shots FOLDER]
                  [--only CASE] [--time LIST]

--only runs one case (check_packages runs `example_file` on the unzipped
page); --time runs LIST through the page and prints the seconds to a result.
"""
import argparse
import base64
import functools
import http.server
import json
import os
import subprocess
import sys
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

COMPLETION = '上記のcode_new.txt を作成しました'
OPEN_FAILURE = 'ファイルオープンエラー'


def native_folder(program, files):
    """code_new.txt as the native program leaves it in a folder holding
    `files` (name: bytes); None where there is none."""
    with tempfile.TemporaryDirectory() as folder:
        for name, data in files.items():
            with open(os.path.join(folder, name), 'wb') as f:
                f.write(data)
        subprocess.run([os.path.abspath(program)], cwd=folder, stdout=subprocess.DEVNULL, check=False)
        written = os.path.join(folder, 'code_new.txt')
        if not os.path.exists(written):
            return None
        with open(written, 'rb') as f:
            return f.read()


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class Browser:
    def __init__(self, page, work):
        self.work = work
        self.downloads = os.path.join(work, 'downloads')
        os.makedirs(self.downloads)
        handler = functools.partial(Quiet, directory=page)
        self.server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.http = 'http://127.0.0.1:%d/' % self.server.server_port
        self.file = 'file://' + os.path.abspath(page) + '/'
        options = webdriver.ChromeOptions()
        options.binary_location = '/usr/bin/chromium'
        for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
                     '--no-first-run', '--disable-background-networking',
                     '--disable-component-update', '--disable-sync', '--lang=en-US',
                     '--window-size=800,1000', '--user-data-dir=' + os.path.join(work, 'profile')):
            options.add_argument(flag)
        options.set_capability('goog:loggingPrefs', {'performance': 'ALL'})
        self.driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
        # What the browser itself loads on starting is not the page's.
        self.driver.get('about:blank')
        self.driver.get_log('performance')
        self.driver.execute_cdp_cmd('Browser.setDownloadBehavior',
                                    {'behavior': 'allow', 'downloadPath': self.downloads})

    def close(self):
        self.driver.quit()
        self.server.shutdown()

    def open(self, origin):
        self.driver.get((self.http if origin == 'http' else self.file) + 'index.html')
        self.wait_for("document.getElementById('status').textContent !== ''")

    def press(self, key):
        ActionChains(self.driver).send_keys(key).perform()

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def wait_for(self, condition, seconds=60):
        end = time.time() + seconds
        while not self.js('return ' + condition):
            if time.time() > end:
                raise AssertionError('timed out waiting for ' + condition)
            time.sleep(0.05)

    def start(self, how, data):
        """Gives the page `data` as code.txt by the chooser, a drop or a folder."""
        self.js("document.body.dataset.state = ''")
        if how == 'chooser':
            path = os.path.join(self.work, 'chosen', 'code.txt')
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, 'wb') as f:
                f.write(data)
            self.driver.find_element(By.ID, 'file').send_keys(path)
        elif how == 'drop':
            self.js("""
                const bytes = Uint8Array.from(atob(arguments[0]), (c) => c.charCodeAt(0));
                const transfer = new DataTransfer();
                transfer.items.add(new File([bytes], 'code.txt'));
                document.getElementById('drop').dispatchEvent(
                    new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
                """, base64.b64encode(data).decode())
        else:
            self.driver.find_element(By.ID, 'folder').click()

    def finish(self, seconds=60):
        self.wait_for("document.body.dataset.state === 'ready'", seconds)
        return (self.driver.find_element(By.ID, 'status').text,
                self.driver.find_element(By.ID, 'console').text)

    def download(self):
        """The bytes that the download link saves, as the user gets them."""
        saved = os.path.join(self.downloads, 'code_new.txt')
        if os.path.exists(saved):
            os.remove(saved)
        link = self.driver.find_element(By.ID, 'download')
        if not link.is_displayed():
            return None
        link.click()
        end = time.time() + 20
        while not os.path.exists(saved) or any(n.endswith('.crdownload') for n in os.listdir(self.downloads)):
            if time.time() > end:
                raise AssertionError('no code_new.txt downloaded')
            time.sleep(0.05)
        with open(saved, 'rb') as f:
            return f.read()

    def private_folder(self, files):
        """The origin's private folder holding `files` (name: bytes), offered
        by the folder picker in place of a real one."""
        self.driver.execute_async_script("""
            const [files, done] = arguments;
            (async () => {
              const root = await navigator.storage.getDirectory();
              for await (const name of root.keys()) await root.removeEntry(name, { recursive: true });
              for (const [name, data] of Object.entries(files)) {
                const writable = await (await root.getFileHandle(name, { create: true })).createWritable();
                await writable.write(Uint8Array.from(atob(data), (c) => c.charCodeAt(0)));
                await writable.close();
              }
              window.showDirectoryPicker = async () => navigator.storage.getDirectory();
            })().then(() => done(), (e) => done(String(e)));
            """, {name: base64.b64encode(data).decode() for name, data in files.items()})

    def private_names(self):
        return sorted(self.driver.execute_async_script("""
            const done = arguments[0];
            (async () => {
              const names = [];
              for await (const name of (await navigator.storage.getDirectory()).keys()) names.push(name);
              return names;
            })().then(done, () => done(null));
            """) or [])

    def private_file(self, name):
        found = self.driver.execute_async_script("""
            const [name, done] = arguments;
            navigator.storage.getDirectory()
              .then((root) => root.getFileHandle(name))
              .then((handle) => handle.getFile())
              .then((file) => file.arrayBuffer())
              .then((buffer) => done(btoa(String.fromCharCode(...new Uint8Array(buffer)))),
                    () => done(null));
            """, name)
        return None if found is None else base64.b64decode(found)


checks_passed = 0


def check(failures, name, condition, detail=''):
    global checks_passed
    print(('ok: ' if condition else 'FAIL: ') + name + ('' if condition else ' ' + detail))
    if condition:
        checks_passed += 1
    else:
        failures.append(name)


def run_cases(browser, native, example, only, shots):
    failures = []
    no_header = b'just a line\r\nand another\r\n0123ABCD 00000063\r\n'
    sjis_header = '\r\nゲーム\r\nSecond line\r\n0123ABCD 00000063 ; コメント\r\n'.encode('shift_jis')
    utf8_header = '\r\nゲム\r\nSecond line\r\n0123ABCD 00000063\r\n'.encode('utf-8')

    # name, origin, how code.txt is given, the folder's files, what the
    # status and the console must show. The page's download, or the folder's
    # code_new.txt, must be what the native program leaves in a folder
    # holding the same files.
    cases = [
        ('example_file', 'file', 'chooser', {'code.txt': example}, 'Done', COMPLETION),
        ('example_http', 'http', 'chooser', {'code.txt': example}, 'Done', COMPLETION),
        ('drop_file', 'file', 'drop', {'code.txt': example}, 'Done', COMPLETION),
        ('drop_http', 'http', 'drop', {'code.txt': example}, 'Done', COMPLETION),
        ('no_header', 'file', 'drop', {'code.txt': no_header}, 'No header line was found', ''),
        ('shift_jis_header', 'http', 'drop', {'code.txt': sjis_header}, 'Done', 'ゲーム'),
        ('utf8_header', 'http', 'drop', {'code.txt': utf8_header}, 'Done', 'ゲム'),
        # A Shift-JIS header that, alone, would be valid UTF-8 ("İABCD").
        ('half_width_katakana', 'http', 'drop', {'code.txt': '\r\nﾄｰABCD\r\nお金\r\n'.encode('shift_jis')},
         'Done', 'ﾄｰABCD'),
        ('folder_writes_beside', 'http', 'folder', {'code.txt': example},
         'was written in the folder', COMPLETION),
        ('folder_replaces', 'http', 'folder', {'code.txt': example, 'code_new.txt': b'old\r\n'},
         'was written in the folder', COMPLETION),
        ('folder_missing_code_txt', 'http', 'folder', {'code_new.txt': b'old\r\n'},
         'nothing in the folder', OPEN_FAILURE),
        ('folder_no_code_txt_nothing_made', 'http', 'folder', {}, 'nothing in the folder', OPEN_FAILURE),
    ]
    for name, origin, how, files, said, shown in cases:
        if only and name != only:
            continue
        browser.open(origin)
        if how == 'folder':
            browser.private_folder(files)
        browser.start(how, files.get('code.txt'))
        try:
            status, console = browser.finish(seconds=20)
        except AssertionError as error:
            check(failures, name, False, str(error))
            continue
        check(failures, name + ': status', said in status, repr(status))
        check(failures, name + ': console', shown in console, repr(console[-300:]))
        got = browser.private_file('code_new.txt') if how == 'folder' else browser.download()
        expected = native_folder(native, files)
        check(failures, name + ': code_new.txt', got == expected, repr(got)[:200] + ' != ' + repr(expected)[:200])
        if how == 'folder':
            names = sorted(set(files) | ({'code_new.txt'} if expected is not None else set()))
            check(failures, name + ': nothing else', browser.private_names() == names,
                  repr(browser.private_names()))

    # A write into the folder that fails leaves it as it was: an old
    # code_new.txt whole, and none where there was none.
    for name, files in (('write_fails_nothing_made', {'code.txt': example}),
                        ('write_fails_old_kept', {'code.txt': example, 'code_new.txt': b'old\r\n'})):
        if only and name != only:
            continue
        browser.open('http')
        browser.private_folder(files)
        browser.js('FileSystemWritableFileStream.prototype.write = () => '
                   "Promise.reject(new DOMException('no room', 'QuotaExceededError'))")
        browser.start('folder', None)
        status, _ = browser.finish(seconds=20)
        check(failures, name + ': status', 'could not be written' in status, repr(status))
        got = browser.private_file('code_new.txt')
        check(failures, name + ': code_new.txt', got == files.get('code_new.txt'), repr(got)[:200])
        check(failures, name + ': nothing else', browser.private_names() == sorted(files),
              repr(browser.private_names()))

    # A list large enough to be read in many pieces and written as several
    # Blobs: progress shows while it runs, and the download is still exact.
    if not only or only == 'large':
        line = b'0123ABCD 00000063 ; a comment of some length\r\n'
        data = b'GAME01\r\nLarge list\r\n' + line * (40 * 1024 * 1024 // len(line))
        browser.open('http')
        browser.start('chooser', data)
        seen = 0
        end = time.time() + 60
        while browser.js('return document.body.dataset.state') != 'ready' and time.time() < end:
            seen = max(seen, browser.js("const p = document.getElementById('progress');"
                                        'return p.offsetParent ? p.value / p.max : 0'))
            time.sleep(0.02)
        browser.finish()
        check(failures, 'large: progress shows while it runs', 0 < seen <= 1, repr(seen))
        check(failures, 'large: download', browser.download() == native_folder(native, {'code.txt': data}))

    # Tab reaches every control; Enter and Space work the language switch.
    if not only or only == 'keyboard':
        browser.open('file')
        heading = lambda: browser.driver.find_element(By.ID, 'file-heading').text
        focused = lambda: browser.js('return document.activeElement.id')
        reached = []
        while focused() != 'language' and len(reached) < 8:
            browser.press(Keys.TAB)
            reached.append(focused())
        shown = [heading()]
        for key in (Keys.ENTER, Keys.SPACE):
            browser.press(key)
            shown.append(heading())
        check(failures, 'keyboard: Enter and Space switch the language',
              shown == ['A file', 'ファイルで使う', 'A file'], repr(shown))
        for _ in range(3):
            browser.press(Keys.TAB)
            reached.append(focused())
        check(failures, 'keyboard: Tab reaches the switch, the chooser and the folder button',
              {'language', 'file', 'folder'} <= set(reached), repr(reached))
        unlabelled = browser.js("""
            return [...document.querySelectorAll('button, input, progress, a[href], pre')]
              .filter((e) => !(e.labels && e.labels.length) && !e.textContent.trim() &&
                             !e.getAttribute('aria-labelledby')).map((e) => e.id)""")
        check(failures, 'every control is labelled', unlabelled == [], repr(unlabelled))
        # A run started from the keyboard gives the keyboard back to its
        # control once it is done.
        browser.open('http')
        browser.private_folder({'code.txt': example})
        browser.js("document.getElementById('folder').focus(); document.body.dataset.state = ''")
        browser.press(Keys.ENTER)
        browser.finish()
        check(failures, 'keyboard: the focus is back after a run', focused() == 'folder', focused())

    # The browser's first language that the page has, whatever follows it.
    if not only or only == 'language':
        agent = browser.js('return navigator.userAgent')
        for accepted, heading in (('ja,en;q=0.5', 'ファイルで使う'), ('en-US,ja;q=0.5', 'A file'),
                                  ('fr,ja;q=0.5', 'ファイルで使う')):
            browser.driver.execute_cdp_cmd('Network.setUserAgentOverride',
                                           {'userAgent': agent, 'acceptLanguage': accepted})
            browser.open('file')
            shown = browser.driver.find_element(By.ID, 'file-heading').text
            check(failures, 'language for ' + accepted, shown == heading, repr(shown))
        browser.driver.execute_cdp_cmd('Network.setUserAgentOverride',
                                       {'userAgent': agent, 'acceptLanguage': 'en-US'})

    if not only or only == 'narrow':
        browser.driver.set_window_size(360, 800)
        browser.open('file')
        width = browser.js('return [document.documentElement.scrollWidth, window.innerWidth]')
        check(failures, 'narrow: nothing wider than 360 px', width[0] <= width[1], repr(width))
        browser.driver.set_window_size(800, 1000)
        browser.driver.execute_cdp_cmd('Emulation.setEmulatedMedia', {
            'features': [{'name': 'prefers-color-scheme', 'value': 'dark'}]})
        back = browser.js('return getComputedStyle(document.body).backgroundColor')
        browser.driver.execute_cdp_cmd('Emulation.setEmulatedMedia', {'features': []})
        dark = sum(int(c) for c in back[back.index('(') + 1:-1].split(',')[:3]) < 150
        check(failures, 'dark when the system is dark', dark, back)

    if shots and not only:
        os.makedirs(shots, exist_ok=True)
        for language in ('en', 'ja'):
            browser.open('file')
            if language == 'ja':
                browser.driver.find_element(By.ID, 'language').click()
            browser.start('drop', example)
            browser.finish()
            browser.driver.set_window_size(600, 1250)
            browser.driver.save_screenshot(os.path.join(shots, 'screenshot-%s.png' % language))
            browser.driver.set_window_size(800, 1000)

    if not only or only == 'private':
        browser.open('file')
        policy = browser.js("""return document.querySelector(
            'meta[http-equiv="Content-Security-Policy"]')?.content || ''""")
        check(failures, 'the policy forbids connections', "connect-src 'none'" in policy and
              "default-src 'none'" in policy, repr(policy))
        allowed = ('file:', 'blob:', 'data:', browser.http)
        requests = []
        for entry in browser.driver.get_log('performance'):
            message = entry['message']
            if '"Network.requestWillBeSent"' in message:
                requests.append(json.loads(message)['message']['params']['request']['url'])
        elsewhere = [url for url in requests if not url.startswith(allowed)]
        check(failures, 'no request leaves for another origin (%d requests)' % len(requests),
              requests and not elsewhere, repr(elsewhere[:5]))
        # The policy is enforced, not only written: a fetch of the same
        # server under another name is another origin, and is stopped.
        elsewhere = browser.http.replace('127.0.0.1', 'localhost') + 'index.html'
        for origin in ('file', 'http'):
            browser.open(origin)
            outcome = browser.driver.execute_async_script("""
                const [url, done] = arguments;
                let stopped = false;
                document.addEventListener('securitypolicyviolation', () => { stopped = true; });
                fetch(url).then(() => done('fetched'),
                                () => setTimeout(() => done(stopped ? 'stopped' : 'failed'), 100));
                """, elsewhere)
            check(failures, 'the policy stops a fetch from ' + origin, outcome == 'stopped', outcome)
    return failures


def time_list(browser, path):
    browser.open('http')
    browser.js("document.body.dataset.state = ''")
    began = time.time()
    browser.driver.find_element(By.ID, 'file').send_keys(os.path.abspath(path))
    status, _ = browser.finish(seconds=1800)
    print('%.2f %s' % (time.time() - began, status))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('page')
    parser.add_argument('native')
    parser.add_argument('example')
    parser.add_argument('--shots')
    parser.add_argument('--only')
    parser.add_argument('--time')
    arguments = parser.parse_args()
    with open(arguments.example, 'rb') as f:
        example = f.read()
    with tempfile.TemporaryDirectory() as work:
        browser = Browser(arguments.page, work)
        try:
            if arguments.time:
                time_list(browser, arguments.time)
                return 0
            failures = run_cases(browser, arguments.native, example, arguments.only, arguments.shots)
        finally:
            browser.close()
    print('%d passed, %d failed, 0 skipped' % (checks_passed, len(failures)))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
