#!/usr/bin/env bash
# The program as a user meets it: a real X server (Xvfb), the real local answer service with the
# sample bank, and a real X client (xdotool) that types a Chinese question into the window, picks
# the platform and clicks the query button; the answer is read back by selecting the answer box and
# copying it (xclip).
#
# usage: xvfb_query_test.sh QUORVANE QUORVANE_ALT ALT_PORT ANSWER_SERVICE SAMPLE_BANK
#   QUORVANE      the program, built for the default answer host 127.0.0.1:17380
#   QUORVANE_ALT  the same program built for 127.0.0.1:ALT_PORT, used when 17380 is taken
# Exit codes: 0 passed, 1 failed, 77 skipped (only when Xvfb itself cannot start).
set -uo pipefail

quorvane=$1 quorvane_alt=$2 alt_port=$3 service=$4 bank=$5
work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/*.log; do [[ -s $log ]] && { echo "--- $(basename "$log")"; tail -n 20 "$log"; } >&2; done
  exit 1
}
# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$1; shift
  for ((tick = 0; tick < limit * 10; tick++)); do "$@" && return 0; sleep 0.1; done
  return 1
}
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

for tool in Xvfb xdotool xclip; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup installs it)"
done

# An X server on a display it picks itself.
Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
if ! wait_for 15 test -s "$work/display" || ! kill -0 "${pids[0]}" 2>/dev/null; then
  echo "SKIP: Xvfb cannot start here: $(tail -n 3 "$work/xvfb.log" | tr '\n' ' ')"
  exit 77
fi
export DISPLAY=":$(head -n 1 "$work/display")"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

# The sample bank in a database of this run, and the service on the program's port.
"$service" import --bank "$work/bank.db" "$bank" >"$work/import.log" 2>&1 || fail "the sample bank did not import"
port=17380 program=$quorvane
if listening 17380; then
  port=$alt_port program=$quorvane_alt
  listening "$port" && fail "ports 17380 and $port are both in use; the test needs one of them"
fi
"$service" serve --bank "$work/bank.db" --port "$port" >"$work/service.log" 2>&1 &
pids+=($!)
wait_for 15 listening "$port" || fail "the answer service did not start on port $port"

# A question of the bank with its answer, and the window's own sample question.
question=$(awk -F'\t' 'NR > 1 && $1 == "vm" && $5 != "指令系统中采用不同寻址方式的目的是" && $5 ~ /[^ -~]/ { print $5; exit }' "$bank")
answer=$(awk -F'\t' -v q="$question" 'NR > 1 && $1 == "vm" && $5 == q { print $6; exit }' "$bank")
[[ -n $question && -n $answer ]] || fail "no Velmora question with an answer in $bank"

"$program" >"$work/quorvane.log" 2>&1 &
pids+=($!)
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Quorvane' 2>/dev/null | head -n 1)
[[ -n $window ]] || fail "the main window did not appear"
xdotool windowactivate --sync "$window" >/dev/null 2>&1 || xdotool windowfocus --sync "$window"

# Client coordinates of the controls (the main window's layout): the middle of each.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; sleep 0.2; }
question_box=(248 60) velmora=(110 20) query_button=(336 148) answer_box=(220 208)

# The text of a box, selected and copied as a user would.
copy_box() {
  printf '' | xclip -selection clipboard -i
  click "$@"
  xdotool key --clearmodifiers ctrl+a ctrl+c
  sleep 0.3
  xclip -selection clipboard -o 2>/dev/null
}

# Type the question. xdotool types characters that have no key on the keyboard by remapping a
# spare key code to them; when that does not reach Qt the question is pasted from the clipboard.
click "${question_box[@]}"
xdotool key --clearmodifiers ctrl+a BackSpace
xdotool type --delay 40 "$question"
sleep 0.3
method="typed with xdotool"
if [[ $(copy_box "${question_box[@]}") != "$question" ]]; then
  method="pasted from the clipboard (typing did not arrive)"
  printf '%s' "$question" | xclip -selection clipboard -i
  click "${question_box[@]}"
  xdotool key --clearmodifiers ctrl+a ctrl+v
  sleep 0.3
  [[ $(copy_box "${question_box[@]}") == "$question" ]] || fail "the question could not be typed or pasted"
fi
echo "question $method: $question"

click "${velmora[@]}"
click "${query_button[@]}"
expected="答案：$answer"
seen=""
for ((try = 0; try < 20; try++)); do
  seen=$(copy_box "${answer_box[@]}")
  [[ $seen == "$expected" ]] && break
  sleep 0.5
done
[[ $seen == "$expected" ]] || fail "the answer box shows '$seen', expected '$expected'"
echo "answer box: $seen"
