#!/usr/bin/env bash
# Makes data/Copy.wav, the short chime Kopierwart plays after each file it has moved: two soft
# bell tones a fifth apart (C6, then G6), each dying away. Needs sox (Debian package "sox").
# The result is committed; run this only to change the sound. Without dither the output is the
# same on every run, so an unchanged script leaves the committed file unchanged.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v sox >/dev/null || { echo "make-sound.sh needs sox (apt-get install sox)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One bell tone: a sine with a quieter octave above it, a 5 ms attack and a long fade.
tone() {  # frequency, delay in seconds, output
    sox -D -n -r 44100 -c 1 -b 16 "$3" synth 0.55 sine "$1" sine "$(($1 * 2))" remix 1v0.8,2v0.2 \
        fade q 0.005 0.55 0.5 pad "$2" 0
}
tone 1047 0 "$work/low.wav"
tone 1568 0.11 "$work/high.wav"
sox -D -m "$work/low.wav" "$work/high.wav" -b 16 data/Copy.wav gain -n -6 fade 0 -0 0.05
soxi data/Copy.wav
