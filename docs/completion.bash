# Bash completion for demo2html: its options while they may stand (before
# "--"), and file names everywhere, whatever their extension, since a demo
# has none of its own. Installed as
# /usr/share/bash-completion/completions/demo2html.
_demo2html()
{
    local current=${COMP_WORDS[COMP_CWORD]} word
    COMPREPLY=()
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        [[ $word == -- ]] && return 0
    done
    if [[ $current == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '--view --text --csv --demo --help --version --' -- "$current")
    fi
    return 0
}
# -o default: where no option fits, readline completes file names as usual.
complete -o default -F _demo2html demo2html
