#!/usr/bin/env bash
# Runs a command under Debian's own kernel in QEMU, with the ALSA sequencer, its dummy
# "Midi Through" port and a virtual rawmidi card loaded, and exits with its status.
#
#   run-in-qemu.sh CACHE_DIR RUN_DIR COMMAND
#
# The kernel is the one linux-image-amd64 depends on now, fetched with apt-get download and
# kept in CACHE_DIR (vmlinuz and the few modules the guest loads), so later runs fetch
# nothing. The guest boots a small busybox initramfs, mounts the host's root read-only over
# virtio-9p and chroots into it, so COMMAND runs the host's own binaries and libraries, in
# the current folder, as root, with HOME in a tmpfs. RUN_DIR (emptied first) is the only
# folder the guest can write: the command's output, its status and the console log land
# there. No status back is a failure. KVM is tried first with a short bound on the boot,
# since a nested KVM can hang a stock kernel; then software emulation.
#
# QUILLMARK_QEMU_BOUND: seconds the whole guest run may take (default 300).
set -euo pipefail

if [[ $# -ne 3 ]]; then
  echo "usage: run-in-qemu.sh CACHE_DIR RUN_DIR COMMAND" >&2
  exit 2
fi
cache=$1
run=$2
command=$3
here=$(cd "$(dirname "$0")" && pwd)
project=$(cd "$here/../.." && pwd)
bound=${QUILLMARK_QEMU_BOUND:-300}
kvm_boot_bound=8

# What the guest loads, with what they need; 9p and virtio are modules in Debian's kernel.
wanted_modules=(virtio_pci 9pnet_virtio 9p snd-seq-dummy snd-virmidi)

fail() {
  echo "run-in-qemu: $*" >&2
  exit 1
}

for tool in qemu-system-x86_64 apt-get dpkg cpio gzip modinfo flock; do
  command -v "$tool" >/dev/null || fail "$tool is missing; run tools/setup.sh"
done
# The initramfs has no libraries: busybox-static's.
busybox=/bin/busybox
[[ -x $busybox ]] && ! ldd "$busybox" >/dev/null 2>&1 ||
  fail "a static busybox is missing; run tools/setup.sh (busybox-static)"

# --- the kernel -------------------------------------------------------------------------
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-.*-amd64$/ { print $2; exit }'
}

mkdir -p "$cache"
package=$(kernel_package || true)
if [[ -z $package && $(id -u) -eq 0 ]]; then
  timeout 300 apt-get update -qq >/dev/null 2>&1 || true
  package=$(kernel_package || true)
fi
if [[ -z $package ]]; then
  # Offline or without package lists: whichever kernel is cached.
  package=$(find "$cache" -mindepth 2 -maxdepth 2 -name ready -printf '%h\n' 2>/dev/null |
            sort | tail -n 1 | xargs -r basename)
  [[ -n $package ]] || fail "apt-cache does not know linux-image-amd64 and no kernel is cached"
fi
kernel=$cache/$package

# The kernel image inside vmlinuz, when it has a PVH entry QEMU can start.
extract_vmlinux() {  # vmlinuz vmlinux
  local entry tool magic offset
  for entry in 'xz:\xfd7zXZ\x00' 'zstd:\x28\xb5\x2f\xfd' 'gzip:\x1f\x8b\x08'; do
    tool=${entry%%:*}
    magic=${entry#*:}
    command -v "$tool" >/dev/null || continue
    for offset in $(LC_ALL=C grep -aboP "$magic" "$1" | cut -d: -f1 | head -n 5); do
      tail -c +$((offset + 1)) "$1" | "$tool" -dc 2>/dev/null > "$2" || true
      if [[ $(head -c 4 "$2" | od -An -tx1 | tr -d ' ') == 7f454c46 ]] &&
         readelf -n "$2" 2>/dev/null | grep -q '^ *Xen'; then
        return 0
      fi
    done
  done
  rm -f "$2"
  return 1
}

# Puts vmlinuz and the wanted modules, in load order, into the cache.
fetch_kernel() {
  local scratch
  scratch=$(mktemp -d "$cache/fetch.XXXXXX")
  # shellcheck disable=SC2064
  trap "rm -rf '$scratch'" RETURN
  echo "run-in-qemu: fetching $package" >&2
  (cd "$scratch" && timeout 600 apt-get download -q "$package" >/dev/null 2>&1) ||
    fail "apt-get download $package failed"
  dpkg -x "$scratch"/*.deb "$scratch/root"
  local tree
  tree=$(echo "$scratch"/root/lib/modules/*)
  [[ -d $tree ]] || fail "$package has no modules"
  local staged=$scratch/staged
  mkdir -p "$staged/modules"
  cp "$scratch"/root/boot/vmlinuz-* "$staged/vmlinuz"
  # Emulated, unpacking the kernel takes longer than booting it: keep it unpacked, for
  # QEMU to start at its PVH entry.
  extract_vmlinux "$staged/vmlinuz" "$staged/vmlinux" || true

  declare -A path_of=() loaded=()
  local file name
  while IFS= read -r file; do
    name=${file##*/}
    name=${name%%.ko*}
    path_of[${name//-/_}]=$file
  done < <(find "$tree/kernel" -name '*.ko*')
  local order=0
  load() {
    local key=${1//-/_}
    [[ -n ${loaded[$key]:-} ]] && return 0
    loaded[$key]=1
    local path=${path_of[$key]:-}
    [[ -n $path ]] || fail "module $1 is not in $package"
    local dep
    for dep in $(modinfo -F depends "$path" | tr ',' ' '); do load "$dep"; done
    local target
    target=$(printf '%s/modules/%02d-%s.ko' "$staged" "$order" "$key")
    case $path in
      *.ko.xz) xz -dc "$path" > "$target" ;;
      *.ko.zst) zstd -qdc "$path" > "$target" ;;
      *.ko.gz) gzip -dc "$path" > "$target" ;;
      *) cp "$path" "$target" ;;
    esac
    order=$((order + 1))
  }
  local module
  for module in "${wanted_modules[@]}"; do load "$module"; done
  rm -rf "$kernel"
  mv "$staged" "$kernel"
  touch "$kernel/ready"
}

(
  flock -w 900 9 || fail "another run holds $cache/.lock"
  [[ -f $kernel/ready ]] || fetch_kernel
) 9>"$cache/.lock"

# --- the run folder and the initramfs ----------------------------------------------------
mkdir -p "$run"
run=$(cd "$run" && pwd)
find "$run" -mindepth 1 -delete
initrd_root=$run/initramfs
mkdir -p "$initrd_root"/{bin,dev,proc,sys,newroot,modules}
cp "$busybox" "$initrd_root/bin/busybox"
cp "$kernel"/modules/*.ko "$initrd_root/modules/"
install -m 755 "$here/guest-init.sh" "$initrd_root/init"
(cd "$initrd_root" && find . | cpio -o -H newc --quiet | gzip -1) > "$run/initrd.gz"
rm -rf "$initrd_root"

# The command, with the environment the test run gave it (sanitizer and test options).
{
  echo '#!/bin/bash'
  echo 'export HOME=/tmp/home XDG_RUNTIME_DIR=/run/user PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin'
  echo 'mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"'
  for variable in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS GTEST_FILTER \
                  GTEST_COLOR GTEST_OUTPUT; do
    [[ -n ${!variable:-} ]] && declare -p "$variable" | sed 's/^declare -x/export/;s/^declare --/export/'
  done
  printf 'cd %q || exit 125\n' "$PWD"
  printf '%s\n' "$command"
} > "$run/guest-command.sh"

# --- the guest ---------------------------------------------------------------------------
console=$run/console.log
guest_pid=
# A run that is stopped (a test timeout) takes its guest with it.
trap 'if [[ -n $guest_pid ]]; then kill "$guest_pid" 2>/dev/null || true; fi' EXIT
trap 'exit 143' TERM INT
boot=(-kernel "$kernel/vmlinuz")
if [[ -f $kernel/vmlinux ]]; then
  boot=(-kernel "$kernel/vmlinux")
  # qboot starts a PVH kernel sooner than the default firmware.
  [[ -f /usr/share/qemu/qboot.rom ]] && boot+=(-bios /usr/share/qemu/qboot.rom)
fi
start_guest() {  # accelerator options...
  : > "$console"
  qemu-system-x86_64 "$@" "${boot[@]}" -m 1024 -smp 2 -nodefaults -no-reboot -display none \
    -serial "file:$console" -monitor none -nic none \
    -initrd "$run/initrd.gz" \
    -append "console=ttyS0 panic=-1 quiet loglevel=3 qm.work=$run qm.keep=$project qm.keep=$PWD" \
    -virtfs "local,path=/,mount_tag=qmroot,security_model=none,readonly=on,multidevs=remap" \
    -virtfs "local,path=$run,mount_tag=qmwork,security_model=none,multidevs=remap" \
    > "$run/qemu.log" 2>&1 &
  guest_pid=$!
}

# Waits for the guest to end; with a boot bound, gives up when it has not said "up" by
# then. 0 when it ended, 1 when it was stopped.
wait_guest() {  # total-bound boot-bound
  local start=$SECONDS deadline=$((SECONDS + $1)) boot_deadline=$((SECONDS + $2))
  booted=
  while kill -0 "$guest_pid" 2>/dev/null; do
    [[ -z $booted ]] && grep -q 'quillmark-guest: running' "$console" && booted=$((SECONDS - start))
    if ((SECONDS >= deadline)) ||
       { (($2 > 0)) && ((SECONDS >= boot_deadline)) && ! grep -q 'quillmark-guest: up' "$console"; }; then
      kill "$guest_pid" 2>/dev/null || true
      wait "$guest_pid" 2>/dev/null || true
      return 1
    fi
    sleep 0.2
  done
  wait "$guest_pid" 2>/dev/null || true
  return 0
}

accelerator=none
if [[ -r /dev/kvm && -w /dev/kvm ]]; then
  start_guest -accel kvm -cpu host
  wait_guest "$bound" "$kvm_boot_bound" || true
  # A guest that came up has run the command, whatever its outcome; one that did not
  # (QEMU refused KVM, or the kernel hung) is started again, emulated.
  if grep -q 'quillmark-guest: up' "$console"; then
    accelerator=kvm
  else
    echo "run-in-qemu: no boot under KVM within ${kvm_boot_bound}s; software emulation instead" >&2
  fi
fi
if [[ $accelerator == none ]]; then
  start_guest -accel tcg -cpu max
  wait_guest "$bound" 0 || echo "run-in-qemu: the guest did not end within ${bound}s" >&2
  accelerator=tcg
fi

[[ -f $run/output.log ]] && cat "$run/output.log"
status=$(cat "$run/status" 2>/dev/null || true)
if [[ ! $status =~ ^[0-9]+$ ]]; then
  echo "run-in-qemu: the guest gave no status ($accelerator); its console:" >&2
  tail -n 40 "$console" >&2
  tail -n 20 "$run/qemu.log" >&2
  exit 1
fi
echo "run-in-qemu: $package under ${accelerator^^}, ready to run in ${booted:-?} s, status $status"
exit "$status"
