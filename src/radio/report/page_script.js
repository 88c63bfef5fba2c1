'use strict';
// The page's behaviour. The record comes from the JSON block; the band, its
// boxes and the table are drawn from it. With thousands of transmissions the
// page stays quick because nothing is made per transmission in the document:
// the boxes are drawn on one canvas and found again by hit testing, and the
// table holds only the rows scrolled into view, between two spacer rows that
// give the list its full height.
(function () {
  // Rows are placed by arithmetic, so every row has the style sheet's height.
  const ROW_HEIGHT_PX = parseFloat(getComputedStyle(document.documentElement).getPropertyValue('--row-height'));
  const OVERSCAN_ROWS = 10;  // made above and below the view, so a scroll of a few rows shows no gap
  const MIN_BOX_WIDTH_PX = 4;
  const MIN_BOX_HEIGHT_PX = 3;
  const HIT_SLOP_PX = 3;
  const FREQUENCY_TICK_SPACING_PX = 110;
  const TIME_TICK_SPACING_PX = 48;
  const MARGIN_PX = {left: 64, top: 34, right: 14, bottom: 10};
  const TONE_COLOURS = ['#4fc3f7', '#81c784', '#ff8a65', '#ce93d8', '#f06292', '#4db6ac', '#dce775', '#9fa8da'];
  const NO_TONE_COLOUR = '#eceff1';
  const CURRENT_COLOUR = '#ffd54a';
  const NO_TONE_VALUE = '-';  // no tone name is a lone dash

  const data = JSON.parse(document.getElementById('report-data').textContent);
  const recording = data.recording;
  const transmissions = data.transmissions;
  const count = transmissions.length;

  const canvas = document.getElementById('waterfall');
  const tip = document.getElementById('tip');
  const player = document.getElementById('player');
  const nowPlaying = document.getElementById('now-playing');
  const rowsBox = document.getElementById('rows');
  const rowHead = rowsBox.querySelector('thead');
  const rowBody = document.getElementById('row-body');
  const channelFilter = document.getElementById('channel-filter');
  const toneFilter = document.getElementById('tone-filter');
  const countText = document.getElementById('count');
  const image = document.getElementById('waterfall-image');  // absent without a waterfall
  const collator = new Intl.Collator(undefined, {numeric: true, sensitivity: 'base'});

  // ---- Texts, as people read radio frequencies and times

  // `value` with at most `most` decimals, trailing zeros dropped down to `least`.
  function trimmedFixed(value, most, least) {
    const text = value.toFixed(most);
    const point = text.indexOf('.');
    if (point < 0) return text;
    let end = text.length;
    while (end > point + 1 + least && text[end - 1] === '0') end--;
    return text.slice(0, end === point + 1 ? point : end);
  }
  function megahertz(hz) { return trimmedFixed(hz / 1e6, 6, 3) + ' MHz'; }
  function offsetKilohertz(hz) { return (hz < 0 ? '-' : '+') + trimmedFixed(Math.abs(hz) / 1e3, 3, 1) + ' kHz'; }
  function seconds(s, decimals) { return s.toFixed(decimals) + ' s'; }
  function clock(s) {
    const whole = Math.floor(s);
    const h = Math.floor(whole / 3600), m = Math.floor(whole / 60) % 60, sec = whole % 60;
    const mm = String(m).padStart(h > 0 ? 2 : 1, '0'), ss = String(sec).padStart(2, '0');
    return h > 0 ? `${h}:${mm}:${ss}` : `${mm}:${ss}`;
  }
  function sampleRateName(rate) {
    return rate >= 1e6 ? trimmedFixed(rate / 1e6, 3, 0) + ' MS/s' : trimmedFixed(rate / 1e3, 3, 0) + ' kS/s';
  }

  // The table gives frequencies in MHz when every one is known, else offsets
  // from the centre in kHz; and times of day in UTC when every start is known
  // in UTC, with the date only when they fall on more than one day.
  const absoluteFrequencies = count > 0 ? transmissions.every((t) => t.frequency_hz !== null) : recording.centre_hz !== null;
  const utcTimes = count > 0 && transmissions.every((t) => t.start_utc !== null && t.start_utc.endsWith('Z'));
  const oneDay = utcTimes && new Set(transmissions.map((t) => t.start_utc.slice(0, 10))).size === 1;
  function channelName(t) { return absoluteFrequencies ? megahertz(t.frequency_hz) : offsetKilohertz(t.offset_hz); }
  function timeName(t) {
    if (utcTimes) {
      const time = t.start_utc.slice(11, -1);
      return oneDay ? time : t.start_utc.slice(0, 10) + ' ' + time;
    }
    return t.start_utc !== null ? t.start_utc.replace('T', ' ') : seconds(t.start_s, 3);
  }

  // CTCSS by frequency, then DCS by code, normal before inverted; none last.
  function toneRank(t) {
    if (t.ctcss_hz !== null) return t.ctcss_hz;
    if (t.dcs !== null) {
      const code = parseInt(t.dcs, 10);
      return Number.isNaN(code) ? 1999 : 1000 + code + (t.dcs.endsWith('I') ? 0.5 : 0);
    }
    return Infinity;
  }
  function toneColour(name) {
    if (name === '') return NO_TONE_COLOUR;
    let hash = 0;
    for (let i = 0; i < name.length; i++) hash = (hash * 31 + name.charCodeAt(i)) >>> 0;
    return TONE_COLOURS[hash % TONE_COLOURS.length];
  }
  function toneDetail(t) {
    const parts = [];
    if (t.dcs_alias !== null) parts.push('also read as D' + t.dcs_alias);
    if (t.tone_confidence !== null) parts.push('confidence ' + t.tone_confidence.toFixed(2));
    return parts.join(', ');
  }

  // Per transmission, once: what the table shows and what it sorts and filters by.
  const rows = transmissions.map((t) => {
    const channelHz = absoluteFrequencies ? t.frequency_hz : t.offset_hz;
    const channel = channelName(t);
    return {
      channel,
      channelCell: channel.slice(0, channel.lastIndexOf(' ')),  // the unit is in the heading
      channelHz,
      channelKey: String(Math.round(channelHz)),
      time: timeName(t),
      duration: t.end_s - t.start_s,
      label: t.label !== null ? t.label : '',
      toneRank: toneRank(t),
      toneDetail: toneDetail(t),
      colour: toneColour(t.tone),
    };
  });

  // ---- The page's header and filters

  function fillHeadings() {
    rowHead.querySelector('th[data-key="time"] button').textContent = utcTimes ? 'Time (UTC)' : 'Time';
    rowHead.querySelector('th[data-key="frequency"] button').textContent =
        absoluteFrequencies ? 'Freq. (MHz)' : 'Offset (kHz)';
  }

  function fillHeader() {
    document.getElementById('title').textContent = recording.name;
    document.getElementById('description').textContent = recording.description;
    const facts = [
      ['Centre', recording.centre_hz !== null ? megahertz(recording.centre_hz) : 'not known: offsets from it'],
      ['Sample rate', recording.sample_rate > 0 ? sampleRateName(recording.sample_rate) : 'not known'],
      ['Length', recording.duration_s >= 60 ? clock(recording.duration_s) : seconds(recording.duration_s, 1)],
    ];
    if (recording.start_time !== null) facts.push(['Start', recording.start_time]);
    facts.push(['Transmissions', String(count)]);
    const list = document.getElementById('facts');
    for (const [name, value] of facts) {
      const item = document.createElement('li');
      const strong = document.createElement('b');
      strong.textContent = value;
      item.append(name + ' ', strong);
      list.append(item);
    }
  }

  function addOption(select, value, text) {
    const option = document.createElement('option');
    option.value = value;
    option.textContent = text;
    select.append(option);
  }

  function fillFilters() {
    const channels = new Map(), tones = new Map();
    let untoned = 0;
    rows.forEach((row, i) => {
      const channel = channels.get(row.channelKey) || {name: row.channel, hz: row.channelHz, count: 0};
      channel.count++;
      channels.set(row.channelKey, channel);
      const name = transmissions[i].tone;
      if (name === '') {
        untoned++;
      } else {
        const tone = tones.get(name) || {rank: row.toneRank, count: 0};
        tone.count++;
        tones.set(name, tone);
      }
    });
    addOption(channelFilter, '', `All channels (${channels.size})`);
    [...channels.entries()].sort((a, b) => a[1].hz - b[1].hz)
        .forEach(([key, channel]) => addOption(channelFilter, key, `${channel.name} (${channel.count})`));
    addOption(toneFilter, '', 'Any tone');
    if (untoned > 0) addOption(toneFilter, NO_TONE_VALUE, `No tone (${untoned})`);
    [...tones.entries()].sort((a, b) => a[1].rank - b[1].rank)
        .forEach(([name, tone]) => addOption(toneFilter, name, `${name} (${tone.count})`));
  }

  // ---- What is shown: the filtered transmissions in the table's order

  let view = [];
  const viewPosition = new Int32Array(count).fill(-1);  // each transmission's place in `view`, or -1
  let sortKey = 'time';
  let sortAscending = true;
  let current = -1;

  function compareNumbers(a, b) { return a < b ? -1 : a > b ? 1 : 0; }
  const SORT_ORDERS = {
    time: (a, b) => compareNumbers(transmissions[a].start_s, transmissions[b].start_s),
    frequency: (a, b) => compareNumbers(rows[a].channelHz, rows[b].channelHz),
    label: (a, b) => collator.compare(rows[a].label, rows[b].label),
    tone: (a, b) => compareNumbers(rows[a].toneRank, rows[b].toneRank),
    duration: (a, b) => compareNumbers(rows[a].duration, rows[b].duration),
    level: (a, b) => compareNumbers(transmissions[a].level_db, transmissions[b].level_db),
  };

  function passesFilters(i, channelKey, toneName) {
    if (channelKey !== '' && rows[i].channelKey !== channelKey) return false;
    if (toneName === '') return true;
    return toneName === NO_TONE_VALUE ? transmissions[i].tone === '' : transmissions[i].tone === toneName;
  }

  function updateView() {
    const channelKey = channelFilter.value, toneName = toneFilter.value;
    const order = SORT_ORDERS[sortKey], direction = sortAscending ? 1 : -1;
    view = [];
    for (let i = 0; i < count; i++) {
      if (passesFilters(i, channelKey, toneName)) view.push(i);
    }
    // Ties keep the order of time, whichever way the column runs.
    view.sort((a, b) => direction * order(a, b) || a - b);
    viewPosition.fill(-1);
    view.forEach((index, position) => { viewPosition[index] = position; });
    countText.textContent = view.length === count ? `${count} transmissions` : `${view.length} of ${count} transmissions`;
    for (const heading of rowHead.querySelectorAll('th')) {
      if (heading.dataset.key === sortKey) {
        heading.setAttribute('aria-sort', sortAscending ? 'ascending' : 'descending');
      } else {
        heading.removeAttribute('aria-sort');
      }
    }
    drawBand();
    if (current >= 0 && viewPosition[current] >= 0) {
      scrollToPosition(viewPosition[current]);
    } else {
      rowsBox.scrollTop = 0;
    }
    renderRows(true);
  }

  // ---- The band: waterfall, axes and one box per shown transmission

  // The plot's spans: the waterfall's, or without one the whole band and recording.
  const spans = (function () {
    if (data.waterfall !== null) {
      const w = data.waterfall;
      return {lowHz: w.low_offset_hz, highHz: w.high_offset_hz, startS: w.start_s, endS: w.end_s};
    }
    let lowHz = -recording.sample_rate / 2, highHz = recording.sample_rate / 2;
    let endS = recording.duration_s;
    if (!(highHz > lowHz)) {
      lowHz = -recording.channel_width_hz;
      highHz = recording.channel_width_hz;
      for (const t of transmissions) {
        lowHz = Math.min(lowHz, t.offset_hz - recording.channel_width_hz);
        highHz = Math.max(highHz, t.offset_hz + recording.channel_width_hz);
      }
    }
    for (const t of transmissions) endS = Math.max(endS, t.end_s);
    return {lowHz, highHz, startS: 0, endS: endS > 0 ? endS : 1};
  })();

  const boxes = new Float64Array(count * 4);  // x, y, width, height in CSS pixels of each drawn box
  let layout = null;
  let imageReady = false;

  function measureBand() {
    const rect = canvas.getBoundingClientRect();
    const ratio = window.devicePixelRatio || 1;
    canvas.width = Math.max(1, Math.round(rect.width * ratio));
    canvas.height = Math.max(1, Math.round(rect.height * ratio));
    layout = {
      width: rect.width, height: rect.height, ratio,
      x0: MARGIN_PX.left, x1: Math.max(MARGIN_PX.left + 1, rect.width - MARGIN_PX.right),
      y0: MARGIN_PX.top, y1: Math.max(MARGIN_PX.top + 1, rect.height - MARGIN_PX.bottom),
    };
  }
  function xOf(offsetHz) { return layout.x0 + (offsetHz - spans.lowHz) / (spans.highHz - spans.lowHz) * (layout.x1 - layout.x0); }
  function yOf(s) { return layout.y0 + (s - spans.startS) / (spans.endS - spans.startS) * (layout.y1 - layout.y0); }

  // A step of 1, 2 or 5 times a power of ten giving about `wanted` ticks over `span`.
  function tickStep(span, wanted) {
    const rough = span / Math.max(1, wanted);
    const power = Math.pow(10, Math.floor(Math.log10(rough)));
    const fraction = rough / power;
    return (fraction < 1.5 ? 1 : fraction < 3.5 ? 2 : fraction < 7.5 ? 5 : 10) * power;
  }
  function ticks(low, high, wanted) {
    const step = tickStep(high - low, wanted);
    const values = [];
    for (let v = Math.ceil(low / step) * step; v <= high + step * 1e-9; v += step) values.push(v);
    return {step, values};
  }
  function decimalsFor(step) { return Math.max(0, -Math.floor(Math.log10(step) + 1e-9)); }

  function drawFrequencyAxis(ctx) {
    const centre = recording.centre_hz;
    const unit = centre !== null ? 1e6 : 1e3;
    const base = centre !== null ? centre : 0;
    const wanted = (layout.x1 - layout.x0) / FREQUENCY_TICK_SPACING_PX;
    const {step, values} = ticks((base + spans.lowHz) / unit, (base + spans.highHz) / unit, wanted);
    ctx.textAlign = 'center';
    ctx.textBaseline = 'bottom';
    for (const value of values) {
      const x = xOf(value * unit - base);
      ctx.fillRect(Math.round(x), layout.y0 - 6, 1, 6);
      const text = value.toFixed(decimalsFor(step));
      ctx.fillText(centre === null && value > 0 ? '+' + text : text, x, layout.y0 - 8);
    }
    ctx.textAlign = 'left';
    ctx.textBaseline = 'top';
    ctx.fillText(centre !== null ? 'MHz' : 'kHz from centre', 4, 2);
  }

  function drawTimeAxis(ctx) {
    const {step, values} = ticks(spans.startS, spans.endS, (layout.y1 - layout.y0) / TIME_TICK_SPACING_PX);
    ctx.textAlign = 'right';
    ctx.textBaseline = 'middle';
    for (const value of values) {
      const y = yOf(value);
      ctx.fillRect(layout.x0 - 6, Math.round(y), 6, 1);
      ctx.fillText(spans.endS >= 120 ? clock(value) : seconds(value, decimalsFor(step)), layout.x0 - 8, y);
    }
  }

  function placeBox(i) {
    const t = transmissions[i];
    const half = recording.channel_width_hz / 2;
    let x = xOf(t.offset_hz - half), width = xOf(t.offset_hz + half) - x;
    if (width < MIN_BOX_WIDTH_PX) {
      x += (width - MIN_BOX_WIDTH_PX) / 2;
      width = MIN_BOX_WIDTH_PX;
    }
    const y = yOf(t.start_s);
    boxes.set([x, y, width, Math.max(MIN_BOX_HEIGHT_PX, yOf(t.end_s) - y)], i * 4);
  }

  function drawBoxes(ctx) {
    ctx.lineWidth = 1;
    for (let i = 0; i < count; i++) {
      if (viewPosition[i] < 0) continue;
      placeBox(i);
      const k = i * 4;
      ctx.strokeStyle = rows[i].colour;
      ctx.strokeRect(boxes[k], boxes[k + 1], boxes[k + 2], boxes[k + 3]);
    }
    if (current >= 0 && viewPosition[current] >= 0) {
      const k = current * 4;
      ctx.fillStyle = 'rgba(255, 213, 74, 0.35)';
      ctx.fillRect(boxes[k], boxes[k + 1], boxes[k + 2], boxes[k + 3]);
      ctx.lineWidth = 2.5;
      ctx.strokeStyle = CURRENT_COLOUR;
      ctx.strokeRect(boxes[k] - 2, boxes[k + 1] - 2, boxes[k + 2] + 4, boxes[k + 3] + 4);
    }
  }

  function drawBand() {
    if (layout === null) return;
    const ctx = canvas.getContext('2d');
    ctx.setTransform(layout.ratio, 0, 0, layout.ratio, 0, 0);
    ctx.fillStyle = '#181e27';
    ctx.fillRect(0, 0, layout.width, layout.height);
    ctx.fillStyle = '#05070a';
    ctx.fillRect(layout.x0, layout.y0, layout.x1 - layout.x0, layout.y1 - layout.y0);
    if (imageReady) ctx.drawImage(image, layout.x0, layout.y0, layout.x1 - layout.x0, layout.y1 - layout.y0);
    ctx.font = '12px system-ui, "DejaVu Sans", sans-serif';
    ctx.fillStyle = '#8d9aab';
    drawFrequencyAxis(ctx);
    drawTimeAxis(ctx);
    ctx.save();
    ctx.beginPath();
    ctx.rect(layout.x0, layout.y0, layout.x1 - layout.x0, layout.y1 - layout.y0);
    ctx.clip();
    drawBoxes(ctx);
    ctx.restore();
    canvas.dataset.boxes = String(view.length);
    canvas.dataset.current = current >= 0 ? String(current) : '';
  }

  // The topmost shown box under a point of the canvas (CSS pixels), or -1.
  function boxAt(x, y) {
    for (let i = count - 1; i >= 0; i--) {
      if (viewPosition[i] < 0) continue;
      const k = i * 4;
      if (x >= boxes[k] - HIT_SLOP_PX && x <= boxes[k] + boxes[k + 2] + HIT_SLOP_PX &&
          y >= boxes[k + 1] - HIT_SLOP_PX && y <= boxes[k + 1] + boxes[k + 3] + HIT_SLOP_PX) {
        return i;
      }
    }
    return -1;
  }

  function canvasPoint(event) {
    const rect = canvas.getBoundingClientRect();
    return [event.clientX - rect.left, event.clientY - rect.top];
  }

  function showTip(event) {
    const [x, y] = canvasPoint(event);
    const i = boxAt(x, y);
    canvas.style.cursor = i >= 0 ? 'pointer' : 'default';
    if (i < 0) {
      tip.hidden = true;
      return;
    }
    const t = transmissions[i], row = rows[i];
    const lines = [`${row.channel}  ${row.time}`, `${seconds(row.duration, 2)}  ${t.level_db.toFixed(1)} dB`];
    if (row.label !== '' || t.tone !== '') lines.push([row.label, t.tone].filter((s) => s !== '').join('  '));
    tip.textContent = lines.join('\n');
    tip.hidden = false;
    tip.style.left = Math.min(x + 14, layout.width - tip.offsetWidth - 4) + 'px';
    tip.style.top = Math.min(y + 14, layout.height - tip.offsetHeight - 4) + 'px';
  }

  // ---- The table: only the rows in view exist

  let renderedFirst = -1;
  let renderedLast = -1;

  function cell(text, className) {
    const td = document.createElement('td');
    td.textContent = text;
    if (className) td.className = className;
    return td;
  }

  function rowElement(i, position) {
    const t = transmissions[i], row = rows[i];
    const tr = document.createElement('tr');
    tr.className = 'row' + (position % 2 ? ' odd' : '') + (i === current ? ' current' : '');
    tr.dataset.index = String(i);
    const time = cell(row.time);
    if (t.start_utc !== null) time.title = t.start_utc;
    const tone = cell(t.tone);
    if (row.toneDetail !== '') tone.title = row.toneDetail;
    const label = cell(row.label);
    label.title = row.label;
    tr.append(time, cell(row.channelCell, 'number'), label, tone, cell(seconds(row.duration, 2), 'number'),
              cell(t.level_db.toFixed(1) + ' dB', 'number'));
    return tr;
  }

  function spacerRow(heightPx) {
    const tr = document.createElement('tr');
    tr.className = 'spacer';
    const td = document.createElement('td');
    td.colSpan = 6;
    td.style.height = heightPx + 'px';
    tr.append(td);
    return tr;
  }

  function renderRows(force) {
    const top = Math.max(0, rowsBox.scrollTop - rowHead.offsetHeight);
    const first = Math.max(0, Math.floor(top / ROW_HEIGHT_PX) - OVERSCAN_ROWS);
    const last = Math.min(view.length, Math.ceil((top + rowsBox.clientHeight) / ROW_HEIGHT_PX) + OVERSCAN_ROWS);
    if (!force && first === renderedFirst && last === renderedLast) return;
    renderedFirst = first;
    renderedLast = last;
    const fragment = document.createDocumentFragment();
    if (view.length === 0) {
      const tr = spacerRow(ROW_HEIGHT_PX);
      tr.className = 'empty';
      tr.firstChild.textContent = count === 0 ? 'No transmissions in this recording' : 'No transmission passes the filters';
      fragment.append(tr);
    }
    if (first > 0) fragment.append(spacerRow(first * ROW_HEIGHT_PX));
    for (let p = first; p < last; p++) fragment.append(rowElement(view[p], p));
    if (last < view.length) fragment.append(spacerRow((view.length - last) * ROW_HEIGHT_PX));
    rowBody.replaceChildren(fragment);
  }

  function scrollToPosition(position) {
    const head = rowHead.offsetHeight;
    const rowTop = head + position * ROW_HEIGHT_PX;
    if (rowTop < rowsBox.scrollTop + head) {
      rowsBox.scrollTop = rowTop - head;
    } else if (rowTop + ROW_HEIGHT_PX > rowsBox.scrollTop + rowsBox.clientHeight) {
      rowsBox.scrollTop = rowTop + ROW_HEIGHT_PX - rowsBox.clientHeight;
    }
    renderRows(false);
  }

  function markCurrentRow() {
    for (const tr of rowBody.querySelectorAll('tr.current')) tr.classList.remove('current');
    const tr = rowBody.querySelector(`tr[data-index="${current}"]`);
    if (tr) tr.classList.add('current');
  }

  // ---- Choosing and playing a transmission

  function play(i) {
    const t = transmissions[i], row = rows[i];
    // The name is a path segment relative to the page: escaped, so that '#',
    // '?' or '%' in it stay part of the name; '+' is kept as the file has it.
    player.src = './' + encodeURIComponent(t.file).replace(/%2B/g, '+');
    nowPlaying.textContent = [row.channel, row.time, row.label].filter((s) => s !== '').join('  ');
    const started = player.play();
    if (started !== undefined) {
      started.catch((failure) => {
        // A newer choice interrupting this one is not a failure.
        if (failure.name !== 'AbortError') nowPlaying.textContent = `Cannot play ${t.file}: ${failure.message}`;
      });
    }
  }

  function choose(i) {
    current = i;
    drawBand();
    markCurrentRow();
    if (viewPosition[i] >= 0) scrollToPosition(viewPosition[i]);
    play(i);
  }

  function step(direction) {
    if (view.length === 0) return;
    const position = current >= 0 ? viewPosition[current] : -1;
    if (position < 0) {
      choose(view[direction > 0 ? 0 : view.length - 1]);
      return;
    }
    const next = Math.min(view.length - 1, Math.max(0, position + direction));
    if (next !== position) choose(view[next]);
  }

  function onKey(event) {
    if (event.altKey || event.ctrlKey || event.metaKey) return;
    const target = event.target;
    if (target instanceof HTMLSelectElement || target instanceof HTMLInputElement || target === player) return;
    const direction = {j: 1, ArrowDown: 1, k: -1, ArrowUp: -1}[event.key];
    if (direction === undefined) return;
    event.preventDefault();
    step(direction);
  }

  // ---- Wiring

  // The panels change size with the window, and with the fonts once they load.
  function watchSizes() {
    new ResizeObserver(() => {
      measureBand();
      drawBand();
    }).observe(canvas.parentElement);
    new ResizeObserver(() => renderRows(false)).observe(rowsBox);
  }

  function wire() {
    canvas.addEventListener('click', (event) => {
      const i = boxAt(...canvasPoint(event));
      if (i >= 0) choose(i);
    });
    canvas.addEventListener('mousemove', showTip);
    canvas.addEventListener('mouseleave', () => { tip.hidden = true; });
    rowBody.addEventListener('click', (event) => {
      const tr = event.target.closest('tr[data-index]');
      if (tr) choose(Number(tr.dataset.index));
    });
    rowsBox.addEventListener('scroll', () => renderRows(false), {passive: true});
    for (const heading of rowHead.querySelectorAll('th')) {
      heading.querySelector('button').addEventListener('click', () => {
        sortAscending = heading.dataset.key === sortKey ? !sortAscending : true;
        sortKey = heading.dataset.key;
        updateView();
      });
    }
    channelFilter.addEventListener('change', updateView);
    toneFilter.addEventListener('change', updateView);
    document.addEventListener('keydown', onKey);
    player.addEventListener('error', () => {
      if (current >= 0) nowPlaying.textContent = `Cannot play ${transmissions[current].file}`;
    });
  }

  function markReady() {
    window.kdspReport.readyMs = performance.now();
    document.body.dataset.ready = 'true';
  }

  // For scripts that drive the page, such as its browser test.
  window.kdspReport = {
    readyMs: null,
    current: () => current,
    view: () => view.slice(),
    // Where transmission `i`'s box is on the canvas, in CSS pixels, or null when not shown.
    boxRect: (i) => viewPosition[i] < 0 ? null
        : {x: boxes[i * 4], y: boxes[i * 4 + 1], width: boxes[i * 4 + 2], height: boxes[i * 4 + 3]},
  };

  fillHeader();
  fillHeadings();
  fillFilters();
  wire();
  measureBand();
  updateView();
  watchSizes();
  if (image === null) {
    markReady();
  } else {
    image.decode().then(() => { imageReady = true; drawBand(); })
        .catch(() => { nowPlaying.textContent = 'The waterfall picture cannot be shown'; })
        .finally(markReady);
  }
})();
