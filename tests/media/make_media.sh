#!/usr/bin/env bash
# Makes the small media files that the tests read, once per build: movies, sounds and still images of
# every kind the programs accept. Usage: make_media.sh DIR
set -eu
dir=$1
stamp=$dir/.complete
[ -f "$stamp" ] && [ "$stamp" -nt "$0" ] && exit 0
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
video="testsrc=size=320x240:rate=15"
tone() { echo "sine=frequency=$1:sample_rate=44100"; }

# Movies: 3 s of picture with a 440 Hz tone.
ff -f lavfi -i "$video" -f lavfi -i "$(tone 440)" -t 3 -c:v mjpeg -q:v 5 -c:a pcm_s16le movie.avi
ff -f lavfi -i "$video" -f lavfi -i "$(tone 440)" -t 3 -r 25 -c:v mpeg1video -c:a mp2 movie.mpg
cp movie.mpg movie.mpeg
ff -f lavfi -i "$video" -f lavfi -i "$(tone 440)" -t 3 -c:v wmv2 -c:a wmav2 movie.wmv
cp movie.wmv movie.asf
ff -f lavfi -i "$video" -t 3 -c:v mjpeg -q:v 5 silent.avi

# Sounds: 2 s, and a 4 s one to tell them apart.
ff -f lavfi -i "$(tone 880)" -t 2 -ac 2 -c:a pcm_s16le sound.wav
ff -f lavfi -i "$(tone 660)" -t 4 -ac 1 -c:a pcm_s16le long.wav
ff -f lavfi -i "$(tone 880)" -t 2 -c:a wmav2 sound.wma
ff -f lavfi -i "$(tone 880)" -t 2 -c:a pcm_s16be sound.au
ff -f lavfi -i "$(tone 880)" -t 2 -c:a pcm_s16be sound.aif
ff -f lavfi -i "$(tone 880)" -t 2 -c:a libmp3lame -b:a 128k sound.mp3

# Still images, 160x120.
ff -f lavfi -i "testsrc=size=160x120" -frames:v 1 still.jpg
cp still.jpg still.jpeg
ff -f lavfi -i "testsrc=size=160x120" -frames:v 1 still.bmp
ff -f lavfi -i "testsrc=size=160x120" -frames:v 1 still.gif
ff -f lavfi -i "testsrc=size=160x120" -frames:v 1 still.tga

# 20 s of quiet, for blocks wide enough to show their file names.
ff -f lavfi -i anullsrc=r=8000:cl=mono -t 20 -c:a pcm_s16le quiet20.wav

# Ten minutes, for jobs long enough to watch and stop.
ff -f lavfi -i testsrc=size=320x240:rate=10 -f lavfi -i sine=sample_rate=8000 -t 600 -c:v mjpeg -q:v 8 -c:a pcm_s16le ten.avi

# Not media at all.
echo "not a movie" > broken.avi
echo "plain text" > readme.txt

touch "$stamp"
