#!/usr/bin/env bash
# The files the jobs write are the same bytes whatever the locale and the
# time zone, time stamps aside.
#
#   outputs_under_locales.sh BMSMON_CLI [WORK_FOLDER]
#
# Runs the jobs that write files (a production test run with its report,
# record and ledger, a history read with its CSV export, a plan check) on
# the built-in virtual pack under LC_ALL=C and TZ=UTC, then under German and
# French locales and time zones away from UTC (one with a half-hour offset),
# and compares every file with the C/UTC run byte for byte. Only the host's
# time stamps are masked, each where its format says: the two stamps of the
# report, the start and end times of the record, the first field of the
# ledger and the yyyymmdd_hhnnss part of file and folder names (and the date
# and time fields of data log rows, should a log be among them). The data
# log of monitoring is compared under the locales by bmscore_tests
# (LocaleFiles) on the virtual clock: in real time its rows follow the
# barcode probe of each cycle, which a loaded machine shifts. Exit 0 when
# every file matched, 1 on a difference, 2 on a usage or set-up error.
set -uo pipefail
cli="${1:-}"
if [ -z "$cli" ] || [ ! -x "$cli" ]; then
  echo "usage: $0 BMSMON_CLI [WORK_FOLDER]" >&2
  exit 2
fi
cli="$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")"
work="${2:-}"
own_work=0
if [ -z "$work" ]; then
  work="$(mktemp -d "${TMPDIR:-/tmp}/bms-locale.XXXXXX")"
  own_work=1
fi
mkdir -p "$work"

# C/UTC first: the reference.
runs=("C UTC" "C America/St_Johns" "de_DE.UTF-8 Asia/Taipei" "fr_FR.UTF-8 America/St_Johns" "de_DE.UTF-8 America/St_Johns")
for r in "${runs[@]}"; do
  loc="${r%% *}"
  if [ "$loc" != C ] && ! locale -a | grep -qix "${loc/UTF-8/utf8}"; then
    echo "the locale $loc is not installed (tools/deps generates it)" >&2
    exit 2
  fi
done

plan="$work/plan.ini"
printf '[Set]\r\nTestRepeatCnt=1\r\nfBtyDsgLOADCurrent=2.5\r\nfBtyOverDsgLOADCurrent=12\r\n[Check]\r\nBMSChgDsgCurrentMax=3000.7\r\nBMSChgDsgCurrentMin=-3000.2\r\nProjectName=LP13S4P-A\r\nFWVer=2.14\r\nSOCMax=100\r\nSOCMin=10\r\nSOHMax=100\r\nSOHMin=50\r\nT1=25\r\nT1Range=5\r\nT2Range=5\r\nCellVoltMax=4200\r\nCellVoltMin=3000\r\nCellBalance=100\r\nPackVoltMax=60000\r\nPackVoltMin=30000\r\nPackCurrentMax=0\r\nPackCurrentMin=-3000\r\n' >"$plan"

# One run of every job under one locale and time zone, into folder $1/out.
run_jobs() {
  local dir="$1" loc="$2" tz="$3" status=0
  mkdir -p "$dir/out"
  (
    cd "$dir" || exit 2
    export LC_ALL="$loc" TZ="$tz" LANG="$loc"
    "$cli" test run --plan "$plan" --work W1 --barcode B-1 --simulate --data-dir out >test.stdout 2>test.stderr || echo "test run: exit $?" >>failures
    "$cli" history read lead --simulate --data-dir out >history.stdout 2>history.stderr || echo "history read: exit $?" >>failures
    "$cli" plan check "$plan" >out/plan.json 2>plan.stderr || echo "plan check: exit $?" >>failures
  ) || status=$?
  return $status
}

# The masked copy of folder $1/out in $1/masked: names and contents with
# the host's time stamps replaced, nothing else touched.
mask() {
  local dir="$1" f rel masked_rel
  rm -rf "$dir/masked"
  mkdir -p "$dir/masked"
  (cd "$dir/out" && find . -type f | sort) | while read -r rel; do
    f="$dir/out/$rel"
    masked_rel="$(printf '%s' "$rel" | sed -E 's/[0-9]{8}_[0-9]{6}/yyyymmdd_hhnnss/g')"
    mkdir -p "$(dirname "$dir/masked/$masked_rel")"
    case "$rel" in
      ./Log_Record/*.csv)
        # Date, Time of every row: "yyyy-mm-dd, hh:nn:ss.zzz,"
        LC_ALL=C sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2}, [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3},/yyyy-mm-dd, hh:nn:ss.zzz,/' "$f" ;;
      ./Test_Report/*/*.txt)
        # The start and stop stamps: "yyyy-mm-dd , hh:nn:ss" and "yyyy.mm.dd , hh:nn:ss"
        LC_ALL=C sed -E 's/[0-9]{4}([-.])[0-9]{2}([-.])[0-9]{2} , [0-9]{2}:[0-9]{2}:[0-9]{2}/yyyy\1mm\2dd , hh:nn:ss/g' "$f" ;;
      ./Test_Report/*/*.json)
        LC_ALL=C sed -E 's/"(start|end)_time": "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}"/"\1_time": "yyyy-mm-dd hh:nn:ss"/' "$f" ;;
      ./Test_Report/ledger.csv)
        LC_ALL=C sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2},/yyyy-mm-dd hh:nn:ss,/; s/_[0-9]{8}_[0-9]{6}_/_yyyymmdd_hhnnss_/' "$f" ;;
      *) cat "$f" ;;
    esac >"$dir/masked/$masked_rel"
  done
}

# One after the other: the virtual pack answers in real time, and runs side
# by side would compete for the processor. A run in real time on a loaded
# machine can miss a reply (a history chunk, a barcode probe) and write other
# values: a run that differs from the reference is made again, up to twice,
# together with the reference. A fault of locale or time zone differs every
# time; only a run that differs in all three attempts fails.
attempt_run() {  # $1 index, $2 attempt
  local r="${runs[$1]}" dir="$work/run$1.$2"
  rm -rf "$dir"
  run_jobs "$dir" "${r%% *}" "${r#* }"
  mask "$dir"
}

rc=0
attempt_run 0 1
ref="$work/run0.1/masked"
if [ -s "$work/run0.1/failures" ]; then
  echo "LC_ALL/TZ ${runs[0]}: a job failed:" >&2
  sed 's/^/  /' "$work/run0.1/failures" >&2
  rc=1
fi
files=$( (cd "$ref" && find . -type f) | wc -l)
if [ "$files" -lt 5 ]; then
  echo "the C/UTC run wrote $files files, fewer than its jobs write" >&2
  rc=1
fi
for ((i = 1; i < ${#runs[@]}; i++)); do
  matched=0
  for attempt in 1 2 3; do
    if [ "$attempt" -gt 1 ]; then
      attempt_run 0 "$attempt"
      ref="$work/run0.$attempt/masked"
    fi
    attempt_run "$i" "$attempt"
    rm -f "$work/run$i.$attempt/diff.txt"
    if [ ! -s "$work/run$i.$attempt/failures" ] && diff -r "$ref" "$work/run$i.$attempt/masked" >"$work/run$i.$attempt/diff.txt"; then
      matched=$attempt
      break
    fi
    echo "LC_ALL/TZ ${runs[$i]}: attempt $attempt differs from C/UTC's:" >&2
    cat "$work/run$i.$attempt/failures" 2>/dev/null | sed 's/^/  /' >&2
    [ -f "$work/run$i.$attempt/diff.txt" ] && head -20 "$work/run$i.$attempt/diff.txt" >&2
  done
  if [ "$matched" -gt 0 ]; then
    echo "LC_ALL/TZ ${runs[$i]}: the $files files are identical to C/UTC's (attempt $matched)"
  else
    echo "LC_ALL/TZ ${runs[$i]}: FAILED: the files differ in every attempt" >&2
    rc=1
  fi
done
if [ $rc -eq 0 ] && [ $own_work -eq 1 ]; then rm -rf "$work"; else echo "work folder: $work"; fi
exit $rc
