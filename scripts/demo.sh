#!/usr/bin/env bash
# Installs what is missing, builds, generates a sample movie with ffmpeg and
# runs reelmender's main job on it: an edit run with every kind of edit.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${REELMENDER_BUILD:-$root/build-release}"
demo="${REELMENDER_DEMO_DIR:-$root/demo}"

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREELMENDER_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target reelmender-cli
cli="$build/cli/reelmender-cli"

mkdir -p "$demo"
movie="$demo/sample.mkv"
if [[ ! -f "$movie" ]]; then
  echo "demo: generating $movie (60 s, 1280x720, H.264/AAC, subtitles, chapters)"
  cat >"$demo/sample.srt" <<'SRT'
1
00:00:05,000 --> 00:00:08,000
Hello at five seconds

2
00:00:25,000 --> 00:00:28,000
This line sits in the removed part

3
00:00:45,000 --> 00:00:48,000
Still here after the cut
SRT
  cat >"$demo/chapters.xml" <<'XML'
<?xml version="1.0"?>
<!DOCTYPE Chapters SYSTEM "matroskachapters.dtd">
<Chapters><EditionEntry>
<ChapterAtom><ChapterTimeStart>00:00:00.000</ChapterTimeStart><ChapterDisplay><ChapterString>Opening</ChapterString><ChapterLanguage>eng</ChapterLanguage></ChapterDisplay></ChapterAtom>
<ChapterAtom><ChapterTimeStart>00:00:24.000</ChapterTimeStart><ChapterDisplay><ChapterString>Middle</ChapterString><ChapterLanguage>eng</ChapterLanguage></ChapterDisplay></ChapterAtom>
<ChapterAtom><ChapterTimeStart>00:00:40.000</ChapterTimeStart><ChapterDisplay><ChapterString>Q&amp;A</ChapterString><ChapterLanguage>eng</ChapterLanguage></ChapterDisplay></ChapterAtom>
</EditionEntry></Chapters>
XML
  ffmpeg -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=60" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=60" \
    -map 0:v -map 1:a -c:v libx264 -preset veryfast -g 50 -keyint_min 50 -sc_threshold 0 \
    -pix_fmt yuv420p -c:a aac -b:a 128k -ac 2 "$demo/av.mkv"
  mkvmerge -q -o "$movie" --chapters "$demo/chapters.xml" "$demo/av.mkv" \
    --language 0:eng "$demo/sample.srt"
fi

cat >"$demo/edits.csv" <<'CSV'
start,end,action,text,card_seconds
0:10,0:14,mute,,
0:20,0:30,remove,,
0:34,0:38,card,"Meanwhile, later...",3
0:50,0:54,text,"A text card while the sound plays",
CSV

echo "demo: $cli $movie --edits $demo/edits.csv --out $demo/sample (edited).mkv"
"$cli" "$movie" --edits "$demo/edits.csv" --out "$demo/sample (edited).mkv"
