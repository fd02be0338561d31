#!/bin/sh
# Runs a Windows test program with the filter pack registered in the Wine
# prefix (regsvr32) and unregisters it afterwards, whatever the outcome (the
# program failing, the registration failing half way, a TERM, INT or HUP), so
# that tests of the platform's own filters never meet the pack's stand-ins.
# Wine now and then fails to start a program at all: a registration step
# that did not run is tried again, and an unregistration that cannot be done
# fails the run, saying so, rather than leaving the pack behind.
#   with_pack_registered.sh <scripts dir> <program.exe> [args...]
#   with_pack_registered.sh <scripts dir> --unregister      (only the cleanup)
# Run from the folder of vellumo_filters.dll.
scripts="$1"; shift

regsvr() {
  "$scripts/wine-run.sh" regsvr32 /s "$@" vellumo_filters.dll && return 0
  echo "with_pack_registered: regsvr32 $* failed (exit $?); once more" >&2
  "$scripts/wine-run.sh" regsvr32 /s "$@" vellumo_filters.dll
}

unregister() {
  regsvr /u && return 0
  echo "with_pack_registered: the filter pack could not be unregistered: the prefix still holds it" >&2
  return 1
}

if [ "${1:-}" = --unregister ]; then
  unregister
  exit $?
fi

child=""
on_signal() {
  [ -n "$child" ] && kill -TERM "$child" 2>/dev/null
  wait "$child" 2>/dev/null
  unregister
  exit 143
}
trap on_signal TERM INT HUP

if ! regsvr; then
  echo "with_pack_registered: the filter pack could not be registered" >&2
  unregister
  exit 1
fi
# In the background, so that a signal is taken while the program runs.
"$scripts/wine-run.sh" "$@" &
child=$!
wait "$child"
rc=$?
child=""
unregister || rc=1
exit $rc
