#!/usr/bin/env bash
# Writes the launcher's application icon: one 32 x 32 image in 16 colours
# (a 4-bit BMP in an ICO container). The picture is drawn here, a framed
# heat map of five expression bars, so the repository holds no binary.
# Usage: make-icon.sh OUTPUT.ico
set -euo pipefail
out=$1

escapes=""
byte() { local hex; for b; do printf -v hex '\\x%02x' "$b"; escapes+=$hex; done; }
u16() { for v; do byte $((v & 255)) $((v >> 8 & 255)); done; }
u32() { for v; do u16 $((v & 65535)) $((v >> 16 & 65535)); done; }

size=32
header=40; palette=64; xor=$((size * size / 2)); and=$((size * size / 8))
image=$((header + palette + xor + and))

# ICONDIR and its one entry: 32 x 32, 16 colours, 1 plane, 4 bits, image at 22.
u16 0 1 1
byte $size $size 16 0
u16 1 4
u32 $image 22

# BITMAPINFOHEADER: the height counts the colour and the mask rows.
u32 $header $size $((size * 2))
u16 1 4
u32 0 $((xor + and)) 0 0 0 0

# The standard 16-colour palette, as blue, green, red, 0.
for rgb in 000000 800000 008000 808000 000080 800080 008080 c0c0c0 \
           808080 ff0000 00ff00 ffff00 0000ff ff00ff 00ffff ffffff; do
  byte $((16#${rgb:4:2})) $((16#${rgb:2:2})) $((16#${rgb:0:2})) 0
done

# Colour of pixel (x, y), y counted from the top: a white frame, and in
# five bands of four rows a bar whose length and colour vary by band.
lengths=(26 19 23 11 16)
colours=(12 14 10 9 11)
pixel() {  # sets colour
  local x=$1 y=$2 band=$((($2 - 3) / 5)) row=$((($2 - 3) % 5))
  colour=0
  if ((x == 0 || y == 0 || x == size - 1 || y == size - 1)); then
    colour=15
  elif ((y >= 3 && band < 5 && row < 4 && x >= 3 && x < 3 + lengths[band])); then
    colour=${colours[band]}
  fi
}

# Colour rows bottom up, two pixels a byte, the left one in the high half.
for ((y = size - 1; y >= 0; y--)); do
  for ((x = 0; x < size; x += 2)); do
    pixel $x $y; left=$colour
    pixel $((x + 1)) $y
    byte $((left << 4 | colour))
  done
done
# The mask: every pixel opaque.
for ((i = 0; i < and; i++)); do byte 0; done

printf "$escapes" >"$out.tmp"
mv "$out.tmp" "$out"
