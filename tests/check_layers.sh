#!/usr/bin/env bash
# The build refuses a wrong-way include: each layer's target compiles with an include path that
# holds its own folders and those of the layers below, and no others. For each target, a header
# of its own layers must compile and a header of a layer above (or beside) must not.
#   check_layers.sh COMPILER BUILD_DIR
set -uo pipefail
compiler=$1
layers=$(cd "$2" && pwd)/layers
failures=0
# From an empty folder: a quoted include is looked up beside the including file first.
empty=$(mktemp -d)
trap 'rm -rf "$empty"' EXIT
cd "$empty"

# Include folders of the system's libraries a layer's headers use (GStreamer's), beside its own.
system_flags=()
compiles() {  # TARGET HEADER
  echo "#include \"$2\"" | "$compiler" -std=gnu++20 -fsyntax-only -x c++ -I "$layers/$1" \
    "${system_flags[@]}" - 2>/dev/null
}

sees() {  # TARGET HEADER...
  local target=$1; shift
  for header in "$@"; do
    compiles "$target" "$header" || { echo "FAIL: $target cannot include $header"; failures=1; }
  done
}

refuses() {  # TARGET HEADER...
  local target=$1; shift
  for header in "$@"; do
    ! compiles "$target" "$header" || { echo "FAIL: $target may include $header"; failures=1; }
  done
}

sees velmora_kernels kernels/kernel_set.h
refuses velmora_kernels wavelet/transform_plane.h engine/engine.h sdk/aviutl_filter.h
sees velmora_wavelet wavelet/masked_threshold.h kernels/kernel_set.h
refuses velmora_wavelet engine/engine.h plugin/parameter_store.h
sees velmora_engine engine/engine.h wavelet/lifting_passes.h kernels/kernel_set.h
refuses velmora_engine sdk/aviutl_filter.h plugin/frame_entry.h threads/thread_pool.h \
        standin/frame_source.h tools/velmora/stream/y4m.h
sees velmora_plugin plugin/frame_entry.h sdk/aviutl_filter.h engine/engine.h
refuses velmora_plugin threads/thread_pool.h standin/emulated_filter.h tools/velmora/stream/y4m.h
sees velmora_threads threads/thread_pool.h engine/executor.h
refuses velmora_threads sdk/aviutl_filter.h plugin/frame_entry.h
sees velmora_core lib/stream.h velmora/velmora.h engine/engine.h threads/thread_pool.h
refuses velmora_core tools/velmora/stream/y4m.h sdk/aviutl_filter.h plugin/parameter_store.h
# The command-line tool sees the library's public header and nothing of what lies under it.
sees velmora_cli tools/velmora/command/app.h velmora/velmora.h
refuses velmora_cli engine/engine.h threads/thread_pool.h kernels/kernel_set.h lib/stream.h \
        wavelet/transform_plane.h sdk/aviutl_filter.h plugin/parameter_store.h \
        standin/frame_source.h standin/thread_pool.h
# The frei0r plug-in is built where its header is installed (frei0r-plugins-dev).
if [ -d "$layers/velmora_frei0r" ]; then
  sees velmora_frei0r_core frei0r/instance.h frei0r/frei0r_api.h velmora/velmora.h
  refuses velmora_frei0r_core sdk/aviutl_filter.h plugin/parameter_store.h \
          standin/frame_source.h tools/velmora/stream/y4m.h engine/engine.h threads/thread_pool.h \
          kernels/kernel_set.h lib/stream.h
  sees velmora_frei0r frei0r/instance.h velmora/velmora.h
  refuses velmora_frei0r sdk/aviutl_filter.h plugin/frame_entry.h standin/frame_source.h \
          lib/strength.h engine/engine.h threads/thread_pool.h kernels/kernel_set.h lib/stream.h
else
  echo "velmora.so is not built here: its layers are not checked"
fi

# The GStreamer element is built where GStreamer's development files are.
if [ -d "$layers/velmora_gst_core" ]; then
  read -ra system_flags < <(pkg-config --cflags gstreamer-video-1.0)
  sees velmora_gst_core gstreamer/stream.h gstreamer/element.h velmora/velmora.h
  refuses velmora_gst_core engine/engine.h wavelet/transform_plane.h kernels/kernel_set.h \
          threads/thread_pool.h lib/stream.h frei0r/instance.h tools/velmora/stream/y4m.h \
          sdk/aviutl_filter.h plugin/parameter_store.h
  sees velmora_gst gstreamer/element.h velmora/velmora.h
  refuses velmora_gst engine/engine.h threads/thread_pool.h kernels/kernel_set.h lib/stream.h
else
  echo "libgstvelmora.so is not built here: its layers are not checked"
fi

[ $failures = 0 ] && echo "every layer sees its own and the lower layers' headers, and no others"
exit $failures
