// The fleet page: one tile per bench (crate and slot) publishing under the
// prefix, from the retained config and status and the live frames of the
// benches' MQTT feed. Messages only update each bench's state; the tiles are
// drawn from it a few times a second, so a burst of frames costs one drawing.
"use strict";

(function () {
  const T = window.KSN48_FLEET_TEXTS;
  const Placeholder = T.marks.placeholder;

  // The window's default display precision: mV with 2 decimals, kHz with 5
  // (fewer above 100 and 1000 kHz), degrees with 3.
  const VoltageDecimals = 2;
  const FrequencyFormat = "0.00000";
  const PhaseDecimals = 3;

  const TraceSpanMs = 60000;      // the trace shows the last minute
  const RateSpanMs = 60000;       // frames per minute over the last minute
  const StaleFrameTimes = 3;      // stale after three frame times without a frame
  const DrawIntervalMs = 250;     // values and states
  const TraceIntervalMs = 1000;   // traces
  const ChannelCount = 8;

  const params = new URLSearchParams(location.search);
  let prefix = cleanPrefix(params.get("prefix")) || "ksn48";
  const brokerUrl = params.get("broker") || defaultBroker();

  const benches = new Map();  // "crate/slot" (topic levels) -> bench
  let client = null;
  let linkUp = false;
  let openKey = null;         // the bench in the larger view
  let orderDirty = true;

  // What a measuring harness or a test reads: frames taken, the lag of the
  // newest frame drawn (its time to the drawing), the drawing's own time.
  const stats = {
    frames: 0, missed: 0, badMessages: 0, draws: 0, handleMs: 0, drawMsTotal: 0, drawMs: 0, drawMsMax: 0,
    lagMs: 0, lagMsMax: 0, connects: 0,
    resetMax() { this.lagMsMax = 0; this.drawMsMax = 0; },
  };
  window.fleetStats = stats;

  function defaultBroker() {
    if (location.protocol !== "http:" && location.protocol !== "https:") {
      return "ws://127.0.0.1:9001/mqtt";
    }
    return (location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/mqtt";
  }

  // A prefix as the feed allows it: levels without wildcards, none empty.
  function cleanPrefix(text) {
    if (!text) return "";
    const p = text.trim().replace(/^\/+|\/+$/g, "");
    if (p === "" || /[+#]/.test(p) || p.split("/").some((l) => l === "")) return "";
    return p;
  }

  // ---- numbers as the window writes them --------------------------------

  // Fixed decimals, half away from zero on the value's shortest decimal
  // form, no minus sign on a result that rounds to zero.
  function fixed(value, decimals) {
    if (typeof value !== "number" || !isFinite(value)) return Placeholder;
    const negative = value < 0 || Object.is(value, -0);
    const m = Math.abs(value).toExponential().match(/^(\d)(?:\.(\d+))?e([+-]\d+)$/);
    let digits = m[1] + (m[2] || "");
    const exponent = parseInt(m[3], 10);
    // Place value of digit i: 10^(exponent - i); keep down to 10^-decimals.
    const keep = exponent + 1 + decimals;
    let kept;
    if (keep < 0) {
      kept = "0";
    } else {
      const roundUp = keep < digits.length && digits[keep] >= "5";
      kept = (digits + "0".repeat(Math.max(0, keep - digits.length))).slice(0, keep) || "0";
      if (roundUp) kept = increment(kept);
    }
    // kept holds the number times 10^decimals.
    kept = kept.replace(/^0+(?=\d)/, "");
    if (kept.length <= decimals) kept = "0".repeat(decimals - kept.length + 1) + kept;
    const text = decimals > 0 ? kept.slice(0, -decimals) + "." + kept.slice(-decimals) : kept;
    const zero = /^[0.]*$/.test(text);
    return (negative && !zero ? "-" : "") + text;
  }

  function increment(digits) {
    const a = digits.split("");
    let i = a.length - 1;
    while (i >= 0 && a[i] === "9") a[i--] = "0";
    if (i < 0) a.unshift("1"); else a[i] = String.fromCharCode(a[i].charCodeAt(0) + 1);
    return a.join("");
  }

  function decimalsOf(format) {
    const point = format.indexOf(".");
    return point < 0 ? 0 : format.length - point - 1;
  }

  // Above 1000 and 100 kHz the shorter of the fixed format and the chosen one.
  function frequencyDecimals(kHz) {
    const shorter = (f) => (f.length < FrequencyFormat.length ? f : FrequencyFormat);
    if (kHz > 1000) return decimalsOf(shorter(T.frequencyFormats.above1000));
    if (kHz > 100) return decimalsOf(shorter(T.frequencyFormats.above100));
    return decimalsOf(FrequencyFormat);
  }

  // ---- a channel's values and marks, as the window shows them -------------

  // {text, kind: "lime"|"warn"|"fault"|"dash", hint}
  function value(text, reason, uncertainty) {
    return { text, kind: reason ? "warn" : "lime", hint: hintOf(reason, uncertainty) };
  }
  function dash(reason) {
    return { text: Placeholder, kind: "dash", hint: hintOf(reason, null) };
  }
  function hintOf(reason, uncertainty) {
    const parts = [];
    if (reason) parts.push(T.hints[reason]);
    if (uncertainty) parts.push(uncertainty);
    return parts.join("\n");
  }
  function uncertaintyText(frame, n, suffix, decimals, unit) {
    const u = frame["ch" + n + "_" + suffix + "_u"];
    return typeof u === "number" && isFinite(u) ? "± " + fixed(u, decimals) + " " + unit : null;
  }

  function readChannel(bench, frame, n) {
    const c = "ch" + n + "_";
    const status = frame[c + "status"];
    const config = bench.config || {};
    const method = config.method || "fft";
    const mV = frame[c + "mV"];
    const kHz = frame[c + "kHz"];
    const deg = frame[c + "deg"];
    const out = { n, status, mV: typeof mV === "number" ? mV : null };
    if (status === "short" || status === "open") {
      out.v = { text: T.marks[status], kind: "fault", hint: "" };
      out.f = dash(null);
      out.p = dash(null);
      out.mV = null;
      return out;
    }
    if (status !== "ok" && status !== "notone" && status !== "overrange") {
      // nosignal, lost, or nothing known
      out.v = dash(null); out.f = dash(null); out.p = dash(null);
      out.mV = null;
      return out;
    }
    const fft = method === "fft";
    const toneFound = status !== "notone" && (!fft || typeof kHz === "number");
    const inBand = frame[c + "inband"] !== 0;
    const rate = typeof config.rate_Hz === "number" ? config.rate_Hz : 0;
    const side = typeof kHz === "number" && kHz * 1000 >= rate / 4 ? "aboveband" : "belowband";

    let vReason = status === "overrange" ? "overrange" : null;
    if (!vReason && fft && !toneFound) vReason = "notone";
    if (!vReason && fft && !inBand) vReason = side;
    const ud = (s, d, unit) => uncertaintyText(frame, n, s, d, unit);
    out.v = value(fixed(mV, VoltageDecimals), vReason, ud("mV", VoltageDecimals, T.units.voltage));
    if (!fft) {
      out.f = dash(null); out.p = dash(null);
      return out;
    }
    if (!toneFound) {
      out.f = dash("notone"); out.p = dash("notone");
      return out;
    }
    const fd = frequencyDecimals(kHz);
    out.f = value(fixed(kHz, fd), inBand ? null : side, ud("kHz", fd, T.units.frequency));
    if (typeof deg !== "number") {
      out.p = dash("referencenoreading");
    } else {
      const ref = config.reference;
      const refOut = ref !== undefined && frame["ch" + ref + "_inband"] === 0;
      const reason = !inBand ? side : refOut ? "referenceoutofband" : null;
      out.p = value(fixed(deg, PhaseDecimals), reason, ud("deg", PhaseDecimals, T.units.phase));
    }
    return out;
  }

  // ---- the benches' state -----------------------------------------------

  function bench(key, crateLevel, slotLevel) {
    let b = benches.get(key);
    if (!b) {
      b = {
        key, crateLevel, slotLevel,
        config: null, status: null, frame: null, readings: [],
        lastFrameNo: null, dropped: 0, lostRows: 0, runFrames: 0,
        frameAt: null, frameTimeMs: null, intervals: [], arrivals: [],
        traces: new Map(), valuesDirty: true, traceDirty: true, el: null,
      };
      benches.set(key, b);
      orderDirty = true;
    }
    return b;
  }

  function decodeLevel(level) {
    return level.replace(/%([0-9A-Fa-f]{2})/g, (_, h) => String.fromCharCode(parseInt(h, 16)));
  }

  function place(b) {
    const crate = b.config && typeof b.config.crate === "string" ? b.config.crate
      : decodeLevel(b.crateLevel);
    return { crate, slot: parseInt(b.slotLevel, 10) };
  }

  function newRun(b) {
    b.lastFrameNo = null;
    b.dropped = 0;
    b.lostRows = 0;
    b.runFrames = 0;
    b.traces = new Map();
    b.intervals = [];
    b.traceDirty = true;
  }

  // The acquisition time of one frame, from the config.
  function configFrameMs(config) {
    if (!config || !(config.rate_Hz > 0) || !(config.samples_per_channel > 0)) return null;
    return (config.samples_per_channel / config.rate_Hz) * 1000;
  }

  function onConfig(b, text) {
    if (text === "") { b.config = null; b.valuesDirty = true; return; }
    let config;
    try { config = JSON.parse(text); } catch (e) { stats.badMessages++; return; }
    if (!config || typeof config !== "object") { stats.badMessages++; return; }
    b.config = config;
    newRun(b);
    b.frameTimeMs = configFrameMs(config);
    b.valuesDirty = true;
    orderDirty = true;
  }

  function onStatus(b, text) {
    // Since when online: the stale check of a bench without frames counts
    // from it.
    if (text === "online" && b.status !== "online") b.onlineAt = performance.now();
    b.status = text === "" ? null : text;
    b.valuesDirty = true;
    if (text === "" && !b.config && !b.frame) {
      benches.delete(b.key);
      if (b.el) b.el.remove();
    }
  }

  function onFrame(b, text, now) {
    let frame;
    try { frame = JSON.parse(text); } catch (e) { stats.badMessages++; return; }
    if (!frame || typeof frame !== "object" || typeof frame.frame !== "number") {
      stats.badMessages++;
      return;
    }
    stats.frames++;
    // Frames are numbered from 1 in a run: a gap is frames that did not come
    // (the feed's queue dropped them, or the broker's link was lost); a number
    // that goes back is a new run.
    if (b.lastFrameNo !== null && frame.frame <= b.lastFrameNo) newRun(b);
    if (b.lastFrameNo !== null && frame.frame > b.lastFrameNo + 1) {
      b.dropped += frame.frame - b.lastFrameNo - 1;
    }
    if (b.lastFrameNo !== null && frame.frame > b.lastFrameNo + 1) {
      stats.missed += frame.frame - b.lastFrameNo - 1;
    }
    b.lastFrameNo = frame.frame;
    b.runFrames++;
    if (b.frameAt !== null) {
      b.intervals.push(now - b.frameAt);
      if (b.intervals.length > 16) b.intervals.shift();
    }
    b.frameAt = now;
    b.arrivals.push(now);
    b.frame = frame;
    b.frameTime = Date.parse(frame.time);
    // The values and marks are worked out when the tile is drawn, for its
    // newest frame only; a frame itself adds its voltages to the traces.
    let lost = false;
    for (let n = 1; n <= ChannelCount; n++) {
      const status = frame["ch" + n + "_status"];
      if (status === undefined) continue;
      if (status === "lost") lost = true;
      const mV = frame["ch" + n + "_mV"];
      const shown = (status === "ok" || status === "notone" || status === "overrange") &&
        typeof mV === "number";
      let trace = b.traces.get(n);
      if (!trace) { trace = []; b.traces.set(n, trace); }
      trace.push(now, shown ? mV : null);
    }
    if (lost) b.lostRows++;
    b.valuesDirty = true;
    b.traceDirty = true;
  }

  // The newest frame's channels as the window shows them.
  function takeReadings(b) {
    const readings = [];
    let lost = false;
    const frame = b.frame;
    if (frame) {
      for (let n = 1; n <= ChannelCount; n++) {
        if (!(("ch" + n + "_status") in frame)) continue;
        const r = readChannel(b, frame, n);
        if (r.status === "lost") lost = true;
        readings.push(r);
      }
    }
    b.readings = readings;
    b.lostLink = lost;
  }

  // Drops what is older than span from a list of [time, value, ...] pairs
  // (step 2) or of times (step 1), in one splice.
  function prune(list, cutoff, step) {
    let i = 0;
    while (i < list.length && list[i] < cutoff) i += step;
    if (i > 0) list.splice(0, i);
  }

  const decoder = new TextDecoder();

  function onMessage(topic, payload) {
    const t0 = performance.now();
    takeMessage(topic, payload, t0);
    stats.handleMs += performance.now() - t0;
  }

  function takeMessage(topic, payload, now) {
    if (!topic.startsWith(prefix + "/")) return;
    const levels = topic.slice(prefix.length + 1).split("/");
    if (levels.length !== 3 || !/^\d+$/.test(levels[1])) return;
    const [crateLevel, slotLevel, kind] = levels;
    const key = crateLevel + "/" + slotLevel;
    const text = decoder.decode(payload);
    if (kind === "frame") onFrame(bench(key, crateLevel, slotLevel), text, now);
    else if (kind === "status") {
      if (text === "" && !benches.has(key)) return;
      onStatus(bench(key, crateLevel, slotLevel), text);
    } else if (kind === "config") {
      if (text === "" && !benches.has(key)) return;
      onConfig(bench(key, crateLevel, slotLevel), text);
    }
  }

  // online, offline, stale (online but no frame for three frame times), or
  // unknown; a page without its broker knows nothing.
  function stateOf(b, now) {
    if (!linkUp) return "nolink";
    if (b.status === "offline") return "offline";
    if (b.status !== "online") return "unknown";
    const frameMs = frameTimeMs(b);
    if (frameMs !== null && b.frameAt !== null && now - b.frameAt > StaleFrameTimes * frameMs) {
      return "stale";
    }
    if (frameMs !== null && b.frameAt === null && b.onlineAt !== undefined &&
        now - b.onlineAt > StaleFrameTimes * frameMs) {
      return "stale";
    }
    return "online";
  }

  // The frame time: the acquisition time the config gives, or the time
  // frames have been coming at when that is longer (transfer and processing
  // add to it).
  function frameTimeMs(b) {
    const fromConfig = b.frameTimeMs;
    let seen = null;
    if (b.intervals.length >= 3) {
      const sorted = b.intervals.slice().sort((x, y) => x - y);
      seen = sorted[Math.floor(sorted.length / 2)];
    }
    if (fromConfig === null) return seen;
    return seen === null ? fromConfig : Math.max(fromConfig, seen);
  }

  const StateText = {
    online: "в сети", offline: "не в сети", stale: "нет кадров", unknown: "нет состояния",
    nolink: "нет связи с брокером",
  };

  // ---- drawing -----------------------------------------------------------

  const tilesEl = document.getElementById("tiles");
  const emptyEl = document.getElementById("empty");
  const summaryEl = document.getElementById("summary");
  const linkEl = document.getElementById("link");
  const detailEl = document.getElementById("detail");
  const detailBody = document.getElementById("detail-body");

  function el(tag, cls, text) {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  // DOM writes only where something changed: a draw of every tile stays cheap.
  function setText(e, text) {
    if (e.textContent !== text) e.textContent = text;
  }

  function makeTile(b) {
    const tile = el("article", "tile");
    tile.dataset.key = b.key;
    tile.tabIndex = 0;
    const head = el("header");
    b.placeEl = head.appendChild(el("span", "place"));
    b.stateEl = head.appendChild(el("span", "state"));
    tile.appendChild(head);
    b.metaEl = tile.appendChild(el("div", "meta"));
    b.noteEl = tile.appendChild(el("div", "note"));
    const table = el("table", "channels");
    const hr = table.appendChild(el("tr"));
    hr.appendChild(el("th", "n", ""));
    hr.appendChild(el("th", "", T.units.voltage));
    hr.appendChild(el("th", "", T.units.frequency));
    hr.appendChild(el("th", "", T.units.phase));
    hr.appendChild(el("th", "trace-h", "1 мин"));
    b.tableEl = tile.appendChild(table);
    b.rows = new Map();
    b.footEl = tile.appendChild(el("footer"));
    tile.addEventListener("click", () => openDetail(b.key));
    tile.addEventListener("keydown", (e) => { if (e.key === "Enter") openDetail(b.key); });
    b.el = tile;
    return tile;
  }

  function channelRow(b, n, rows, table, big) {
    let row = rows.get(n);
    if (!row) {
      const tr = el("tr");
      tr.dataset.ch = String(n);
      tr.appendChild(el("th", "n", String(n)));
      row = { tr, v: el("td", "v"), f: el("td", "f"), p: el("td", "p"), canvas: el("canvas") };
      tr.append(row.v, row.f, row.p);
      const td = el("td", "trace");
      row.canvas.width = big ? 360 : 80;
      row.canvas.height = big ? 48 : 22;
      td.appendChild(row.canvas);
      tr.appendChild(td);
      // Rows stay in channel order.
      const after = [...rows.keys()].filter((k) => k > n).sort((x, y) => x - y)[0];
      table.insertBefore(tr, after !== undefined ? rows.get(after).tr : null);
      rows.set(n, row);
    }
    return row;
  }

  function showCell(td, v) {
    if (td.textContent !== v.text) td.textContent = v.text;
    const cls = (td.classList.contains("v") ? "v " : td.classList.contains("f") ? "f " : "p ") + v.kind;
    if (td.className !== cls) td.className = cls;
    const hint = v.hint || "";
    if (td.dataset.hint !== hint) {
      td.dataset.hint = hint;
      if (hint) td.title = hint; else td.removeAttribute("title");
    }
  }

  function describeConfig(c) {
    if (!c) return "нет параметров";
    const parts = [];
    if (c.module) parts.push("модуль " + c.module);
    if (c.rate_Hz) parts.push(fixed(c.rate_Hz, 0) + " Гц");
    if (c.bits) parts.push(c.bits + " бит");
    if (typeof c.current_mA === "number") parts.push(fixed(c.current_mA, 2) + " мА");
    if (Array.isArray(c.channels)) parts.push("каналы " + c.channels.join(","));
    if (c.reference) parts.push("опорный " + c.reference);
    if (c.method) parts.push(c.method + (c.amplitude ? " " + c.amplitude : ""));
    return parts.join(" · ");
  }

  function fpm(b, now) {
    prune(b.arrivals, now - RateSpanMs, 1);
    return b.arrivals.length;
  }

  function footText(b, now) {
    const parts = [];
    parts.push("кадр " + (b.lastFrameNo !== null ? b.lastFrameNo : "—"));
    parts.push(fpm(b, now) + " кадров/мин");
    parts.push("пропущено " + b.dropped);
    if (b.lostRows) parts.push("потеря связи с модулем: " + b.lostRows);
    return parts.join(" · ");
  }

  function drawTile(b, now, state) {
    if (!b.el) tilesEl.appendChild(makeTile(b));
    const p = place(b);
    setText(b.placeEl, p.crate + " · слот " + p.slot);
    setText(b.stateEl, StateText[state]);
    const cls = "tile " + state;
    if (b.el.className !== cls) {
      b.el.className = cls;
      b.el.dataset.state = state;
    }
    const frameNo = b.lastFrameNo !== null ? String(b.lastFrameNo) : "";
    if (b.el.dataset.frame !== frameNo) b.el.dataset.frame = frameNo;
    if (b.el.dataset.crate !== p.crate) {
      b.el.dataset.crate = p.crate;
      b.el.dataset.slot = String(p.slot);
    }
    if (b.metaConfig !== b.config) {
      b.metaConfig = b.config;
      setText(b.metaEl, describeConfig(b.config));
    }
    setText(b.noteEl, b.lostLink ? "связь с модулем потеряна" : "");
    setText(b.footEl, footText(b, now));
    if (b.valuesDirty) {
      takeReadings(b);
      const present = new Set();
      for (const r of b.readings) {
        const row = channelRow(b, r.n, b.rows, b.tableEl, false);
        showCell(row.v, r.v); showCell(row.f, r.f); showCell(row.p, r.p);
        present.add(r.n);
      }
      for (const [n, row] of b.rows) {
        if (!present.has(n)) { row.tr.remove(); b.rows.delete(n); }
      }
    }
  }

  function drawTrace(canvas, trace, now, big) {
    // The drawing takes the size the layout gives the canvas.
    const cw = canvas.clientWidth;
    if (cw > 0 && canvas.width !== cw) canvas.width = cw;
    const ctx = canvas.getContext("2d");
    const w = canvas.width, h = canvas.height;
    ctx.clearRect(0, 0, w, h);
    if (!trace || trace.length < 2) return;
    let lo = Infinity, hi = -Infinity;
    for (let i = 1; i < trace.length; i += 2) {
      const v = trace[i];
      if (v === null) continue;
      if (v < lo) lo = v;
      if (v > hi) hi = v;
    }
    if (lo === Infinity) return;
    const span = hi - lo || Math.max(Math.abs(hi) * 0.01, 1e-6);
    const mid = (hi + lo) / 2;
    lo = mid - span * 0.55; hi = mid + span * 0.55;
    ctx.strokeStyle = "#3f3";
    ctx.lineWidth = big ? 1.5 : 1;
    ctx.beginPath();
    // One column of pixels takes the lowest and highest value that fall in it:
    // a minute of a fast bench costs the canvas's width, not its frames.
    const yOf = (v) => h - ((v - lo) / (hi - lo)) * h;
    let pen = false;
    let col = null, cmin = 0, cmax = 0;
    const flush = () => {
      if (col === null) return;
      if (pen) ctx.lineTo(col, yOf(cmin)); else ctx.moveTo(col, yOf(cmin));
      if (cmax !== cmin) ctx.lineTo(col, yOf(cmax));
      pen = true;
      col = null;
    };
    for (let i = 0; i < trace.length; i += 2) {
      const v = trace[i + 1];
      if (v === null) { flush(); pen = false; continue; }
      const x = Math.round(w - ((now - trace[i]) / TraceSpanMs) * w);
      if (x !== col) {
        flush();
        col = x; cmin = v; cmax = v;
      } else {
        if (v < cmin) cmin = v;
        if (v > cmax) cmax = v;
      }
    }
    flush();
    ctx.stroke();
    if (big) {
      ctx.fillStyle = "#9a9";
      ctx.font = "11px sans-serif";
      ctx.fillText(fixed(hi, VoltageDecimals), 2, 11);
      ctx.fillText(fixed(lo, VoltageDecimals), 2, h - 2);
    }
  }

  function sortTiles() {
    const list = [...benches.values()];
    list.sort((a, b) => {
      const pa = place(a), pb = place(b);
      return pa.crate < pb.crate ? -1 : pa.crate > pb.crate ? 1 : pa.slot - pb.slot;
    });
    for (const b of list) {
      if (!b.el) makeTile(b);
      tilesEl.appendChild(b.el);  // moves it into place
    }
  }

  let lastTraceDraw = 0;
  function draw() {
    const t0 = performance.now();
    const now = t0;
    if (orderDirty) { sortTiles(); orderDirty = false; }
    const traces = now - lastTraceDraw >= TraceIntervalMs;
    let online = 0, stale = 0, offline = 0, newest = null;
    for (const b of benches.values()) {
      const state = stateOf(b, now);
      if (state === "online") online++;
      else if (state === "stale") stale++;
      else if (state === "offline") offline++;
      drawTile(b, now, state);
      if (b.valuesDirty && b.frameTime) {
        const lag = Date.now() - b.frameTime;
        if (newest === null || lag > newest) newest = lag;
      }
      b.valuesDirty = false;
    }
    if (traces) {
      // After every text is written: the canvases' sizes are then read from
      // one layout, not from one per tile. Every trace, so that one without
      // new frames moves on too.
      for (const b of benches.values()) {
        for (const trace of b.traces.values()) prune(trace, now - TraceSpanMs, 2);
        for (const [n, row] of b.rows) drawTrace(row.canvas, b.traces.get(n), now, false);
        b.traceDirty = false;
      }
      lastTraceDraw = now;
    }
    if (openKey) drawDetail(now, traces);
    emptyEl.hidden = benches.size > 0;
    summaryEl.textContent = "стендов " + benches.size + ": в сети " + online +
      (stale ? ", нет кадров " + stale : "") + ", не в сети " + offline;
    linkEl.className = linkUp ? "link-up" : "link-down";
    linkEl.textContent = linkUp ? "брокер: " + brokerUrl : "нет связи с брокером " + brokerUrl;
    const ms = performance.now() - t0;
    stats.draws++;
    stats.drawMs = ms;
    stats.drawMsTotal += ms;
    if (ms > stats.drawMsMax) stats.drawMsMax = ms;
    if (newest !== null) {
      stats.lagMs = newest;
      if (newest > stats.lagMsMax) stats.lagMsMax = newest;
    }
  }

  // ---- the larger view of one bench --------------------------------------

  let detailRows = new Map();
  let detailTable = null;

  function openDetail(key) {
    openKey = key;
    detailRows = new Map();
    detailBody.textContent = "";
    const b = benches.get(key);
    if (!b) return;
    detailBody.appendChild(el("h2", "place"));
    detailBody.appendChild(el("div", "meta"));
    detailBody.appendChild(el("div", "foot"));
    detailTable = el("table", "channels big");
    const hr = detailTable.appendChild(el("tr"));
    hr.appendChild(el("th", "n", "Канал"));
    hr.appendChild(el("th", "", T.titles.voltage + ", " + T.units.voltage));
    hr.appendChild(el("th", "", T.titles.frequency + ", " + T.units.frequency));
    hr.appendChild(el("th", "", T.titles.phase + ", " + T.units.phase));
    hr.appendChild(el("th", "", T.titles.voltage + ", 1 мин"));
    detailBody.appendChild(detailTable);
    detailBody.appendChild(el("ul", "hints"));
    detailEl.hidden = false;
    b.valuesDirty = true;
    drawDetail(performance.now(), true);
  }

  function closeDetail() {
    openKey = null;
    detailEl.hidden = true;
    detailBody.textContent = "";
  }

  function drawDetail(now, traces) {
    const b = benches.get(openKey);
    if (!b) { closeDetail(); return; }
    const p = place(b);
    detailBody.querySelector(".place").textContent =
      p.crate + " · слот " + p.slot + " — " + StateText[stateOf(b, now)];
    detailBody.querySelector(".meta").textContent = describeConfig(b.config);
    detailBody.querySelector(".foot").textContent = footText(b, now);
    const hints = [];
    for (const r of b.readings) {
      const row = channelRow(b, r.n, detailRows, detailTable, true);
      showCell(row.v, r.v); showCell(row.f, r.f); showCell(row.p, r.p);
      for (const [what, v] of [[T.titles.voltage, r.v], [T.titles.frequency, r.f], [T.titles.phase, r.p]]) {
        if (v.hint) hints.push(r.n + ", " + what + ": " + v.hint.replace("\n", " "));
      }
      if (traces) drawTrace(row.canvas, b.traces.get(r.n), now, true);
    }
    const ul = detailBody.querySelector(".hints");
    const text = hints.join("\n");
    if (ul.dataset.text !== text) {
      ul.dataset.text = text;
      ul.textContent = "";
      for (const h of hints) ul.appendChild(el("li", "", h));
    }
  }

  document.getElementById("detail-close").addEventListener("click", closeDetail);
  detailEl.addEventListener("click", (e) => { if (e.target === detailEl) closeDetail(); });
  document.addEventListener("keydown", (e) => { if (e.key === "Escape") closeDetail(); });

  // ---- the broker ---------------------------------------------------------

  function filters() {
    return [prefix + "/+/+/status", prefix + "/+/+/config", prefix + "/+/+/frame"];
  }

  function connect() {
    // A new session at every connection: the retained config and status come
    // again and tell the state as it is now.
    client = window.mqtt.connect(brokerUrl, {
      clean: true,
      reconnectPeriod: 2000,
      connectTimeout: 5000,
      keepalive: 30,
      resubscribe: false,
      clientId: "ksn48-fleet-" + Math.random().toString(16).slice(2, 10),
      // A broker with a login: a read-only viewer's name and password.
      username: params.get("username") || undefined,
      password: params.get("password") || undefined,
    });
    client.on("connect", () => {
      linkUp = true;
      // What the broker holds now replaces what was known before.
      for (const b of benches.values()) { b.status = null; b.valuesDirty = true; }
      stats.connects++;
      client.subscribe(filters(), { qos: 0 });
    });
    const down = () => { linkUp = false; };
    client.on("close", down);
    client.on("offline", down);
    client.on("error", () => {});
    client.on("message", onMessage);
  }

  function changePrefix(next) {
    const old = prefix;
    prefix = next;
    for (const b of benches.values()) if (b.el) b.el.remove();
    benches.clear();
    closeDetail();
    if (client && linkUp) {
      client.unsubscribe([old + "/+/+/status", old + "/+/+/config", old + "/+/+/frame"]);
      client.subscribe(filters(), { qos: 0 });
    }
    const url = new URL(location.href);
    url.searchParams.set("prefix", prefix);
    history.replaceState(null, "", url);
  }

  const prefixInput = document.getElementById("prefix");
  prefixInput.value = prefix;
  document.getElementById("prefix-form").addEventListener("submit", (e) => {
    e.preventDefault();
    const next = cleanPrefix(prefixInput.value);
    if (!next) { prefixInput.setCustomValidity("уровни без + и #, ни одного пустого"); prefixInput.reportValidity(); return; }
    prefixInput.setCustomValidity("");
    if (next !== prefix) changePrefix(next);
  });

  window.fleetFormat = fixed;  // for the tests of the rounding
  connect();
  setInterval(draw, DrawIntervalMs);
  draw();
})();
