#!/bin/sh
# One case of a test program that cmake/gtest_once.py ran: prints the output
# recorded for case number $2 in the folder $1 and exits with its status
# (0 passed, 1 failed, 77 skipped).
file=$1/$2
if [ ! -f "$file" ]; then
  echo "No result for this case in $1: its program's run (the test NAME.run) did not record one." >&2
  exit 1
fi
sed 1d "$file"
read -r status <"$file"
exit "$status"
