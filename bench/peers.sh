#!/usr/bin/env bash
# The engine beside the programs a user would pick instead, on the same
# machine in the same run, each as the user would see it: a whole process,
# timed from outside by /usr/bin/time (wall, user+sys CPU, peak resident).
#   - update passes (100 feeds x 100 items new, the same again unchanged,
#     1000 feeds x 10 items, 1000 feeds x 100 items, 10 feeds x 1000 items)
#     served by nginx on loopback: bench/update_pass_bench as a process that
#     creates its database, subscribes the list, updates every feed once on
#     five workers and exits, beside `newsboat -x reload` with five reload
#     threads on a new cache; the unchanged pass is a second process of each
#     on the database (the cache) that the first one left;
#   - five 1000-item feeds at once beside one alone (the engine only, its
#     pass alone); TW_BENCH_QUICK=1 leaves out this row and 1000 x 100;
#   - the new 100x100 pass through a Firebird server of the benchmark's own
#     on 127.0.0.1 (the pass alone, the client's and the server's CPU) and its
#     client's round trips (sendto calls, counted by strace in a traced pass
#     after the runs) per new article;
#   - one new 100-item RSS feed parsed and stored with its commit (median of
#     five repetitions) beside python's feedparser parsing the same bytes.
# Every figure is the median of TW_BENCH_RUNS rounds (default 5); in each
# round the programs take turns, the order reversed every other round, and
# each run is printed with the 1-minute load average read right before it,
# so that a median and a ratio can be checked from the output alone. Ratios
# are medians of the ratios within a round. Beside the process figures, the
# engine's own figures of its pass alone (without start, database creation
# and exit): wall, CPU, statements and prepares per new article, commits and
# synchronous page writes per feed (forced writes being on, each page write
# is an O_DSYNC write); newsboat's fsync and fdatasync calls per feed are
# counted by perf when it can read the kernel's tracepoints.
#
# TW_BENCH_BASE_DIR names the build folder of other binaries (e.g. of an
# earlier commit, built with TW_BENCH_NO_BUILD unset into that folder once):
# they run as "base" in every round beside this checkout's, so a change can be
# measured A/B under the same load.
#
# Installs newsboat, python3-feedparser, nginx-light, time and strace from
# Debian when they are missing (perf, from linux-perf, is used when present) (as root, or through sudo). Builds the
# benchmarks with optimisation into build-bench/ (or $BENCH_BUILD_DIR;
# TW_BENCH_NO_BUILD=1 takes the binaries found there as they are).
#
# nginx listens on loopback addresses only.
#
# Feeds are spread over the loopback addresses 127.0.0.1-127.0.0.250, one
# server name per feed as in a real subscription list (a worker pauses only
# between two requests to one server); TW_BENCH_ONE_HOST=1 serves every feed
# from 127.0.0.1 instead.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build_dir="${BENCH_BUILD_DIR:-build-bench}"
base_dir="${TW_BENCH_BASE_DIR:-}"
runs="${TW_BENCH_RUNS:-5}"

install_peers() {
  local missing=()
  command -v newsboat > /dev/null || missing+=(newsboat)
  /usr/bin/python3 -c "import feedparser" 2> /dev/null || missing+=(python3-feedparser)
  command -v nginx > /dev/null || [ -x /usr/sbin/nginx ] || missing+=(nginx-light)
  [ -x /usr/bin/time ] || missing+=(time)
  command -v strace > /dev/null || missing+=(strace)
  [ ${#missing[@]} -eq 0 ] && return
  local as_root=()
  [ "$(id -u)" -ne 0 ] && as_root=(sudo)
  "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}

build_benchmarks() {
  [ "${TW_BENCH_NO_BUILD:-0}" = 1 ] && return
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
  cmake --build "$build_dir" --target update_pass_bench feed_processor_bench > /dev/null
}

# Writes feed files <dir>/f<N>.xml and the list of their URLs <dir>.urls.
make_feeds() {
  local dir=$1 feeds=$2 items=$3
  python3 - "$work/www" "$dir" "$feeds" "$items" "$port" "${TW_BENCH_ONE_HOST:-0}" << 'EOF'
import os, sys
www, name, feeds, items, port, one_host = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5], sys.argv[6] == "1"
folder = os.path.join(www, name)
os.makedirs(folder, exist_ok=True)
urls = []
for f in range(feeds):
    host = "127.0.0.1" if one_host else "127.0.0.%d" % (f % 250 + 1)
    base = "http://%s:%s/%s/" % (host, port, name)
    parts = ['<?xml version="1.0" encoding="utf-8"?>\n<rss version="2.0"><channel>',
             "<title>Feed %d</title><link>http://site%d.example/</link>" % (f, f),
             "<description>Bench feed %d</description>" % f]
    for i in range(items):
        day = 1 + i % 28
        parts.append(
            "<item><title>Feed %d item %d</title><link>http://site%d.example/posts/%d</link>"
            "<guid isPermaLink=\"false\">site%d-item-%d</guid>"
            "<description>&lt;p&gt;Text of item %d of feed %d, with a &lt;a href=\"http://site%d.example/more/%d\"&gt;link"
            "&lt;/a&gt; and some words to read.&lt;/p&gt;</description>"
            "<category>topic %d</category><pubDate>Fri, %02d Dec 2025 10:%02d:00 GMT</pubDate>"
            "<enclosure url=\"http://site%d.example/media/%d.mp3\" length=\"123456\" type=\"audio/mpeg\"/></item>"
            % (f, i, f, i, f, i, i, f, f, i, i % 10, day, i % 60, f, i))
    parts.append("</channel></rss>\n")
    with open(os.path.join(folder, "f%d.xml" % f), "w") as out:
        out.write("".join(parts))
    urls.append(base + "f%d.xml" % f)
with open(os.path.join(www, name + ".urls"), "w") as out:
    out.write("\n".join(urls) + "\n")
EOF
}

# The loopback addresses the feeds are served from, one "listen" line each.
listen_lines() {
  local last=250
  [ "${TW_BENCH_ONE_HOST:-0}" = 1 ] && last=1
  for host in $(seq "$last"); do printf '    listen 127.0.0.%d:%s;\n' "$host" "$port"; done
}

start_nginx() {
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  mkdir -p "$work/www" "$work/nginx"
  cat > "$work/nginx/nginx.conf" << EOF
worker_processes 2;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  types { application/rss+xml xml; }
  server {
$(listen_lines)
    root $work/www;
  }
}
EOF
  local nginx=nginx
  command -v nginx > /dev/null || nginx=/usr/sbin/nginx
  "$nginx" -c "$work/nginx/nginx.conf" -p "$work/nginx" &
  nginx_pid=$!
  for _ in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2> /dev/null && return
    sleep 0.1
  done
  echo "nginx did not start" >&2
  exit 1
}

# The engine's programs, as "label:build-folder" words: this checkout's, and
# the base's when one is named.
engines() {
  echo "engine:$build_dir"
  [ -n "$base_dir" ] && echo "base:$base_dir"
  return 0
}

load1() { cut -d' ' -f1 /proc/loadavg; }

# One run of the engine's update pass as a process over a list (benchmark $3
# of the binaries in $2), recorded under row $1 and the engine's label; extra
# environment settings may follow.
engine_process() {
  local row=$1 who=$2 dir=$3 list=$4 filter=$5
  shift 5
  local load
  load=$(load1)
  env TW_BENCH_FEED_LIST="$list" "$@" /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" \
    "$dir/bench/update_pass_bench" --benchmark_filter="^$filter/" --benchmark_format=json \
    > "$work/pass.json" 2> /dev/null || true
  python3 - "$work/time.txt" "$work/pass.json" "$row" "$who" "$run" "$load" >> "$work/results.txt" << 'EOF'
import json, sys
time_file, json_file, row, who, run, load = sys.argv[1:]
e, u, s, m = open(time_file).read().split()[-4:]
try:
    pass_ = json.load(open(json_file))["benchmarks"][0]
except Exception:
    pass_ = {"error_occurred": True, "error_message": "no report"}
if pass_.get("error_occurred"): sys.exit("engine pass failed: " + pass_.get("error_message", ""))
print(json.dumps({"row": row, "who": who, "run": int(run), "load": float(load),
    "wall": float(e), "cpu": float(u) + float(s), "rss": int(m) / 1024,
    "pass_wall": pass_["real_time"] / 1000.0, "pass_cpu": pass_["cpu_s"], "server_cpu": pass_.get("server_cpu_s", 0),
    "failed": pass_["failed_feeds"], "executes": pass_.get("executes/article", 0),
    "prepares": pass_.get("prepares/article", 0), "commits": pass_.get("commits/feed", 0),
    "writes": pass_.get("page_writes/feed", -1)}))
EOF
}

# One run of newsboat reloading a list into cache $3 (kept: a second call
# is the unchanged pass), recorded under row $1. Its fsync and fdatasync
# calls are counted by perf from the kernel's tracepoints, which costs it
# nothing (a tracer that stops it at each call made it ten times slower).
newsboat_process() {
  local row=$1 list=$2 cache=$3
  printf 'reload-threads 5\n' > "$work/newsboat.conf"
  local count=() load
  perf_usable && count=(perf stat -x, -o "$work/syncs.txt" -e syscalls:sys_enter_fsync,syscalls:sys_enter_fdatasync)
  rm -f "$work/syncs.txt"
  load=$(load1)
  HOME="$work/home" "${count[@]}" /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" \
    newsboat -u "$list" -c "$cache" -C "$work/newsboat.conf" -x reload > /dev/null 2>&1
  python3 - "$work/time.txt" "$work/syncs.txt" "$list" "$row" "$run" "$load" >> "$work/results.txt" << 'EOF'
import json, os, sys
time_file, syncs_file, list_file, row, run, load = sys.argv[1:]
e, u, s, m = open(time_file).read().split()[-4:]
feeds = sum(1 for line in open(list_file) if line.strip())
syncs = None
if os.path.exists(syncs_file):
    counts = [line.split(",")[0] for line in open(syncs_file) if "sys_enter_" in line]
    if counts and all(c.isdigit() for c in counts): syncs = sum(map(int, counts)) / feeds
print(json.dumps({"row": row, "who": "newsboat", "run": int(run), "load": float(load),
    "wall": float(e), "cpu": float(u) + float(s), "rss": int(m) / 1024, "syncs": syncs}))
EOF
}

perf_usable() {
  command -v perf > /dev/null && perf stat -e syscalls:sys_enter_fsync true > /dev/null 2>&1
}

# One new 100-item feed stored by each engine (median of five repetitions
# in one process) beside feedparser's parse of the same bytes (median of 15).
one_feed() {
  local row=$1 who=$2 dir=$3 feed=$4 load
  load=$(load1)
  TW_BENCH_FEED_FILE="$feed" "$dir/bench/feed_processor_bench" \
    --benchmark_filter='^BM_NewRssFeedFromFileStoredForcedWrites$' --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true --benchmark_format=json 2> /dev/null |
    python3 -c '
import json, sys
row, who, run, load = sys.argv[1:]
median = [b for b in json.load(sys.stdin)["benchmarks"] if b.get("aggregate_name") == "median"][0]
print(json.dumps({"row": row, "who": who, "run": int(run), "load": float(load),
    "wall": median["real_time"] / 1000.0, "cpu": median["cpu_time"] / 1000.0,
    "writes": median.get("page_writes/feed", -1)}))' "$row" "$who" "$run" "$load" >> "$work/results.txt"
}

feedparser_parse() {
  local row=$1 feed=$2 load
  load=$(load1)
  /usr/bin/python3 - "$feed" "$row" "$run" "$load" >> "$work/results.txt" << 'EOF'
import json, statistics, sys, time, feedparser
feed, row, run, load = sys.argv[1:]
data = open(feed, "rb").read()
walls, cpus = [], []
for _ in range(15):
    w, c = time.perf_counter(), time.process_time()
    feedparser.parse(data)
    walls.append(time.perf_counter() - w)
    cpus.append(time.process_time() - c)
print(json.dumps({"row": row, "who": "feedparser", "run": int(run), "load": float(load),
    "wall": statistics.median(walls), "cpu": statistics.median(cpus)}))
EOF
}

# The client's sendto calls per new article of the new pass through the
# server, and all sendto calls of the pass: strace follows the server too (a
# child of the benchmark), whose answers are as many again; the client's are
# those of the benchmark's own threads (made by clone with CLONE_THREAD from
# its first one). The pass is framed by two marker look-ups.
server_round_trips() {
  local dir=$1 list=$2 articles=$3
  TW_BENCH_FEED_LIST="$list" TW_BENCH_SERVER=1 strace -f -qq -e trace=access,sendto,clone,clone3 \
    -o "$work/sendto.txt" "$dir/bench/update_pass_bench" --benchmark_filter='^BM_UpdatePassNewFeeds/' \
    > /dev/null 2>&1
  python3 - "$work/sendto.txt" "$articles" << 'EOF2'
import re, sys
own, creating, client, total, on = set(), {}, 0, 0, False
for line in open(sys.argv[1]):
    match = re.match(r"(\d+)\s+(.*)", line)
    if not match: continue
    tid, call = int(match.group(1)), match.group(2)
    if not own: own.add(tid)
    if re.match(r"(clone3?\(|<\.\.\. clone3? resumed>)", call):
        if call.startswith("clone"): creating[tid] = "CLONE_THREAD" in call
        made = re.search(r"= (\d+)\s*$", call)
        if made and tid in own and (creating.get(tid) or "CLONE_THREAD" in call): own.add(int(made.group(1)))
    if "tw-bench-pass-begin" in call: on = True
    if "tw-bench-pass-end" in call: on = False
    if on and call.startswith("sendto("):
        total += 1
        client += tid in own
articles = int(sys.argv[2])
print("%.2f per new article (%d in the pass; client and server %.2f)" % (client / articles, client, total / articles))
EOF2
}

# The engines and the peer of one row in this round's order: engines first in
# odd rounds, the peer first in even ones.
in_turn() {
  local peer=$1 engine_step=$2
  local order
  order=$(engines)
  [ $((run % 2)) -eq 0 ] && order=$(printf '%s\n' "$order" | tac)
  if [ $((run % 2)) -eq 0 ] && [ -n "$peer" ]; then $peer; fi
  local entry
  for entry in $order; do $engine_step "${entry%%:*}" "${entry#*:}"; done
  if [ $((run % 2)) -eq 1 ] && [ -n "$peer" ]; then $peer; fi
  return 0
}

one_round() {
  rm -f "$work"/*.cache "$work"/db-*.fdb
  local www=$work/www
  new100() { engine_process "100 feeds x 100 items, new" "$1" "$2" "$www/p100.urls" BM_UpdatePassNewFeeds \
    TW_BENCH_DATABASE="$work/db-$1.fdb"; }
  peer_new100() { newsboat_process "100 feeds x 100 items, new" "$www/p100.urls" "$work/p100.cache"; }
  in_turn peer_new100 new100
  same100() { engine_process "100 feeds x 100 items, unchanged" "$1" "$2" "$www/p100.urls" BM_UpdatePassStored \
    TW_BENCH_DATABASE="$work/db-$1.fdb"; }
  peer_same100() { newsboat_process "100 feeds x 100 items, unchanged" "$www/p100.urls" "$work/p100.cache"; }
  in_turn peer_same100 same100
  new1000x10() { engine_process "1000 feeds x 10 items, new" "$1" "$2" "$www/p1000x10.urls" BM_UpdatePassNewFeeds; }
  peer_new1000x10() { newsboat_process "1000 feeds x 10 items, new" "$www/p1000x10.urls" "$work/p1000x10.cache"; }
  in_turn peer_new1000x10 new1000x10
  if [ "${TW_BENCH_QUICK:-0}" != 1 ]; then
    new1000() { engine_process "1000 feeds x 100 items, new" "$1" "$2" "$www/p1000.urls" BM_UpdatePassNewFeeds; }
    peer_new1000() { newsboat_process "1000 feeds x 100 items, new" "$www/p1000.urls" "$work/p1000.cache"; }
    in_turn peer_new1000 new1000
  fi
  big10() { engine_process "10 feeds x 1000 items, new" "$1" "$2" "$www/big10.urls" BM_UpdatePassNewFeeds; }
  peer_big10() { newsboat_process "10 feeds x 1000 items, new" "$www/big10.urls" "$work/big10.cache"; }
  in_turn peer_big10 big10
  if [ "${TW_BENCH_QUICK:-0}" != 1 ]; then
    big5() {
      engine_process "5 feeds x 1000 items at once" "$1" "$2" "$www/big5.urls" BM_UpdatePassNewFeeds
      engine_process "1 feed x 1000 items alone" "$1" "$2" "$www/big1.urls" BM_UpdatePassNewFeeds
    }
    in_turn "" big5
  fi
  served() { engine_process "100 feeds x 100 items, new, server 127.0.0.1" "$1" "$2" "$www/p100.urls" \
    BM_UpdatePassNewFeeds TW_BENCH_SERVER=1; }
  in_turn "" served
  feed() { one_feed "one new 100-item feed" "$1" "$2" "$www/p100/f0.xml"; }
  peer_feed() { feedparser_parse "one new 100-item feed" "$www/p100/f0.xml"; }
  in_turn peer_feed feed
}

# The table: every run with its load, then the medians and the ratios.
summary() {
  python3 - "$work/results.txt" << 'EOF'
import json, statistics, sys
rows, order = {}, []
for line in open(sys.argv[1]):
    r = json.loads(line)
    if r["row"] not in rows: rows[r["row"]] = {}; order.append(r["row"])
    rows[r["row"]].setdefault(r["who"], {})[r["run"]] = r
med = statistics.median
def seconds(value):
    return "%6.2f s" % value if value >= 0.5 else "%5.1f ms" % (value * 1000)
def fig(r):
    text = "%s %s CPU" % (seconds(r["wall"]), seconds(r["cpu"]))
    if "rss" in r: text += " %5.1f MiB" % r["rss"]
    return text
def own(r):
    if "pass_wall" not in r: return "writes %.1f/feed" % r["writes"] if r.get("writes", -1) >= 0 else ""
    text = "pass %.2f s %.2f s CPU" % (r["pass_wall"], r["pass_cpu"])
    if r["server_cpu"]: text += " + server %.2f s" % r["server_cpu"]
    text += "; %.2f stmts %.3f prepares/article, %.2f commits %.1f writes/feed" % (
        r["executes"], r["prepares"], r["commits"], r["writes"])
    if r["failed"]: text += "; FAILED FEEDS %d" % r["failed"]
    return text
for row in order:
    who = rows[row]
    engines = [w for w in ("engine", "base") if w in who]
    peer = next((w for w in who if w not in ("engine", "base")), None)
    print("\n%s" % row)
    for run in sorted({n for runs in who.values() for n in runs}):
        parts = []
        for w in engines + ([peer] if peer else []):
            r = who[w].get(run)
            if not r: continue
            part = "%-10s load %5.2f %s" % (w, r["load"], fig(r))
            extra = own(r) if w != peer else ("syncs %.1f/feed" % r["syncs"] if r.get("syncs") is not None else "")
            if extra: part += " (%s)" % extra
            parts.append(part)
        for w in engines:
            if peer and run in who[w] and run in who[peer]:
                a, b = who[w][run], who[peer][run]
                parts.append("%s/%s wall %.2fx CPU %.2fx" % (w, peer, a["wall"] / b["wall"], a["cpu"] / b["cpu"]))
        print("  run %d: %s" % (run, "\n         ".join(parts)))
    for w in engines + ([peer] if peer else []):
        runs = list(who[w].values())
        text = "  median of %d, %-10s %s %s CPU" % (len(runs), w, seconds(med(r["wall"] for r in runs)),
            seconds(med(r["cpu"] for r in runs)))
        if "rss" in runs[0]: text += " %5.1f MiB peak" % med(r["rss"] for r in runs)
        if "pass_wall" in runs[0]:
            text += " (pass %.2f s %.2f s CPU" % (med(r["pass_wall"] for r in runs), med(r["pass_cpu"] for r in runs))
            if runs[0]["server_cpu"]: text += " + server %.2f s" % med(r["server_cpu"] for r in runs)
            text += ", %.1f writes/feed)" % med(r["writes"] for r in runs)
        text += "; load %.2f-%.2f" % (min(r["load"] for r in runs), max(r["load"] for r in runs))
        print(text)
    for w in engines:
        if not peer: continue
        both = [n for n in who[w] if n in who[peer]]
        if not both: continue
        print("  median ratio %s/%s: wall %.2fx, CPU %.2fx (%s's CPU %s s)" % (w, peer,
            med(who[w][n]["wall"] / who[peer][n]["wall"] for n in both),
            med(who[w][n]["cpu"] / who[peer][n]["cpu"] for n in both), peer,
            ", ".join("%.2f" % who[peer][n]["cpu"] for n in sorted(both))))
    if "base" in who and "engine" in who:
        both = [n for n in who["engine"] if n in who["base"]]
        print("  median ratio engine/base: wall %.2fx, CPU %.2fx" % (
            med(who["engine"][n]["wall"] / who["base"][n]["wall"] for n in both),
            med(who["engine"][n]["cpu"] / who["base"][n]["cpu"] for n in both)))
EOF
}

main() {
  install_peers
  build_benchmarks
  work=$(mktemp -d /tmp/tw-peers-XXXXXX)
  # nginx's workers drop to an unprivileged user when started as root.
  chmod 755 "$work"
  mkdir -p "$work/home"
  trap '[ -n "${nginx_pid:-}" ] && kill "$nginx_pid" 2> /dev/null; wait 2> /dev/null; rm -rf "$work"' EXIT
  start_nginx
  make_feeds p100 100 100
  make_feeds p1000x10 1000 10
  make_feeds p1000 1000 100
  make_feeds big10 10 1000
  make_feeds big5 5 1000
  make_feeds big1 1 1000
  chmod -R a+rX "$work/www"
  echo "$runs rounds of: $(engines | tr '\n' ' ')and the peers, taking turns; 1-minute load before each run"
  echo "whole processes (wall, user+sys CPU, peak resident by /usr/bin/time); in brackets the engine's pass alone"
  : > "$work/results.txt"
  for run in $(seq "$runs"); do
    echo "round $run of $runs, load average: $(cat /proc/loadavg)" >&2
    one_round
  done
  summary
  local entry
  for entry in $(engines); do
    echo "${entry%%:*}: round trips (client sendto) of the server pass: $(server_round_trips "${entry#*:}" \
      "$work/www/p100.urls" 10000)"
  done
  echo "load average at the end: $(cat /proc/loadavg)"
}

main "$@"
