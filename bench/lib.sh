# What the benchmark scripts share, sourced by them (bash): messages, the
# tools they need, a scratch image of random data on a loop device with
# direct I/O, and cleaning up after it on every way out. The caller sets
# `me` (its name for messages) and may set `keep` (a folder to copy its raw
# outputs into at the end) before calling start_scratch.

say() { echo "$me: $*" >&2; }
die() {
  say "$*"
  exit 1
}

require_root() {  # why
  [ "$(id -u)" -eq 0 ] || die "must run as root ($1); try: sudo $0"
}

# Say everything that is missing at once, with the Debian package that has it.
missing=""
need() {  # command debian_package
  command -v "$1" >/dev/null 2>&1 || missing="$missing $1 (Debian package: $2)"$'\n'
}
check_needs() {
  [ -z "$missing" ] && return
  say "missing tools; nothing was installed:"
  printf '%s' "$missing" | sed 's/^/  /' >&2
  exit 1
}

work=""
image=""
loop=""
keep=${keep:-}
# Detach every loop device backed by our own image, not only the one we
# recorded: an interrupt can land between the attach and the assignment.
cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  if [ -n "$image" ]; then
    local dev
    for dev in $(losetup -n -O NAME -j "$image" 2>/dev/null); do
      losetup -d "$dev" || say "could not detach $dev; detach it with: losetup -d $dev"
    done
  fi
  if [ -n "$work" ]; then
    if [ -n "$keep" ]; then
      mkdir -p "$keep" && cp -r "$work/raw/." "$keep/" && say "raw outputs kept in $keep"
    fi
    rm -rf "$work"
  fi
  exit "$status"
}

# Makes the scratch folder $work (raw outputs go to $work/raw) in parent, which
# must have room for an image of mib MiB, and cleans up on every way out.
start_scratch() {  # parent mib
  local parent=$1 mib=$2 free_kib
  [ -d "$parent" ] || die "$parent is not a directory"
  free_kib=$(df -Pk "$parent" | awk 'NR == 2 { print $4 }')
  [ "$free_kib" -gt $((mib * 1024 + 65536)) ] ||
    die "$parent has ${free_kib} KiB free; the image needs $((mib * 1024)) KiB and some room"
  trap cleanup EXIT
  trap 'say interrupted; exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
  work=$(mktemp -d "$parent/$me.XXXXXX")
  mkdir -p "$work/raw"
}

# Writes mib MiB of random data past the page cache to $image, so that no page
# of it is cached and no layer has anything to compress or skip, and attaches
# it read-only with direct I/O as $loop; sets $device_bytes.
attach_random_volume() {  # mib
  image=$work/volume.img
  say "writing $1 MiB of random data past the cache to $image"
  dd if=/dev/urandom of="$image" bs=1M count="$1" iflag=fullblock oflag=direct conv=fsync status=none ||
    die "cannot write $image with direct I/O"
  loop=$(losetup --find --show --read-only --direct-io=on "$image") || die "cannot attach $image"
  local name dio
  name=$(basename "$loop")
  dio=$(cat "/sys/block/$name/loop/dio" 2>/dev/null || echo "?")
  # Without direct I/O the loop driver reads its file through the page cache.
  [ "$dio" = 1 ] || die "the kernel did not take direct I/O on $loop (dio=$dio); the figures would be the cache's"
  device_bytes=$(($(cat "/sys/block/$name/size") * 512))
  say "$loop: $((device_bytes / 1048576)) MiB, direct I/O on," \
    "logical block $(cat "/sys/block/$name/queue/logical_block_size") bytes"
}

# What else ran: the CPU time spent since the last note by everything but this
# script's own children (kernel threads count as others, the loop device's
# included), the time the hypervisor took away (steal), and the load average.
# Each note ends the phase before it with a line in $load_log.
load_log=""
last_busy="" last_steal="" last_ours="" last_time="" phase_name=""
cpu_total() { awk '/^cpu / { print $2 + $3 + $4 + $7 + $8, $9; exit }' /proc/stat; }
cpu_ours() { awk '{ print $16 + $17 }' "/proc/$$/stat"; }
note_load() {  # name of the phase that starts now ("" at the end)
  local next=$1 now busy steal ours
  now=$(date +%s.%N)
  read -r busy steal < <(cpu_total)
  ours=$(cpu_ours)
  if [ -n "$phase_name" ]; then
    awk -v b="$((busy - last_busy))" -v s="$((steal - last_steal))" -v o="$((ours - last_ours))" \
      -v t0="$last_time" -v t1="$now" -v hz="$(getconf CLK_TCK)" -v phase="$phase_name" \
      -v load="$(cut -d' ' -f1-3 /proc/loadavg)" 'BEGIN { t = t1 - t0
      printf "  %-13s %4.0f s  others %3.0f%% of a CPU, steal %2.0f%%, load average %s\n",
             phase, t, 100 * (b - o) / hz / t, 100 * s / hz / t, load }' >>"$load_log"
  fi
  last_busy=$busy last_steal=$steal last_ours=$ours last_time=$now phase_name=$next
}
