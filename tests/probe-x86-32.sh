#!/usr/bin/env bash
# Prints "yes" if this machine runs 32-bit x86 programs, "no" if not.
# STRATAMIX_WINE32=off answers "no" without asking. The answer comes from
# running a program, not from the kernel's name: some x86-64 kernels are
# built without 32-bit support, and Wine's 32-bit loader cannot start there.
#
# The program is the smallest static i386 ELF that exits with status 42
# (one program header loading the file at 0x08048000, entry just after the
# headers), so no 32-bit compiler or C library is needed to ask.
set -euo pipefail

if [ "${STRATAMIX_WINE32:-}" = "off" ]; then
  echo no
  exit 0
fi

probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
{
  # ELF header: 32-bit, little-endian, executable for i386, entry 0x08048054.
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000'
  printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000'
  printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000'
  printf '\000\000\000\000'
  # Program header: PT_LOAD of the whole 96-byte file, read and execute.
  printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010'
  printf '\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000'
  # mov eax, 1 (exit); mov ebx, 42; int 0x80
  printf '\270\001\000\000\000\273\052\000\000\000\315\200'
} >"$probe"
chmod +x "$probe"

status=0
"$probe" 2>/dev/null || status=$?
if [ "$status" -eq 42 ]; then
  echo yes
else
  echo no
fi
