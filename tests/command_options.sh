#!/bin/bash
# The commands and options that the program's --help names, that the bash completion offers and
# that the manual page's synopsis lines show are the same: each one that lacks what another has
# is named.
# Usage: command_options.sh <program> <bash completion> <manual page source>
set -u
program=$1
completion=$2
manual=$3
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# Each word on its own line, sorted, once.
words() { tr ' \t' '\n\n' | grep -v '^$' | sort -u; }
# Names the words that one source has and the other lacks.
compare() { # what, first source's name, first words, second source's name, second words
    local missing
    missing=$(comm -23 <(echo "$3") <(echo "$5") | tr '\n' ' ')
    [ -z "$missing" ] || fail "$1: $2 has what $4 lacks: $missing"
    missing=$(comm -13 <(echo "$3") <(echo "$5") | tr '\n' ' ')
    [ -z "$missing" ] || fail "$1: $4 has what $2 lacks: $missing"
}

# The completion, driven as bash drives it, with the helpers of bash-completion that it calls
# answering nothing.
_init_completion() {
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]:-}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
}
_filedir() { :; }
compopt() { :; }
complete() { :; }
# shellcheck source=/dev/null
. "$completion"
offered() { # the words before the one completed
    COMP_WORDS=(certwright "$@" "")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _certwright
    printf '%s\n' "${COMPREPLY[@]}" | words
}

# The manual page's synopsis lines: the bold line under each item of COMMANDS that begins with
# a command, with its options.
synopsis=$(sed -n '/^\.SH COMMANDS/,/^\.SH [^C]/p' "$manual" | grep -A1 '^\.TP' |
    grep '^\.B [a-z]' | sed 's/\\-/-/g')
manualOptions() { echo "$synopsis" | grep "^\.B $1\( \|$\)" | grep -o -- '--[a-z][a-z-]*' | words; }

help=$("$program" --help) || fail "certwright --help failed"
commands=$(echo "$help" | sed -n '/^Commands/,$p' | grep -Eo '^  [a-z]+' | words)
[ -n "$commands" ] || fail "certwright --help names no command"
programOptions=$(echo "$help" | grep -Eo '^  -[-A-Za-z]+' | words)
compare "the commands" "--help" "$commands" "the completion" \
    "$(offered | grep -v '^-')"
compare "the commands" "--help" "$commands" "the manual page" \
    "$(echo "$synopsis" | awk '{print $2}' | words)"
compare "the program's options" "--help" "$programOptions" "the completion" \
    "$(offered | grep '^-')"
for option in $programOptions; do
    grep -q "^\.B ${option//-/\\\\-}\$" "$manual" ||
        fail "the manual page's OPTIONS lack $option"
done

for command in $commands; do
    options=$("$program" "$command" --help | grep -Eo '^  (-[a-z], )?--[a-z-]+' |
        grep -Eo -- '--[a-z-]+' | words)
    [ -n "$options" ] || fail "certwright $command --help names no option"
    compare "the options of $command" "--help" "$options" "the completion" "$(offered "$command")"
    # The manual names --help once for all commands.
    compare "the options of $command" "--help" "$(echo "$options" | grep -vx -- --help)" \
        "the manual page" "$(manualOptions "$command")"
done

[ "$failures" -eq 0 ] || exit 1
echo "--help, the completion and the manual page name the same commands and options"
