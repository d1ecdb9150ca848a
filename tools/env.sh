# Sourced by the other scripts: where things live and how Wine is started.
KM_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KM_PACKAGES="cmake g++ make googletest libgtest-dev g++-mingw-w64-x86-64-posix wine wine64 fonts-wine fonts-liberation xvfb x11-utils xauth imagemagick zstd"
KM_WINE=/usr/lib/wine/wine64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
km_wine_version() { dpkg-query -W -f='${Version}' wine64 2>/dev/null || echo unknown; }
# One prefix per Wine version, kept between runs.
export WINEPREFIX="${KESTRELMARK_WINEPREFIX:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/kestrelmark/wine-$(km_wine_version)}"
KM_BUILD="${KESTRELMARK_BUILD:-$KM_ROOT/build}"
