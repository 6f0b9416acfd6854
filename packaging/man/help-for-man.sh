#!/bin/sh
# Runs PROGRAM --help for help2man, with the usage block in the form help2man
# reads: one line for each form of the command, the first after "Usage:", the
# others after "or:". (The programs align a long form's continuation lines, and
# their other forms, under the first.)
# Usage: help-for-man.sh PROGRAM --help
program=$1
shift
[ "$*" = --help ] || exec "$program" "$@"
"$program" --help | awk '
  /^Usage:/ { usage = 1; form = $0; next }
  usage && /^ *$/ { print form; usage = 0 }
  usage && /^ +[[-]/ { sub(/^ +/, ""); form = form " " $0; next }
  usage { print form; sub(/^ +/, ""); form = "  or: " $0; next }
  { print }
  END { if (usage) print form }'
