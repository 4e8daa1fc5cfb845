// One walk through the viewer: open it, scroll back 10,000 records, click a
// user, search, narrow the histogram, go Back, follow while the log grows,
// run SQL and export; the rows shown are checked against velmora data.
'use strict';
const { chromium } = require('playwright-core');
const { execFileSync } = require('child_process');
const fs = require('fs');
const path = require('path');

const [url, velmora, log, browserPath, out] = process.argv.slice(2);
const run = (args) => execFileSync(velmora, args, { maxBuffer: 1 << 30, stdio: ['ignore', 'pipe', 'ignore'] }).toString();
const data = (...args) => run(['data', log, '--format', 'jsonl', ...args])
  .split('\n').filter(Boolean).map((l) => Object.values(JSON.parse(l)).join('|'));
let failures = 0;
function check(ok, what) {
  if (!ok) { console.log('FAILED: ' + what); failures++; }
}

(async () => {
  // A fresh profile (the --user-data-dir) for each run.
  const browser = await chromium.launchPersistentContext(fs.mkdtempSync(path.join(out, 'profile-')), {
    executablePath: browserPath,
    headless: true,
    viewport: { width: 1280, height: 800 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  const page = browser.pages()[0] || await browser.newPage();
  const problems = [];
  page.on('console', (m) => { if (m.type() === 'error') problems.push(m.text()); });
  page.on('pageerror', (e) => problems.push(String(e)));
  // Waits for a sign in the page. Playwright's own waitForFunction evaluates a
  // string, which the page's Content-Security-Policy forbids, and it stays on.
  const waitFor = async (fn, arg, ms = 60000) => {
    const end = Date.now() + ms;
    while (!(await page.evaluate(fn, arg))) {
      if (Date.now() > end) throw new Error('waited in vain for ' + String(fn).slice(0, 120));
      await new Promise((r) => setTimeout(r, 50));
    }
  };
  const shown = () => page.$$eval('#rows tbody tr', (trs) => trs.map((tr) => [...tr.cells].map((td) => td.textContent).join('|')));
  const settle = () => waitFor(() => !document.body.dataset.reloading && !document.body.dataset.loading &&
    document.querySelectorAll('#rows tbody tr').length > 0);
  // The rows shown are consecutive newest-first rows of velmora data.
  const matches = (rows, want, atLeastDepth) => {
    const reversed = want.slice().reverse();
    const at = reversed.indexOf(rows[0]);
    if (at < 0 || at < (atLeastDepth || 0)) return false;
    return rows.every((r, i) => reversed[at + i] === r);
  };

  await page.goto(url);
  await settle();
  const all = data();
  let rows = await shown();
  check(rows.length > 10 && rows[0] === all[all.length - 1] && matches(rows, all), 'the first screen is the newest records');

  // Scroll back 10,000 records.
  for (let k = 0; k < 400; ++k) {
    await page.$eval('#scroller', (s) => { s.scrollTop += 100 * 22; });
    await waitFor(() => !document.body.dataset.loading);
    rows = await shown();
    const depth = all.length - 1 - all.indexOf(rows[0]);
    if (k % 20 === 0) console.log('scrolled back ' + depth + ' records');
    if (depth >= 10000) break;
  }
  rows = await shown();
  check(matches(rows, all, 10000), '10,000 records back the rows are velmora data\'s');
  await page.screenshot({ path: path.join(out, 'serve-deep.png') });

  // Click a user: the view is that user's records.
  await page.click('#newest');
  await settle();
  const cell = await page.$('#rows tbody tr:nth-child(3) td[data-column="Пользователь"]');
  const user = await cell.textContent();
  await cell.click();
  await waitFor(() => location.hash.includes('user='));
  await waitFor((u) => [...document.querySelectorAll('#rows tbody td[data-column="Пользователь"]')].every((td) => td.textContent === u), user);
  rows = await shown();
  const theirs = data('--user', user);
  check(matches(rows, theirs) && rows[0] === theirs[theirs.length - 1], 'a click on ' + user + ' shows their records');

  // Search: matches marked, next goes to one.
  await page.fill('#search', 'Doc');
  await page.press('#search', 'Enter');
  await page.$eval('#search', (s) => s.dispatchEvent(new Event('change')));
  await page.click('#next');
  await page.waitForSelector('#rows tr.cur');
  check(await page.$$eval('#rows mark', (m) => m.length) > 0, 'search marks its matches');

  // Narrow the histogram by dragging across its middle.
  const box = await (await page.$('#histogram')).boundingBox();
  await page.mouse.move(box.x + box.width * 0.4, box.y + box.height / 2);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width * 0.6, box.y + box.height / 2, { steps: 5 });
  await page.mouse.up();
  await waitFor(() => location.hash.includes('from=') && location.hash.includes('to='));
  const params = new URLSearchParams(await page.evaluate(() => location.hash.slice(1)));
  await settle();
  rows = await shown();
  const narrowed = data('--user', user, '--from', params.get('from'), '--to', params.get('to'));
  check(narrowed.length > 0 && rows[0] === narrowed[narrowed.length - 1] && matches(rows, narrowed), 'the narrowed period shows velmora data\'s rows');
  await page.screenshot({ path: path.join(out, 'serve-narrowed.png') });

  // Back, twice: the filters go as they came.
  await page.goBack();
  await waitFor(() => !location.hash.includes('from='));
  await page.goBack();
  await waitFor(() => !location.hash.includes('user='));

  // Follow while a writer appends.
  await page.check('#follow');
  await waitFor(() => document.body.dataset.following === 'open');
  fs.appendFileSync(log, '20050301;12:00:00;Follower;E;Docs;DocWrite;1;appended;;\r\n');
  await waitFor(() => [...document.querySelectorAll('#rows tbody td')].some((td) => td.textContent === 'Follower'), null, 30000)
    .catch(() => check(false, 'an appended record appears while following'));

  // SQL and export.
  await page.click('#tab-sql');
  await page.fill('#statement', 'SELECT count(*) FROM log');
  await page.click('#run');
  await page.waitForSelector('#sql-result td');
  const count = await page.$eval('#sql-result td', (td) => td.textContent);
  check(count === String(data().length), 'SQL counts the records velmora data gives: ' + count);
  const csv = await page.evaluate(() => fetch('/api/export?format=csv').then((r) => r.text()));
  check(csv === run(['data', log, '--format', 'csv']), 'the export is velmora data\'s CSV');
  await page.screenshot({ path: path.join(out, 'serve-sql.png') });

  check(problems.length === 0, 'the page reported no error: ' + problems.join('; '));
  await browser.close();
  console.log(failures ? failures + ' check(s) failed' : 'passed');
  process.exit(failures ? 1 : 0);
})().catch((e) => { console.log('FAILED: ' + e.message); process.exit(1); });
