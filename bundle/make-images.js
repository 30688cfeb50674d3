// Draws the bundle's images into a staging folder: node make-images.js OUTDIR
"use strict";
const fs = require("fs");
const path = require("path");
const zlib = require("zlib");

const crcTable = new Int32Array(256).map((_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c;
});
function crc32(buf) {
  let c = -1;
  for (const b of buf) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ -1) >>> 0;
}
function chunk(type, data) {
  const len = Buffer.alloc(4); len.writeUInt32BE(data.length);
  const td = Buffer.concat([Buffer.from(type, "ascii"), data]);
  const crc = Buffer.alloc(4); crc.writeUInt32BE(crc32(td));
  return Buffer.concat([len, td, crc]);
}
function encodePng(w, h, rgba) {
  const raw = Buffer.alloc((w * 4 + 1) * h);
  for (let y = 0; y < h; y++) {
    raw[y * (w * 4 + 1)] = 0;
    rgba.copy(raw, y * (w * 4 + 1) + 1, y * w * 4, (y + 1) * w * 4);
  }
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(w, 0); ihdr.writeUInt32BE(h, 4);
  ihdr[8] = 8; ihdr[9] = 6; ihdr[10] = 0; ihdr[11] = 0; ihdr[12] = 0;
  return Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk("IHDR", ihdr),
    chunk("IDAT", zlib.deflateSync(raw, { level: 9 })), chunk("IEND", Buffer.alloc(0))]);
}

// paint(x, y) -> [r, g, b, a] in 0..255, sampled 4x4 per pixel for smooth edges.
function draw(w, h, paint) {
  const out = Buffer.alloc(w * 4 * h);
  const n = 4;
  for (let y = 0; y < h; y++) {
    for (let x = 0; x < w; x++) {
      let r = 0, g = 0, b = 0, a = 0;
      for (let sy = 0; sy < n; sy++) {
        for (let sx = 0; sx < n; sx++) {
          const c = paint(x + (sx + 0.5) / n, y + (sy + 0.5) / n);
          r += c[0] * c[3]; g += c[1] * c[3]; b += c[2] * c[3]; a += c[3];
        }
      }
      const i = (y * w + x) * 4;
      out[i] = a ? Math.round(r / a) : 0; out[i + 1] = a ? Math.round(g / a) : 0;
      out[i + 2] = a ? Math.round(b / a) : 0; out[i + 3] = Math.round(a / (n * n));
    }
  }
  return encodePng(w, h, out);
}

const mix = (c1, c2, t) => c1.map((v, i) => Math.round(v + (c2[i] - v) * Math.max(0, Math.min(1, t))));
function roundRect(x, y, w, h, r) {
  const cx = Math.max(r, Math.min(w - r, x)), cy = Math.max(r, Math.min(h - r, y));
  return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r && x >= 0 && y >= 0 && x <= w && y <= h;
}
function segDist(px, py, ax, ay, bx, by) {
  const dx = bx - ax, dy = by - ay;
  const t = Math.max(0, Math.min(1, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)));
  return Math.hypot(px - ax - t * dx, py - ay - t * dy);
}

const images = {};
const W = 655, H = 513;
images["common/img/BG.png"] = draw(W, H, (x, y) => {
  if (y < 150) {
    const base = mix([14, 58, 94], [24, 112, 140], x / W + y / 600);
    const wave = Math.sin(x / 90 + y / 40) * 0.5 + 0.5;
    const band = Math.abs(y - 60 - 30 * Math.sin(x / 120)) < 28 ? 0.06 * wave : 0;
    return [...mix(base, [255, 255, 255], band), 255];
  }
  if (y >= H - 64) return y < H - 63 ? [214, 221, 228, 255] : [239, 242, 245, 255];
  return [250, 251, 252, 255];
});
function button(top, bottom, border) {
  return draw(160, 34, (x, y) => {
    if (!roundRect(x, y, 160, 34, 4)) return [0, 0, 0, 0];
    if (!roundRect(x - 1, y - 1, 158, 32, 3.5)) return [...border, 255];
    return [...mix(top, bottom, y / 34), 255];
  });
}
images["common/img/btn.png"] = button([48, 146, 209], [31, 112, 170], [24, 92, 142]);
images["common/img/btn_hover.png"] = button([70, 166, 226], [40, 130, 190], [30, 108, 160]);
images["common/img/btn_active.png"] = button([26, 98, 150], [22, 84, 130], [18, 70, 110]);
images["common/img/btn_disable.png"] = button([200, 206, 212], [184, 190, 197], [170, 176, 183]);
function closeIcon(bg, fg) {
  return draw(32, 32, (x, y) => {
    const d = Math.min(segDist(x, y, 11, 11, 21, 21), segDist(x, y, 21, 11, 11, 21));
    if (d < 1.2) return [...fg, 255];
    return bg ? [...bg, 255] : [0, 0, 0, 0];
  });
}
images["common/img/close.png"] = closeIcon(null, [220, 232, 240]);
images["common/img/close_hover.png"] = closeIcon([200, 60, 60], [255, 255, 255]);
images["common/img/close_active.png"] = closeIcon([160, 40, 40], [255, 255, 255]);
images["common/img/progress_bg.png"] = draw(8, 10, (x, y) => [...mix([214, 221, 228], [230, 235, 239], y / 10), 255]);
images["common/img/progress_fill.png"] = draw(8, 10, (x, y) => [...mix([92, 190, 120], [46, 150, 90], y / 10), 255]);
images["common/img/logo.png"] = draw(40, 40, (x, y) => {
  if (!roundRect(x, y, 40, 40, 9)) return [0, 0, 0, 0];
  const bar = (y > 9 && y < 15 && x > 9 && x < 31) || (x > 17 && x < 23 && y > 9 && y < 31);
  return bar ? [255, 255, 255, 255] : [...mix([255, 170, 60], [236, 110, 40], (x + y) / 80), 255];
});
images["pages/EmbargoedWarning/img/warning.png"] = draw(72, 72, (x, y) => {
  const inTri = y > 8 && y < 64 && Math.abs(x - 36) < (y - 8) * 0.6;
  if (!inTri) return [0, 0, 0, 0];
  const mark = (Math.abs(x - 36) < 3 && y > 26 && y < 48) || Math.hypot(x - 36, y - 55) < 3.2;
  return mark ? [255, 255, 255, 255] : [...mix([250, 190, 60], [235, 150, 30], y / 72), 255];
});
images["pages/SelfUpdate/img/update.png"] = draw(48, 48, (x, y) => {
  const r = Math.hypot(x - 24, y - 24);
  if (r > 22) return [0, 0, 0, 0];
  const arrow = (Math.abs(x - 24) < 2.5 && y > 11 && y < 30) || (y > 22 && y < 35 && Math.abs(x - 24) < 35 - y && y > 22 + Math.abs(x - 24) * 0);
  const head = y >= 24 && y <= 34 && Math.abs(x - 24) <= (34 - y);
  return arrow && (head || Math.abs(x - 24) < 2.5) ? [255, 255, 255, 255] : [...mix([48, 146, 209], [31, 112, 170], y / 48), 255];
});

const outDir = process.argv[2];
if (!outDir) {
  console.error("usage: node make-images.js OUTDIR");
  process.exit(2);
}
for (const [name, data] of Object.entries(images)) {
  const file = path.join(outDir, name);
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, data);
}
