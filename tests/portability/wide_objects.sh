#!/bin/bash
# The AVX2 objects may define only their own functions and file-local data:
# an inline function or template shared with the rest of the program, if
# emitted there as a weak symbol, could be the copy the linker keeps, and
# the program would then run AVX2 instructions on any x86-64.
# Usage: wide_objects.sh OBJECT...
status=0
checked=0
for object in "$@"; do
    case "$object" in
    *_avx2.cpp.o) ;;
    *) continue ;;
    esac
    checked=$((checked + 1))
    # (The exception personality's pointer, DW.ref.*, is data every object
    # that uses exceptions may carry.)
    shared=$(nm -C "$object" | awk '($(NF - 1) ~ /^[VWuvw]$/ || $1 ~ /^[VWuvw]$/) && $NF !~ /^DW\.ref\./')
    if [ -n "$shared" ]; then
        echo "wide_objects: $object defines symbols it may share with other files:" >&2
        echo "$shared" >&2
        status=1
    fi
done
if [ "$checked" -eq 0 ]; then
    echo "wide_objects: no AVX2 objects among the $# given" >&2
    exit 1
fi
[ "$status" -eq 0 ] && echo "wide_objects: $checked AVX2 objects define no shared symbols"
exit $status
