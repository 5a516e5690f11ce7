# shellcheck shell=bash
# Sourced by bench/compare.sh and bench/stages.sh: the release build, the cached
# benchmark movie and the edit sets both scripts run.
#
# Environment:
#   REELMENDER_BENCH_CACHE  folder of the generated movie, shared by every
#                           checkout (default: ~/.cache/reelmender-bench)
#   REELMENDER_BENCH_DIR    folder for the outputs of the runs (default: build-bench
#                           in the checkout); they take a few GB
#   REELMENDER_BUILD        release build folder (default: build-release)

bench_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bench_cache="${REELMENDER_BENCH_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/reelmender-bench}"
bench_work="${REELMENDER_BENCH_DIR:-$bench_root/build-bench}"
bench_build="${REELMENDER_BUILD:-$bench_root/build-release}"
cli="$bench_build/cli/reelmender-cli"

# Raise the version whenever the recipe below changes: the cached movie is
# found by name, so a new recipe gets a new file instead of an old movie.
movie_recipe=4
movie="$bench_cache/movie-r$movie_recipe-720p25-20min.mkv"

bench_prepare() {
  "$bench_root/scripts/setup.sh" >/dev/null
  command -v python3 >/dev/null || { echo "bench: python3 is needed" >&2; exit 1; }
  cmake -S "$bench_root" -B "$bench_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREELMENDER_TESTS=OFF >/dev/null
  cmake --build "$bench_build" -j2 --target reelmender-cli >/dev/null
  mkdir -p "$bench_work" "$bench_cache"
  # Another checkout may be generating the movie right now; wait for it.
  exec 9>"$bench_cache/.lock"
  flock 9
  [[ -f "$movie" ]] || generate_movie
  flock -u 9
}

# A movie shaped like a real one: H.264 1280x720 at 25 fps with a keyframe every
# 2 s (fixed GOP, x264's default B-frames) at about 6.5 Mbit/s, English AAC
# stereo and German AC-3 5.1, English SubRip lines throughout and a chapter
# every 2 minutes; about 1.05 GB for 20 minutes. The test pattern alone would
# compress to a fraction of that and hide the I/O, so temporal noise is laid
# over it. Only 2 minutes are encoded; mkvmerge appends that clip to itself,
# track by track, so that the picture's times run on without a gap as a
# film's do.
generate_movie() {
  local tmp="$bench_cache/generating.$$"
  rm -rf "$tmp"; mkdir -p "$tmp"
  echo "bench: generating $movie (2-minute clip encoded once, appended 10 times)" >&2
  local start=$SECONDS
  {
    # A line every 4 s, shown for 2.5 s.
    for i in $(seq 0 29); do
      local s=$((i * 4))
      printf '%d\n00:%02d:%02d,000 --> 00:%02d:%02d,500\nLine %d of the clip\n\n' \
        $((i + 1)) $((s / 60)) $((s % 60)) $(((s + 2) / 60)) $(((s + 2) % 60)) "$((i + 1))"
    done
  } >"$tmp/clip.srt"
  ffmpeg -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=120,noise=alls=12:allf=t" \
    -f lavfi -i "aevalsrc=exprs=0.3*sin(2*PI*440*t)+0.05*(random(0)-0.5)|0.3*sin(2*PI*554*t)+0.05*(random(1)-0.5):s=48000:d=120" \
    -f lavfi -i "aevalsrc=exprs=0.2*sin(2*PI*330*t)+0.03*(random(0)-0.5)|0.2*sin(2*PI*392*t)+0.03*(random(1)-0.5)|0.2*sin(2*PI*494*t)|0.1*sin(2*PI*60*t)|0.02*(random(2)-0.5)|0.02*(random(3)-0.5):c=5.1:s=48000:d=120" \
    -i "$tmp/clip.srt" \
    -map 0:v -map 1:a -map 2:a -map 3:s \
    -c:v libx264 -preset veryfast -b:v 6500k -maxrate 7000k -bufsize 13000k \
    -g 50 -keyint_min 50 -sc_threshold 0 -pix_fmt yuv420p \
    -c:a:0 aac -b:a:0 160k -c:a:1 ac3 -b:a:1 384k -c:s srt \
    -metadata:s:a:0 language=eng -metadata:s:a:1 language=ger -metadata:s:s:0 language=eng \
    "$tmp/clip.mkv"
  {
    echo '<?xml version="1.0"?>'
    echo '<!DOCTYPE Chapters SYSTEM "matroskachapters.dtd">'
    echo '<Chapters><EditionEntry>'
    for m in $(seq 0 2 18); do
      printf '<ChapterAtom><ChapterTimeStart>00:%02d:00.000</ChapterTimeStart><ChapterDisplay><ChapterString>Minute %d</ChapterString><ChapterLanguage>eng</ChapterLanguage></ChapterDisplay></ChapterAtom>\n' "$m" "$m"
    done
    echo '</EditionEntry></Chapters>'
  } >"$tmp/chapters.xml"
  # ffmpeg starts the picture after the sound's encoder delay; appended as it
  # is, every join would leave a gap that a film does not have. The picture is
  # moved to 0 and each track appended to its own end.
  local lead
  lead=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -read_intervals %+#1 -of csv=p=0 "$tmp/clip.mkv" | head -1)
  mkvmerge -q -o "$tmp/clip0.mkv" --sync "0:-$(python3 -c "print(round(float('$lead') * 1000))")" "$tmp/clip.mkv"
  local args=(-q -o "$tmp/movie.mkv" --append-mode track --chapters "$tmp/chapters.xml" "$tmp/clip0.mkv")
  for _ in $(seq 2 10); do args+=(+ "$tmp/clip0.mkv"); done
  # Status 1 is mkvmerge's "done, with warnings".
  mkvmerge "${args[@]}" || [[ $? -eq 1 ]]
  mv "$tmp/movie.mkv" "$movie"
  rm -rf "$tmp"
  echo "bench: generated in $((SECONDS - start)) s" >&2
}

# One line: size, duration, overall and video bit rate.
movie_summary() {
  local bytes duration video_rate
  bytes=$(stat -c %s "$movie")
  duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$movie")
  # Matroska keeps no per-track bit rate; mkvmerge writes it as a statistics tag.
  video_rate=$(ffprobe -v error -select_streams v:0 -show_entries stream_tags=BPS -of csv=p=0 "$movie")
  python3 - "$bytes" "$duration" "${video_rate:-0}" <<'EOF'
import sys
size, duration, video = int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3] or 0)
print(f"movie: {size / 1e9:.2f} GB ({size} bytes), {int(duration // 60)}:{duration % 60:04.1f} min, "
      f"{size * 8 / duration / 1e6:.2f} Mbit/s overall, video {video / 1e6:.2f} Mbit/s")
EOF
}

# What the table is measured on: the summary, the file and its tracks.
describe_movie() {
  movie_summary
  ls -l "$movie"
  ffprobe -v error -show_entries stream=index,codec_type,codec_name,width,height,avg_frame_rate,channels,sample_rate:stream_tags=language \
    -of compact=p=0 "$movie"
}

# The edit sets, as arrays and an edit list in the work folder.
#   ten:   ten 20-second removes, one every 100 s from 100.5 s on
#   parts: mkvmerge's --split value keeping the same ranges, joined with "+"
#   mix:   every edit kind
#   edits200.csv, parts200: 200 removes of 2.5 s, one every 6 s from 3 s on,
#          and the same kept ranges for mkvmerge (not from 1 s: a remove there
#          snaps to the picture's first keyframe, 21 ms after 0 behind AAC's
#          priming, and the sliver before it makes the run fail)
# shellcheck disable=SC2034  # the arrays are read by the scripts that source this
define_edits() {
  ten=()
  for i in $(seq 1 10); do ten+=(--remove "$((i * 100)).5-$((i * 100 + 20)).5"); done
  parts=$(python3 - <<'EOF'
def t(s): return f"{int(s // 3600):02d}:{int(s % 3600 // 60):02d}:{s % 60:06.3f}"
kept = [(0, 100.5)] + [(i * 100 + 20.5, (i + 1) * 100 + 0.5) for i in range(1, 10)] + [(1020.5, None)]
print("parts:" + ",+".join(f"{t(a)}-{t(b) if b is not None else ''}" for a, b in kept))
EOF
)
  mix=(--mute 30-35 --remove 100-130 --card 200-230 "Later that day" --card-seconds 3
       --text 400-420 "Scene skipped" --remove 600-640 --mute 700-702 --card 900-910 "The end is near")
  {
    echo "start,end,action"
    for i in $(seq 0 199); do echo "$((i * 6 + 3)).0,$((i * 6 + 5)).5,remove"; done
  } >"$bench_work/edits200.csv"
  parts200=$(python3 - <<'EOF'
def t(s): return f"{int(s // 3600):02d}:{int(s % 3600 // 60):02d}:{s % 60:06.3f}"
kept = [(0, 3.0)] + [(i * 6 + 5.5, (i + 1) * 6 + 3.0) for i in range(199)] + [(199 * 6 + 5.5, None)]
print("parts:" + ",+".join(f"{t(a)}-{t(b) if b is not None else ''}" for a, b in kept))
EOF
)
}

# True when the CLI offers frame-exact cuts.
cli_has_exact() {
  "$cli" --help 2>&1 | grep -q -- '--exact'
}

load_now() { cut -d' ' -f1-3 /proc/loadavg; }
