#!/usr/bin/env bash
# Morphana's conversion speed against ffmpeg doing the same jobs with the same encoder settings on the
# same machine, in one run of ROUNDS rounds (3; the medians are compared), Morphana driven through its
# dialog (its time runs from the save dialog's OK until the dialog is idle again):
#   avi  a 60 s 25 fps MJPEG+PCM AVI of SIZE pictures to Motion JPEG (quality 85) and PCM in an AVI,
#        against ffmpeg's mjpeg -q:v 5 (target: ratio <= 0.6, peak memory <= 400 MB)
#   mp3  a 10-minute 44.1 kHz stereo WAV to MPEG Layer-3 inside a RIFF WAVE: our encoder is LAME at
#        128 kbit/s CBR with its standard engine quality (3) and joint stereo, so ffmpeg's libmp3lame is
#        given exactly that (both write the same MP3 frames) (target: ratio <= 1.0)
#   wma  the same WAV to WMAudio v2 at 128 kbit/s inside a RIFF WAVE, against ffmpeg's wmav2 at
#        128 kbit/s (the same packets) (target: ratio <= 1.0)
# Prints both times, the ratio, what each wrote and the peak memory of each process, and a result row
# per job for bench/all.sh.
# Environment: ROUNDS, SIZE (WIDTHxHEIGHT, 640x480), MOVIE_SECONDS (60), SOUND_SECONDS (600), JOBS ("avi mp3 wma";
# at another SIZE "avi" alone, as the sound jobs do not depend on it).
# Usage: bench/morphana_convert.sh [BUILD_DIR] [PREFIX]
if [ "${SIZE:-640x480}" = 640x480 ]; then JOBS=${JOBS:-avi mp3 wma}; else JOBS=${JOBS:-avi}; fi
want() { case " $JOBS " in *" $1 "*) return 0;; esac; return 1; }
movie=${MOVIE_SECONDS:-60} sound=${SOUND_SECONDS:-600}
want avi || movie=0
want mp3 || want wma || sound=0
source "$(dirname "$0")/morphana_setup.sh" "$movie" "$sound" "$@"

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
  # ROUNDS rounds, ffmpeg's and ours in turn; the medians are compared, peaks are the largest seen
  ff_all=() m_all=() ff_mb=0 kb=0
  for round in $(seq "$ROUNDS"); do
    # shellcheck disable=SC2086
    read -r s mb < <(ff_peak ffmpeg -nostdin -v error -y -i "${input[$job]}" ${ffcmd[$job]} "$work/ffmpeg.$job")
    ff_all+=("$s"); [ "$mb" -gt "$ff_mb" ] && ff_mb=$mb
    out=$(SUITE_BUILD_DIR=$BUILD "$WINE" "$work/morphana_convert.exe.so" "$BUILD/converter/morphana.exe" \
      "$job" "${input[$job]}" "$work/morphana.$job" 2>"$work/errors") || true
    s=$(printf '%s\n' "$out" | sed -n "s/^${job}_seconds=//p")
    case "$s" in ''|-*) say "Morphana's $job job failed:"; grep -v 'Read access' "$work/errors" >&2; exit 1;; esac
    m_all+=("$s")
    k=$(printf '%s\n' "$out" | sed -n "s/^${job}_peak_kb=//p")
    [ "${k:-0}" -gt "$kb" ] && kb=$k
  done
  printf 'rounds of %s: ffmpeg %s, Morphana %s\n' "$job" "${ff_all[*]}" "${m_all[*]}"
  ff_s=$(median "${ff_all[@]}") m_s=$(median "${m_all[@]}")
  peak=$(( kb / 1024 ))
  case $job in
    avi) what="$movie s $SIZE MJPEG+PCM -> Motion JPEG 85 + PCM AVI"; target="<= 0.6" limit="<= 400";;
    mp3) what="$sound s stereo WAV -> MP3 128 kbit/s CBR q3 joint stereo"; target="<= 1.0" limit=-;;
    wma) what="$sound s stereo WAV -> WMA v2 128 kbit/s"; target="<= 1.0" limit=-;;
  esac
  ratio=$(printf '%.2f' "$(echo "$m_s / $ff_s" | bc -l)")
  printf 'Morphana, %s\n' "$what"
  printf '  ffmpeg:    %.2f s (%s), peak memory %s MB\n' "$ff_s" "$(carries "$job" "$work/ffmpeg.$job")" "$ff_mb"
  printf '  Morphana:  %.2f s (%s), peak memory %s MB\n' "$m_s" "$(carries "$job" "$work/morphana.$job")" "$peak"
  printf '  ratio:     %s (target %s)\n' "$ratio" "$target"
  result "Morphana, $what" "$m_s" "$ff_s" "$ratio" "$target" "$peak" "$limit"
done
