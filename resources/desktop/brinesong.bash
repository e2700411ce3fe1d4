# SPDX-License-Identifier: GPL-3.0-or-later
# bash completion for brinesong                                  -*- shell-script -*-
# Options, their values (on|off for the switches, files for --export, the output devices the sound
# server offers for --device, the presets for --preset and --then) and Qt's window options.

_brinesong() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD - 1]}
    fi

    case $prev in
    --export)
        if declare -F _filedir >/dev/null; then
            _filedir '@(aif|aiff|wav|flac|opus|ogg|mp3)'
        else
            COMPREPLY=($(compgen -f -- "$cur"))
        fi
        return
        ;;
    --format)
        COMPREPLY=($(compgen -W 'aiff wav flac opus ogg mp3' -- "$cur"))
        return
        ;;
    --boost-sound-level | --amplitude-generator)
        COMPREPLY=($(compgen -W 'on off' -- "$cur"))
        return
        ;;
    --device | --preset | --then)
        # One name a line, as the program lists them; each offered quoted for the shell, and
        # matched against what was typed with its quoting taken off. A preset's name in any case,
        # and a shipped one's in every language the program speaks (BRINESONG_COMPLETE asks the
        # program for those), as --preset takes them. A step of --then goes on with "@" and its
        # minute.
        local list=--list-devices name typed=${cur#[\'\"]} after= fold=
        [[ $prev == --device ]] || list=--list-presets fold=1
        [[ $prev == --then ]] && after=@ && compopt -o nospace 2>/dev/null
        typed=${typed//\\/}
        COMPREPLY=()
        while IFS= read -r name; do
            if [[ $fold ]]; then
                [[ ${name,,} == "${typed,,}"* ]] || continue
            else
                [[ $name == "$typed"* ]] || continue
            fi
            COMPREPLY+=("$(printf '%q' "$name")$after")
        done < <(BRINESONG_COMPLETE=1 "${COMP_WORDS[0]}" $list 2>/dev/null)
        return
        ;;
    --at | --minutes | --fade-out | --fade-in | --drift | --seed | --volume | --light-wave | --heavy-wave | --ascent | --descent | \
        --wave-interval | -platform | -style | -stylesheet | -qwindowgeometry | -qwindowtitle | \
        -qwindowicon | -platformtheme | -platformpluginpath | -plugin | -display | -session)
        return
        ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--export --format --loop --play --serve --list-devices --list-presets --preset
            --then --drift --minutes --fade-out --fade-in --device --seed
            --volume --light-wave --heavy-wave --ascent --descent --wave-interval
            --boost-sound-level --amplitude-generator --start --stop --hidden --at --help --version' -- "$cur"))
    fi
} &&
    complete -F _brinesong brinesong
