#!/bin/busybox sh
# /init of the test guest: loads the sound modules, mounts the host's root read-only over
# 9p with the run folder writable at its own path, runs the run folder's guest-command.sh
# chrooted into it, leaves its exit status in the run folder and powers off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
say() { echo "quillmark-guest: $*" > /dev/console; }
say up

finish() {
  sync
  poweroff -f
  sleep 5
}

for module in /modules/*.ko; do
  if ! insmod "$module"; then
    say "insmod $module failed"
    finish
  fi
done

work=
keep=
for word in $(cat /proc/cmdline); do
  case $word in
    qm.work=*) work=${word#qm.work=} ;;
    qm.keep=*) keep="$keep ${word#qm.keep=}" ;;
  esac
done
options=trans=virtio,version=9p2000.L,msize=262144
if [ -z "$work" ] || ! mount -t 9p -o "$options,ro,cache=loose" qmroot /newroot; then
  say "could not mount the host's root"
  finish
fi
mount -t proc proc /newroot/proc
mount -t sysfs sys /newroot/sys
mount -t devtmpfs dev /newroot/dev
mkdir -p /newroot/dev/shm
mount -t tmpfs shm /newroot/dev/shm
# The host's own /tmp and /run stay visible under /host, for the folders below.
mkdir -p /host
mount -o bind /newroot /host
mount -t tmpfs tmp /newroot/tmp
mount -t tmpfs run /newroot/run
# The project and the folder the command runs in, where they lie under one of those tmpfs.
for folder in $keep; do
  case $folder in
    /tmp/*|/run/*)
      mkdir -p "/newroot$folder"
      if ! mount -o bind "/host$folder" "/newroot$folder"; then
        say "could not keep $folder"
        finish
      fi ;;
  esac
done
# Last: the run folder may lie inside one of the tmpfs above.
mkdir -p "/newroot$work" 2>/dev/null
if ! mount -t 9p -o "$options" qmwork "/newroot$work"; then
  say "could not mount the run folder $work"
  finish
fi
say "running"
chroot /newroot /bin/bash "$work/guest-command.sh" > "/newroot$work/output.log" 2>&1
echo $? > "/newroot$work/status"
say "done"
umount "/newroot$work"
finish
