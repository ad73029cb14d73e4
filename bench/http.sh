# HTTP client: http_download_file of the 15 MB image from nginx on loopback against curl -o of the
# same file in the same run. Sourced by scripts/bench with $root, $bin, $out and $image set. Runs in
# a network namespace of its own (tests/support/isolated), so nginx's port is private.

echo "== http_download_file of the 15 MB image from nginx on loopback, seconds (goal: no slower than 1.1 x curl -o) =="
http_dir=$out/http-nginx
rm -rf "$http_dir" && mkdir -p "$http_dir/www"
ln -s "$image" "$http_dir/www/image.img"
cat >"$http_dir/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $http_dir/nginx.pid;
error_log $http_dir/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $http_dir/body;
  proxy_temp_path $http_dir/proxy;
  fastcgi_temp_path $http_dir/fastcgi;
  uwsgi_temp_path $http_dir/uwsgi;
  scgi_temp_path $http_dir/scgi;
  default_type application/octet-stream;
  server { listen 127.0.0.1:18080; root $http_dir/www; }
}
CONF
# shellcheck disable=SC2016
"$root/tests/support/isolated" bash -c '
  set -eu
  . "$1/bench/timing.sh"
  dir=$2 fetch=$3/http_fetch url=http://127.0.0.1:18080/image.img
  nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" &
  nginx_pid=$!
  trap "kill $nginx_pid; wait $nginx_pid 2>/dev/null || true" EXIT
  curl -s --retry 20 --retry-connrefused --retry-delay 0 -o "$dir/curl.img" "$url"
  "$fetch" "$url" "$dir/ours.img" >/dev/null
  cmp -s "$dir/ours.img" "$dir/curl.img" || { echo "http: the downloaded copies differ"; exit 1; }
  # Rounds alternate between the two, so a busy moment of the machine weighs on both alike.
  ours=999 curl_t=999
  for _ in 1 2 3 4; do
    ours=$(awk -v a="$ours" -v b="$(best_of 4 "$fetch" "$url" "$dir/ours.img")" "BEGIN { print (a < b ? a : b) }")
    curl_t=$(awk -v a="$curl_t" -v b="$(best_of 4 curl -s -o "$dir/curl.img" "$url")" "BEGIN { print (a < b ? a : b) }")
  done
  row "http_download_file, 15 MB image" "$ours" "curl -o" "$curl_t" 0
' bash "$root" "$http_dir" "$bin" || echo "http: benchmark not run (no network namespace or nginx failed)"
rm -rf "$http_dir"
