# Shttpd against nginx and python3 -m http.server: the 15 MB image to curl, once and 18 at a time.
# Sourced by scripts/bench with $bin (Release binaries), $out (scratch) and $image set. Every server
# listens on 127.0.0.1 on a free port and is stopped by its pid.

fs_dir=$out/file-server
rm -rf "$fs_dir"
mkdir -p "$fs_dir/root" "$fs_dir/nginx"
fs_name=KTR_418s_1126_fac_up_2.0.16.img
cp "$image" "$fs_dir/root/$fs_name"
chmod -R a+rX "$fs_dir"  # nginx's workers run as an unprivileged user

fs_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# fs_wait_ready port pid: waits until the server at port answers (up to 10 s), 1 if it ended.
fs_wait_ready() {
  for _ in $(seq 100); do
    kill -0 "$2" 2>/dev/null || return 1
    curl -s --noproxy '*' -o /dev/null "http://127.0.0.1:$1/" && return 0
    sleep 0.1
  done
  return 1
}

# fs_start name command...: starts a server whose command line ends with the port (given as
# {PORT}), retrying on another free port when it does not come up; sets fs_port and fs_pid.
fs_start() {
  local name=$1 try
  shift
  for try in 1 2 3 4 5; do
    fs_port=$(fs_free_port)
    "${@//\{PORT\}/$fs_port}" >"$fs_dir/$name.log" 2>&1 &
    fs_pid=$!
    fs_wait_ready "$fs_port" "$fs_pid" && return 0
    kill "$fs_pid" 2>/dev/null || true
    wait "$fs_pid" 2>/dev/null || true
  done
  echo "file_server bench: $name did not start; see $fs_dir/$name.log" >&2
  return 1
}

fs_nginx_conf() {
  cat <<EOF
worker_processes auto;
daemon off;
pid $fs_dir/nginx/nginx.pid;
error_log $fs_dir/nginx/error.log;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  default_type application/octet-stream;
  client_body_temp_path $fs_dir/nginx/body;
  proxy_temp_path $fs_dir/nginx/proxy;
  fastcgi_temp_path $fs_dir/nginx/fastcgi;
  uwsgi_temp_path $fs_dir/nginx/uwsgi;
  scgi_temp_path $fs_dir/nginx/scgi;
  server { listen 127.0.0.1:$1; root $fs_dir/root; }
}
EOF
}

# fs_nginx port: nginx on that port with a minimal configuration of its own.
fs_nginx() {
  fs_nginx_conf "$1" >"$fs_dir/nginx/nginx.conf"
  exec nginx -p "$fs_dir/nginx" -e "$fs_dir/nginx/error.log" -c "$fs_dir/nginx/nginx.conf"
}

fs_one() { curl -s --noproxy '*' -o /dev/null "http://127.0.0.1:$1/$fs_name"; }
fs_parallel() {
  local i
  for i in $(seq 18); do fs_one "$1" & done
  wait
}

# fs_rounds n what port...: runs "what" (fs_one or fs_parallel) against each port in turn, n rounds,
# and prints each port's best time. Taking turns keeps a change of the machine's load from
# favouring whichever server happened to be measured first.
fs_rounds() {
  local n=$1 what=$2 p t
  shift 2
  local -A best=()
  for _ in $(seq "$n"); do
    for p in "$@"; do
      t=$(best_of 1 "$what" "$p")
      if [ -z "${best[$p]:-}" ] || awk -v a="$t" -v b="${best[$p]}" 'BEGIN { exit !(a < b) }'; then
        best[$p]=$t
      fi
    done
  done
  for p in "$@"; do printf '%s ' "${best[$p]}"; done
  echo
}

# Stops the servers this group started, by pid, also when the run ends early.
fs_stop_all() {
  local pid
  for pid in ${shttpd_pid:-} ${nginx_pid:-} ${python_pid:-}; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  shttpd_pid= nginx_pid= python_pid=
}
trap fs_stop_all EXIT

fs_start shttpd "$bin/Shttpd" "{PORT}" "$fs_dir/root" && shttpd_port=$fs_port shttpd_pid=$fs_pid
fs_start nginx fs_nginx "{PORT}" && nginx_port=$fs_port nginx_pid=$fs_pid
fs_start python python3 -m http.server "{PORT}" --bind 127.0.0.1 --directory "$fs_dir/root" &&
  python_port=$fs_port python_pid=$fs_pid

# Each server must hand out the image byte for byte before it is timed.
fs_serves_image() {
  curl -sf --noproxy '*' -o "$fs_dir/check.img" "http://127.0.0.1:$1/$fs_name" && cmp -s "$fs_dir/check.img" "$image" ||
    { echo "file_server bench: the server on port $1 did not serve the image" >&2; return 1; }
}

if [ -n "${shttpd_pid:-}" ] && [ -n "${nginx_pid:-}" ] && [ -n "${python_pid:-}" ] &&
  fs_serves_image "$shttpd_port" && fs_serves_image "$nginx_port" && fs_serves_image "$python_port"; then
  echo "== file server: the 15 MB image to curl, seconds (goals: one download at least as fast as nginx, 18 parallel within 1.2x nginx) =="
  cat "$fs_dir/root/$fs_name" >/dev/null  # warm the page cache
  read -r one_ours one_nginx one_python < <(fs_rounds 25 fs_one "$shttpd_port" "$nginx_port" "$python_port")
  read -r par_ours par_nginx par_python < <(fs_rounds 9 fs_parallel "$shttpd_port" "$nginx_port" "$python_port")
  row "Shttpd, one download" "$one_ours" nginx "$one_nginx" 0
  row "Shttpd, one download" "$one_ours" "http.server" "$one_python" 0
  row "Shttpd, 18 parallel downloads" "$par_ours" nginx "$par_nginx" 0
  row "Shttpd, 18 parallel downloads" "$par_ours" "http.server" "$par_python" 0
fi

fs_stop_all
trap - EXIT
rm -rf "$fs_dir"
