# Turns the raw records of one benchmark run into one aligned table.
# Inputs, each preceded by src=KIND on the command line:
#   after, before  records of bench/bench.scm (fast and straightforward build)
#   rss_after, rss_before  lines of peak_rss (one per plug-in process)
#   im             "distort SECONDS" / "copy SECONDS" lines of ImageMagick
#   floor_trace    the floor plug-in's step times (BENCH_FLOOR_TRACE)
#   render         records of render_bench
# Variables: runs, cores, title, load (a line printed under the table).

function add(key, value) { n[key]++; v[key, n[key]] = value + 0 }

function median(key,    i, j, t, a, m) {
  m = n[key] + 0
  if (m == 0) return ""
  for (i = 1; i <= m; i++) a[i] = v[key, i]
  for (i = 2; i <= m; i++)
    for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
  return m % 2 ? a[(m + 1) / 2] : (a[m / 2] + a[m / 2 + 1]) / 2
}

function maximum(key,    i, m, best) {
  m = n[key] + 0
  if (m == 0) return ""
  best = v[key, 1]
  for (i = 2; i <= m; i++) if (v[key, i] > best) best = v[key, i]
  return best
}

function faults(f) { return f == "" ? "-" : sprintf("%.0fk (%.0f MiB)", f / 1000, f * 4 / 1024) }
function secs(x) { return x == "" ? "-" : sprintf("%.2f s", x) }
function mb(kb) { return kb == "" ? "-" : sprintf("%.0f MiB", kb / 1024) }
function ratio(a, b) { return (a == "" || b == "" || b == 0) ? "-" : sprintf("%.2f", a / b) }
# Speed from the wall time; work per pixel from the CPU time of all threads.
function rate(s, cpu, px) {
  return (s == "" || s == 0) ? "-" : sprintf("%.2f Mpx/s cpu %4.0f ns/px", px / s / 1e6, cpu / px * 1e9)
}
# "<= 0.75 ok" or "<= 0.75 MISS"; "-" when there is nothing to judge.
function judge(value, limit, above) {
  if (value == "-" || value == "") return limit == "" ? "-" : limit " ?"
  if (above) return ">= " limit ((value + 0 >= limit + 0) ? " ok" : " MISS")
  return "<= " limit ((value + 0 <= limit + 0) ? " ok" : " MISS")
}

function row(measure, kase, before, after, ref, r, speedup, target) {
  rows++
  cell[rows, 1] = measure; cell[rows, 2] = kase; cell[rows, 3] = before
  cell[rows, 4] = after; cell[rows, 5] = ref; cell[rows, 6] = r
  cell[rows, 7] = speedup; cell[rows, 8] = target
}

# ------------------------------------------------------------------ input

src == "after" || src == "before" {
  what = $1; img = $2; interp = $3
  if (what == "done") { done[src] = 1; next }
  # Plug-in processes, failed ones too, in call order: the k-th line of
  # peak_rss belongs to the k-th of them.
  if (what != "gimp") { calls[src]++; call_key[src, calls[src]] = what SUBSEP img SUBSEP interp }
  if ($5 == "fail") { fails = fails " " src ":" what "/" img "/" interp; next }
  if (what == "plugin" || what == "gimp" || what == "floor" || what == "tiny")
    add(src SUBSEP what SUBSEP img SUBSEP interp, $5)
  if (what == "plugin") { layer_w[img] = $6; layer_h[img] = $7 }
  if (what == "floor" && src == "after") floor_img[++nfloor] = img
  next
}

src == "rss_after" || src == "rss_before" {
  if ($2 != "-run") next
  s = substr(src, 5)
  procs[s]++
  proc_name[s, procs[s]] = $1; proc_kb[s, procs[s]] = $3
  proc_wall[s, procs[s]] = $4; proc_cpu[s, procs[s]] = $5 + $6; proc_flt[s, procs[s]] = $7
  next
}

src == "im" { add("im" SUBSEP $1, $2); next }

# The floor plug-in's steps, one line per call, in the order of its calls.
src == "floor_trace" { ntrace++; trace[ntrace] = $0; next }

src == "render" {
  if ($1 ~ /^#/) next
  # kind interp mpx width height threads seconds ns_per_px mpx_per_s cpu_s
  if ($1 == "spin") {
    if ($6 == 1) spin1[$3] = $7
    else { spinn[$3] = $7; spin_threads[$3] = $6 }
    next
  }
  key = $1 SUBSEP $2 SUBSEP $3 SUBSEP $6
  rtime[key] = $7
  rcpu[key] = $10
  rpx[$3] = $4 * $5
  if (!($3 in seen_size)) { seen_size[$3] = 1; sizes[++nsizes] = $3 }
  next
}

# ------------------------------------------------------------------ table

END {
  split("nearest linear cubic lanczos", IN, " ")
  split("NONE LINEAR CUBIC NOHALO", GN, " ")
  nimg = split("rgba rgb rgba16 rgbaf holes", IMG, " ")
  UP["rgba"] = "RGBA"; UP["rgb"] = "RGB"; UP["rgba16"] = "RGBA 16-bit"
  UP["rgbaf"] = "RGBA float"; UP["holes"] = "RGBA with holes"
  BPP["rgba"] = 4; BPP["rgb"] = 3; BPP["rgba16"] = 8; BPP["rgbaf"] = 16; BPP["holes"] = 4
  LIMIT["linear"] = "0.75"; LIMIT["cubic"] = "0.75"; LIMIT["lanczos"] = "0.3"

  for (s in calls) {
    if (procs[s] != calls[s]) { rss_note = rss_note " " s ": " calls[s] " calls, " procs[s] " processes;"; continue }
    for (k = 1; k <= calls[s]; k++) {
      split(call_key[s, k], part, SUBSEP)
      expect = part[1] == "floor" ? "tessaform_floor" : ""
      if (expect != "" && proc_name[s, k] != expect) { rss_note = rss_note " " s ": order mismatch;"; break }
      add("rss" SUBSEP s SUBSEP call_key[s, k], proc_kb[s, k])
      add("cpu" SUBSEP s SUBSEP call_key[s, k], proc_cpu[s, k])
      add("wall" SUBSEP s SUBSEP call_key[s, k], proc_wall[s, k])
      add("flt" SUBSEP s SUBSEP call_key[s, k], proc_flt[s, k])
      if (part[1] == "plugin") add("rssmax" SUBSEP s SUBSEP part[2], proc_kb[s, k])
    }
  }

  row("measure", "case", "before", "after", "reference", "ratio", "before/after", "target")
  for (i = 1; i <= nimg; i++) {
    img = IMG[i]
    wide = img == "rgba16" || img == "rgbaf"
    for (j = 1; j <= 4; j++) {
      it = IN[j]
      b = median("before" SUBSEP "plugin" SUBSEP img SUBSEP it)
      a = median("after" SUBSEP "plugin" SUBSEP img SUBSEP it)
      g = median("after" SUBSEP "gimp" SUBSEP img SUBSEP it)
      r = ratio(a, g)
      row("a) call, after/GIMP", UP[img] " " it " | GIMP " GN[j], secs(b), secs(a),
          secs(g), r, ratio(b, a),
          wide ? judge(r, "0.75") : it == "nearest" ? "see c)" : judge(r, LIMIT[it]))
    }
  }
  for (i = 1; i <= 2; i++) {
    img = IMG[i]
    b = median("before" SUBSEP "tiny" SUBSEP img SUBSEP 0)
    a = median("after" SUBSEP "tiny" SUBSEP img SUBSEP 0)
    row("b) start-up, 2x2 warp", UP[img], secs(b), secs(a), "-", "-", ratio(b, a), "-")
  }
  for (i = 1; i <= nimg; i++) {
    img = IMG[i]
    f = median("after" SUBSEP "floor" SUBSEP img SUBSEP 0)
    for (j = 1; j <= 4; j++) {
      it = IN[j]
      b = median("before" SUBSEP "plugin" SUBSEP img SUBSEP it)
      a = median("after" SUBSEP "plugin" SUBSEP img SUBSEP it)
      r = ratio(a, f)
      row("c) floor, after/floor", UP[img] " " it " | floor plug-in", secs(b), secs(a),
          secs(f), r, ratio(b, a), judge(r, "1.15"))
    }
  }
  if (ntrace > 0 && ntrace == nfloor) {
    nsteps = split("gegl_init|new layer, read source box|write layer|release layer buffer (flush)|update layer, end progress|end undo group", STEP, "|")
    for (k = 1; k <= ntrace; k++) {
      split(trace[k], part, " ")
      for (j = 1; j <= nsteps; j++) add("step" SUBSEP floor_img[k] SUBSEP j, part[j])
    }
    for (i = 1; i <= 2; i++) {
      img = IMG[i]
      f = median("after" SUBSEP "floor" SUBSEP img SUBSEP 0)
      for (j = 1; j <= nsteps; j++) {
        t = median("step" SUBSEP img SUBSEP j)
        row("c) floor steps, step/floor", UP[img] " " STEP[j], "-", secs(t), secs(f), ratio(t, f), "-", "-")
      }
    }
  }
  for (k = 1; k <= nsizes; k++) {
    size = sizes[k]; px = rpx[size]
    # N threads doing N times the work of one in the same time: speed-up N.
    if ((size in spin1) && (size in spinn)) {
      t1 = spin1[size]; ta = spinn[size]
      row("d) render, all/1 thread", sprintf("%s Mpx: spin loop, the ceiling now", size), "-",
          secs(ta), secs(t1), ta > 0 ? sprintf("%.2f", spin_threads[size] * t1 / ta) : "-", "-", "-")
    }
    t = rtime["xfer" SUBSEP "-" SUBSEP size SUBSEP 1]
    row("d) render, all/1 thread", sprintf("%s Mpx: bulk read + write only", size), "-",
        t == "" ? "-" : sprintf("%.0f ms", t * 1000), "-", "-", "-", "-")
    for (j = 1; j <= 4; j++) {
      it = IN[j]
      k1 = "fast" SUBSEP it SUBSEP size SUBSEP 1
      ka = "fast" SUBSEP it SUBSEP size SUBSEP cores
      ks = "straight" SUBSEP it SUBSEP size SUBSEP 1
      if (!(ka in rtime)) continue
      has1 = (k1 in rtime)  # before any reference creates the entry
      r = ratio(rtime[k1], rtime[ka])
      row("d) render, all/1 thread", sprintf("%s Mpx %s", size, it), rate(rtime[ks], rcpu[ks], px),
          rate(rtime[ka], rcpu[ka], px), rate(rtime[k1], rcpu[k1], px), r, ratio(rtime[ks], rtime[ka]),
          (cores > 1 && has1) ? judge(r, "1.8", 1) : "-")
      # OpenCV's warpPerspective, one thread: our one thread against it.
      ko = "opencv" SUBSEP it SUBSEP size SUBSEP 1
      if ((ko in rtime) && has1)
        row("d) render, ours/OpenCV", sprintf("%s Mpx %s, 1 thread", size, it), "-",
            rate(rtime[k1], rcpu[k1], px), sprintf("%.0f ns/px", rtime[ko] / px * 1e9),
            ratio(rtime[k1], rtime[ko]), "-", judge(ratio(rtime[k1], rtime[ko]), "2", 0))
    }
  }
  if (nsizes > 1) {
    lo = sizes[1]; hi = sizes[nsizes]
    for (j = 1; j <= 4; j++) {
      it = IN[j]
      # CPU time of all threads: the work, whatever else the machine runs.
      t_lo = rcpu["fast" SUBSEP it SUBSEP lo SUBSEP cores]
      t_hi = rcpu["fast" SUBSEP it SUBSEP hi SUBSEP cores]
      if (t_lo == "" || t_hi == "") continue
      row("d) growth, big/small", sprintf("%s: cpu ns/px at %s vs %s Mpx", it, hi, lo), "-",
          sprintf("%.0f vs %.0f ns", t_hi / rpx[hi] * 1e9, t_lo / rpx[lo] * 1e9), "-",
          ratio(t_hi / rpx[hi], t_lo / rpx[lo]), "-", "1 = linear")
    }
  }

  for (i = 1; i <= nimg; i++) {
    img = IMG[i]
    w = layer_w[img]; h = layer_h[img]
    # The source quadrangle is the whole 4000x3000 layer (bench.scm), so the
    # source box is the whole layer; the destination box is the new layer.
    boxes = (4000 * 3000 + w * h) * BPP[img] / 1024
    b = maximum("rssmax" SUBSEP "before" SUBSEP img)
    a = maximum("rssmax" SUBSEP "after" SUBSEP img)
    r = ratio(a, boxes)
    row("e) peak RSS, after/boxes", UP[img] " plug-in, largest of 4 | src box+layer", mb(b), mb(a),
        mb(boxes), r, ratio(b, a), judge(r, "3"))
    a = maximum("rss" SUBSEP "after" SUBSEP "floor" SUBSEP img SUBSEP 0)
    row("e) peak RSS, after/boxes", UP[img] " floor plug-in | src box+layer", "-", mb(a),
        mb(boxes), ratio(a, boxes), "-", "-")
    b = maximum("rss" SUBSEP "before" SUBSEP "tiny" SUBSEP img SUBSEP 0)
    a = maximum("rss" SUBSEP "after" SUBSEP "tiny" SUBSEP img SUBSEP 0)
    row("e) peak RSS, after/boxes", UP[img] " 2x2 warp (process baseline)", mb(b), mb(a),
        "-", "-", "-", "-")
  }
  for (i = 3; i <= 4; i++) {
    img = IMG[i]
    a = maximum("rssmax" SUBSEP "after" SUBSEP img)
    e = maximum("rssmax" SUBSEP "after" SUBSEP "rgba")
    r = ratio(a, e)
    row("e) peak RSS, per precision", UP[img] " plug-in | 8-bit RGBA plug-in", "-", mb(a),
        mb(e), r, "-", img == "rgba16" ? judge(r, "2") : "-")
  }
  if (n["im" SUBSEP "distort"] > 0) {
    im = median("im" SUBSEP "distort")
    b = median("before" SUBSEP "plugin" SUBSEP "rgba" SUBSEP "linear")
    a = median("after" SUBSEP "plugin" SUBSEP "rgba" SUBSEP "linear")
    row("f) ImageMagick, after/IM", "RGBA linear | -distort BilinearReverse", secs(b), secs(a),
        secs(im), ratio(a, im), ratio(b, a), "-")
    row("f) ImageMagick, after/IM", "MIFF in, MIFF out, no distortion", "-", "-",
        secs(median("im" SUBSEP "copy")), "-", "-", "-")
  } else {
    row("f) ImageMagick", "/usr/bin/convert not found", "-", "-", "-", "-", "-", "-")
  }
  # Where a call's time goes: the plug-in process's CPU time (all threads)
  # against its lifetime.
  for (j = 0; j <= 5; j++) {
    if (j == 0) { what = "tiny"; it = 0; label = "2x2 warp" }
    else if (j == 1) { what = "floor"; it = 0; label = "floor plug-in" }
    else { what = "plugin"; it = IN[j - 1]; label = it }
    kk = what SUBSEP "rgba" SUBSEP it
    b = median("cpu" SUBSEP "before" SUBSEP kk)
    a = median("cpu" SUBSEP "after" SUBSEP kk)
    w = median("wall" SUBSEP "after" SUBSEP kk)
    if (a == "" && b == "") continue
    row("g) process, cpu/wall", "RGBA " label ": cpu s | process wall", secs(b), secs(a),
        secs(w), ratio(a, w), ratio(b, a), "-")
  }
  # Each minor fault is a fresh 4 KiB page, and costly on virtual machines.
  for (j = 0; j <= 5; j++) {
    if (j == 0) { what = "tiny"; it = 0; label = "2x2 warp" }
    else if (j == 1) { what = "floor"; it = 0; label = "floor plug-in" }
    else { what = "plugin"; it = IN[j - 1]; label = it }
    kk = what SUBSEP "rgba" SUBSEP it
    b = median("flt" SUBSEP "before" SUBSEP kk)
    a = median("flt" SUBSEP "after" SUBSEP kk)
    if (a == "" && b == "") continue
    row("g) page faults", "RGBA " label ": minor faults (fresh MiB)", faults(b), faults(a),
        "-", "-", ratio(b, a), "-")
  }
  for (c = 1; c <= 8; c++) width[c] = 0
  for (r = 1; r <= rows; r++)
    for (c = 1; c <= 8; c++) if (length(cell[r, c]) > width[c]) width[c] = length(cell[r, c])
  print title
  for (r = 1; r <= rows; r++) {
    line = ""
    for (c = 1; c <= 8; c++) {
      text = cell[r, c]
      pad = width[c] - length(text)
      # Text columns to the left, figures to the right.
      if (c <= 2) line = line text sprintf("%" pad "s", "")
      else line = line sprintf("%" pad "s", "") text
      if (c < 8) line = line "  "
    }
    sub(/ +$/, "", line)
    print line
    if (r == 1) { rule = line; gsub(/./, "-", rule); print rule }
  }
  print "a) to c), e) to g): whole calls from Script-Fu timed with (gettimeofday), medians of " runs " runs;"
  print "d): tessaform_warp in-process on GEGL buffers, median of " runs " runs up to 2 Mpx, one run above;"
  print "   OpenCV: warpPerspective of the same source onto the same corners in python3-opencv, one thread;"
  print "   cpu = CPU time of all threads per destination pixel; the spin loop shows how many cores this run had."
  if (load != "") print "load average (1, 5, 15 min) " load
  if (fails != "") print "failed calls:" fails
  if (!done["after"]) print "the GIMP run of the fast plug-in did not finish"
  if (!done["before"]) print "the GIMP run of the straightforward plug-in did not finish"
  if (rss_note != "") print "peak memory not paired:" rss_note
}
