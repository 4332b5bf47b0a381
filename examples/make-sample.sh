#!/usr/bin/env bash
# Remakes the sample project in this folder: two workspaces over real MapInfo tables made
# with GDAL's ogr2ogr (gdal-bin), a seamless table over three tiles, a raster table with a
# small image, a view, a graph template file. Run it from anywhere; it rewrites only the
# files it makes. The .DAT date bytes are fixed so a remake gives the same bytes.
set -euo pipefail
cd "$(dirname "$0")"
command -v ogr2ogr >/dev/null || { echo "make-sample.sh needs ogr2ogr (Debian package gdal-bin)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# table FOLDER NAME CSV-HEADER CSVT ROWS...: one native table from WKT rows.
table() {
  local folder=$1 name=$2 header=$3 types=$4
  shift 4
  mkdir -p "$folder"
  printf '%s\n' "$header" "$@" > "$work/$name.csv"
  printf '%s\n' "$types" > "$work/$name.csvt"
  rm -f "$folder/$name".{TAB,DAT,MAP,ID,tab,dat,map,id}
  ogr2ogr -q -f "MapInfo File" "$work/$name.tab" "$work/$name.csv" -a_srs EPSG:4326 \
    -oo GEOM_POSSIBLE_NAMES=WKT -oo KEEP_GEOM_COLUMNS=NO -nln "$name"
  for ext in TAB DAT MAP ID; do
    mv "$work/$name.${ext,,}" "$folder/$name.$ext"
  done
  # Last-update date in the dBase header: a fixed 2024-01-15.
  printf '\x7c\x01\x0f' | dd of="$folder/$name.DAT" bs=1 seek=1 conv=notrunc status=none
}

# Text files MapInfo reads on Windows: CR LF line ends.
crlf() { sed 's/$/\r/' > "$1"; }

# ---- City: streets, districts, a view over both, a seamless parcel layer, an aerial image
table Data Streets 'WKT,Name,Kind' 'WKT,String(30),String(12)' \
  '"LINESTRING (10.00 50.05,10.20 50.05)",Main Street,primary' \
  '"LINESTRING (10.10 50.00,10.10 50.20)",Mill Road,secondary' \
  '"LINESTRING (10.00 50.15,10.20 50.12)",Church Lane,local'

table Data Districts 'WKT,Name,Population' 'WKT,String(24),Integer' \
  '"POLYGON ((10.00 50.00,10.10 50.00,10.10 50.10,10.00 50.10,10.00 50.00))",Old Town,5120' \
  '"POLYGON ((10.10 50.00,10.20 50.00,10.20 50.10,10.10 50.10,10.10 50.00))",Riverside,3480' \
  '"POLYGON ((10.00 50.10,10.20 50.10,10.20 50.20,10.00 50.20,10.00 50.10))",Hillside,2210'

crlf Data/DistrictStreets.TAB <<'TAB'
!table
!version 300
!charset WindowsLatin1

Open Table "Streets" Hide
Open Table "Districts" Hide

Create View DistrictStreets As
Select Streets.Name, Districts.Name From Streets, Districts Where Streets.Obj Intersects Districts.Obj
TAB

for i in 1 2 3; do
  x0=$(printf '10.%02d' $(( (i - 1) * 6 ))); x1=$(printf '10.%02d' $(( i * 6 )))
  table Parcels "Parcels$i" 'WKT,ParcelNo,Owner' 'WKT,Integer,String(20)' \
    "\"POLYGON (($x0 50.00,$x1 50.00,$x1 50.03,$x0 50.03,$x0 50.00))\",${i}01,Owner ${i}A" \
    "\"POLYGON (($x0 50.03,$x1 50.03,$x1 50.06,$x0 50.06,$x0 50.03))\",${i}02,Owner ${i}B"
done

# The seamless table: one row per tile, its Table column naming the tile's header.
table Parcels Parcels 'WKT,Table,Description' 'WKT,String(100),String(40)' \
  '"POLYGON ((10.00 50.00,10.06 50.00,10.06 50.06,10.00 50.06,10.00 50.00))",Parcels1.TAB,West tile' \
  '"POLYGON ((10.06 50.00,10.12 50.00,10.12 50.06,10.06 50.06,10.06 50.00))",Parcels2.TAB,Middle tile' \
  '"POLYGON ((10.12 50.00,10.18 50.00,10.18 50.06,10.12 50.06,10.12 50.00))",Parcels3.TAB,East tile'
cat >> Parcels/Parcels.TAB <<'TAB'
begin_metadata
"\IsSeamless" = "TRUE"
"\IsReadOnly" = "FALSE"
end_metadata
TAB

mkdir -p Imagery
python3 - Imagery/Aerial.png <<'PY'
# A 64 x 64 grey-scale PNG: a soft pattern standing in for an aerial photo.
import struct, sys, zlib
w = h = 64
rows = b"".join(b"\0" + bytes(((x * 3 + y * 5) ^ (x * y)) & 0xFF for x in range(w)) for y in range(h))
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 0, 0, 0, 0)) \
    + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")
open(sys.argv[1], "wb").write(png)
PY
crlf Imagery/Aerial.TAB <<'TAB'
!table
!version 300
!charset WindowsLatin1

Definition Table
  File "Aerial.png"
  Type "RASTER"
  (10,50.2) (0,0) Label "Pt 1",
  (10.2,50.2) (64,0) Label "Pt 2",
  (10.2,50) (64,64) Label "Pt 3"
  CoordSys Earth Projection 1, 104
  Units "degree"
TAB

# A graph template: the workspace names it; its content is opaque to the program.
printf 'TALLOMIR SAMPLE GRAPH TEMPLATE\r\nType=Column\r\nTitle=Population\r\n' > Column.3tf

crlf City.WOR <<'WOR'
!Workspace
!Version 600
!Charset WindowsLatin1
Open Table "Data\Streets.TAB" As Streets Interactive
Open Table "Data\Districts" As Districts Interactive
Open Table "Data\DistrictStreets" As DistrictStreets Interactive
Open Table "Parcels\Parcels.TAB" As Parcels Interactive
Open Table "Imagery\Aerial.tab" As Aerial Interactive
Map From Streets,Parcels,Districts,Aerial
  Position (0.0520833,0.0520833) Units "in"
  Width 6.625 Units "in" Height 4.41667 Units "in"
Set Window FrontWindow() ScrollBars Off Autoscroll On
Set Map
  CoordSys Earth Projection 1, 104
  Center (10.1,50.1)
  Zoom 18 Units "km"
  Preserve Zoom Display Zoom
  Distance Units "km" Area Units "sq km" XY Units "degree"
Set Map
  Layer 1
    Display Graphic
    Global Line (2,2,16711680)
  Layer 2
    Display Graphic
  Layer 3
    Display Graphic
    Label Line None Position Center Font ("Arial",0,9,0) With Name
Set Map Layer 1 Editable On
Graph Population From Districts Using "Column.3tf"
Set Window FrontWindow() Printer
 Name "Office Laser" Orientation Portrait Copies 1
 Papersize 9
Set Window FrontWindow() Max
WOR

# ---- Rural: a workspace in a folder of its own, reaching the districts through ..\
table Rural Farms 'WKT,Farm,Hectares' 'WKT,String(24),Real(8.2)' \
  '"POLYGON ((10.20 50.00,10.30 50.00,10.30 50.08,10.20 50.08,10.20 50.00))",Brook Farm,84.5' \
  '"POLYGON ((10.20 50.08,10.30 50.08,10.30 50.16,10.20 50.16,10.20 50.08))",Ridge Farm,61.25'

table Rural Wells 'WKT,WellId,Depth' 'WKT,Integer,Integer' \
  '"POINT (10.24 50.04)",1,35' \
  '"POINT (10.27 50.12)",2,52'

crlf Rural/Rural.WOR <<'WOR'
!Workspace
!Version 600
!Charset WindowsLatin1
Open Table "..\Data\Districts.TAB" As Districts Interactive
Open Table "Farms" As Farms Interactive
Open Table "Wells" Interactive
Map From Wells,Farms,Districts
  Position (0.0520833,0.0520833) Units "in"
  Width 6.625 Units "in" Height 4.41667 Units "in"
Set Map
  CoordSys Earth Projection 1, 104
  Center (10.2,50.08)
  Zoom 25 Units "km"
Set Map Layer 2 Editable On
Set Window FrontWindow() Printer
 Name "Plotter" Orientation Landscape Copies 2
 Papersize 8
WOR

echo "Sample project made in $(pwd):"
find . -type f ! -name make-sample.sh ! -name README.md | sort
