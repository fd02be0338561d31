# Sourced first thing by a script that starts Wine, with the script's own
# command line:
#   source "$(dirname "$0")/fixed-layout.sh" "$0" "$@"
# It runs the script again, once, with the kernel's address-space
# randomisation off for it and for every process it starts (setarch -R).
#
# Why: Debian's Wine has no preloader. Its loader is a program at the fixed
# address 0x7d000000, and the kernel starts the process's heap at a random
# place up to 1 GB above it (32 MB for the 32-bit loader). Now and then the
# heap already covers 0x7ffe0000 when Wine comes to map the shared user data
# there, and the process ends at once with status 1 ("failed to map the
# shared user data: c0000018", not shown under WINEDEBUG=-all): a test that
# fails in a few milliseconds with no output. With a fixed layout the heap
# starts right after the loader, 47 MB below.
#
# Where the personality cannot be set (a sandbox that forbids it) the script
# says so and goes on as it is.
if [ $((0x$(cat /proc/self/personality 2>/dev/null || echo 40000) & 0x40000)) = 0 ]; then
  if setarch "$(uname -m)" -R true 2>/dev/null; then
    exec setarch "$(uname -m)" -R bash "$@"
  fi
  echo "${1##*/}: the address-space randomisation cannot be turned off here (setarch -R);" \
    "Wine may fail to start a process now and then" >&2
fi
