// Takes the user guide's pictures of the web panel: node screenshots.mjs URL TOKEN OUTDIR PID
// (scripts/web-screenshots runs it inside a private network namespace). The last picture shows
// the page after the server, process PID, has been stopped.

import { launchBrowser } from './support.mjs';

const [url, token, out, serverPid] = process.argv.slice(2);
const shots = [
  { file: 'web-panel-phone.png', viewport: { width: 360, height: 780 }, theme: 'dark', unlock: false, scroll: null },
  { file: 'web-panel-tablet.png', viewport: { width: 1024, height: 768 }, theme: 'dark', unlock: true, scroll: null },
  { file: 'web-panel-amplifiers.png', viewport: { width: 1024, height: 768 }, theme: 'light', unlock: false, scroll: '#amps-title' },
  { file: 'web-panel-lost.png', viewport: { width: 360, height: 780 }, theme: 'dark', unlock: false, scroll: null, stop: true },
];

const browser = await launchBrowser();
try {
  for (const shot of shots) {
    const context = await browser.createBrowserContext();
    const page = await context.newPage();
    await page.setViewport({ ...shot.viewport, deviceScaleFactor: 1 });
    await page.goto(`${url}?theme=${shot.theme}`);
    await page.type('#token', token);
    await page.click('#signin button[type=submit]');
    await page.waitForSelector('#panel-view:not([hidden]) article.group');
    await page.waitForFunction(() => [...document.querySelectorAll('.meter-text')].some((e) => e.textContent !== '—'),
      { timeout: 20000 });
    await page.waitForFunction(() => ![...document.querySelectorAll('.held dt')].some((e) => e.textContent === 'Not loaded yet'),
      { timeout: 20000 });
    if (shot.unlock) await page.click('#lock');
    if (shot.scroll) {
      await page.$eval('#amps details', (d) => (d.open = true));
      await page.$eval(shot.scroll, (e) => e.scrollIntoView());
      await page.evaluate(() => window.scrollBy(0, -70));
    }
    if (shot.stop) {
      process.kill(Number(serverPid), 'SIGTERM');
      await page.waitForFunction(() => document.body.classList.contains('lost'));
    }
    await page.mouse.move(0, 0);
    await new Promise((resolve) => setTimeout(resolve, 600));
    await page.screenshot({ path: `${out}/${shot.file}` });
    await context.close();
    console.log(`screenshots: ${out}/${shot.file}`);
  }
} finally {
  await browser.close();
}
