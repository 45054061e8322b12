// node write_stills.cjs MORVANE_JS OUT_DIR SECONDS...
// Draws the stills with the WebAssembly build, one pass from 0 s as the
// renderer does, and writes each as raw RGB bytes, named as the renderer
// names its PNGs (frame_027000.rgb for 27 s).
'use strict'
const fs = require('fs')
const path = require('path')

async function main() {
  const [script, outDir, ...times] = process.argv.slice(2)
  const createMorvane = require(path.resolve(script))
  // Given the bytes, the loader does not fetch them (node's fetch takes no paths).
  const wasmBinary = fs.readFileSync(path.resolve(script).replace(/\.js$/, '.wasm'))
  const show = await createMorvane({wasmBinary})
  show._morvane_prepare()
  fs.mkdirSync(outDir, {recursive: true})
  for (const seconds of times.map(Number).sort((a, b) => a - b)) {
    const result = show._morvane_still(seconds)
    if (result !== 0)
      throw new Error(`no still at ${seconds} s (result ${result})`)
    const at = show._morvane_pixels()
    const rgba = show.HEAPU8.subarray(at, at + 640 * 320 * 4)
    const rgb = Buffer.alloc(640 * 320 * 3)
    for (let i = 0, j = 0; i < rgba.length; i += 4, j += 3) {
      rgb[j] = rgba[i]
      rgb[j + 1] = rgba[i + 1]
      rgb[j + 2] = rgba[i + 2]
    }
    const name = `frame_${String(Math.round(seconds * 1000)).padStart(6, '0')}.rgb`
    fs.writeFileSync(path.join(outDir, name), rgb)
  }
}

main().catch(error => {
  console.error(`write_stills: ${error.message || error}`)
  process.exit(1)
})
