#!/bin/sh
# Fails when a shared library exports code or data of the standard library:
# its functions, variables and members, statics inside them and their guard
# variables, thunks into them, and the typeinfo and vtables of its types and
# of types local to functions (lambdas); and the linker's bounds of the data
# sections. The names are matched mangled, so a function of ours that takes
# std types never counts.
#   exports_check.sh <nm> <library>...
nm=$1
shift
leaks='^_Z(T[VTISCHW]|GV|Thn?[0-9]+_|Tvn?[0-9]+_n?[0-9]+_)?Z?N?[KVRO]*(S[tabsiod]|9__gnu_cxx)|^_ZT[VTISC]Z|^(__bss_start|_edata|_end)$'
status=0
for lib in "$@"; do
    if ! table=$("$nm" -D --defined-only "$lib"); then
        echo "$lib: cannot read its symbols" >&2
        status=1
        continue
    fi
    # Exported: bound globally, weakly or uniquely; a lower-case type other
    # than u (unique) or i (indirect function) is a local symbol.
    symbols=$(printf '%s\n' "$table" | awk '$2 ~ /^[A-Ziu]$/ { print $NF }')
    leaked=$(printf '%s\n' "$symbols" | grep -E "$leaks")
    if [ -n "$leaked" ]; then
        echo "${lib##*/} exports what is not its interface:"
        printf '%s\n' "$leaked" | c++filt | sed 's/^/    /'
        status=1
    else
        echo "${lib##*/}: $(printf '%s\n' "$symbols" | grep -c .) exports, none of the standard library"
    fi
done
exit $status
