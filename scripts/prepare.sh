# Shared preparation of ./run and ./test: packages, build, Wine prefix. Sourced, not run.
# After it: ROOT, BUILD (the Winelib build), WINDOWS_BUILD (the mingw-w64 build), WINE, WINEPREFIX,
# WINEDLLPATH and the Japanese locale are set.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$ROOT/build/linux
WINDOWS_BUILD=$ROOT/build/windows
WINE=/usr/lib/wine/wine64
# Winelib launchers call "wine"; Debian's wine64 package names it wine64.
if [ ! -x "$ROOT/build/bin/wine" ]; then
  mkdir -p "$ROOT/build/bin" && printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' > "$ROOT/build/bin/wine"
  chmod +x "$ROOT/build/bin/wine"
fi
export PATH=$ROOT/build/bin:/usr/lib/wine:$PATH

SUITE_PACKAGES="wine64 wine64-tools libwine-dev xvfb xauth fonts-ipafont-gothic g++-mingw-w64-x86-64
 locales cmake ninja-build pkg-config g++ libgtest-dev googletest
 libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libges-1.0-dev libgdk-pixbuf-2.0-dev
 gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly
 gstreamer1.0-libav gstreamer1.0-tools gstreamer1.0-x gstreamer1.0-gl ffmpeg imagemagick x11-utils fonts-wine
 zlib1g-dev"

say() { printf '%s\n' "$*" >&2; }

install_packages() {
  local missing=()
  local p
  for p in $SUITE_PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing: ${missing[*]}"
  if [ "$(id -u)" != 0 ]; then say "run as root to install packages"; return 1; fi
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Wine takes the Windows code page from the locale's name and the encoding of Unix file names from the C
# library's locale: without ja_JP.UTF-8 installed, Japanese file names would not survive.
install_locale() {
  locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$' && return 0
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
}

build_suite() {
  if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/winelib.cmake" >/dev/null || return 1
  fi
  ninja -C "$BUILD" ${NINJA_FLAGS:-} | grep -vE '^\[[0-9]+/[0-9]+\]|^ninja: (Entering|no work)' || true
  return "${PIPESTATUS[0]}"
}

# The programs as Windows executables (PE), started under Wine over the Linux build's media platform.
build_windows() {
  local dir=$WINDOWS_BUILD
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw.cmake" >/dev/null || return 1
  fi
  ninja -C "$dir" ${NINJA_FLAGS:-} | grep -vE '^\[[0-9]+/[0-9]+\]|^ninja: (Entering|no work)' || true
  return "${PIPESTATUS[0]}"
}

wine_env() {
  export WINEPREFIX=$1
  export WINEARCH=win64
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLPATH=$BUILD/platform
  export WINEDLLOVERRIDES="mscoree,mshtml=d"
  { export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8; } 2>/dev/null
}

# What the prefix was last prepared for: this script, the platform DLL and Wine's own prefix update.
prefix_stamp() {
  printf '%s-%s-%s' "$(md5sum < "${BASH_SOURCE[0]}" | cut -c1-12)" "$(stat -c %Y "$1" 2>/dev/null)" \
    "$(cat "$WINEPREFIX/.update-timestamp" 2>/dev/null)"
}

# A prefix of our own: code page 932 through the locale, Japanese font substitutes, no window-manager
# waits, and our media platform registered after every prefix update.
prepare_prefix() {
  wine_env "$1"
  local stamp=$WINEPREFIX/.suite-stamp
  local dll=$BUILD/platform/mediaplatform.dll.so
  local want
  want=$(prefix_stamp "$dll")
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then return 0; fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "creating Wine prefix $WINEPREFIX"
    "$WINE" wineboot -i >/dev/null 2>&1
  fi
  # Window captions draw their buttons with Marlett, which Wine finds only among the prefix's fonts.
  cp -f /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null
  local reg=$(mktemp --suffix=.reg)
  cat > "$reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"ＭＳ Ｐゴシック"="IPAPGothic"
"MS PGothic"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"
"MS Gothic"="IPAGothic"
"MS UI Gothic"="IPAPGothic"
"MS Shell Dlg"="IPAPGothic"
"MS Shell Dlg 2"="IPAPGothic"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

; A crashing program ends at once instead of waiting in a debugger.
[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"=""

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="N"
REG
  sed -i '1s/REGEDIT4/Windows Registry Editor Version 5.00/' "$reg"
  iconv -f UTF-8 -t UTF-16LE "$reg" | { printf '\xff\xfe'; cat; } > "$reg.u16"
  "$WINE" regedit /S "$(winepath_dos "$reg.u16")" >/dev/null 2>&1
  rm -f "$reg" "$reg.u16"
  # Wine 8 finds a Winelib DLL only through a PE placeholder on the DLL search path (WINEDLLPATH alone
  # is not searched), so the classes are registered with the placeholder's full path in $BUILD/platform;
  # the loader then takes mediaplatform.dll.so from WINEDLLPATH.
  if [ -f "$dll" ] && [ -f "${dll%.so}" ]; then
    "$WINE" regsvr32 /s "$(winepath_dos "${dll%.so}")" >/dev/null 2>&1 \
      || { say "registering the media platform failed"; return 1; }
  fi
  # Wine's desktop and services started here may have come up without a display: end them, so that the
  # programs start a session of their own.
  wineserver -k >/dev/null 2>&1
  want=$(prefix_stamp "$dll")
  echo "$want" > "$stamp"
}

winepath_dos() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

# Xvfb when there is no display; XVFB_PID is set when we started one.
ensure_display() {
  XVFB_PID=
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq 90 120); do
    [ -e /tmp/.X$n-lock ] && continue
    Xvfb :$n -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=:$n
    local i
    for i in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
  done
  say "cannot start Xvfb"; return 1
}
