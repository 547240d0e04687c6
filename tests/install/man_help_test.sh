#!/usr/bin/env bash
# Every option a tool's --help names appears in its manual page, and every
# tool and the backend has one.
#   man_help_test.sh <bin folder> <manual page folder>
set -euo pipefail
bin=$1 man=$2
status=0
for page in imagehost.1 scanapp.1 rundll.1 Calibration.1 sane-ferrox.5; do
  [[ -f $man/$page ]] || { echo "FAILED: no manual page $page" >&2; status=1; }
done
for tool in imagehost scanapp rundll; do
  # The roff text with its escaped hyphens plain.
  text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$man/$tool.1")
  mapfile -t options < <("$bin/$tool" --help 2>&1 | grep -oE '(^|[[:space:],])--?[A-Za-z][A-Za-z0-9-]*' |
                         tr -d ' ,\t' | sort -u)
  [[ ${#options[@]} -gt 0 || $tool == rundll ]] || { echo "FAILED: $tool --help names no option" >&2; status=1; }
  for option in "${options[@]}"; do
    grep -qE -- "(^|[^A-Za-z0-9-])$option([^A-Za-z0-9-]|\$)" <<<"$text" ||
      { echo "FAILED: $tool --help names $option, $tool.1 does not" >&2; status=1; }
  done
  # The page's synopsis names the tool's commands.
  for command in $("$bin/$tool" --help 2>&1 | sed -n 's/^ *usage: *//p; s/^ \{7\}//p' |
                   grep -oE "^$tool \[options\] [a-z]+" | awk '{print $3}'); do
    grep -q "^\.B $command" <<<"$text" || { echo "FAILED: $tool.1 has no synopsis for $command" >&2; status=1; }
  done
done
exit $status
