// SPDX-License-Identifier: BSD-3-Clause
"use strict";
(function () {
  var data = JSON.parse(document.getElementById("run-data").textContent);
  // The planner's grid and cone, as the page's writer takes them from the planner.
  var GRID = data.grid, N = GRID.side, CELLS = N * N, CENTRE = GRID.centre, PER_METRE = GRID.cellsPerMetre;
  var REACH = CENTRE / PER_METRE, CONE_TOP = GRID.coneTop, MARK = GRID.mark;
  // Records come one per tick (see TickJson in run_html.cpp); the drawing
  // wants one array per field.
  var FIELDS = ["info", "reached", "length", "bearing", "distance", "steering", "pathEnd", "tracked", "pose",
                "person", "grid", "contact", "command"];
  FIELDS.forEach(function (f, i) { data[f] = data.ticks.map(function (t) { return t[i]; }); });
  data.ticks = null;
  var count = data.info.length;
  var $ = function (id) { return document.getElementById(id); };

  // v.toFixed(digits), but a value that rounds to zero has no sign.
  function fixed(v, digits) {
    var s = v.toFixed(digits);
    return /^-[0.]*$/.test(s) ? s.slice(1) : s;
  }

  // A tracker's point without a true distance (a --follow replay): its
  // distance from the robot gets a row of its own.
  var hasDistance = data.distance.some(function (v) { return v !== null; });
  var trackedDistance = data.tracked.map(function (p) { return p ? Math.hypot(p[0], p[1]) : null; });
  var hasTracked = !hasDistance && trackedDistance.some(function (v) { return v !== null; });

  function timelineRows() {
    var rows = [{ kind: "strip", label: "planner's path reached", h: 16 },
                { kind: "command", label: "command", h: 12 },
                { kind: "reason", label: "why not driving", h: 12 },
                { kind: "line", label: "path length", unit: " cells", values: data.length, colour: "#ff8c00", h: 40,
                  clips: true },
                { kind: "line", label: "bearing", unit: " deg", values: data.bearing, colour: "#c01890", h: 40,
                  symmetric: true }];
    if (hasDistance)
      rows.push({ kind: "line", label: "distance to person", unit: " m", values: data.distance, colour: "#1f5fbf", h: 40 });
    if (hasTracked)
      rows.push({ kind: "line", label: "tracked point's distance", unit: " m", values: trackedDistance,
                  colour: "#7b2fbf", h: 40 });
    return rows;
  }

  function timelineHeight(rows) {
    var h = 6;
    rows.forEach(function (r) { h += r.h + 8; });
    return h + 18;
  }

  // ---- decoding of the per-tick grid records (see run_html.cpp) -------------
  // Path steps as [column, row], indexed by a record's step code; the code
  // one past the last is followed by a whole cell.
  var STEPS = data.steps, FAR_STEP = STEPS.length;

  function Reader(text) {
    var bin = atob(text);
    this.u = new Uint8Array(bin.length);
    for (var i = 0; i < bin.length; ++i) this.u[i] = bin.charCodeAt(i);
    this.p = 0;
  }
  Reader.prototype.byte = function () {
    if (this.p >= this.u.length) throw new Error("grid record ends early");
    return this.u[this.p++];
  };
  Reader.prototype.varint = function () {
    var v = 0, scale = 1, b;
    do {
      b = this.byte();
      v += (b & 0x7f) * scale;
      scale *= 128;
    } while (b & 0x80);
    return v;
  };
  Reader.prototype.signed = function () {
    var z = this.varint();
    return z % 2 ? -(z + 1) / 2 : z / 2;
  };
  Reader.prototype.cell = function () { return [this.signed(), this.signed()]; };
  // Zigzagged integers in 4-bit codes (3 value bits, low first, and a "more"
  // bit), two to a byte, the low half first; `count` of them, then the rest
  // of the byte is skipped.
  Reader.prototype.nibbles = function (count) {
    var out = new Array(count), half = 0, b = 0;
    for (var i = 0; i < count; ++i) {
      var v = 0, scale = 1, n;
      do {
        if (!half) b = this.byte();
        n = half ? b >> 4 : b & 15;
        half = !half;
        v += (n & 7) * scale;
        scale *= 8;
      } while (n & 8);
      out[i] = v % 2 ? -(v + 1) / 2 : v / 2;
    }
    return out;
  };

  function predict(a, col, row) {
    if (row === 0) return col === 0 ? 0 : a[col - 1];
    if (col === 0) return a[(row - 1) * N];
    var p = a[row * N + col - 1] + a[(row - 1) * N + col] - a[(row - 1) * N + col - 1];
    return p < 0 ? 0 : (p > 255 ? 255 : p);
  }

  // Header and blocked cells; leaves the reader on the attraction mode byte.
  function readHead(r) {
    var t = {};
    var flags = r.byte();
    t.start = r.cell();
    t.target = flags & 1 ? r.cell() : null;
    t.rawTarget = flags & 2 ? r.cell() : null;
    t.blocked = new Uint8Array(CELLS);
    var runs = r.varint(), k = 0;
    for (var i = 0; i < runs; ++i) {
      var n = r.varint();
      if (k + n > CELLS) throw new Error("blocked runs overflow the grid");
      if (i % 2) t.blocked.fill(1, k, k + n);
      k += n;
    }
    if (k !== CELLS) throw new Error("blocked runs do not cover the grid");
    return t;
  }

  function cone(dcol, drow) {
    if (dcol === 0 && drow === 0) return MARK;
    var d = Math.sqrt(dcol * dcol + drow * drow);
    return d >= CONE_TOP ? 0 : CONE_TOP - Math.floor(d);
  }

  // Mode 1 predicts each cell from its left, upper and upper-left
  // neighbours; mode 0 predicts the last mode 1 tick's values; mode 2 a cone
  // around the target cell.
  function readAttraction(r, reference, target) {
    var a = new Uint8Array(CELLS), k = 0, zeros = r.varint();
    for (var row = 0; row < N; ++row)
      for (var col = 0; col < N; ++col, ++k) {
        var p = reference ? reference[k] :
                target !== undefined ? (target ? cone(col - target[0], row - target[1]) : 0) :
                predict(a, col, row);
        if (zeros > 0) {
          a[k] = p;
          --zeros;
          continue;
        }
        a[k] = p + r.signed();
        if (k + 1 < CELLS) zeros = r.varint();
      }
    return a;
  }

  // The last tick at or before each tick whose field is coded in mode 1.
  var keyframeOf = new Int32Array(count);
  for (var i = 0; i < count; ++i) {
    var r = new Reader(data.grid[i]);
    readHead(r);
    var mode = r.byte();
    if (mode > 2 || (mode === 0 && !(i > 0 && keyframeOf[i - 1] >= 0))) throw new Error("bad attraction mode in tick " + i);
    keyframeOf[i] = mode === 1 ? i : (i > 0 ? keyframeOf[i - 1] : -1);
  }
  var keyframe = { index: -1, values: null };

  function keyframeValues(n) {
    var from = keyframeOf[n];
    if (keyframe.index !== from) {
      var r = new Reader(data.grid[from]);
      readHead(r);
      r.byte();
      keyframe = { index: from, values: readAttraction(r, null) };
    }
    return keyframe.values;
  }

  function decode(n) {
    var r = new Reader(data.grid[n]);
    var t = readHead(r);
    var mode = r.byte();
    if (mode === 2) t.attraction = readAttraction(r, null, t.target);
    else t.attraction = readAttraction(r, mode === 1 ? null : keyframeValues(n));
    // Each code was predicted from the two before it, or the one before at
    // the edge of what is drawn; code - 4096 is millimetres, 0 not drawn.
    t.scan = new Float32Array(360);
    var residual = r.nibbles(360), before = 0, last = 0;
    for (var d = 0; d < 360; ++d) {
      var code = residual[d] + (before !== 0 && last !== 0 ? 2 * last - before : last);
      t.scan[d] = code === 0 ? NaN : (code - 4096) / 1000;
      before = last;
      last = code;
    }
    var len = r.varint();
    t.path = [];
    for (var s = 0; s < len; ++s) {
      if (s === 0) { t.path.push(r.cell()); continue; }
      var step = r.byte(), prev = t.path[s - 1];
      if (step === FAR_STEP) t.path.push(r.cell());
      else if (step < FAR_STEP) t.path.push([prev[0] + STEPS[step][0], prev[1] + STEPS[step][1]]);
      else throw new Error("bad path step");
    }
    if (r.p !== r.u.length) throw new Error("grid record has trailing bytes");
    return t;
  }

  // ---- drawing: the planner's grid, robot facing up ---------------------------
  // The grid's cell size in pixels: as large as 6, but small enough that
  // the header, the grid and the timeline fit the window's height, so the
  // timeline is in view without scrolling (never below 3).
  var OX = 60, OY = 34;
  var C = (function () {
    var header = document.querySelector("header").getBoundingClientRect().bottom;
    var spare = window.innerHeight - header - timelineHeight(timelineRows()) - 40 - OY - 46;
    return Math.max(3, Math.min(6, Math.floor(spare / 10) / 10));
  })();
  function CX(colf) { return OX + (N - colf) * C; }
  function CY(rowf) { return OY + (N - rowf) * C; }
  function MX(ym) { return CX(CENTRE + PER_METRE * ym); }
  function MY(xm) { return CY(CENTRE + PER_METRE * xm); }

  function setupCanvas(canvas, w, h) {
    var ratio = window.devicePixelRatio || 1;
    canvas.width = Math.round(w * ratio);
    canvas.height = Math.round(h * ratio);
    canvas.style.width = w + "px";
    canvas.style.height = h + "px";
    var g = canvas.getContext("2d");
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    return g;
  }

  var gridCanvas = $("grid");
  var gridW = OX + N * C + 40, gridH = OY + N * C + 46;
  var gg = setupCanvas(gridCanvas, gridW, gridH);
  var cellImage = document.createElement("canvas");
  cellImage.width = N;
  cellImage.height = N;
  var cellCtx = cellImage.getContext("2d");
  var pixels = cellCtx.createImageData(N, N);

  function text(g, s, x, y, font, colour) {
    g.font = font || "13px 'DejaVu Sans', Arial, sans-serif";
    g.fillStyle = colour || "#222";
    g.fillText(s, x, y);
  }

  // Cells: pull shading over white, blocked cells dark; one pixel per cell.
  function drawCells(g, t) {
    var px = pixels.data;
    for (var row = 0; row < N; ++row)
      for (var col = 0; col < N; ++col) {
        var k = row * N + col, o = ((N - 1 - row) * N + (N - 1 - col)) * 4;
        var rgb = [255, 255, 255];
        if (t.blocked[k]) {
          rgb = [0x5a, 0x5a, 0x5a];
        } else {
          var a = t.attraction[k], level = a >= MARK ? 16 : Math.floor(a * 15 / CONE_TOP);
          if (level > 0 && level < 16) {
            var alpha = 0.04 + 0.03 * level;
            rgb = [255 + (0x2e - 255) * alpha, 255 + (0x9e - 255) * alpha, 255 + (0x44 - 255) * alpha];
          }
        }
        px[o] = rgb[0];
        px[o + 1] = rgb[1];
        px[o + 2] = rgb[2];
        px[o + 3] = 255;
      }
    cellCtx.putImageData(pixels, 0, 0);
    g.imageSmoothingEnabled = false;
    g.drawImage(cellImage, OX, OY, N * C, N * C);
  }

  // Metre grid and labels.
  function drawMetreGrid(g) {
    g.setLineDash([3, 3]);
    g.strokeStyle = "#bbb";
    g.lineWidth = 0.7;
    for (var m = -2; m <= 2; ++m) {
      g.beginPath();
      g.moveTo(MX(m), CY(N)); g.lineTo(MX(m), CY(0));
      g.moveTo(CX(N), MY(m)); g.lineTo(CX(0), MY(m));
      g.stroke();
      var label = (m > 0 ? "+" : "") + m + " m";
      text(g, label, MX(m) - 10, CY(0) + 16, "11px 'DejaVu Sans', Arial, sans-serif", "#555");
      text(g, label, OX - 42, MY(m) + 4, "11px 'DejaVu Sans', Arial, sans-serif", "#555");
    }
    g.setLineDash([]);
    g.strokeStyle = "#333";
    g.lineWidth = 1;
    g.strokeRect(OX, OY, N * C, N * C);
  }

  // Scan returns.
  function drawScan(g, t) {
    g.fillStyle = "#d62728";
    for (var d = 0; d < 360; ++d) {
      var v = t.scan[d];
      if (isNaN(v)) continue;
      var x = -v * Math.cos(d * Math.PI / 180), y = -v * Math.sin(d * Math.PI / 180);
      if (Math.abs(x) >= REACH || Math.abs(y) >= REACH) continue;
      g.beginPath();
      g.arc(MX(y), MY(x), 1.8, 0, 2 * Math.PI);
      g.fill();
    }
  }

  // Path, start cell, robot.
  function drawPathAndRobot(g, t) {
    if (t.path.length) {
      g.strokeStyle = "#ff8c00";
      g.lineWidth = 3;
      g.lineJoin = "round";
      g.beginPath();
      g.moveTo(CX(t.start[0] + 0.5), CY(t.start[1] + 0.5));
      for (var s = 0; s < t.path.length; ++s) g.lineTo(CX(t.path[s][0] + 0.5), CY(t.path[s][1] + 0.5));
      g.stroke();
    }
    g.strokeStyle = "#1f5fbf";
    g.lineWidth = 2;
    g.strokeRect(CX(t.start[0] + 1) - 2, CY(t.start[1] + 1) - 2, C + 4, C + 4);
    g.lineWidth = 1.5;
    g.beginPath();
    g.arc(MX(0), MY(0), data.robotRadius * PER_METRE * C, 0, 2 * Math.PI);
    g.stroke();
    g.lineWidth = 2;
    g.beginPath();
    g.moveTo(MX(0), MY(0)); g.lineTo(MX(0), MY(0.3));
    g.stroke();
  }

  // Target, path end, steering point, tracked point.
  function drawMarks(g, t, n) {
    if (t.target) {
      if (t.rawTarget && (t.rawTarget[0] !== t.target[0] || t.rawTarget[1] !== t.target[1])) {
        g.setLineDash([3, 2]);
        g.strokeStyle = "#2e9e44";
        g.lineWidth = 1.5;
        g.strokeRect(CX(t.rawTarget[0] + 1) - 3, CY(t.rawTarget[1] + 1) - 3, C + 6, C + 6);
        g.setLineDash([]);
      }
      g.fillStyle = "#2e9e44";
      g.fillRect(CX(t.target[0] + 1) - 3, CY(t.target[1] + 1) - 3, C + 6, C + 6);
      g.strokeStyle = "black";
      g.lineWidth = 1;
      g.strokeRect(CX(t.target[0] + 1) - 3, CY(t.target[1] + 1) - 3, C + 6, C + 6);
    }
    if (t.path.length) {
      var end = data.pathEnd[n], fix = data.steering[n];
      g.strokeStyle = "black";
      g.lineWidth = 2;
      g.beginPath();
      g.arc(MX(end[1]) - C / 2, MY(end[0]) - C / 2, 6, 0, 2 * Math.PI);
      g.stroke();
      g.fillStyle = "#c01890";
      g.strokeStyle = "white";
      g.lineWidth = 1;
      g.beginPath();
      g.arc(MX(fix[1]) - C / 2, MY(fix[0]) - C / 2, 5, 0, 2 * Math.PI);
      g.fill();
      g.stroke();
    }
    var tr = data.tracked[n];
    if (tr && tr[0] !== null && tr[1] !== null) {
      var tx = MX(tr[1]), ty = MY(tr[0]);
      g.strokeStyle = "#7b2fbf";
      g.lineWidth = 2.5;
      g.beginPath();
      g.moveTo(tx - 7, ty - 7); g.lineTo(tx + 7, ty + 7);
      g.moveTo(tx - 7, ty + 7); g.lineTo(tx + 7, ty - 7);
      g.stroke();
    }
  }

  function drawGrid(n) {
    var t = decode(n);
    var g = gg;
    g.save();
    g.fillStyle = "white";
    g.fillRect(0, 0, gridW, gridH);
    drawCells(g, t);
    drawMetreGrid(g);
    drawScan(g, t);
    drawPathAndRobot(g, t);
    drawMarks(g, t, n);
    text(g, "rows: +X (ahead) up", OX - 50, OY - 8, "11px 'DejaVu Sans', Arial, sans-serif", "#555");
    text(g, "columns: +Y (robot's left) to the left", OX + N * C / 2 - 110, gridH - 8, "13px 'DejaVu Sans', Arial, sans-serif", "#555");
    g.restore();
    return t;
  }

  // ---- the room, seen from above ---------------------------------------------
  var room = data.room, roomCanvas = $("room"), rg = null, rs = 1, rW = 460, rH = 360;
  var RM = 24;
  // The part of the room in view (metres): all of it, or a window that
  // follows the robot on a large map.
  var view = { x: 0, y: 0, w: 0, h: 0 }, mapImage = null, zoomBox = null;
  var ZOOM = 10;
  function RX(x) { return RM + (x - view.x) * rs; }
  function RY(y) { return RM + 18 + (view.y + view.h - y) * rs; }
  // An occupancy map: one pixel a cell, drawn scaled without smoothing.
  function buildMapImage(cells) {
    var raw = atob(cells.data), c = document.createElement("canvas");
    c.width = cells.w;
    c.height = cells.h;
    var g = c.getContext("2d"), img = g.createImageData(cells.w, cells.h);
    var shade = [250, 34, 200];
    for (var i = 0; i < cells.w * cells.h; ++i) {
      var v = shade[raw.charCodeAt(i)] || 250;
      img.data[4 * i] = img.data[4 * i + 1] = img.data[4 * i + 2] = v;
      img.data[4 * i + 3] = 255;
    }
    g.putImageData(img, 0, 0);
    return c;
  }
  function setView(n) {
    var p = data.pose[n];
    if (zoomBox && zoomBox.checked && p) {
      view.w = Math.min(ZOOM, room.width);
      view.h = Math.min(ZOOM * (rH - 2 * RM - 40) / (rW - 2 * RM), room.depth);
      view.x = Math.max(0, Math.min(room.width - view.w, p[0] - view.w / 2));
      view.y = Math.max(0, Math.min(room.depth - view.h, p[1] - view.h / 2));
    } else {
      view = { x: 0, y: 0, w: room.width, h: room.depth };
    }
    rs = Math.min((rW - 2 * RM) / view.w, (rH - 2 * RM - 40) / view.h);
  }
  if (room && room.width > 0 && room.depth > 0) {
    $("room-box").hidden = false;
    $("room-legend").hidden = false;
    if (room.cells) {
      mapImage = buildMapImage(room.cells);
      rW = 560;
      if (room.width > 2 * ZOOM || room.depth > 2 * ZOOM) {
        // Large maps: a window on the robot, or the whole map.
        var label = document.createElement("label");
        zoomBox = document.createElement("input");
        zoomBox.type = "checkbox";
        zoomBox.id = "room-zoom";
        zoomBox.checked = true;
        label.appendChild(zoomBox);
        label.appendChild(document.createTextNode(" " + ZOOM + " m round the robot"));
        $("room-box").appendChild(label);
        zoomBox.addEventListener("change", function () { drawRoom(current); });
      }
    }
    view = { x: 0, y: 0, w: room.width, h: room.depth };
    rs = (rW - 2 * RM) / room.width;
    rH = Math.round(Math.min(room.depth * rs, 1.2 * (rW - 2 * RM)) + 2 * RM + 40);
    rg = setupCanvas(roomCanvas, rW, rH);
    if (!zoomBox) rs = Math.min(rs, (rH - 2 * RM - 40) / room.depth);
  }

  function polyline(g, pts, upto) {
    var started = false;
    g.beginPath();
    for (var i = 0; i <= upto && i < pts.length; ++i) {
      var p = pts[i];
      if (!p) { started = false; continue; }
      if (started) g.lineTo(RX(p[0]), RY(p[1]));
      else g.moveTo(RX(p[0]), RY(p[1]));
      started = true;
    }
    g.stroke();
  }

  // Metre lines, walls, obstacles and the person's planned route.
  function drawRoomPlan(g) {
    g.save();
    g.beginPath();
    g.rect(RX(view.x), RY(view.y + view.h), view.w * rs, view.h * rs);
    g.clip();
    if (mapImage) {
      g.imageSmoothingEnabled = false;
      g.drawImage(mapImage, RX(0), RY(room.depth), room.width * rs, room.depth * rs);
    }
    var step = view.w > 40 ? 10 : (view.w > 20 ? 5 : 1);
    g.strokeStyle = mapImage ? "rgba(0,0,0,0.08)" : "#eee";
    g.lineWidth = 1;
    g.beginPath();
    for (var i = 0; i <= Math.floor(room.width); i += step) { g.moveTo(RX(i), RY(0)); g.lineTo(RX(i), RY(room.depth)); }
    for (var j = 0; j <= Math.floor(room.depth); j += step) { g.moveTo(RX(0), RY(j)); g.lineTo(RX(room.width), RY(j)); }
    g.stroke();
    g.strokeStyle = "#333";
    g.lineWidth = 4;
    g.lineCap = "square";
    g.beginPath();
    room.walls.forEach(function (w) { g.moveTo(RX(w[0]), RY(w[1])); g.lineTo(RX(w[2]), RY(w[3])); });
    g.stroke();
    g.lineCap = "butt";
    g.fillStyle = "#777";
    room.pillars.forEach(function (p) {
      g.beginPath();
      g.arc(RX(p[0]), RY(p[1]), p[2] * rs, 0, 2 * Math.PI);
      g.fill();
    });
    if (room.route.length) {
      g.strokeStyle = "#e08a00";
      g.lineWidth = 1.5;
      g.setLineDash([6, 4]);
      polyline(g, room.route, room.route.length);
      g.setLineDash([]);
    }
    g.restore();
  }

  // Where the run ended on a contact.
  function drawRoomContact(g) {
    var c = data.contact[count - 1];
    if (!c) return;
    var x = RX(c[0]), y = RY(c[1]), k = 7;
    g.strokeStyle = "#d62728";
    g.lineWidth = 3;
    g.beginPath();
    g.moveTo(x - k, y - k); g.lineTo(x + k, y + k);
    g.moveTo(x - k, y + k); g.lineTo(x + k, y - k);
    g.stroke();
    g.lineWidth = 2;
    g.beginPath();
    g.arc(x, y, 11, 0, 2 * Math.PI);
    g.stroke();
  }

  // Where robot and person went up to tick n, and where they are.
  function drawRoomTracks(g, n) {
    g.strokeStyle = "rgba(224,138,0,0.6)";
    g.lineWidth = 3;
    polyline(g, data.person, n);
    g.strokeStyle = "#1f5fbf";
    g.lineWidth = 3;
    polyline(g, data.pose, n);
    var p = data.pose[n], q = data.person[n];
    if (p && q) {
      g.strokeStyle = "#999";
      g.lineWidth = 1;
      g.setLineDash([2, 2]);
      g.beginPath();
      g.moveTo(RX(p[0]), RY(p[1])); g.lineTo(RX(q[0]), RY(q[1]));
      g.stroke();
      g.setLineDash([]);
    }
    if (q) {
      g.fillStyle = "rgba(224,138,0,0.25)";
      g.strokeStyle = "#e08a00";
      g.lineWidth = 1;
      g.beginPath();
      g.arc(RX(q[0]), RY(q[1]), data.personRadius * rs, 0, 2 * Math.PI);
      g.fill();
      g.stroke();
    }
    if (p) {
      g.fillStyle = "rgba(31,95,191,0.15)";
      g.strokeStyle = "#1f5fbf";
      g.lineWidth = 1.5;
      g.beginPath();
      g.arc(RX(p[0]), RY(p[1]), data.robotRadius * rs, 0, 2 * Math.PI);
      g.fill();
      g.stroke();
      g.lineWidth = 2;
      g.beginPath();
      g.moveTo(RX(p[0]), RY(p[1]));
      g.lineTo(RX(p[0] + 0.3 * Math.cos(p[2])), RY(p[1] + 0.3 * Math.sin(p[2])));
      g.stroke();
    }
  }

  function drawRoomScale(g) {
    var m = view.w > 40 ? 10 : (view.w > 20 ? 5 : 1);
    var sy = RY(view.y) + 22, x0 = RX(view.x), x1 = x0 + m * rs;
    g.strokeStyle = "black";
    g.lineWidth = 2;
    g.beginPath();
    g.moveTo(x0, sy); g.lineTo(x1, sy);
    g.moveTo(x0, sy - 5); g.lineTo(x0, sy + 5);
    g.moveTo(x1, sy - 5); g.lineTo(x1, sy + 5);
    g.stroke();
    text(g, m + " m", x1 + 8, sy + 4);
  }

  function drawRoom(n) {
    if (!rg) return;
    var g = rg;
    g.save();
    g.fillStyle = "white";
    g.fillRect(0, 0, rW, rH);
    text(g, mapImage ? "Map, seen from above" : "Room, seen from above", RM, 16,
         "bold 13px 'DejaVu Sans', Arial, sans-serif");
    setView(n);
    drawRoomPlan(g);
    g.save();
    g.beginPath();
    g.rect(RX(view.x), RY(view.y + view.h), view.w * rs, view.h * rs);
    g.clip();
    drawRoomTracks(g, n);
    drawRoomContact(g);
    g.restore();
    drawRoomScale(g);
    g.restore();
  }

  // ---- timeline ---------------------------------------------------------------
  var tl = $("timeline"), tg = null, tlW = 0, tlH = 0, tlBack = null;
  var TL_LEFT = 200, TL_RIGHT = 12;
  var rows = [];

  function tickX(i) {
    var w = tlW - TL_LEFT - TL_RIGHT;
    return TL_LEFT + (count > 1 ? i * w / (count - 1) : w / 2);
  }

  // The row's scale: up to the largest value, or, for a row that clips, up
  // to 1.25 times the 95th percentile when that is lower, so that one spike
  // does not flatten the rest (values above it are drawn at the top edge).
  function seriesRange(values, symmetric, clips) {
    var mags = [];
    values.forEach(function (v) { if (v !== null && isFinite(v)) mags.push(Math.abs(v)); });
    mags.sort(function (a, b) { return a - b; });
    var hi = mags.length ? mags[mags.length - 1] : 0;
    if (clips && mags.length) hi = Math.min(hi, 1.25 * mags[Math.min(mags.length - 1, Math.floor(0.95 * mags.length))]);
    if (hi === 0) hi = 1;
    return symmetric ? [-hi, hi] : [0, hi];
  }

  // The command strip: drove (green), turned on the spot (amber), stood (red).
  var COMMAND_COLOURS = [["#2e9e44", "drove"], ["#e0a030", "turned on the spot"], ["#c84040", "stood still"]];
  function commandColour(c) {
    if (!c) return "#f6f6f6";
    return COMMAND_COLOURS[c[3]][0];
  }
  // The reason strip: one colour per reason, blank while driving.
  var REASON_COLOURS = { lost: "#7b2fbf", search: "#b07cdf", no_path: "#c01890", bad_input: "#555555",
                         low_coverage: "#888888", guard: "#d04010", unseen: "#1f5fbf", near: "#0b3d91",
                         turning: "#e0a030", arrived: "#6aa84f", recovery: "#00897b", not_live: "#000000" };
  var REASON_LABELS = { lost: "lost the tracked point", search: "lost: heading for where it was last seen",
                        no_path: "no path", bad_input: "bad input", low_coverage: "too little seen ahead",
                        guard: "too close to a return", unseen: "unseen space ahead",
                        near: "something too near to measure", turning: "turning on the spot first",
                        arrived: "arrived", recovery: "no route: turning toward open space",
                        not_live: "pilot not started" };
  var OTHER_REASON = "#999999";
  function reasonColour(c) {
    if (!c || c[2] === "driving") return "#f6f6f6";
    return REASON_COLOURS[c[2]] || OTHER_REASON;
  }

  // Under the timeline: what the colours of its strips mean. The reasons
  // listed are those of this run, in the order they first come.
  function buildTimelineLegend() {
    var box = $("timeline-legend");
    if (!box) return;
    function row(title, entries) {
      var line = document.createElement("div");
      var head = document.createElement("b");
      head.textContent = title + ":";
      line.appendChild(head);
      entries.forEach(function (e) {
        var item = document.createElement("span");
        item.className = "key";
        var swatch = document.createElement("i");
        swatch.style.background = e[0];
        swatch.setAttribute("data-colour", e[0]);
        item.appendChild(swatch);
        item.appendChild(document.createTextNode(e[1]));
        line.appendChild(item);
      });
      box.appendChild(line);
    }
    row("planner's path reached", [["#2e9e44", "the target"], ["#e3a0a0", "short of it"]]);
    var withCommand = data.command.some(function (c) { return c; });
    if (!withCommand) return;
    row("command", COMMAND_COLOURS);
    var seen = {}, reasons = [];
    data.command.forEach(function (c) {
      if (!c || c[2] === "driving" || seen[c[2]]) return;
      seen[c[2]] = true;
      reasons.push([reasonColour(c), REASON_LABELS[c[2]] || String(c[2]).replace(/_/g, " ")]);
    });
    row("why not driving", reasons.length ? reasons : [["#f6f6f6", "drove on every " + data.tickName]]);
  }

  // One row of the timeline: the reached, command or reason strip, or a
  // figure's line with its scale; keeps the row's value-to-y mapping in r.Y
  // for the marker.
  function drawTimelineRow(g, r, colW) {
    g.fillStyle = "#f6f6f6";
    g.fillRect(TL_LEFT, r.y, tlW - TL_LEFT - TL_RIGHT, r.h);
    if (r.kind === "command" || r.kind === "reason") {
      for (var j = 0; j < count; ++j) {
        g.fillStyle = r.kind === "command" ? commandColour(data.command[j]) : reasonColour(data.command[j]);
        var a0 = Math.max(TL_LEFT, tickX(j) - colW / 2), a1 = Math.min(tlW - TL_RIGHT, tickX(j) + colW / 2 + 0.5);
        g.fillRect(a0, r.y, a1 - a0, r.h);
      }
      text(g, r.label, 8, r.y + 10, "11px 'DejaVu Sans', Arial, sans-serif", "#333");
      return;
    }
    if (r.kind === "strip") {
      for (var i = 0; i < count; ++i) {
        g.fillStyle = data.reached[i] ? "#2e9e44" : "#e3a0a0";
        var x0 = Math.max(TL_LEFT, tickX(i) - colW / 2), x1 = Math.min(tlW - TL_RIGHT, tickX(i) + colW / 2 + 0.5);
        g.fillRect(x0, r.y, x1 - x0, r.h);
      }
      text(g, r.label, 8, r.y + 12, "12px 'DejaVu Sans', Arial, sans-serif", "#333");
      return;
    }
    var range = seriesRange(r.values, r.symmetric, r.clips);
    var Y = function (v) { return r.y + r.h - (Math.min(v, range[1]) - range[0]) / (range[1] - range[0]) * r.h; };
    var clipped = r.values.some(function (v) { return v !== null && v > range[1]; });
    r.Y = Y;
    if (r.symmetric) {
      g.strokeStyle = "#ccc";
      g.lineWidth = 1;
      g.beginPath();
      g.moveTo(TL_LEFT, Y(0)); g.lineTo(tlW - TL_RIGHT, Y(0));
      g.stroke();
    }
    g.strokeStyle = r.colour;
    g.lineWidth = 1.5;
    g.beginPath();
    var on = false;
    for (var k = 0; k < count; ++k) {
      var v = r.values[k];
      if (v === null || !isFinite(v)) { on = false; continue; }
      if (on) g.lineTo(tickX(k), Y(v));
      else g.moveTo(tickX(k), Y(v));
      on = true;
    }
    if (count === 1) g.lineTo(tickX(0) + 1, Y(r.values[0] || 0));
    g.stroke();
    text(g, r.label, 8, r.y + 14, "12px 'DejaVu Sans', Arial, sans-serif", "#333");
    var fmt = function (v) { return fixed(v, Math.abs(v) >= 10 || v === Math.round(v) ? 0 : 1) + r.unit; };
    g.textAlign = "right";
    text(g, (clipped ? "\u2265 " : "") + fmt(range[1]), TL_LEFT - 6, r.y + 10, "10px 'DejaVu Sans', Arial, sans-serif",
         "#777");
    text(g, fmt(range[0]), TL_LEFT - 6, r.y + r.h, "10px 'DejaVu Sans', Arial, sans-serif", "#777");
    g.textAlign = "left";
  }

  function drawTickAxis(g) {
    var axisY = tlH - 6;
    var every = Math.max(1, Math.pow(10, Math.ceil(Math.log10(Math.max(1, count) / 10))));
    if (count / every < 4) every = Math.max(1, every / 2);
    for (var t = 0; t < count; t += every)
      text(g, String(t), tickX(t) - 6, axisY, "10px 'DejaVu Sans', Arial, sans-serif", "#777");
    text(g, data.tickName, 8, axisY, "10px 'DejaVu Sans', Arial, sans-serif", "#777");
  }

  function buildTimeline() {
    tlW = Math.max(400, tl.parentNode.clientWidth || 1000);
    rows = timelineRows();
    var y = 6;
    rows.forEach(function (r) { r.y = y; y += r.h + 8; });
    tlH = timelineHeight(rows);
    tg = setupCanvas(tl, tlW, tlH);
    tl.style.width = "100%";
    tlBack = document.createElement("canvas");
    var ratio = window.devicePixelRatio || 1;
    tlBack.width = tl.width;
    tlBack.height = tl.height;
    var g = tlBack.getContext("2d");
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    g.fillStyle = "white";
    g.fillRect(0, 0, tlW, tlH);
    var colW = Math.max(1, (tlW - TL_LEFT - TL_RIGHT) / Math.max(1, count));
    rows.forEach(function (r) { drawTimelineRow(g, r, colW); });
    drawTickAxis(g);
  }

  function drawTimeline(n) {
    var ratio = window.devicePixelRatio || 1;
    tg.setTransform(1, 0, 0, 1, 0, 0);
    tg.drawImage(tlBack, 0, 0);
    tg.setTransform(ratio, 0, 0, ratio, 0, 0);
    var x = tickX(n);
    tg.strokeStyle = "#111";
    tg.lineWidth = 2;
    tg.beginPath();
    tg.moveTo(x, 2); tg.lineTo(x, tlH - 18);
    tg.stroke();
    tg.fillStyle = "#111";
    rows.forEach(function (r) {
      if (r.kind !== "line") return;
      var v = r.values[n];
      if (v === null || !isFinite(v)) return;
      tg.beginPath();
      tg.arc(x, r.Y(v), 3.5, 0, 2 * Math.PI);
      tg.fill();
    });
  }

  function tickAt(clientX) {
    var box = tl.getBoundingClientRect();
    var x = (clientX - box.left) * tlW / box.width;
    var w = tlW - TL_LEFT - TL_RIGHT;
    if (count <= 1) return 0;
    return Math.min(count - 1, Math.max(0, Math.round((x - TL_LEFT) * (count - 1) / w)));
  }

  // ---- state and controls -----------------------------------------------------
  var current = -1, playing = false, lastFrame = 0, carry = 0;
  var slider = $("slider"), playButton = $("play"), speed = $("speed");
  slider.max = String(Math.max(0, count - 1));
  $("tick-last").textContent = String(Math.max(0, count - 1));
  $("tick-name").textContent = data.tickName;
  document.querySelectorAll(".tracked-only").forEach(function (e) {
    e.hidden = !data.tracked.some(function (v) { return v !== null; });
  });

  function fmt(v, digits) { return v === null || !isFinite(v) ? "none" : fixed(v, digits); }

  function show(n, keepHash) {
    if (count === 0) return;
    n = Math.min(count - 1, Math.max(0, Math.floor(n)));
    current = n;
    slider.value = String(n);
    $("tick").textContent = String(n);
    $("tick-info").textContent = data.info[n];
    $("time").textContent = data.dt ? "t = " + (n * data.dt).toFixed(1) + " s" : "";
    var parts = [data.reached[n] ? "planner's path reached the target" : "planner's path short of the target",
                 "path " + data.length[n] + " cells", "bearing " + fmt(data.bearing[n], 1) + " deg"];
    var c = data.command[n];
    if (c) parts.push("drive " + fmt(c[0], 2) + " m/s, " + fmt(c[1], 2) + " rad/s" +
                      (c[2] === "driving" ? "" : " (" + c[2].replace(/_/g, " ") + ")"));
    if (data.distance[n] !== null) parts.push("distance to the person " + fmt(data.distance[n], 2) + " m");
    if (hasTracked) parts.push("tracked point " + fmt(trackedDistance[n], 2) + " m away");
    $("status").textContent = parts.join(", ");
    drawGrid(n);
    drawRoom(n);
    drawTimeline(n);
    if (!keepHash && location.hash !== "#tick=" + n) {
      try { history.replaceState(null, "", "#tick=" + n); } catch (e) { /* some file: URLs refuse */ }
    }
  }

  function fromHash() {
    var m = /(?:^#|&)tick=(\d+)/.exec(location.hash);
    return m ? parseInt(m[1], 10) : null;
  }

  function setPlaying(on) {
    playing = on && count > 1;
    playButton.textContent = playing ? "pause" : "play";
    if (playing) {
      if (current >= count - 1) show(0);
      lastFrame = 0;
      carry = 0;
      requestAnimationFrame(frame);
    }
  }

  function frame(now) {
    if (!playing) return;
    if (lastFrame) {
      carry += (now - lastFrame) / 1000 * parseFloat(speed.value) / (data.dt || 0.1);
      var steps = Math.floor(carry);
      if (steps > 0) {
        carry -= steps;
        show(Math.min(count - 1, current + steps));
        if (current >= count - 1) { setPlaying(false); return; }
      }
    }
    lastFrame = now;
    requestAnimationFrame(frame);
  }

  slider.addEventListener("input", function () { show(parseInt(slider.value, 10)); });
  $("first").addEventListener("click", function () { show(0); });
  $("last").addEventListener("click", function () { show(count - 1); });
  $("prev").addEventListener("click", function () { show(current - 1); });
  $("next").addEventListener("click", function () { show(current + 1); });
  playButton.addEventListener("click", function () { setPlaying(!playing); });
  speed.addEventListener("change", function () { speed.blur(); });
  document.addEventListener("keydown", function (e) {
    if (e.altKey || e.ctrlKey || e.metaKey) return;
    if (e.target === speed) return;
    var k = e.key;
    if (k === " " || k === "Spacebar") setPlaying(!playing);
    else if (k === "ArrowLeft") show(current - 1);
    else if (k === "ArrowRight") show(current + 1);
    else if (k === "Home") show(0);
    else if (k === "End") show(count - 1);
    else return;
    e.preventDefault();
  });
  var dragging = false;
  tl.addEventListener("mousedown", function (e) { dragging = true; show(tickAt(e.clientX)); });
  window.addEventListener("mousemove", function (e) { if (dragging) show(tickAt(e.clientX)); });
  window.addEventListener("mouseup", function () { dragging = false; });
  window.addEventListener("hashchange", function () {
    var h = fromHash();
    if (h !== null && h !== current) show(h, true);
  });
  var resizeTimer = 0;
  window.addEventListener("resize", function () {
    clearTimeout(resizeTimer);
    resizeTimer = setTimeout(function () { buildTimeline(); drawTimeline(current); }, 100);
  });

  // For tests and for people poking at a run from the console.
  window.runViewer = {
    count: count,
    decode: decode,
    show: function (n) { show(n); },
    current: function () { return current; }
  };

  if (data.total > count) {
    $("cut-note").textContent = "Shows the first " + count + " of " + data.total + " " + data.tickName + "s (" +
        data.tickName + "s 0.." + (count - 1) + "); the page holds no more.";
    $("cut-note").hidden = false;
  }
  if (count === 0) {
    $("status").textContent = "This run has no ticks.";
    slider.disabled = true;
    return;
  }
  buildTimeline();
  buildTimelineLegend();
  var start = fromHash();
  show(start === null ? 0 : start, start !== null && start < count);
})();
