// The page: loads the show, then runs it as the address asks.
//   (nothing)       waits for a click or key press, then plays the show
//   ?still=SECONDS  steps from 0 s at 60 frames per second and shows that frame
//   ?bench          draws the whole show and prints the frame times
import {ChiptuneJsPlayer} from './chiptune3/chiptune3.js'

const canvas = document.getElementById('screen')
const params = new URLSearchParams(location.search)
const show = await createMorvane({canvas, ChiptuneJsPlayer})

// Let the prompt paint before the preparations hold the page.
await new Promise(resolve => requestAnimationFrame(() => setTimeout(resolve)))
show._morvane_prepare()
const context = canvas.getContext('2d')
context.fillStyle = '#000'
context.fillRect(0, 0, canvas.width, canvas.height)

if (params.has('still')) {
  const seconds = Number(params.get('still'))
  const result = Number.isFinite(seconds) && seconds >= 0 ? show._morvane_still(seconds) : -1
  if (result !== 0)
    console.error(`morvane: no frame at ${params.get('still')} s: the show is 168.81 s long`)
  document.body.dataset.state = result === 0 ? 'still' : 'failed'
} else if (params.has('bench')) {
  document.body.dataset.state = 'bench'
  show._morvane_bench()
  document.body.dataset.state = 'benched'
} else {
  document.body.dataset.state = 'waiting'
  show._morvane_live()
}
