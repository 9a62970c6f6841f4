#!/usr/bin/env bash
# Runs a GoogleTest executable under Wine and takes the verdict from its own summary, not
# from the exit status: under Wine 8 a process that decoded media crashes while it exits,
# after every test has run and reported (a real Windows does not do this). A crash before
# the summary still fails, because then no summary is printed.
#   gtest_verdict.sh WINE EXE [ARGS...]
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$@" 2>&1 | tee "$out"
status=${PIPESTATUS[0]}
if grep -q '^\[  FAILED  \]' "$out"; then exit 1; fi
if grep -qE '^\[  PASSED  \] [0-9]+ tests?\.' "$out"; then
  [ "$status" -ne 0 ] && echo "(the process ended with status $status after its summary)"
  exit 0
fi
echo "no test summary: the executable ended with status $status before reporting"
exit 1
