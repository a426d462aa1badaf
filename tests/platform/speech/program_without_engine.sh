#!/bin/sh
# The program on a machine without the speech engine's data: it ends with
# exit code 1 and says what to install, instead of running without voices.
set -u
program=$1
empty=$(mktemp -d)
trap 'rm -rf "$empty"' EXIT
export XDG_CONFIG_HOME="$empty" QT_QPA_PLATFORM=offscreen ZQ_ESPEAK_DATA="$empty"
for args in "--list" "--speak --text hello"; do
    # shellcheck disable=SC2086
    message=$("$program" $args 2>&1 >/dev/null)
    rc=$?
    [ "$rc" -eq 1 ] || { echo "speechdemo $args: exit code $rc, expected 1"; exit 1; }
    case $message in
    *espeak-ng-data*libespeak-ng1*) ;;
    *) echo "speechdemo $args: the message does not say what to install: $message"; exit 1 ;;
    esac
done
echo "ok"
