# Sourced by the other scripts: where things live and how Wine is started.
KM_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KM_PACKAGES="cmake g++ make googletest libgtest-dev g++-mingw-w64-x86-64-posix wine wine64 fonts-wine fonts-liberation xvfb x11-utils xauth imagemagick zstd clang-16 libclang-rt-16-dev"
KM_WINE=/usr/lib/wine/wine64
# The fuzz side's compilers: clang 14 lacks std::source_location.
KM_FUZZ_CC=clang-16
KM_FUZZ_CXX=clang++-16
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
km_wine_version() { dpkg-query -W -f='${Version}' wine64 2>/dev/null || echo unknown; }
# One prefix, kept between runs. Its path does not depend on what is
# installed (this file is read before setup.sh installs Wine); setup.sh
# makes the prefix anew when the Wine package is not the one that made it.
export WINEPREFIX="${KESTRELMARK_WINEPREFIX:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/kestrelmark/wine}"
KM_BUILD="${KESTRELMARK_BUILD:-$KM_ROOT/build}"
