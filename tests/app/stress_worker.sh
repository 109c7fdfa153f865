#!/usr/bin/env bash
# One worker of the mixed-load stress: runs quillmart-cli in the current folder
# (the shop) for SECONDS or MAX_OPS commands, on keys of its own ("0017W3":
# number, then W and the worker), appending, changing (notes included),
# renaming, deleting and recalling them, now and then asking for what must be
# refused.
# Writes one line per command to LOG:
#   seq <TAB> kind <TAB> key <TAB> exit status <TAB> assignments <TAB> first line of output
# kind is new, set, rename (a set with CODE=NEWKEY), delete or recall;
# assignments are the FIELD=VALUE words.
# Usage: stress_worker.sh CLI WORKER SECONDS MAX_OPS LOG
set -u
cli=$1 worker=$2 seconds=$3 maxOps=$4 log=$5
RANDOM=$(( (worker + 1) * 7919 + $$ ))
mkdir -p notes
: >"$log"

declare -A state  # key -> live | deleted, as this worker's successful commands left it
keys=()

# Notes of 0 to about 1,800 bytes (several memo blocks), some letters from
# code page 437, no blank at either end.
write_notes() {
  local file=$1 key=$2 seq=$3 lines=$((RANDOM % 40)) text="Notes of $key, edit $seq"
  for ((i = 0; i < lines; i++)); do text+=$'\n'"line $i of $key: Café crème, Zürich £ $RANDOM"; done
  printf '%s' "$text" >"$file"
}

# The words a set gives: NAME always, PRICE and SNOTES (from a file or
# emptied) only sometimes, so untouched fields must stay as they were.
assignments() {
  local key=$1 seq=$2
  words=("NAME=n$seq-$RANDOM")
  ((RANDOM % 2)) && words+=("PRICE=$((RANDOM % 1000)).$((RANDOM % 90 + 10))")
  case $((RANDOM % 4)) in
    0) words+=("SNOTES=") ;;
    1 | 2) write_notes "notes/$key-$seq.txt" "$key" "$seq"; words+=("SNOTES=@notes/$key-$seq.txt") ;;
  esac
}

run() {
  local seq=$1 kind=$2 key=$3 output status
  shift 3
  output=$(timeout 120 "$cli" "$@" 2>&1)
  status=$?
  output=${output%%$'\n'*}
  printf '%d\t%s\t%s\t%d\t%s\t%s\n' "$seq" "$kind" "$key" "$status" "${words[*]}" "${output//$'\t'/ }" >>"$log"
  return $status
}

# A key this worker has never used: numbers count up, renamed keys included.
next=0
new_key() {
  printf -v key '%04dW%d' "$next" "$worker"
  ((next++))
}

# Every worker starts with three products, then each other kind of command
# once (a change, a rename, a delete and a recall of its last product),
# however slow the machine; then it rolls dice until its time is up.
planned=(40 28 70 90)
end=$((SECONDS + seconds))
for ((seq = 1; seq <= maxOps && (${#planned[@]} > 0 || SECONDS < end); seq++)); do
  roll=$((RANDOM % 100))
  words=()
  if ((${#keys[@]} < 3 || (roll < 22 && ${#planned[@]} == 0))); then
    new_key
    assignments "$key" "$seq"
    if run "$seq" new "$key" set --new "$key" "${words[@]}"; then keys+=("$key"); state[$key]=live; fi
    continue
  fi
  key=${keys[RANDOM % ${#keys[@]}]}
  if ((${#planned[@]} > 0)); then
    roll=${planned[0]} key=${keys[-1]}
    planned=("${planned[@]:1}")
  fi
  # A deleted key is mostly recalled; the rest of the time it is asked for
  # what a deleted product refuses.
  [[ ${state[$key]} == deleted ]] && ((roll % 3 == 0)) && roll=90
  if ((roll < 25)); then  # a key of its own that is taken: refused
    assignments "$key" "$seq"
    run "$seq" new "$key" set --new "$key" "${words[@]}"
  elif ((roll < 31)); then  # renamed to a fresh key: its index entry moves
    old=$key
    new_key
    assignments "$key" "$seq"
    words=("CODE=$key" "${words[@]}")
    if run "$seq" rename "$old" set "$old" "${words[@]}"; then
      for i in "${!keys[@]}"; do [[ ${keys[i]} == "$old" ]] && keys[i]=$key; done
      state[$key]=${state[$old]}
      unset "state[$old]"
    fi
  elif ((roll < 65)); then
    assignments "$key" "$seq"
    run "$seq" set "$key" set "$key" "${words[@]}"
  elif ((roll < 82)); then
    run "$seq" delete "$key" delete "$key" && state[$key]=deleted
  else
    run "$seq" recall "$key" recall "$key" && state[$key]=live
  fi
done
exit 0
