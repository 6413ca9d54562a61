#!/usr/bin/env python3
"""Writes docs/performance.md from the output of scripts/bench.sh's runs."""
import re
import sys

native, wine, exe_bytes = open(sys.argv[1]).read(), open(sys.argv[2]).read(), int(sys.argv[3])
v = {k: float(x) for k, x in re.findall(r"^bench\.([\w.]+)=([-\d.e+]+)", wine, re.M)}
ns = re.search(r"BM_TransmitOneFrame\s+\S+ \w+\s+([\d.]+) (\w+)", native)
us = float(ns.group(1)) / (1000.0 if ns.group(2) == "ns" else 1.0) if ns else float("nan")

HEAD = """# Performance

Written by `bash scripts/bench.sh`, which builds `build/bench-native`,
`build/bench-windows` and `build/bench-e2e`, starts its own Xvfb and Wine
prefix and runs `build/bench-native/tests/bench/quorvel_frame_bench`,
`quorvel_answer_bench` (natively and its `.exe` under Wine) and
`build/bench-e2e/tests/e2e/quorvel_agent_benchmark` (one case per figure:
`--gtest_filter=AgentBenchmark.<Case>` or `HelloBenchmark.*` reproduces one,
run from `build/bench-e2e`; the prefix comes from
`tests/e2e/wine-env.sh start build/bench-e2e/tests/e2e/wine`). Every figure is
a ratio of two things measured in the same run on a shared two-core machine;
nothing in the test command depends on one.

## Figures of the last run

"""

NOTES = """
## How each figure is taken

- **Hello overhead** (`HelloBenchmark.HelloOverheadWithLoggingOffAndOn`,
  `--gtest_filter=HelloBenchmark.*`): measured from outside. The portal
  simulator answers `I0` after a fixed delay (100 ms, then 0 ms), donglesim
  answers each report after 2 ms; the figure is the median time between one
  hello's connection at the portal and the next one's, over the portal's
  delay plus the dongle's delay times the reports it received per hello.
  Agents with logging off and on take turns, three rounds of 30 hellos
  each; the one with logging on is measured with a short log, then fed five
  answers of twenty 3,000-character unknown lines (its log passes the
  256 KiB cap) and measured again with the full log. Logging on is given
  over logging off of the same run; the per-line figure beside it is the
  difference of the medians over the lines one hello logs (noise when
  near zero).
  In each round `startfloor HOST PORT PATH 30` also makes the same POSTs
  one after another (a new WinINet session and connection for each, as the
  agent makes them); the median interval between them is WinINet's own
  exchange, and the agent's own work per hello is the logging-off interval
  less that and the dongle's delays. Each round also runs
  `tools/hidfloor/stepfloor.exe FOLDER 30` for the floors of the two steps
  every steady hello takes once: the durable write of the record (a new
  file of its 10,304 bytes written, flushed and renamed over the old one,
  with the bare Win32 calls, without the flush, and through the agent's own
  `writeFileAtomically` with its link checks) and one tray refresh (one
  `NIM_MODIFY` with image and tooltip), and the test makes the same durable
  write with plain Linux calls (open, write, fsync, close, rename: what
  Wine's `FlushFileBuffers` and `MoveFileExW` come down to, traced with
  strace) on the prefix's disk. The hello over all its floors divides the
  interval by WinINet's, the dongle's delays, the bare write and the tray
  refresh. `QUORVEL_BENCH_WINEDEBUG=+timestamp,+file,+wininet,+systray`
  traces the agents into `runs/HelloBenchmark.*/agent-N.log`.
- **Frame throughput** (`...FrameThroughputAgainstTheTransportFloor`):
  `dongleprobe bench N 1000` (the agent's `USBResource::transmit` with the
  Win32 HID adapter) against `tools/hidfloor` (one handle on the same device
  path, one event, overlapped `WriteFile` then `ReadFile` of the same 36-byte
  reports, the event reused and no ResetEvent, which ReadFile and WriteFile
  do themselves), alternated five times at each answer time (2,000 frames at
  0 ms, 200 at 2 ms, 100 at 10 ms), medians. Both reach
  donglesim over the same pipe; the stand-in DLLs only serve discovery, which
  is outside both timings.
- **Agent CPU per frame** (`quorvel_frame_bench`, Google Benchmark, Release):
  `USBResource::transmit` of one frame on `FakeHidPort` with `DongleModel`
  behind it, logging off; it includes the model's own work.
- **Idle** (`...IdleBetweenDeadlines`): the agent with logging off, its next
  hello ten minutes away, left alone for 60 s after its first cycle settled
  (5 s). CPU is the sum of `/proc/PID/task/*/schedstat` run time of the Wine
  process (nanoseconds; `utime` ticks only every 10 ms). Wake-ups: the agent
  runs with `WINEDEBUG=+message`, whose trace logs every message Wine
  dispatches to its windows; the lines written during the 60 s are counted,
  `WM_TIMER` among them. The agent arms only its hello and transmit timers,
  so any dispatch in that window would be a wake-up between deadlines.
- **Start-up** (`...StartUpAgainstAFairFloor`): spawn of `wine quorvel.exe`
  (logging off, fresh folder, no `quorvel.dat`) to the first hello's
  connection at the portal simulator, against the same for
  `tools/hidfloor/startfloor.exe` (built like the agent, with the same
  flags and the agent's own resource script and manifest: registers a
  class, creates a window, adds a tray icon, opens WinINet and POSTs once to
  the same portal), alternated eleven times in the same prefix, medians (the
  quickest of each beside them). Each
  agent is ended with its Exit command (a killed one leaves its tray icon to
  Wine's desktop, and the next program's first window then waits about 2 s).
  One more start of each runs with
  `WINEDEBUG=+timestamp,+loaddll,+file,+wininet,+systray`; the test prints
  every start's time, the loads, file opens, tray and WinINet calls, and
  reports when each step came, in ms from the program's first trace line
  (`startup.agent_trace.*`, `startup.floor_trace.*`).
- **Longest answer** (`build/bench-native/tests/bench/quorvel_answer_bench`
  and `build/bench-windows/tests/bench/quorvel_answer_bench.exe` under Wine):
  the whole hello cycle as start-up wires it (`WiredAgent`: dongle model,
  portal, disk and timers in memory, logging off) with the longest answer
  kept (64,999 characters, 970 frames of 32 bytes, 155 of them filling the
  record's frame field) against the answer `I600000`, alternated 300 times;
  the difference is parsing, storing and planning the long answer.
- **Growth** (`...GrowthOverTenThousandCycles`): an agent with logging off,
  the portal answering `I0` at once, dongle answering at once; private memory
  (`/proc/PID/smaps_rollup` of the Wine process) and the handles it holds
  (counted in Wine's system handle list by `qvdriver process-stats`; Wine
  answers `GetProcessHandleCount` with 0 for another process) after 100
  cycles and after 10,000, as a slope per 1,000 cycles.
- **Log view** (`...LogViewCostPerLine`, `tools/hidfloor/logviewbench.exe 20`):
  the agent's own logger window code, shown: lines through `log()` in
  cycles of sixteen, each followed by 100 ms in the message loop; the GUI
  thread's busy time (the log calls and every message handled, view
  updates and painting included) per line, with a short log and after
  filling the log to its 256 KiB cap.
- **Size**: `quorvel.exe`'s bytes.
"""


def g(key, fmt="{:.2f}"):
    return fmt.format(v[key]) if key in v else "not measured"


def verdict(ok):
    return "meets" if ok else "misses"


rows = [("Hello overhead, logging off, portal 100 ms / dongle 2 ms", g("hello.off.ratio"),
         "≤ 1.05", verdict(v.get("hello.off.ratio", 9) <= 1.05)),
        ("Hello, logging off, over WinINet alone and the dongle's delays",
         g("hello.off.over_wininet_floor") + " (the agent's own work: " +
         g("hello.off.own_ms", "{:.0f} ms") + ")", "(reported)", ""),
        ("Hello, logging off, over all its floors (WinINet alone, the dongle's delays, the "
         "bare durable write, one tray refresh)",
         g("hello.off.over_all_floors") + " (left over: " +
         g("hello.off.own_beyond_step_floors_ms", "{:.0f} ms") + ")", "(reported)", ""),
        ("A hello's durable write: Linux calls / bare Win32 / the agent's adapter",
         g("hello.steps.linux_write_ms") + " / " + g("hello.steps.bare_write_ms") + " / " +
         g("hello.steps.agent_write_ms", "{:.2f} ms"), "(reported)", ""),
        ("One tray refresh (image and tooltip) under Wine", g("hello.steps.tray_modify_ms",
                                                             "{:.2f} ms"), "(reported)", ""),
        ("Hello overhead, logging off, portal 0 ms / dongle 2 ms", g("hello.off_at_once.ratio"),
         "(reported)", "")]
for length in ("short", "full"):
    key = f"hello.on_{length}.over_off"
    rows.append((f"Logging on, {length} log, over logging off", g(key), "≤ 1.10",
                 verdict(v.get(key, 9) <= 1.10)))
for ms in (0, 2, 10):
    key = f"frames.at_{ms}ms.ratio"
    rows.append((f"Frames/s under Wine, answer {ms} ms", g(key, "{:.3f}"), "≥ 0.95",
                 verdict(v.get(key, 0) >= 0.95)))
rows.append(("Agent CPU per frame (native)", f"{us:.2f} µs", "≤ 10 µs", verdict(us <= 10)))
rows.append(("Idle CPU over 60 s", g("idle.cpu_ms", "{:.1f} ms"), "< 10 ms",
             verdict(v.get("idle.cpu_ms", 99) < 10)))
rows.append(("Idle timer wake-ups", g("idle.wm_timer_dispatched", "{:.0f}"), "none",
             verdict(v.get("idle.wm_timer_dispatched", 1) == 0)))
rows.append(("Start-up over a fair floor", g("startup.ratio"), "≤ 1.3",
             verdict(v.get("startup.ratio", 9) <= 1.3)))
rows.append(("Start-up, quickest over quickest", g("startup.ratio_of_minimums"), "(reported)", ""))
rows.append(("Longest answer: parse, store, plan (native / Wine)",
             g("answer.native_parse_store_plan_us", "{:.0f}") + " / " +
             g("answer.wine_parse_store_plan_us", "{:.0f} µs"), "(reported)", ""))
rows.append(("Private memory per 1,000 cycles (100 → 10,000)",
             g("growth.private_kib_per_1000", "{:+.0f} KiB"), "(reported)", ""))
rows.append(("Handles per 1,000 cycles (100 → 10,000)",
             g("growth.handles_per_1000", "{:+.2f}"), "(reported)", ""))
for length in ("short", "full"):
    rows.append((f"Log view per line, {length} log",
                 g(f"logview.{length}_log_us_per_line", "{:.0f} µs") + " (in a hello: " +
                 g(f"hello.on_{length}.ms_per_line", "{:.2f} ms") + ")", "(reported)", ""))
print(HEAD)
print("| Figure | Measured | Goal | |\n|---|---|---|---|")
for r in rows:
    print("| " + " | ".join(r) + " |")
print(f"\nquorvel.exe: {exe_bytes:,} bytes. Raw values of this run:\n")
print("```")
for k in sorted(v):
    print(f"{k}={v[k]:.6g}")
print("```")
print(NOTES)
print(open(sys.argv[4]).read() if len(sys.argv) > 4 else "")
