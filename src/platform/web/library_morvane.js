// The browser side of the web platform layer: the canvas, the music player
// (libopenmpt in an audio worklet, the page's chiptune3) and the page's state.
// page.js passes the canvas and the player class in the module's options.
mergeInto(LibraryManager.library, {
  $morvanePage: {
    context2d: null,
    player: null,
    audio: null,     // the player's AudioContext
    origin: -1,      // context time at which the song's position was 0
    row: 0,
    lastTime: -1,

    setState: function(state) {
      if (typeof document !== 'undefined') document.body.dataset.state = state;
    },
    context: function() {
      if (!Module['canvas']) return null;
      if (!morvanePage.context2d) morvanePage.context2d = Module['canvas'].getContext('2d');
      return morvanePage.context2d;
    },
  },

  // The 640 x 320 frame goes 80 rows down the 640 x 480 picture; the bands
  // above and below stay black.
  morvane_js_present__deps: ['$morvanePage'],
  morvane_js_present: function(rgba) {
    var context = morvanePage.context();
    if (!context) return;  // under node there is no canvas
    var pixels = new Uint8ClampedArray(HEAPU8.buffer, rgba, 640 * 320 * 4);
    context.putImageData(new ImageData(pixels, 640, 320), 0, 80);
  },

  morvane_js_start__deps: ['$morvanePage'],
  morvane_js_start: function(module, size) {
    var page = morvanePage;
    page.setState('playing');
    var canvas = Module['canvas'];
    // Full screen is a wish: a refusal leaves the page as it is.
    if (canvas.requestFullscreen) canvas.requestFullscreen().catch(function() {});
    var song = HEAPU8.slice(module, module + size).buffer;
    var player = new Module['ChiptuneJsPlayer']({repeatCount: -1});
    page.player = player;
    page.audio = player.context;
    page.audio.onstatechange = function() { document.body.dataset.audio = page.audio.state; };
    player.onInitialized(function() { player.play(song); });
    player.onProgress(function(report) {
      // The worklet renders on the context's clock, so the first report
      // fixes where the song started on it.
      if (page.origin < 0) page.origin = page.audio.currentTime - report.pos;
      page.row = report.row;
    });
    player.onError(function(error) {
      console.error('morvane: the music cannot be played (' + error.type + ')');
    });
    page.audio.resume();
  },

  // Seconds of music heard: the context's clock less the output latency,
  // never going back.
  morvane_js_audio_time__deps: ['$morvanePage'],
  morvane_js_audio_time: function() {
    var page = morvanePage;
    if (page.origin < 0) return -1;
    var latency = page.audio.outputLatency || page.audio.baseLatency || 0;
    var time = Math.max(0, page.audio.currentTime - page.origin - latency);
    page.lastTime = Math.max(page.lastTime, time);
    return page.lastTime;
  },

  morvane_js_audio_row__deps: ['$morvanePage'],
  morvane_js_audio_row: function() {
    return morvanePage.row;
  },

  morvane_js_set_volume__deps: ['$morvanePage'],
  morvane_js_set_volume: function(gain) {
    if (morvanePage.player) morvanePage.player.setVol(gain);
  },

  morvane_js_end__deps: ['$morvanePage'],
  morvane_js_end: function() {
    var page = morvanePage;
    if (page.player) {
      page.player.stop();
      page.audio.close();
    }
    if (document.fullscreenElement) document.exitFullscreen().catch(function() {});
    var context = page.context();
    if (context) {
      context.fillStyle = '#000';
      context.fillRect(0, 0, 640, 480);
    }
    page.setState('ended');
  },
});
