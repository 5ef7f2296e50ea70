#!/usr/bin/env bash
# velmora.so exports the frei0r entry points and nothing else (no C++ symbol of the engine or
# of the C++ library that could stand in for the host's), and needs nothing it does not name.
#   check_exports.sh VELMORA_SO
set -euo pipefail
so=$1
want="f0r_construct f0r_deinit f0r_destruct f0r_get_param_info f0r_get_param_value
f0r_get_plugin_info f0r_init f0r_set_param_value f0r_update"
got=$(nm -D --defined-only "$so" | awk '{print $3}' | sort)
if [ "$got" != "$(echo $want | tr ' ' '\n' | sort)" ]; then
  echo "FAIL: velmora.so exports:"; echo "$got"; exit 1
fi
# Every undefined symbol resolves against the libraries it names (linked with --no-undefined);
# loading it resolves them all now.
if ! out=$(LD_BIND_NOW=1 ldd -r "$so" 2>&1) || grep -q "undefined symbol" <<<"$out"; then
  echo "FAIL: $out"; exit 1
fi
echo "velmora.so exports exactly the frei0r entry points"
