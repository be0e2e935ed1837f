#!/usr/bin/env bash
# Morphana's conversion speed against ffmpeg doing the same jobs with the same encoder settings on the
# same machine, in one run, Morphana driven through its dialog (its time runs from the save dialog's OK
# until the dialog is idle again):
#   avi  a 60 s 25 fps MJPEG+PCM AVI of SIZE pictures to Motion JPEG (quality 85) and PCM in an AVI,
#        against ffmpeg's mjpeg -q:v 5 (target: ratio <= 0.6)
#   mp3  a 10-minute 44.1 kHz stereo WAV to MPEG Layer-3 inside a RIFF WAVE: our encoder is LAME at
#        128 kbit/s CBR with its standard engine quality (3) and joint stereo, so ffmpeg's libmp3lame is
#        given exactly that (both write the same MP3 frames) (target: ratio <= 1.0)
#   wma  the same WAV to WMAudio v2 at 128 kbit/s inside a RIFF WAVE, against ffmpeg's wmav2 at
#        128 kbit/s (the same packets) (target: ratio <= 1.0)
# Prints both times, the ratio, what Morphana wrote and the peak memory of its process.
# Environment: SIZE (WIDTHxHEIGHT, 640x480), MOVIE_SECONDS (60), SOUND_SECONDS (600), JOBS ("avi mp3 wma").
# Usage: bench/morphana_convert.sh [BUILD_DIR] [PREFIX]
JOBS=${JOBS:-avi mp3 wma}
want() { case " $JOBS " in *" $1 "*) return 0;; esac; return 1; }
movie=${MOVIE_SECONDS:-60} sound=${SOUND_SECONDS:-600}
want avi || movie=0
want mp3 || want wma || sound=0
source "$(dirname "$0")/morphana_setup.sh" "$movie" "$sound" "$@"

seconds() { local s; s=$(date +%s.%N); "$@"; echo "$(date +%s.%N) - $s" | bc; }
declare -A ffcmd input
ffcmd[avi]="-c:v mjpeg -q:v 5 -c:a pcm_s16le"
ffcmd[mp3]="-c:a libmp3lame -b:a 128k -compression_level 3 -joint_stereo 1 -f wav"
ffcmd[wma]="-c:a wmav2 -b:a 128k -f wav"
input[avi]=$work/movie.avi input[mp3]=$work/sound.wav input[wma]=$work/sound.wav

carries() {   # what a written file holds: frames of an AVI, seconds of sound otherwise
  if [ "$1" = avi ]; then
    printf '%s frames' "$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
      -of default=nw=1:nk=1 "$2" 2>/dev/null || echo 0)"
  else
    printf '%s s of sound' "$(ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$2" 2>/dev/null || echo 0)"
  fi
}

for job in $JOBS; do
  [ -n "${ffcmd[$job]:-}" ] || { say "unknown job $job"; exit 2; }
  # shellcheck disable=SC2086
  ff_s=$(seconds ff -i "${input[$job]}" ${ffcmd[$job]} "$work/ffmpeg.$job")
  out=$(SUITE_BUILD_DIR=$BUILD "$WINE" "$work/morphana_convert.exe.so" "$BUILD/converter/morphana.exe" \
    "$job" "${input[$job]}" "$work/morphana.$job" 2>"$work/errors") || true
  m_s=$(printf '%s\n' "$out" | sed -n "s/^${job}_seconds=//p")
  peak=$(printf '%s\n' "$out" | sed -n "s/^${job}_peak_kb=//p")
  case "$m_s" in ''|-*) say "Morphana's $job job failed:"; grep -v 'Read access' "$work/errors" >&2; exit 1;; esac
  case $job in
    avi) what="$movie s $SIZE MJPEG+PCM -> Motion JPEG 85 + PCM"; target=0.6;;
    mp3) what="$sound s stereo WAV -> MPEG Layer-3 128 kbit/s CBR q3 joint stereo, RIFF WAVE"; target=1.0;;
    wma) what="$sound s stereo WAV -> WMAudio v2 128 kbit/s, RIFF WAVE"; target=1.0;;
  esac
  printf '%s (%s)\n' "$(echo "$job" | tr a-z A-Z)" "$what"
  printf '  ffmpeg:    %.2f s (%s)\n' "$ff_s" "$(carries "$job" "$work/ffmpeg.$job")"
  printf '  Morphana:  %.2f s (%s), peak memory %d MB\n' "$m_s" "$(carries "$job" "$work/morphana.$job")" \
    $(( ${peak:-0} / 1024 ))
  printf '  ratio:     %.2f (target <= %s)\n' "$(echo "$m_s / $ff_s" | bc -l)" "$target"
done
