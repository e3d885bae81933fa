# bash completion of vantrel-device, vantrel-settings and vantrel-view. The candidates come from
# the program itself (its hidden --complete mode reads its own command, option and key tables),
# so a new command or key completes without a change here.
_vantrel_programs() {
    local line="${COMP_LINE:0:COMP_POINT}" words=() out=() IFS=$' \t\n'
    read -ra words <<<"$line"
    [[ $line == *[[:space:]] || ${#words[@]} -eq 0 ]] && words+=("")
    local cur="${words[${#words[@]}-1]}"
    IFS=$'\n' out=($("${words[0]}" --complete "${words[@]:1}" 2>/dev/null))
    case "${out[0]-}" in
        @dir) COMPREPLY=($(compgen -d -- "$cur")); compopt -o filenames 2>/dev/null || true; return ;;
        @file) COMPREPLY=($(compgen -f -- "$cur")); compopt -o filenames 2>/dev/null || true; return ;;
    esac
    COMPREPLY=("${out[@]}")
    # KEY= goes on with its value, no space between.
    [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null || true
    return 0
}
complete -F _vantrel_programs vantrel-device vantrel-settings vantrel-view
