#!/bin/sh
# Installs the Debian packages the build and the tests need. Idempotent:
# when everything is present it installs nothing and does not touch apt.
set -e
PKGS="cmake make g++ clang libclang-rt-14-dev googletest \
g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 \
wine wine64 xvfb xauth x11-utils imagemagick locales fonts-wqy-microhei python3 python3-pil libbenchmark-dev \
ntfs-3g ntfs-3g-dev sleuthkit nettle-dev libcli11-dev time \
libewf-dev libvhdi-dev libvmdk-dev libqcow-dev libvshadow-dev libbde-dev libbfio-dev ewf-tools qemu-utils xz-utils \
dpkg-dev lintian man-db unzip file"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "install-deps: installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
# The UI texts are Chinese; Wine takes its code page from the locale.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$'; then
  sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
