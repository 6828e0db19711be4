#!/usr/bin/env bash
# Product libraries bind the media libraries at run time: none may list one
# of them as a NEEDED dependency.
set -u
folder=$1
status=0
checked=0
for library in "$folder"/libquillon_*.so "$folder"/libmyutil.so; do
  [ -e "$library" ] || continue
  checked=$((checked + 1))
  if readelf -d "$library" | grep -E 'NEEDED.*lib(avcodec|avformat|avutil|avfilter|avdevice|swscale|swresample)\.' ; then
    echo "FAIL: $library links a media library directly"
    status=1
  fi
done
[ "$checked" -gt 0 ] || { echo "FAIL: no product library found in $folder"; exit 1; }
echo "$checked product libraries checked"
exit $status
