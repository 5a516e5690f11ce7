// The page of `reelmender-cli --serve`: open a movie, find the scenes, mark the
// edits, run them and look at every cut. Everything it shows comes from the
// server beside it; the token cookie rides along with every request.
'use strict';

const $ = (id) => document.getElementById(id);
const STRIP_PICTURES = 12;
const CLIP_SECONDS = 10;
const MAX_IMPORT_BYTES = 1 << 20;
const ACTIONS = { remove: 'Remove', mute: 'Mute', replace: 'Title card', textOverVideo: 'Text card' };

const state = {
  root: 0, // the allowed folder listed, by number
  folder: '', // the folder listed, inside it
  movieRoot: 0, // the allowed folder of the movie
  movie: null, // path inside it
  fps: 25,
  duration: 0,
  playhead: 0,
  markIn: null,
  markOut: null,
  edits: [], // {action, start, end, text, cardSeconds, match, enabled}, as the server reads them
  clipStart: null, // where the playing proxy clip begins
  running: false,
};

// ---- talking to the server ----

async function call(path, options = {}) {
  const response = await fetch(path, options);
  const isJson = (response.headers.get('Content-Type') || '').startsWith('application/json');
  const body = isJson ? await response.json() : null;
  if (!response.ok) throw new Error(body && body.error ? body.error : `${response.status} ${response.statusText}`);
  return body;
}

function postJson(path, body) {
  return call(path, { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body) });
}

function address(path, params) {
  return `${path}?${new URLSearchParams(params)}`;
}

function frameAddress(root, path, time, width, exact) {
  return address('/api/frame', { root, path, t: time.toFixed(3), w: width, exact: exact ? 1 : 0 });
}

// ---- times, written and read as the command line does ----

function formatTime(seconds) {
  const ms = Math.round(seconds * 1000);
  const h = Math.floor(ms / 3600000);
  const m = Math.floor(ms / 60000) % 60;
  const s = Math.floor(ms / 1000) % 60;
  const rest = `${String(s).padStart(2, '0')}.${String(ms % 1000).padStart(3, '0')}`;
  return h ? `${h}:${String(m).padStart(2, '0')}:${rest}` : `${m}:${rest}`;
}

// H:MM:SS.mmm, MM:SS or seconds; null when the text is none of them.
function parseTime(text) {
  const parts = text.trim().replace(/,/g, '.').split(':');
  if (parts.length > 3) return null;
  let seconds = 0;
  for (const part of parts) {
    if (!/^\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?\s*$/.test(part)) return null;
    seconds = seconds * 60 + Number(part);
  }
  return Number.isFinite(seconds) ? seconds : null;
}

function showMessage(text, isError = false) {
  $('message').textContent = text;
  $('message').className = isError ? 'error' : '';
}

function element(tag, properties = {}, children = []) {
  const made = Object.assign(document.createElement(tag), properties);
  made.append(...children);
  return made;
}

// ---- folders and movies ----

async function loadRoots() {
  const { roots } = await call('/api/roots');
  $('root').replaceChildren(...roots.map((root, index) => new Option(root, index)));
  await openFolder(0, '');
}

function join(folder, name) {
  return folder ? `${folder}/${name}` : name;
}

function listEntry(label, kind, open, name = '') {
  const button = element('button', { type: 'button', className: kind, textContent: label });
  button.dataset.name = name;
  button.onclick = () => open().catch((error) => showMessage(error.message, true));
  return element('li', {}, [button]);
}

async function openFolder(root, folder) {
  const listing = await call(address('/api/list', { root, path: folder }));
  state.root = root;
  state.folder = folder;
  $('folder').textContent = `/${folder}`;
  const entries = [];
  if (folder) entries.push(listEntry('↑ up', 'folder', () => openFolder(root, folder.split('/').slice(0, -1).join('/'))));
  for (const name of listing.folders) entries.push(listEntry(`${name}/`, 'folder', () => openFolder(root, join(folder, name)), name));
  for (const file of listing.files) entries.push(listEntry(file.name, 'file', () => openMovie(join(folder, file.name)), file.name));
  $('files').replaceChildren(...entries);
}

// Next to the movie: its name without the extension, " (edited)", then .mkv or .mp4.
function defaultOutput(path, mp4) {
  const slash = path.lastIndexOf('/');
  const name = path.slice(slash + 1);
  const dot = name.lastIndexOf('.');
  return `${path.slice(0, slash + 1)}${dot > 0 ? name.slice(0, dot) : name} (edited).${mp4 ? 'mp4' : 'mkv'}`;
}

function showStreams(info) {
  const video = info.video;
  const lines = [
    `${info.container}, ${formatTime(info.duration)}, ${(info.size / 1e6).toFixed(1)} MB`,
    `video #${video.index}: ${video.codec} ${video.width}×${video.height}, ${(video.fpsNum / video.fpsDen).toFixed(3)} fps`,
  ];
  for (const a of info.audio) {
    lines.push(`audio #${a.index}: ${a.codec}, ${a.channels} channels, ${a.sampleRate} Hz${a.language ? `, ${a.language}` : ''}${a.default ? ', default' : ''}`);
  }
  for (const s of info.subtitles) lines.push(`subtitles #${s.index}: ${s.codec}${s.language ? `, ${s.language}` : ''}${s.text ? '' : ' (pictures)'}`);
  if (info.chapters.length) lines.push(`${info.chapters.length} chapters`);
  $('streams').replaceChildren(...lines.map((line) => element('li', { textContent: line })));
  $('probe').textContent = JSON.stringify(info, null, 2);
}

async function openMovie(path) {
  showMessage(`Reading ${path} …`);
  const info = await call(address('/api/probe', { root: state.root, path }));
  if (!info.video) throw new Error(`${path} has no video stream`);
  stopPlayback();
  if (path !== state.movie || state.root !== state.movieRoot) state.edits = []; // edits belong to their movie
  Object.assign(state, { movieRoot: state.root, movie: path, fps: info.video.fpsNum / info.video.fpsDen, duration: info.duration, markIn: null, markOut: null });
  $('movie-name').textContent = path;
  $('duration').textContent = formatTime(info.duration);
  $('output').value = defaultOutput(path, $('mp4').checked);
  showStreams(info);
  $('viewer').hidden = false;
  $('edits-panel').hidden = false;
  setPlayhead(0);
  renderMarks();
  renderEdits();
  showMessage('');
  await buildStrip();
}

// Thumbnails at even steps, one after the other: each is an ffmpeg run.
async function buildStrip() {
  const movie = state.movie;
  document.body.dataset.strip = 'loading';
  const pictures = [];
  for (let i = 0; i < STRIP_PICTURES; i++) {
    const time = ((i + 0.5) * state.duration) / STRIP_PICTURES;
    pictures.push(element('img', { alt: formatTime(time), title: formatTime(time) }));
    pictures[i].dataset.time = time;
  }
  $('strip').replaceChildren(...pictures);
  for (const picture of pictures) {
    if (state.movie !== movie) return;
    picture.src = frameAddress(state.movieRoot, movie, Number(picture.dataset.time), 160, false);
    await picture.decode().catch(() => {});
  }
  if (state.movie === movie) document.body.dataset.strip = 'loaded';
}

// ---- playhead, marks and playback ----

let frameTimer = null;

function setPlayhead(time, fromPlayer = false) {
  const last = Math.max(0, state.duration - 1 / state.fps);
  state.playhead = Math.round(Math.min(Math.max(0, time), last) * 1000) / 1000;
  $('time').textContent = formatTime(state.playhead);
  $('playhead').style.left = `${(100 * state.playhead) / state.duration}%`;
  if (fromPlayer) return;
  // Keys may be held down: only the frame where the playhead comes to rest is made.
  clearTimeout(frameTimer);
  frameTimer = setTimeout(() => {
    $('frame').src = frameAddress(state.movieRoot, state.movie, state.playhead, 640, true);
  }, 150);
}

function step(seconds) {
  stopPlayback();
  setPlayhead(state.playhead + seconds);
}

function markIn() {
  state.markIn = state.playhead;
  if (state.markOut !== null && state.markOut <= state.markIn) state.markOut = null;
  renderMarks();
}

function markOut() {
  state.markOut = state.playhead;
  if (state.markIn !== null && state.markIn >= state.markOut) state.markIn = null;
  renderMarks();
}

function play() {
  const length = Math.min(CLIP_SECONDS, state.duration - state.playhead);
  if (length < 0.1) return;
  const player = $('player');
  state.clipStart = state.playhead;
  player.src = address('/api/clip', { root: state.movieRoot, path: state.movie, start: state.playhead.toFixed(3), length: length.toFixed(3) });
  player.hidden = false;
  $('frame').hidden = true;
  player.play().catch((error) => {
    if (state.clipStart === null) return; // stopped before it began
    showMessage(`The proxy clip does not play: ${error.message}`, true);
    stopPlayback();
  });
}

function stopPlayback() {
  if (state.clipStart === null) return;
  state.clipStart = null;
  const player = $('player');
  player.pause();
  player.removeAttribute('src');
  player.load();
  player.hidden = true;
  $('frame').hidden = false;
  setPlayhead(state.playhead);
}

function togglePlayback() {
  if (state.clipStart === null) play();
  else stopPlayback();
}

function renderMarks() {
  const percent = (time) => `${(100 * time) / state.duration}%`;
  const span = (className, start, end) => {
    const made = element('div', { className });
    made.style.left = percent(start);
    if (end !== undefined) made.style.width = percent(end - start);
    return made;
  };
  const marks = state.edits.filter((edit) => edit.enabled).map((edit) => span(`range ${edit.action}`, edit.start, edit.end));
  if (state.markIn !== null && state.markOut !== null) marks.push(span('range pending', state.markIn, state.markOut));
  if (state.markIn !== null) marks.push(span('mark', state.markIn));
  if (state.markOut !== null) marks.push(span('mark', state.markOut));
  $('marks').replaceChildren(...marks);
  $('in').textContent = state.markIn === null ? '–' : formatTime(state.markIn);
  $('out').textContent = state.markOut === null ? '–' : formatTime(state.markOut);
}

// ---- the edit list ----

function addEdit() {
  if (state.markIn === null || state.markOut === null) {
    showMessage('Mark an in point (I) and an out point (O) first.', true);
    return;
  }
  const action = $('action').value;
  const text = $('card-text').value.trim();
  if ((action === 'replace' || action === 'textOverVideo') && !text) {
    showMessage('A card needs its text.', true);
    return;
  }
  const cardSeconds = Number($('card-seconds').value);
  if (!(cardSeconds >= 0.5 && cardSeconds <= 3600)) {
    showMessage('A card lasts between 0.5 and 3600 seconds.', true);
    return;
  }
  state.edits.push({ action, start: state.markIn, end: state.markOut, text, cardSeconds, match: $('match').checked, enabled: true });
  state.markIn = state.markOut = null;
  document.activeElement.blur(); // the keys act on the timeline again
  showMessage('');
  renderMarks();
  renderEdits();
}

function cellInput(value, className, onChange) {
  const input = element('input', { value, className });
  input.onchange = () => input.classList.toggle('bad', !onChange(input.value));
  return input;
}

function editRow(edit, index) {
  const row = element('tr', { className: edit.enabled ? '' : 'off' });
  row.dataset.row = index + 1;
  const on = element('input', { type: 'checkbox', checked: edit.enabled, title: 'Switch this edit on or off' });
  on.onchange = () => {
    edit.enabled = on.checked;
    renderEdits();
    renderMarks();
  };
  const action = element('select', {}, Object.entries(ACTIONS).map(([value, label]) => new Option(label, value)));
  action.value = edit.action;
  action.onchange = () => {
    edit.action = action.value;
    renderMarks();
  };
  const time = (key) => cellInput(formatTime(edit[key]), `time ${key}`, (text) => {
    const seconds = parseTime(text);
    if (seconds === null) return false;
    edit[key] = seconds;
    renderMarks();
    return true;
  });
  const text = cellInput(edit.text, 'text', (value) => {
    edit.text = value;
    return true;
  });
  const seconds = cellInput(edit.match ? 'same' : String(edit.cardSeconds), 'seconds', (value) => {
    const word = value.trim().toLowerCase();
    if (word === 'same') return (edit.match = true);
    const number = Number(word);
    if (!word || !(number >= 0.5 && number <= 3600)) return false;
    edit.match = false;
    edit.cardSeconds = number;
    return true;
  });
  seconds.title = 'Card length in seconds, or "same" for the length of the range';
  const go = element('button', { type: 'button', textContent: 'Go to' });
  go.onclick = () => step(edit.start - state.playhead);
  const remove = element('button', { type: 'button', textContent: '✕', title: 'Delete this edit' });
  remove.onclick = () => {
    state.edits.splice(index, 1);
    renderEdits();
    renderMarks();
  };
  const cells = [document.createTextNode(index + 1), on, action, time('start'), time('end'), text, seconds, go, remove];
  row.append(...cells.map((cell) => element('td', {}, [cell])));
  return row;
}

function renderEdits() {
  $('edit-rows').replaceChildren(...state.edits.map(editRow));
  $('run').disabled = state.running || state.edits.length === 0;
}

async function importList() {
  const file = $('import').files[0];
  $('import').value = '';
  if (!file) return;
  if (file.size > MAX_IMPORT_BYTES) throw new Error(`${file.name} is larger than 1 MiB; that is no edit list.`);
  const result = await call(address('/api/import', { name: file.name, fps: state.fps }), { method: 'POST', body: file });
  state.edits.push(...result.edits);
  renderEdits();
  renderMarks();
  showMessage([`Imported ${result.edits.length} edits from ${file.name}.`, ...result.messages].join('\n'), result.messages.length > 0);
}

async function exportList(format) {
  const result = await postJson(address('/api/export', { format }), { edits: state.edits });
  const name = state.movie.slice(state.movie.lastIndexOf('/') + 1).replace(/\.[^.]*$/, '');
  const link = element('a', { href: URL.createObjectURL(new Blob([result.text], { type: 'text/plain' })), download: `${name}.${format}` });
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
  showMessage(result.messages.join('\n'), result.messages.length > 0);
}

// ---- the run ----

function setRunning(running) {
  state.running = running;
  $('cancel').disabled = !running;
  document.body.dataset.run = running ? 'running' : 'idle';
  renderEdits();
}

async function run() {
  const body = { root: state.movieRoot, movie: state.movie, output: $('output').value.trim(), mp4: $('mp4').checked, edits: state.edits };
  $('report').hidden = true;
  $('log').textContent = '';
  $('progress').value = 0;
  $('stage').textContent = 'Starting …';
  showMessage('');
  setRunning(true);
  try {
    await postJson('/api/run', body);
  } catch (error) {
    setRunning(false);
    $('stage').textContent = '';
    throw error;
  }
  const events = new EventSource('/api/events');
  events.addEventListener('progress', (event) => {
    const progress = JSON.parse(event.data);
    $('progress').value = progress.percent;
    $('stage').textContent = `${progress.percent.toFixed(1)} %  ${progress.message}`;
  });
  events.addEventListener('log', (event) => {
    $('log').textContent += `${JSON.parse(event.data)}\n`;
    $('log').scrollTop = $('log').scrollHeight;
  });
  events.addEventListener('end', (event) => {
    events.close();
    setRunning(false);
    const end = JSON.parse(event.data);
    if (end.ok) {
      showReport(end);
      openFolder(state.root, state.folder).catch(() => {}); // the new file
    } else {
      $('stage').textContent = '';
      showMessage(`The run failed: ${end.error}`, true);
    }
  });
}

function figure(source, caption) {
  return element('figure', {}, [element('img', { src: source, alt: caption }), element('figcaption', { textContent: caption })]);
}

function showReport(end) {
  const report = end.report;
  $('report-summary').textContent = `Wrote ${end.output}: ${formatTime(report.duration)} long (the movie: ${formatTime(report.originalDuration)}), ${report.secondsEncoded.toFixed(2)} s encoded.`;
  $('report-warnings').replaceChildren(...report.warnings.map((warning) => element('li', { textContent: warning })));
  const range = (start, end) => `${formatTime(start)} – ${formatTime(end)}`;
  $('applied-rows').replaceChildren(...report.applied.map((applied) => {
    const cells = [applied.id.replace('row', 'row '), ACTIONS[applied.kind] || applied.kind, range(applied.requestedStart, applied.requestedEnd),
      range(applied.actualStart, applied.actualEnd), applied.cardSeconds === null ? '' : applied.cardSeconds.toFixed(2)];
    return element('tr', {}, cells.map((text) => element('td', { textContent: text })));
  }));
  $('cuts').replaceChildren(...end.cuts.map((cut) => element('div', { className: 'cut' }, [
    figure(frameAddress(end.root, end.movie, cut.source, 480, true), `${cut.id.replace('row', 'Row ')}, the movie at ${formatTime(cut.source)}, just before the cut`),
    figure(frameAddress(end.root, end.output, cut.output, 480, true),
      cut.kind === 'replace' ? `The output at ${formatTime(cut.output)}: the title card` : `The output at ${formatTime(cut.output)}, where the cut is`),
  ])));
  $('report').hidden = false;
  $('report').dataset.output = end.output;
  $('stage').textContent = 'Done';
  document.body.dataset.run = 'done';
}

// ---- keys and buttons ----

document.addEventListener('keydown', (event) => {
  if (event.ctrlKey || event.metaKey || event.altKey || !state.movie) return;
  const tag = event.target.tagName;
  if (tag === 'INPUT' || tag === 'SELECT' || tag === 'TEXTAREA') {
    if (event.key === 'Escape') event.target.blur();
    return;
  }
  const stepSeconds = event.shiftKey ? 1 / state.fps : 1;
  const keys = {
    i: markIn,
    o: markOut,
    j: () => step(-stepSeconds),
    k: stopPlayback,
    l: () => step(stepSeconds),
    ' ': togglePlayback,
    a: addEdit,
  };
  const handler = keys[event.key.toLowerCase()];
  if (!handler) return;
  event.preventDefault(); // a focused button must not be pressed by Space as well
  handler();
});

function scrub(event) {
  stopPlayback();
  const box = $('timeline').getBoundingClientRect();
  setPlayhead(((event.clientX - box.left) / box.width) * state.duration);
}

function wire() {
  const report = (action) => () => Promise.resolve().then(action).catch((error) => showMessage(error.message, true));
  $('root').onchange = report(() => openFolder(Number($('root').value), ''));
  $('back').onclick = () => step(-1);
  $('forward').onclick = () => step(1);
  $('stop').onclick = stopPlayback;
  $('play').onclick = togglePlayback;
  $('mark-in').onclick = markIn;
  $('mark-out').onclick = markOut;
  $('edit-form').onsubmit = (event) => {
    event.preventDefault();
    addEdit();
  };
  $('mp4').onchange = () => {
    $('output').value = $('output').value.replace(/\.(mkv|mp4)$/i, $('mp4').checked ? '.mp4' : '.mkv');
  };
  $('import').onchange = report(importList);
  $('export-csv').onclick = report(() => exportList('csv'));
  $('export-edl').onclick = report(() => exportList('edl'));
  $('run').onclick = report(run);
  $('cancel').onclick = report(() => postJson('/api/cancel', {}));
  $('player').ontimeupdate = () => {
    if (state.clipStart !== null) setPlayhead(state.clipStart + $('player').currentTime, true);
  };
  $('player').onended = stopPlayback;
  const timeline = $('timeline');
  timeline.onpointerdown = (event) => {
    timeline.setPointerCapture(event.pointerId);
    timeline.onpointermove = scrub;
    scrub(event);
  };
  timeline.onpointerup = () => {
    timeline.onpointermove = null;
  };
  loadRoots().catch((error) => showMessage(error.message, true));
}

wire();
