#!/usr/bin/env bash
# The shipped plug-in file: imports only from Windows' own DLLs, exports GetFilterTable under its
# plain name, and does its floating point on SSE, never with x87 arithmetic.
set -euo pipefail
plugin=$1
objdump=i686-w64-mingw32-objdump
[ -f "$plugin" ] || { echo "missing $plugin"; exit 1; }

imports=$($objdump -p "$plugin" | awk '/DLL Name:/ {print toupper($3)}' | sort -u)
echo "imports: $(echo $imports)"
for dll in $imports; do
  case "$dll" in
    KERNEL32.DLL|USER32.DLL|MSVCRT.DLL|GDI32.DLL|ADVAPI32.DLL|NTDLL.DLL) ;;
    *) echo "imports from $dll, which Windows does not ship"; exit 1 ;;
  esac
done

exports=$($objdump -p "$plugin" | awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^[ \t]*\[/ {print $NF} on && /^$/ {on=0}')
echo "exports: $exports"
[ "$exports" = "GetFilterTable" ] || { echo "the only export must be GetFilterTable"; exit 1; }

x87=$($objdump -d "$plugin" | grep -cE '\sf(add|sub|subr|mul|div|divr|sqrt|ild|istp|isttp|prem|scale)[slpt]*\s' || true)
echo "x87 arithmetic instructions: $x87"
[ "$x87" -eq 0 ] || { echo "x87 arithmetic found"; exit 1; }
echo "ok"
