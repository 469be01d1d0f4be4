#!/usr/bin/env bash
# Sets the machine up, builds Vokari, and runs the main job: a live
# performance of each demo song with three singers (one on pitch, one off
# pitch, one silent) through vokari-cli perform, printing the scores.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(dirname "$here")
"$here/setup.sh" --build-dir "$top/build"

bin="$top/build/bin"
demo="$bin/demo"
out="$top/build/demo-performances"
rm -rf "$out"
mkdir -p "$out"

printf '%-14s %-8s %-10s %6s %6s %7s %10s %11s %9s %7s\n' \
  song singer key total pitch vibrato portamento performance stability seconds
status=0
for song in morning-walk lantern-river; do
  lyric="$demo/$song/lyric.lrc"
  [ -f "$lyric" ] || lyric="$demo/$song/lyric.hlf"
  for singer in good off silent; do
    voice="$demo/$song/singer-$singer.wav"
    [ "$singer" = silent ] && voice="$demo/silence.wav"
    for key in 0 2; do
      # The key change is shown once, with the singer on pitch.
      if [ "$key" != 0 ] && [ "$singer" != good ]; then continue; fi
      dir="$out/$song-$singer-key$key"
      # The sound-card layer's diagnostics go to a log beside the results.
      if ! json=$("$bin/vokari-cli" perform --music "$demo/$song/music.mp3" --lyric "$lyric" \
                    --voice "$voice" --out "$dir" --key "$key" 2>"$dir.log"); then
        echo "demo: the performance of $song by the $singer singer failed:" >&2
        cat "$dir.log" >&2
        status=1
        continue
      fi
      field() { sed -E "s/.*\"$1\":([-0-9.]+).*/\1/" <<<"$json"; }
      printf '%-14s %-8s %-10s %6.1f %6.1f %7.1f %10.1f %11.1f %9.1f %7.2f\n' \
        "$song" "$singer" "$key" "$(field total)" "$(field pitch)" "$(field vibrato)" \
        "$(field portamento)" "$(field performance)" "$(field stability)" "$(field seconds)"
    done
  done
done
echo
echo "Recordings (Mixed.wav, Vocal.wav, Speakers.wav) and score data files: $out/"
exit $status
