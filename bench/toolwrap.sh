# shellcheck shell=bash
# Sourced by the stand-ins bench/stages.sh writes for ffmpeg, ffprobe and the
# MKVToolNix programs (each sets TOOLWRAP_REAL first). Runs the real tool with
# the same arguments and streams, then appends one line to
# $REELMENDER_BENCH_TOOL_LOG:
#   start end status tool bytes_read bytes_written peak_kib arguments
# (tab-separated). Start and end are wall-clock epoch seconds; the peak
# resident set comes from GNU time where it is installed (else 0), through a
# file named after the log and this shell's pid that bench/stages.py removes.
# The byte counts are what the tool's read and write calls moved, pipes
# included: Linux adds a waited-for child's counters to its parent's
# /proc/PID/io, so the difference around the run is the tool's.
# Measurement only: the stand-in stays between the caller and the tool, so a
# caller that kills its child kills this shell, not the tool.

toolwrap_io() {
  local key value
  while read -r key value; do
    case "$key" in
      rchar:) toolwrap_read=$value ;;
      wchar:) toolwrap_written=$value ;;
    esac
  done </proc/$$/io
}

toolwrap_io
toolwrap_read0=$toolwrap_read
toolwrap_written0=$toolwrap_written
toolwrap_peak=0
toolwrap_start=$EPOCHREALTIME
if [[ -x /usr/bin/time ]]; then
  /usr/bin/time -q -f %M -o "$REELMENDER_BENCH_TOOL_LOG.$$" "$TOOLWRAP_REAL" "$@"
  toolwrap_status=$?
  read -r toolwrap_peak <"$REELMENDER_BENCH_TOOL_LOG.$$" || toolwrap_peak=0
else
  "$TOOLWRAP_REAL" "$@"
  toolwrap_status=$?
fi
toolwrap_end=$EPOCHREALTIME
toolwrap_io
printf -v toolwrap_args '%q ' "$@"
printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$toolwrap_start" "$toolwrap_end" "$toolwrap_status" "${TOOLWRAP_REAL##*/}" \
  $((toolwrap_read - toolwrap_read0)) $((toolwrap_written - toolwrap_written0)) "$toolwrap_peak" "${toolwrap_args% }" \
  >>"$REELMENDER_BENCH_TOOL_LOG"
exit "$toolwrap_status"
