# Sourced by the picture scripts.
# wait_for FILE TEXT SECONDS: returns once FILE holds TEXT; says so and fails after SECONDS.
wait_for() {
  local file=$1 text=$2 seconds=$3
  for ((i = 0; i < seconds * 10; i++)); do
    if grep -qF -- "$text" "$file" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "$(basename "$0" .sh): no \"$text\" in $file after $seconds s" >&2
  return 1
}
