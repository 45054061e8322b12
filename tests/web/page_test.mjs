// The page in a real browser: Debian's chromium, headless, driven by
// playwright-core. Serves the build tree itself on a loopback port.
//
//   node page_test.mjs BUILD_WEB NATIVE_RENDER WEB_PACKAGE_DIR [SCREENSHOT_DIR]
import {createRequire} from 'node:module'
import {execFileSync} from 'node:child_process'
import fs from 'node:fs'
import http from 'node:http'
import os from 'node:os'
import path from 'node:path'

const [buildArg, nativeRender, packageDir, shotDir] = process.argv.slice(2)
const buildWeb = path.resolve(buildArg)
const {chromium} = createRequire(path.join(path.resolve(packageDir), 'package.json'))('playwright-core')

const types = {'.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm'}
const server = http.createServer((request, response) => {
  const name = decodeURIComponent(new URL(request.url, 'http://localhost').pathname)
  const file = path.join(buildWeb, name === '/' ? 'index.html' : name)
  if (!file.startsWith(buildWeb + path.sep) || !fs.existsSync(file) || fs.statSync(file).isDirectory()) {
    response.writeHead(404).end()
    return
  }
  response.writeHead(200, {'Content-Type': types[path.extname(file)] || 'application/octet-stream'})
  fs.createReadStream(file).pipe(response)
})
await new Promise(resolve => server.listen(0, '127.0.0.1', resolve))
const origin = `http://127.0.0.1:${server.address().port}`

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', '--autoplay-policy=no-user-gesture-required'],
})

let passed = 0, failed = 0
function check(ok, what) {
  if (ok) {
    ++passed
  } else {
    ++failed
    console.error(`FAIL: ${what}`)
  }
}

// A page with its console errors, failed requests and uncaught exceptions
// collected; nothing may come from anywhere but the page's own server.
async function openPage(query) {
  const page = await browser.newPage({viewport: {width: 960, height: 600}})
  const problems = []
  page.on('console', message => { if (message.type() === 'error') problems.push(message.text()) })
  page.on('pageerror', error => problems.push(error.message))
  page.on('requestfailed', request => problems.push(`request failed: ${request.url()}`))
  page.on('response', response => { if (response.status() >= 400) problems.push(`${response.status()}: ${response.url()}`) })
  page.on('request', request => {
    if (!request.url().startsWith(origin)) problems.push(`request outside the page: ${request.url()}`)
  })
  await page.goto(`${origin}/${query}`)
  return {page, problems}
}

const state = page => page.evaluate(() => document.body.dataset.state)
const framePixels = page => page.evaluate(() =>
  Array.from(document.getElementById('screen').getContext('2d').getImageData(0, 80, 640, 320).data))

async function screenshot(page, name) {
  if (shotDir) await page.screenshot({path: path.join(shotDir, name)})
}

try {
  // The show: waits for a click, then moves and plays until Escape.
  {
    const {page, problems} = await openPage('')
    await page.waitForFunction(() => document.body.dataset.state === 'waiting', null, {timeout: 60000})
    await screenshot(page, 'waiting.png')
    await page.click('#screen')
    await page.waitForFunction(() => document.body.dataset.audio === 'running', null, {timeout: 10000})
      .catch(() => {})
    check(await page.evaluate(() => document.body.dataset.audio) === 'running', 'the audio context runs after the click')
    await page.waitForTimeout(1500)
    const before = await framePixels(page)
    await page.waitForTimeout(5000)
    const after = await framePixels(page)
    await screenshot(page, 'playing.png')
    check(before.some((value, i) => value !== after[i]), 'the picture changes over five seconds of the show')
    check(after.some((value, i) => i % 4 !== 3 && value !== 0), 'the picture is not all black')
    check(await state(page) === 'playing', 'the show is playing before Escape')
    // Holding P holds the picture; the music plays on.
    await page.keyboard.down('p')
    await page.waitForTimeout(200)
    const held = await framePixels(page)
    await page.waitForTimeout(1000)
    const stillHeld = await framePixels(page)
    check(held.every((value, i) => value === stillHeld[i]), 'holding P freezes the picture')
    check(await page.evaluate(() => document.body.dataset.audio) === 'running', 'the music plays on while P is held')
    await page.keyboard.up('p')
    await page.waitForTimeout(500)
    const released = await framePixels(page)
    check(released.some((value, i) => value !== stillHeld[i]), 'the picture moves again when P is let go')
    await page.keyboard.press('Escape')
    await page.waitForFunction(() => document.body.dataset.state === 'ended', null, {timeout: 5000}).catch(() => {})
    check(await state(page) === 'ended', 'Escape ends the show')
    await page.waitForTimeout(300)
    check(await page.evaluate(() => document.body.dataset.audio) === 'closed', 'Escape stops the music')
    check(problems.length === 0, `no console errors in the show: ${problems.join(' | ')}`)
    await page.close()
  }

  // ?still=27 shows exactly the renderer's still of 27 s, in black bands.
  {
    const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'morvane-page-'))
    execFileSync(nativeRender, ['--at', '27', '--out', tmp], {stdio: 'ignore'})
    const expected = execFileSync('convert', [path.join(tmp, 'frame_027000.png'), '-depth', '8', 'rgb:-'],
                                  {maxBuffer: 1 << 24})
    fs.rmSync(tmp, {recursive: true})
    const {page, problems} = await openPage('?still=27')
    await page.waitForFunction(() => ['still', 'failed'].includes(document.body.dataset.state), null,
                               {timeout: 120000})
    await screenshot(page, 'still27.png')
    const rgba = await framePixels(page)
    let differing = 0
    for (let i = 0, j = 0; j < expected.length; i += 4, j += 3)
      if (rgba[i] !== expected[j] || rgba[i + 1] !== expected[j + 1] || rgba[i + 2] !== expected[j + 2]) ++differing
    check(differing === 0, `?still=27 matches the native still (${differing} pixels differ)`)
    const bands = await page.evaluate(() => {
      const context = document.getElementById('screen').getContext('2d')
      return [...context.getImageData(0, 0, 640, 80).data, ...context.getImageData(0, 400, 640, 80).data]
    })
    check(bands.every((value, i) => i % 4 === 3 || value === 0), 'the bands above and below the frame are black')
    check(problems.length === 0, `no console errors in ?still: ${problems.join(' | ')}`)
    await page.close()
  }

  // A time past the end is said, not drawn.
  {
    const {page, problems} = await openPage('?still=500')
    await page.waitForFunction(() => ['still', 'failed'].includes(document.body.dataset.state), null,
                               {timeout: 120000})
    check(await state(page) === 'failed', '?still past the end of the show fails')
    check(problems.some(text => text.includes('no frame at 500 s')), 'the failure says which time has no frame')
    await page.close()
  }
} finally {
  await browser.close()
  server.close()
}
console.log(`${passed} passed, ${failed} failed`)
process.exit(failed ? 1 : 0)
