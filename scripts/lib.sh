# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by the scripts: the checkout's top directory and the one way they
# configure a build tree.

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# lib_configure_plain BUILD [cmake arguments]: the build's own places, with
# warnings fatal.
lib_configure_plain() {
  local build=$1
  shift
  cmake -S "$top" -B "$build" -DQUELVAN_WERROR=ON "$@" >/dev/null
}

# lib_configure BUILD [cmake arguments]: a tree whose files are looked up
# relative to the working directory (etc/quelvanrc, etc/quelvan.pl,
# etc/quelvan.help, status.dat), as the tests and the demo run it, with
# warnings fatal. Such a tree refuses to be installed (only staged with
# DESTDIR). Later arguments override these.
lib_configure() {
  local build=$1
  shift
  lib_configure_plain "$build" -DQUELVAN_CONFIG_DIR=etc -DQUELVAN_STATUS_FILE=status.dat "$@"
}

# lib_compile BUILD [targets]: builds with one job per core.
lib_compile() {
  local build=$1
  shift
  local targets=()
  for t in "$@"; do targets+=(--target "$t"); done
  cmake --build "$build" -j "$(nproc)" "${targets[@]}"
}
