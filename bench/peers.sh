#!/usr/bin/env bash
# The engine beside the programs a user would pick instead, on the same
# machine in the same run:
#   - update passes (100 feeds x 100 items, the same again unchanged, 1000
#     feeds x 10 items, 1000 feeds x 100 items, 10 feeds x 1000 items) served
#     by nginx on loopback:
#     bench/update_pass_bench (five workers, fresh database) beside
#     `newsboat -x reload` with five reload threads;
#   - five 1000-item feeds at once beside one alone (the engine only);
#     TW_BENCH_QUICK=1 leaves out this row and 1000 feeds x 100 items;
#   - one new 100-item RSS feed parsed and stored with its commit beside
#     python's feedparser parsing the same bytes.
# Figures: wall seconds, CPU seconds, peak resident MiB and synchronous
# writes per feed (the engine: its database's page writes, each one O_DSYNC
# with forced writes on; newsboat: its fsync and fdatasync calls, counted by
# perf when it can read the kernel's tracepoints); for the engine also the statements and prepares per stored article
# and the commits (of transactions that could write) per feed.
# The new 100x100 pass runs a second time through a Firebird server of the
# benchmark's own on 127.0.0.1, beside the embedded pass of the same run: its
# wall, the client's and the server's CPU, and the client's round trips
# (its sendto calls, counted by strace in a third, traced pass) per new
# article, beside the sendto calls of client and server together.
#
# Installs newsboat, python3-feedparser, nginx-light, time and strace from
# Debian when they are missing (perf, from linux-perf, is used when present) (as root, or through sudo). Builds the
# benchmarks with optimisation into build-bench/ (or $BENCH_BUILD_DIR;
# TW_BENCH_NO_BUILD=1 takes the binaries found there as they are, e.g. those
# of an earlier commit).
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

# "wall cpu rss failed executes prepares commits page-writes server-cpu" of
# the engine's pass over a list (benchmark filter $2); extra environment
# settings may follow.
engine_pass() {
  local list=$1 filter=$2
  shift 2
  env TW_BENCH_FEED_LIST="$list" "$@" "$build_dir/bench/update_pass_bench" --benchmark_filter="$filter" \
    --benchmark_format=json 2> /dev/null | python3 -c '
import json, sys
run = json.load(sys.stdin)["benchmarks"][0]
if run.get("error_occurred"): sys.exit("engine pass failed: " + run.get("error_message", ""))
print("%.2f %.2f %.1f %d %.2f %.3f %.2f %.1f %.2f" % (run["real_time"] / 1000.0, run["cpu_s"], run["peak_rss_MiB"],
    run["failed_feeds"], run.get("executes/article", 0), run.get("prepares/article", 0), run.get("commits/feed", 0),
    run.get("page_writes/feed", -1), run.get("server_cpu_s", 0)))'
}

# The client's sendto calls per new article of the new pass through the
# server, and all sendto calls of the pass: strace follows the server too (a
# child of the benchmark), whose answers are as many again; the client's are
# those of the benchmark's own threads (made by clone with CLONE_THREAD from
# its first one). The pass is framed by two marker look-ups.
server_round_trips() {
  local list=$1 articles=$2
  TW_BENCH_FEED_LIST="$list" TW_BENCH_SERVER=1 strace -f -qq -e trace=access,sendto,clone,clone3 \
    -o "$work/sendto.txt" "$build_dir/bench/update_pass_bench" --benchmark_filter=BM_UpdatePassNewFeeds \
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
print("%.2f %d %.2f" % (client / articles, client, total / articles))
EOF2
}

# "wall cpu rss syncs-per-feed" of newsboat reloading a list; the cache file
# is kept, so a second call is the unchanged pass. Its fsync and fdatasync
# calls are counted by perf from the kernel's tracepoints, which costs it
# nothing (a tracer that stops it at each call made it ten times slower);
# without perf the count is "-".
newsboat_pass() {
  local list=$1 cache=$2
  printf 'reload-threads 5\n' > "$work/newsboat.conf"
  local count=()
  perf_usable && count=(perf stat -x, -o "$work/syncs.txt" -e syscalls:sys_enter_fsync,syscalls:sys_enter_fdatasync)
  rm -f "$work/syncs.txt"
  HOME="$work/home" "${count[@]}" /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" \
    newsboat -u "$list" -c "$cache" -C "$work/newsboat.conf" -x reload > /dev/null 2>&1
  python3 -c '
import os, sys
e, u, s, m = open(sys.argv[1]).read().split()[-4:]
feeds = sum(1 for line in open(sys.argv[3]) if line.strip())
syncs = "-"
if os.path.exists(sys.argv[2]):
    counts = [line.split(",")[0] for line in open(sys.argv[2]) if "sys_enter_" in line]
    if counts and all(c.isdigit() for c in counts): syncs = "%.1f" % (sum(map(int, counts)) / feeds)
print("%.2f %.2f %.1f %s" % (float(e), float(u) + float(s), int(m) / 1024, syncs))' \
    "$work/time.txt" "$work/syncs.txt" "$list"
}

perf_usable() {
  command -v perf > /dev/null && perf stat -e syscalls:sys_enter_fsync true > /dev/null 2>&1
}

row() {
  local label=$1 ours=$2 peer=$3
  read -r w c r f e p k s _ <<< "$ours"
  read -r pw pc pr ps _ <<< "$peer"
  printf '%-44s %8s s %7s s CPU %6s MiB %6s sync/feed (failed %s) | %-26s %8s s %7s s CPU %6s MiB %6s sync/feed\n' \
    "$label" "$w" "$c" "$r" "$s" "$f" "${4:-newsboat -x reload}" "$pw" "$pc" "$pr" "${ps:--}"
  printf '%-44s statements %s, prepares %s per new article; %s commits per feed\n' "" "$e" "$p" "$k"
}

# The pass through the server beside the embedded one.
server_row() {
  local served=$1 embedded=$2 trips=$3
  read -r w c r f e p k s sc <<< "$served"
  read -r ew ec _ <<< "$embedded"
  read -r per total both <<< "$trips"
  printf '%-44s %8s s %7s s CPU + server %s s %6s MiB %6s sync/feed (failed %s) | embedded %8s s %7s s CPU\n' \
    "100 feeds x 100 items, new, server 127.0.0.1" "$w" "$c" "$sc" "$r" "$s" "$f" "$ew" "$ec"
  printf '%-44s %s the embedded wall; round trips (client sendto) %s per new article (%s in the pass;' "" \
    "$(python3 -c "print('%.2fx' % ($w / $ew))")" "$per" "$total"
  printf ' client and server %s)\n' "$both"
  printf '%-44s statements %s, prepares %s per new article; %s commits per feed\n' "" "$e" "$p" "$k"
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
  echo "engine (update_pass_bench, 5 workers, fresh database)   |   peer, same run"

  echo "load average: $(cat /proc/loadavg)"
  local ours peer served
  ours=$(engine_pass "$work/www/p100.urls" BM_UpdatePassNewFeeds)
  peer=$(newsboat_pass "$work/www/p100.urls" "$work/p100.cache")
  row "100 feeds x 100 items, new" "$ours" "$peer"
  served=$(engine_pass "$work/www/p100.urls" BM_UpdatePassNewFeeds TW_BENCH_SERVER=1)
  server_row "$served" "$ours" "$(server_round_trips "$work/www/p100.urls" 10000)"
  ours=$(engine_pass "$work/www/p100.urls" BM_UpdatePassUnchanged)
  peer=$(newsboat_pass "$work/www/p100.urls" "$work/p100.cache")
  row "100 feeds x 100 items, unchanged" "$ours" "$peer"
  ours=$(engine_pass "$work/www/p1000x10.urls" BM_UpdatePassNewFeeds)
  peer=$(newsboat_pass "$work/www/p1000x10.urls" "$work/p1000x10.cache")
  row "1000 feeds x 10 items, new" "$ours" "$peer"
  if [ "${TW_BENCH_QUICK:-0}" != 1 ]; then
    ours=$(engine_pass "$work/www/p1000.urls" BM_UpdatePassNewFeeds)
    peer=$(newsboat_pass "$work/www/p1000.urls" "$work/p1000.cache")
    row "1000 feeds x 100 items, new" "$ours" "$peer"
  fi
  ours=$(engine_pass "$work/www/big10.urls" BM_UpdatePassNewFeeds)
  peer=$(newsboat_pass "$work/www/big10.urls" "$work/big10.cache")
  row "10 feeds x 1000 items, new" "$ours" "$peer"
  if [ "${TW_BENCH_QUICK:-0}" != 1 ]; then
    ours=$(engine_pass "$work/www/big5.urls" BM_UpdatePassNewFeeds)
    peer=$(engine_pass "$work/www/big1.urls" BM_UpdatePassNewFeeds)
    row "5 feeds x 1000 items at once" "$ours" "$peer" "engine, 1 feed x 1000 alone"
  fi
  echo "load average: $(cat /proc/loadavg)"

  local feed="$work/www/p100/f0.xml"
  TW_BENCH_FEED_FILE="$feed" "$build_dir/bench/feed_processor_bench" \
    --benchmark_filter=BM_NewRssFeedFromFileStoredForcedWrites --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true 2> /dev/null | grep -E "median|Benchmark"
  /usr/bin/python3 - "$feed" << 'EOF'
import statistics, sys, timeit, feedparser
data = open(sys.argv[1], "rb").read()
runs = timeit.repeat(lambda: feedparser.parse(data), number=1, repeat=15)
print("feedparser.parse, the same 100-item file: median %.1f ms" % (statistics.median(runs) * 1000))
EOF
}

main "$@"
