#!/bin/sh
# Runs a Windows program under Wine: wine.sh PREFIX PROGRAM [ARGUMENTS...]. The
# prefix is made on first use; Wine's offers to install Mono and Gecko are off.
export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
shift
exec /usr/lib/wine/wine64 "$@"
