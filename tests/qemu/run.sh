#!/usr/bin/env bash
# Boots an emulated PC (TCG) with Debian's cloud kernel and a busybox initramfs
# that runs guest_ports against the hardware libinpout32.so, and checks what the
# emulated ports read back. Fails, never skips, when a part cannot be had.
# Usage: run.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
cache="$build/qemu"
mkdir -p "$cache"

kernel_package() {
    apt-cache depends linux-image-cloud-amd64 2>/dev/null |
        awk '/Depends: linux-image-/ { print $2; exit }'
}

# The kernel, fetched once and kept in the build tree.
vmlinuz=$(ls "$cache"/kernel/boot/vmlinuz-* 2>/dev/null | head -n 1 || true)
if [ -z "$vmlinuz" ]; then
    package=$(kernel_package)
    if [ -z "$package" ] && [ "$(id -u)" -eq 0 ]; then
        apt-get update -qq && package=$(kernel_package)
    fi
    [ -n "$package" ] || { echo "no linux-image-*-cloud-amd64 package known to apt" >&2; exit 1; }
    (cd "$cache" && apt-get download "$package" >/dev/null 2>&1) ||
        { echo "cannot download $package" >&2; exit 1; }
    dpkg-deb -x "$cache"/"$package"_*.deb "$cache/kernel"
    vmlinuz=$(ls "$cache"/kernel/boot/vmlinuz-* | head -n 1)
fi

# The initramfs: busybox, the test program, the library and what they link to.
root="$cache/root"
rm -rf "$root" && mkdir -p "$root"/{bin,proc,sys,dev,lib/portlib}
cp /bin/busybox "$root/bin/busybox"
cp "$build/tests/guest_ports" "$root/bin/"
cp "$build/portlib/hardware/libinpout32.so" "$root/lib/portlib/"
for object in "$build/tests/guest_ports" "$build/portlib/hardware/libinpout32.so"; do
    ldd "$object" | grep -o '/[^ ]*' | while read -r lib; do
        mkdir -p "$root$(dirname "$lib")" && cp -L "$lib" "$root$lib"
    done
done
cat > "$root/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
echo "PORTTEST BOOTED"
LD_LIBRARY_PATH=/lib/portlib /bin/guest_ports
echo "PORTTEST EXIT $?"
LD_LIBRARY_PATH=/lib/portlib /bin/guest_ports --as-nobody
echo "PORTTEST NOBODY EXIT $?"
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) > "$cache/initramfs.gz"

log="$cache/console.log"
timeout 90 qemu-system-x86_64 -accel tcg -m 256 -nographic -no-reboot -parallel null \
    -chardev null,id=none -device pci-serial,chardev=none \
    -kernel "$vmlinuz" -initrd "$cache/initramfs.gz" \
    -append "console=ttyS0 quiet panic=-1" >"$log" 2>&1 || true

grep -o 'PORTTEST.*' "$log" | tr -d '\r'
grep -q 'PORTTEST EXIT 0' "$log" && grep -q 'PORTTEST NOBODY EXIT 0' "$log" || { echo "the guest test failed; console in $log" >&2; exit 1; }
