# Sourced: a private Wine prefix inside the given build folder, quiet, without the optional
# .NET and HTML runtimes. On kernels that cannot run 32-bit programs, 32-bit Wine runs under
# qemu's user-mode emulation (registered by scripts/setup.sh).
export WINEPREFIX="$1/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export QEMU_CPU=max
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init >/dev/null 2>&1 || true
  wineserver -w || true
fi
