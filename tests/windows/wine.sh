#!/bin/sh
# Runs a Windows program under Wine: wine.sh PREFIX PROGRAM [ARGUMENTS...]
# The prefix is made on first use (about 12 s); later runs take a fraction
# of a second while its wineserver is still up. Wine's first-run offers to
# install Mono and Gecko are turned off: nothing here needs them.
prefix="$1"
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec /usr/lib/wine/wine64 "$@"
