#!/usr/bin/env bash
# Renders every committed icon PNG from its SVG source, and the preview sheet
# docs/icons-preview.png. Needs rsvg-convert (librsvg2-bin); the sheet also
# needs ImageMagick's convert and is skipped without it.
#
# Layout (both trees are hicolor icon-theme trees, so a tray host or desktop
# given the folder as a theme path finds the images by name):
#   src/menubar/Resources/icons/hicolor/scalable/status/<name>.svg      sources
#   src/menubar/Resources/icons/hicolor/<N>x<N>/status/<name>.png       N = 16 22 24 32 48 64
#   packaging/icons/hicolor/scalable/apps/de.orvane.Somnara.svg          source
#   packaging/icons/hicolor/<N>x<N>/apps/de.orvane.Somnara.png           N = 16 22 24 32 48 64 128 256
# <name> is Somnara-Menu-Icon-{Sleep,Hibernate,HibernateSleep,Insomnia}, each
# also as <name>-symbolic (one colour, black on transparent, to be recoloured).
set -euo pipefail
cd "$(dirname "$0")/.."

STATUS_SIZES="16 22 24 32 48 64"
APP_SIZES="16 22 24 32 48 64 128 256"

render_tree() { # <hicolor root> <context> <sizes>
  local root=$1 context=$2 sizes=$3 svg name size
  for svg in "$root"/scalable/"$context"/*.svg; do
    name=$(basename "$svg" .svg)
    for size in $sizes; do
      mkdir -p "$root/${size}x${size}/$context"
      rsvg-convert --width "$size" --height "$size" --format png \
        --output "$root/${size}x${size}/$context/$name.png" "$svg"
    done
  done
}

render_tree src/menubar/Resources/icons/hicolor status "$STATUS_SIZES"
render_tree packaging/icons/hicolor apps "$APP_SIZES"

if ! command -v convert >/dev/null; then
  echo "render-icons: ImageMagick's convert not found; preview sheet not rebuilt" >&2
  exit 0
fi

# Preview sheet: per status image one row of cells; each cell is a panel strip
# (light, then dark) with the colour image and the symbolic one tinted to the
# panel's text colour, at 16 and 22 px, then the 16 px renders enlarged 4x
# (nearest neighbour) to judge single pixels. Last row: the application icon.
status=src/menubar/Resources/icons/hicolor
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cell() { # <png> <panel colour> <text colour or "colour"> <scale> <out>
  local img=$1 panel=$2 tint=$3 scale=$4 out=$5
  local src=$img
  if [ "$tint" != colour ]; then
    convert "$img" -fill "$tint" -colorize 100 "$tmp/tinted.png"
    src=$tmp/tinted.png
  fi
  convert "$src" -filter point -resize "${scale}00%" \
    -background "$panel" -gravity center -extent "$(( scale * 16 + 36 ))x100" \
    -flatten "$out"
}

rows=()
for base in Sleep Hibernate HibernateSleep Insomnia; do
  name=Somnara-Menu-Icon-$base
  cells=()
  for panel in "#f2f2f2:#202020" "#1e1f24:#f0f0f0"; do
    bg=${panel%%:*}; fg=${panel##*:}
    for size in 16 22; do
      cell "$status/${size}x${size}/status/$name.png" "$bg" colour 1 "$tmp/$base-$size-c-${#cells[@]}.png"
      cells+=("$tmp/$base-$size-c-${#cells[@]}.png")
      cell "$status/${size}x${size}/status/$name-symbolic.png" "$bg" "$fg" 1 "$tmp/$base-$size-s-${#cells[@]}.png"
      cells+=("$tmp/$base-$size-s-${#cells[@]}.png")
    done
    cell "$status/16x16/status/$name.png" "$bg" colour 4 "$tmp/$base-z-c-${#cells[@]}.png"
    cells+=("$tmp/$base-z-c-${#cells[@]}.png")
    cell "$status/16x16/status/$name-symbolic.png" "$bg" "$fg" 4 "$tmp/$base-z-s-${#cells[@]}.png"
    cells+=("$tmp/$base-z-s-${#cells[@]}.png")
  done
  convert \( "${cells[@]}" +append \) -background white -gravity west \
    -splice 150x0 -font DejaVu-Sans -pointsize 13 -annotate +6+0 "$base" "$tmp/row-$base.png"
  rows+=("$tmp/row-$base.png")
done

apps=()
for size in 16 22 24 32 48 64 128 256; do
  apps+=("packaging/icons/hicolor/${size}x${size}/apps/de.orvane.Somnara.png")
done
convert \( "${apps[@]}" -background white -gravity west -splice 12x0 \) \
  -gravity south +append +repage -gravity west -splice 138x0 \
  -font DejaVu-Sans -pointsize 13 -annotate +6+0 "de.orvane.Somnara" "$tmp/row-app.png"
rows+=("$tmp/row-app.png")

convert \( "${rows[@]}" -background white -gravity northwest -splice 0x8 \) -append \
  -bordercolor white -border 8 docs/icons-preview.png
echo "render-icons: PNGs and docs/icons-preview.png written"
