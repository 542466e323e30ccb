#!/usr/bin/env bash
# The main job: installs what is missing, builds everything, packs the sample script with ivpack
# and the stand-in engine, runs the packaged program under Wine and shows what it printed and
# its exit code.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
for preset in native win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
done

# The shipped programs are 32-bit; on a kernel that cannot start 32-bit programs the demo runs
# the same sources built for 64-bit Windows.
preset=win32
if ! build/win32/wine-run.sh --version >/dev/null 2>&1; then
    echo "(this kernel cannot run 32-bit programs: the demo runs the 64-bit build)"
    preset=win64
fi
bin=build/$preset/bin
out=build/demo
mkdir -p "$out"

build/native/bin/ivpack build -o "$out/hello.exe" --launcher "$bin/ivlaunch.exe" \
    --script examples/hello.ivs --script-name HELLO.COD --engine "$bin/engines/default/IVENGINE.DLL"
build/native/bin/ivpack list "$out/hello.exe"
build/native/bin/ivpack verify "$out/hello.exe"

echo
echo "Running: hello.exe one \"two  three\""
# run_packaged starts the program as Windows does and reports its full 32-bit exit code.
program="Z:$(realpath "$out/hello.exe" | sed 's|/|\\|g')"
build/$preset/wine-run.sh "$bin/run_packaged.exe" "\"$program\" one \"two  three\""
