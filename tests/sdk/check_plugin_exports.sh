#!/bin/sh
# Fails when the plug-in library exports anything of ours beyond its C entry points, or
# lacks one of the SDK's three. createVyPlugin may be present or not.
set -eu
library="$1"

listing=$(mktemp)
trap 'rm -f "$listing"' EXIT
nm -D --defined-only "$library" > "$listing"
# Lower-case types other than u, v and w are local symbols, which the dynamic linker never
# binds; the linker may leave some (unique typeinfo it demoted) in the dynamic table.
symbols=$(awk 'NF >= 3 && $2 !~ /^[a-tx-z]$/ { print $3 }' "$listing")

status=0
for required in vyLibContext vySdkVersion vySetUnitTestOptions; do
    if ! printf '%s\n' "$symbols" | grep -qx "$required"; then
        echo "missing export: $required"
        status=1
    fi
done
for symbol in $symbols; do
    case "$symbol" in
        vyLibContext|vySdkVersion|vySetUnitTestOptions|createVyPlugin) ;;
        _init|_fini|_edata|_end|__bss_start) ;; # added by the linker
        *@*) ;; # versioned: a system library's, never one of ours
        *)
            echo "unexpected export: $symbol"
            status=1
            ;;
    esac
done
if [ "$status" -eq 0 ]; then
    echo "exports ok:" $symbols
fi
exit "$status"
