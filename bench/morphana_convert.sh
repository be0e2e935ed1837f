#!/usr/bin/env bash
# Morphana's conversion speed against ffmpeg doing the same jobs on the same machine, in one run:
# a 60 s 640x480 25 fps MJPEG+PCM AVI to an AVI with Motion JPEG (quality 85) and PCM, and a 60 s
# 44.1 kHz stereo WAV to MP3 at 128 kbit/s inside a RIFF WAVE. Morphana is driven through its dialog;
# its time runs from the save dialog's OK until the dialog is idle again. Prints both times and ratios
# (target for the AVI: <= 0.6).
# Usage: bench/morphana_convert.sh [BUILD_DIR] [PREFIX]
source "$(dirname "$0")/morphana_setup.sh" 60 60 "$@"

seconds() { local s; s=$(date +%s.%N); "$@"; echo "$(date +%s.%N) - $s" | bc; }
ff_avi=$(seconds ff -i "$work/movie.avi" -c:v mjpeg -q:v 5 -c:a pcm_s16le "$work/ffmpeg.avi")
ff_mp3=$(seconds ff -i "$work/sound.wav" -c:a libmp3lame -b:a 128k -f wav "$work/ffmpeg.mp3")

out=$(SUITE_BUILD_DIR=$BUILD "$WINE" "$work/morphana_convert.exe.so" "$BUILD/converter/morphana.exe" \
  "$work/movie.avi" "$work/morphana.avi" "$work/sound.wav" "$work/morphana.mp3" 2>"$work/errors") || true
[ -n "$out" ] || { say "the benchmark program failed:"; grep -v 'Read access' "$work/errors" >&2; exit 1; }
m_avi=$(printf '%s\n' "$out" | sed -n 's/^avi_seconds=//p')
m_mp3=$(printf '%s\n' "$out" | sed -n 's/^mp3_seconds=//p')
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of default=nw=1:nk=1 \
  "$work/morphana.avi" 2>/dev/null || echo 0)
mp3s=$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$work/morphana.mp3" 2>/dev/null || echo 0)

printf 'AVI (60 s 640x480 MJPEG+PCM -> Motion JPEG 85 + PCM)\n'
printf '  ffmpeg:    %.2f s\n' "$ff_avi"
printf '  Morphana:  %.2f s (%s frames written)\n' "$m_avi" "${frames:-0}"
printf '  ratio:     %.2f (target <= 0.6)\n' "$(echo "$m_avi / $ff_avi" | bc -l)"
printf 'MP3 (60 s stereo WAV -> MPEG Layer-3 128 kbit/s in RIFF WAVE)\n'
printf '  ffmpeg:    %.2f s\n' "$ff_mp3"
printf '  Morphana:  %.2f s (%s s of sound written)\n' "$m_mp3" "${mp3s:-0}"
printf '  ratio:     %.2f\n' "$(echo "$m_mp3 / $ff_mp3" | bc -l)"
