#!/bin/sh
# Runs a Windows program under Wine in a prefix of the build tree's own, never
# in ~/.wine: the Windows toolchains' emulator, through which ctest starts
# every Windows test, by hand too.
#
#   wine-prefix.sh ROOT LOADER PROGRAM [ARGUMENTS...]
#
# The prefix is ROOT/LOADERS, one for each set of loaders that may start in
# it: wine64 where only the 64-bit loader runs (no wine32, or
# STRATAMIX_WINE32=off), wine32-wine64 where both do. A prefix the 64-bit
# loader made alone has an empty syswow64, in which the 32-bit loader cannot
# start, so a run of one set never leaves the other a prefix it cannot use.
# The first program to start makes the prefix, under a lock, while any
# started beside it wait. Wine's home and XDG folders lie under ROOT too.
set -eu
root=$1
loader=$2
shift 2

if [ -x /usr/lib/wine/wine ] && [ "${STRATAMIX_WINE32:-}" != off ]; then
  loaders=wine32-wine64
else
  loaders=wine64
fi
export WINEPREFIX="$root/$loaders"
export WINEDEBUG=-all
# No .NET, no HTML engine, no menu entries for the programs.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export HOME="$root/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache"
export XDG_DATA_HOME="$HOME/.local/share" XDG_STATE_HOME="$HOME/.local/state"
mkdir -p "$HOME"

made="$WINEPREFIX/made-by-wine-prefix.sh"
if [ ! -f "$made" ]; then
  (
    flock 9
    if [ ! -f "$made" ]; then
      # A prefix left half made by an interrupted run is made again.
      rm -rf "$WINEPREFIX"
      # The 64-bit loader makes it where there is one, with the 32-bit
      # system beside its own when wine32 is there too.
      boot=/usr/lib/wine/wine64
      [ -x "$boot" ] || boot=$loader
      "$boot" wineboot --init >/dev/null 2>&1
      wineserver -w
      touch "$made"
    fi
  ) 9>"$root/.lock"
fi
exec "$loader" "$@"
