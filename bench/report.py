#!/usr/bin/env python3
"""Reads what bench/run-all.sh kept in a results folder and prints one table
of the figures with goals; writes it as table.md and draws ingest.png (loss
and peak resident memory against offered rate) and http.png (requests per
second for Quillmark and nginx)."""
import re
import sys
from pathlib import Path

out = Path(sys.argv[1])


def text(name):
    p = out / f"{name}.txt"
    return p.read_text(errors="replace") if p.exists() else ""


def ingest_rows(name):
    """{system: [(phase, target, sent_rate, loss_pct, peak_mb, cpu_ns, rc)]}"""
    rows, system = {}, None
    for line in text(name).splitlines():
        m = re.match(r"== (\w+) \(", line)
        if m:
            system = m.group(1)
            rows[system] = []
            continue
        f = line.split()
        if system and len(f) >= 11 and f[0] in ("fixed", "search", "bisect") and f[1].isdigit():
            try:
                rows[system].append((f[0], int(f[1]), int(f[2]), float(f[6]), float(f[9].rstrip("M")), int(f[10]),
                                     f[14] if len(f) > 14 else "?"))
            except ValueError:
                pass
    return rows


def number(pattern, name, group=1):
    m = re.search(pattern, text(name))
    return float(m.group(group)) if m else None


table = []  # (what, quillmark, peer, ratio, goal, met)


def add(what, q, peer, ratio, goal, met):
    def fmt(v):
        if v is None:
            return "—"
        if isinstance(v, float) and v < 100 and not v.is_integer():
            return f"{v:,.2f}"
        return f"{v:,.0f}" if isinstance(v, (int, float)) else str(v)
    # A figure the run did not produce is not measured, not missed.
    if q is None and ratio is None:
        met = None
    table.append((what, fmt(q), fmt(peer), "—" if ratio is None else f"{ratio:.2f}", goal,
                  "—" if met is None else ("met" if met else "**not met**")))


curve = ingest_rows("ingest-curve")
def sustained_runs(prefix):
    """The Quillmark and rsyslog rows of each run of one sender's sustained flood."""
    runs = []
    for i in range(1, 10):
        rows = ingest_rows(f"{prefix}-{i}")
        q = (rows.get("Quillmark") or [None])[0]
        if q:
            runs.append((q, (rows.get("rsyslog") or [None])[0]))
    return runs


def joined(values, form="{:,.2f}"):
    return " / ".join("—" if v is None else form.format(v) for v in values)


for prefix, sender in (("ingest-sustained", "GSO sender"), ("ingest-sustained-plain", "plain sendto sender")):
    runs = sustained_runs(prefix)
    if not runs:
        continue
    q0 = runs[0][0]
    sent = joined([q[2] for q, _ in runs], "{:,}")
    # A run whose sender fell short of the rate measured the sender: it
    # counts as met only when nothing was lost, and says so.
    short = any(q[2] < q[1] * 0.95 for q, _ in runs)
    table.append((f"Sustained {len(runs)} × 60 s, 400 B at {q0[1]:,}/s offered, {sender} ({sent}/s sent): lost %",
                  joined([q[3] for q, _ in runs]), joined([r and r[3] for _, r in runs]), "—",
                  "0 lost, every run" + (" (sender short of the rate)" if short else ""),
                  "met" if all(q[3] == 0 for q, _ in runs) else "**not met**"))
    table.append((f"Sustained, {sender}: peak resident MB", joined([q[4] for q, _ in runs], "{:,.0f}"),
                  joined([r and r[4] for _, r in runs], "{:,.0f}"), "—", "≤ 200 MB, every run",
                  "met" if all(q[4] <= 200 for q, _ in runs) else "**not met**"))
cpu_runs = []
for i in range(1, 10):
    rows = ingest_rows(f"ingest-cpu-{i}")
    q = next((r[5] for r in rows.get("Quillmark", []) if r[1] == 100000), None)
    r = next((r[5] for r in rows.get("rsyslog", []) if r[1] == 100000), None)
    if q and r:
        cpu_runs.append((q, r))
if cpu_runs:
    table.append((f"CPU per stored message, 64 B at 100k/s, {len(cpu_runs)} runs, ns (ratio rsyslog/Quillmark)",
                  joined([q for q, _ in cpu_runs], "{:,}"), joined([r for _, r in cpu_runs], "{:,}"),
                  joined([r / q for q, r in cpu_runs]), "ratio ≥ 1.25, every run",
                  "met" if all(r / q >= 1.25 for q, r in cpu_runs) else "**not met**"))
cpu_q = next((r[5] for r in curve.get("Quillmark", []) if r[1] == 100000), None)
cpu_r = next((r[5] for r in curve.get("rsyslog", []) if r[1] == 100000), None)
if cpu_q and cpu_r:
    add("CPU per stored message, 400 B at 100k/s, ns (ratio rsyslog/Quillmark)", cpu_q, cpu_r, cpu_r / cpu_q,
        "(no goal)", None)
best = re.search(r"highest lossless rate: ([\d.]+) \((\d+)/s vs (\d+)/s\)", text("ingest-max"))
if best:
    add("Highest lossless rate, 400 B, datagrams/s (ratio Quillmark/rsyslog)", int(best.group(2)), int(best.group(3)),
        float(best.group(1)), "ratio ≥ 1.0", float(best.group(1)) >= 1.0)

# bench/ingest/tcp_run.sh prints one "figures" line per case.
for m in re.finditer(r"^figures (\w+)-(\w+): (.*)$", text("ingest-tcp"), re.M):
    f = dict(kv.split("=", 1) for kv in m.group(3).split())
    proto, framing = m.group(1).upper(), m.group(2)
    peer = "imptcp" if proto == "TCP" else "imtcp+ossl"
    target, rate = int(f["target"]), int(f["quillmark_rate"])
    lost_q, lost_r = int(f["quillmark_lost"]), int(f["rsyslog_lost"])
    add(f"{proto} ({framing}), {int(f['size'])} B at {target:,}/s over {f['conns']} connections, {f['secs']} s "
        f"({rate:,}/s sent): lost (rsyslog {peer})", lost_q, lost_r, None, "0 lost", lost_q == 0 and rate >= target * 0.95)
    q, r = int(f["quillmark_ns"]), int(f["rsyslog_ns"])
    add(f"{proto}: CPU per stored message, ns (ratio rsyslog/Quillmark)", q, r, r / q if q else None, "ratio ≥ 1.0",
        q > 0 and r / q >= 1.0)

asan = (ingest_rows("ingest-asan").get("Quillmark") or [None])[0]
if asan:
    add(f"Sanitizer build, {asan[1]:,}/s for a short run: lost % (exit status; 23 = leak)", asan[3], None, None,
        "0 lost, exit 0", asan[3] == 0 and asan[6] == "0")
    table[-1] = table[-1][:1] + (f"{asan[3]:.2f} (exit {asan[6]})",) + table[-1][2:]

http = {}
for line in text("http").splitlines():
    m = re.match(r"((?:ab: )?(?:1 KB file|1 MB file|/log, 100 events)(?:, keep-alive)?|1 KB, \d+ idle held)"
                 r"\s+([\d.]+)\s+([\d.]+)$", line.strip())
    if m:
        http[m.group(1)] = (float(m.group(2)), float(m.group(3)))
for client in ("", "ab: "):
    for keep in ("", ", keep-alive"):
        for resource in ("1 KB file", "1 MB file", "/log, 100 events"):
            name = client + resource + keep
            if name in http:
                q, n = http[name]
                tool = "ab" if client else "wrk"
                mode = "keep-alive on" if keep else "keep-alive off"
                add(f"HTTP {resource}, {tool}, {mode}, requests/s (ratio Quillmark/nginx)", q, n, q / n if n else None,
                    "≥ 1.0", n > 0 and q / n >= 1.0)
idle = next((k for k in http if "idle" in k), None)
if idle and "1 KB file" in http:
    q, _ = http[idle]
    base = http["1 KB file"][0]
    add(f"HTTP {idle}, requests/s (ratio to without them)", q, base, q / base if base else None, "as fast (≥ 0.9)",
        base > 0 and q / base >= 0.9)

idle_mb = number(r"idle: ([\d.]+) MB", "footprint")
queued_mb = number(r"in the queue: ([\d.]+) MB", "footprint")
add("Idle resident memory, MB", idle_mb, None, None, "≤ 40 MB", idle_mb is not None and idle_mb <= 40)
add("Resident memory with 100,000 events queued, MB", queued_mb, None, None, "≤ 150 MB",
    queued_mb is not None and queued_mb <= 150)
p50 = number(r"p50_ms=([\d.]+)", "footprint")
p99 = number(r"p99_ms=([\d.]+)", "footprint")
add("Datagram → queue latency at 10k/s, p50 ms", p50, None, None, "(floor: the 500 ms mover)", None)
add("Datagram → queue latency at 10k/s, p99 ms", p99, None, None, "≤ 600 ms", p99 is not None and p99 <= 600)
stall = number(r"longest GUI stall ([\d.]+) ms", "gui-stall")
add("GUI: 10k events/s into 100,000 rows, longest stall ms", stall, None, None, "≤ 50 ms", stall is not None and stall <= 50)
stall = number(r"longest GUI stall ([\d.]+) ms", "gui-stall-filter")
add("GUI, filter and header columns on: 10k events/s into 100,000 rows, longest stall ms", stall, None, None,
    "≤ 50 ms", stall is not None and stall <= 50)

for label, pattern in (("SNMP cycle, 100 agents: snmpget/module", r"snmpget/module = ([\d.]+)"),
                       ("ICMP cycle, 50 hosts: fping/module", r"fping/module = ([\d.]+)")):
    v = number(pattern, "pollers")
    add(label, None, None, v, "(no goal)", None)

monitor_mb = number(r"monitoring resident: ([\d.]+) MB", "monitor")
add("Monitoring resident memory (100 ICMP hosts, 20 SNMP agents, 10 graph windows), MB", monitor_mb, None, None,
    "≤ 50 MB", monitor_mb is not None and monitor_mb <= 50)
for label, pattern, tool in (
        ("ICMP poll cycle, 100 hosts, CPU ms (peer: fping)", r"ICMP cycle CPU: module ([\d.]+) ms, fping ([\d.]+) ms",
         "fping"),
        ("SNMP poll cycle, 20 agents × 4 OIDs, CPU ms (peer: snmpget per agent)",
         r"SNMP cycle CPU: module ([\d.]+) ms, snmpget ([\d.]+) ms", "snmpget")):
    q, peer = number(pattern, "monitor", 1), number(pattern, "monitor", 2)
    add(label, q, peer, peer / q if q and peer is not None else None, f"measured ({tool}/module)", None)

lines = ["| Figure | Quillmark | Peer / reference | Ratio | Goal | |", "|---|---|---|---|---|---|"]
lines += ["| " + " | ".join(r) + " |" for r in table]
others = [n for n in ("intake_bench", "rules_bench", "relay_bench", "event_list_bench", "expression_bench",
                      "graph_bench", "script_bench") if text(n)]
lines.append("")
lines.append("Other benchmarks run (their whole output is in the results folder): " + ", ".join(others) + ".")
(out / "table.md").write_text("\n".join(lines) + "\n")
print("\n".join(lines))

try:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    print("(python3-matplotlib missing: no plots)", file=sys.stderr)
    sys.exit(0)

if curve:
    fig, (a, b) = plt.subplots(1, 2, figsize=(10, 4))
    for system, style in (("Quillmark", "o-"), ("rsyslog", "s--")):
        pts = sorted(r for r in curve.get(system, []) if r[0] == "fixed")
        if not pts:
            continue
        rates = [r[1] / 1000 for r in pts]
        a.plot(rates, [r[3] for r in pts], style, label=system)
        b.plot(rates, [r[4] for r in pts], style, label=system)
    a.set(xlabel="offered rate, thousand datagrams/s (400 B)", ylabel="lost, %", title="Loss")
    b.set(xlabel="offered rate, thousand datagrams/s (400 B)", ylabel="peak resident, MB", title="Resident memory")
    for ax in (a, b):
        ax.grid(True, alpha=0.3)
        ax.legend()
        # Neither loss nor memory goes below 0, and a run with no loss at
        # all still gets a scale.
        ax.set_ylim(bottom=0, top=max(ax.get_ylim()[1], 1.0))
    fig.tight_layout()
    fig.savefig(out / "ingest.png", dpi=100)

plotted = [n for n in http if not n.startswith("ab: ") and not n.endswith("keep-alive")]
if plotted:
    names = plotted
    fig, ax = plt.subplots(figsize=(8, 4))
    x = range(len(names))
    ax.bar([i - 0.2 for i in x], [http[n][0] for n in names], 0.4, label="Quillmark")
    ax.bar([i + 0.2 for i in x], [http[n][1] for n in names], 0.4, label="nginx")
    ax.set_xticks(list(x), names)
    ax.set(ylabel="requests/s (Connection: close)", title="HTTP")
    # Room above the tallest bar for the legend, which would hide a bar's top.
    ax.set_ylim(top=1.2 * max(max(http[n]) for n in names))
    ax.legend(loc="upper center", ncol=2)
    ax.grid(True, axis="y", alpha=0.3)
    fig.tight_layout()
    fig.savefig(out / "http.png", dpi=100)
