# MD5 against md5sum and openssl md5; the header generator against xxd -i.
# Sourced by scripts/bench with $bin (Release binaries), $out (scratch) and $image set.

big=$out/random-150M.bin
[ "$(stat -c %s "$big" 2>/dev/null)" = 157286400 ] || head -c 157286400 /dev/urandom >"$big"

echo "== MD5 throughput in MB/s (goal: at least 0.9 of md5sum) =="
for f in "$image" "$big"; do
  mb=$(awk -v b="$(stat -c %s "$f")" 'BEGIN { print b / 1e6 }')
  cat "$f" >/dev/null  # warm the page cache
  ours=$(best_of 7 "$bin/md5_file" "$f")
  sum=$(best_of 7 md5sum "$f")
  ossl=$(best_of 7 openssl md5 "$f")
  tp() { awk -v mb="$mb" -v s="$1" 'BEGIN { printf "%.1f", mb / s }'; }
  label="md5_file_hex, $(basename "$f") ($(printf '%.0f' "$mb") MB)"
  row "$label" "$(tp "$ours")" md5sum "$(tp "$sum")" 1
  row "$label" "$(tp "$ours")" "openssl md5" "$(tp "$ossl")" 1
done

echo "== header generator on the 15 MB image, seconds (goal: at least 3 times as fast as xxd -i) =="
gen=$(best_of 3 "$bin/asset_header" firmware "$image" QUORVANE_CAM418S 2.0.16 "$out/firmware.h")
xxd_t=$(best_of 3 sh -c 'xxd -i "$1" >"$2"' sh "$image" "$out/firmware.xxd")
row "asset_header firmware" "$gen" "xxd -i" "$xxd_t" 0
rm -f "$out/firmware.h" "$out/firmware.xxd"
