#!/bin/sh
# The main job (make run): start the plug-in, import the bundled sample, show the scene,
# export it back to OBJ/MTL, import that export again and check that what OBJ carries
# came back: polygons, n-gons, materials and selection tags.
set -e
kelvane=./build/bin/kelvane
out=build/sample
mkdir -p "$out"

"$kelvane" plugins
"$kelvane" import samples/robot.obj --preset "Default Import Options" -o "$out/robot.kscn" | tee "$out/import.txt"
"$kelvane" scene show "$out/robot.kscn"
"$kelvane" export "$out/robot.kscn" --preset "Default Export Options" -o "$out/export/robot.obj"
"$kelvane" import "$out/export/robot.obj" --preset "Default Import Options" -o "$out/again.kscn" | tee "$out/again.txt"

status=0
for count in "polygons" "n-gons" "materials" "selection tags"; do
  first=$(grep "^  $count:" "$out/import.txt")
  again=$(grep "^  $count:" "$out/again.txt")
  if [ "$first" != "$again" ]; then
    echo "round trip: $count differ: '$first' then '$again'" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "Round trip: polygons, n-gons, materials and selection tags agree" \
  "(the sample's line elements and null objects are not polygon objects, so they are not exported)"
exit $status
