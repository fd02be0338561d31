#!/bin/sh
# Runs a Windows test program with the filter pack registered in the Wine
# prefix (regsvr32) and unregisters it afterwards, whatever the outcome, so
# that tests of the platform's own filters never meet the pack's stand-ins.
#   with_pack_registered.sh <scripts dir> <program.exe> [args...]
scripts="$1"; shift
"$scripts/wine-run.sh" regsvr32 /s vellumo_filters.dll || exit 1
"$scripts/wine-run.sh" "$@"
rc=$?
"$scripts/wine-run.sh" regsvr32 /u /s vellumo_filters.dll
exit $rc
