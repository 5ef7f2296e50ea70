# Sourced: a private Wine prefix inside the given build folder, quiet, without the optional
# .NET and HTML runtimes, and with Wine's null display driver, so that real USER32 windows
# exist without an X display. On kernels that cannot run 32-bit programs, 32-bit Wine runs
# under qemu's user-mode emulation (registered by scripts/setup.sh --wine).
export WINEPREFIX="$1/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export QEMU_CPU=max
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/user.reg" ]; then
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w || true
fi
if ! grep -q '^\[Software\\\\Wine\\\\Drivers\]' "$WINEPREFIX/user.reg"; then
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  printf '\n[Software\\\\Wine\\\\Drivers] 1700000000\n"Graphics"="null"\n' >> "$WINEPREFIX/user.reg"
fi
