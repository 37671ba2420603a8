#!/usr/bin/env bash
# Checks the include rules between the layers; fails with the list of the includes that break
# them. Run by ./test.sh.
#   1. Operating-system headers only under src/platform/, and there only in the implementation
#      files: a platform header (src/platform/*.h) shows its callers no system header.
#   2. Widget headers (the QtWidgets module) only under src/ui/, tests/ui/, bench/ui/ (and in
#      the tests of the run modes, which drive the windows they open).
#   3. Nothing below the windows includes ui/: only src/ui/, the run modes and src/main.cpp do.
#   5. Layer order: platform/ includes nothing of ours above it; services/ only platform/; the
#      core (policy/, ostable/, net/, help/) only itself, services/ and platform/; ui/ never
#      app/; the command-line program never the run modes.
#   4. The command-line program (src/cli/) needs no display: no ui/ include, no widget header
#      (nor the QtWidgets module header) and no link to the ui library or the widget module.
set -euo pipefail
cd "$(dirname "$0")/.."

# Operating-system headers: POSIX and Linux, and the Windows ones a port would bring.
os_headers='sys/[^>]*|netinet/[^>]*|arpa/[^>]*|net/[^>]*|netpacket/[^>]*|linux/[^>]*|asm/[^>]*'
os_headers+='|unistd\.h|fcntl\.h|poll\.h|netdb\.h|spawn\.h|ifaddrs\.h|pwd\.h|grp\.h|signal\.h'
os_headers+='|dirent\.h|dlfcn\.h|sched\.h|termios\.h|syslog\.h|pthread\.h|semaphore\.h'
os_headers+='|windows\.h|winsock2\.h|ws2tcpip\.h|iphlpapi\.h|shlobj\.h'

# Exceptions to rule 1, "file header" each. An entry no longer needed fails the check, so the
# list only shrinks; it is empty now and should stay so.
os_allowed=()

# Test programs' shared main for widget tests: it creates the QApplication. The run modes'
# tests click through the agreement and the boxes that apply mode shows.
widget_allowed=("tests/support/test_main_gui.cpp" "tests/app/runmodes_test.cpp")

failures=()
# fail <grep -n hit> <reason>: "file:line: #include ...: reason"
fail() {
  local file="${1%%:*}" rest="${1#*:}"
  local text="${rest#*:}"
  failures+=("$file:${rest%%:*}: ${text#"${text%%[![:space:]]*}"}: $2")
}

# summary <text...>: what a rule looked at, and how many breaks it found.
reported=0
summary() {
  local found=$((${#failures[@]} - reported))
  reported=${#failures[@]}
  echo "layers: $*: $([ $found -eq 0 ] && echo ok || echo "$found broken")"
}

sources() { find "$@" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' \) 2>/dev/null | sort; }

# --- 1. Operating-system headers -----------------------------------------------------------------
mapfile -t core_files < <(sources src | grep -v '^src/platform/')
used_allowed=()
os_count=0
if [ ${#core_files[@]} -gt 0 ]; then
  while IFS= read -r hit; do
    file="${hit%%:*}"
    header="${hit#*<}"; header="${header%%>*}"
    os_count=$((os_count + 1))
    if printf '%s\n' "${os_allowed[@]}" | grep -qxF "$file $header"; then
      used_allowed+=("$file $header")
    else
      fail "$hit" "operating-system header outside src/platform/"
    fi
  done < <(grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($os_headers)>" "${core_files[@]}" /dev/null || true)
fi
for entry in "${os_allowed[@]}"; do
  if ! printf '%s\n' "${used_allowed[@]}" | grep -qxF "$entry"; then
    failures+=("${entry%% *}: <${entry#* }>: allowed exception no longer needed; remove it here")
  fi
done
summary "${#core_files[@]} files of src/ outside platform/: operating-system headers" \
        "($os_count includes, ${#os_allowed[@]} allowed exceptions)"

mapfile -t platform_headers < <(find src/platform -type f \( -name '*.h' -o -name '*.hpp' \) | sort)
while IFS= read -r hit; do
  fail "$hit" "operating-system header in a platform header: keep it in the implementation"
done < <(grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($os_headers)>" \
           "${platform_headers[@]}" /dev/null || true)
summary "${#platform_headers[@]} headers of src/platform/: operating-system headers"

# --- 2. Widget headers ---------------------------------------------------------------------------
# Every class header of Qt's QtWidgets module, from the installed headers.
qt_headers="$(qtpaths6 --query QT_INSTALL_HEADERS 2>/dev/null || true)"
[ -d "$qt_headers/QtWidgets" ] || qt_headers="$(qmake6 -query QT_INSTALL_HEADERS 2>/dev/null || true)"
if [ ! -d "$qt_headers/QtWidgets" ]; then
  echo "layers: Qt's QtWidgets headers not found (qtpaths6/qmake6); run scripts/install-deps.sh" >&2
  exit 2
fi
widget_names="$(find "$qt_headers/QtWidgets" -maxdepth 1 -type f -name 'Q*' ! -name '*.h' -printf '%f\n' | paste -sd'|')"
mapfile -t all_files < <(sources src tools tests bench fuzz)
mapfile -t non_ui_files < <(printf '%s\n' "${all_files[@]}" | grep -vE '^(src|tests|bench)/ui/' |
                              grep -vxF -f <(printf '%s\n' "${widget_allowed[@]}"))
while IFS= read -r hit; do
  fail "$hit" "widget header outside ui/"
done < <(grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"](QtWidgets/)?($widget_names)[>\"]" \
           "${non_ui_files[@]}" /dev/null || true)
summary "${#non_ui_files[@]} files of src/ tools/ tests/ bench/ fuzz/ outside ui/: widget headers" \
        "($(tr '|' '\n' <<<"$widget_names" | wc -l) QtWidgets headers looked for)"

# --- 3. No reach-up into ui/ ---------------------------------------------------------------------
mapfile -t below_ui < <(sources src tools | grep -vE '^src/ui/' | grep -vxE 'src/main.cpp|src/app/(runmodes|guiapp)\.(h|cpp)')
while IFS= read -r hit; do
  fail "$hit" "ui/ included from below the windows"
done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"ui/' "${below_ui[@]}" /dev/null || true)
summary "${#below_ui[@]} files of src/ tools/ outside ui/, the run modes and main.cpp: ui/ includes"

# --- 4. The command-line program ------------------------------------------------------------------
mapfile -t cli_files < <(sources src/cli)
while IFS= read -r hit; do
  fail "$hit" "ui/ or widget header in the command-line program"
done < <(grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"](ui/|QtWidgets|($widget_names)[>\"])" \
           "${cli_files[@]}" /dev/null || true)
while IFS= read -r hit; do
  fail "$hit" "the command-line program links the ui library or the widget module"
done < <(grep -nE 'corvane_ui|Widgets' src/cli/CMakeLists.txt /dev/null 2>/dev/null | grep -vE '^[^:]*:[0-9]+:[[:space:]]*#' || true)
summary "${#cli_files[@]} files of src/cli/: ui/ and widget includes, ui and widget links"

# --- 5. Layer order --------------------------------------------------------------------------------
core='policy|ostable|net|help'
declare -A may_include=(
  [platform]='platform'
  [services]='services|platform'
  [policy]="$core|services|platform" [ostable]="$core|services|platform"
  [net]="$core|services|platform" [help]="$core|services|platform"
  [ui]="ui|$core|services|platform"
  [cli]="app/(application|commandline)\.h|cli|$core|services|platform"
)
checked=0
for folder in "${!may_include[@]}"; do
  mapfile -t files < <(sources "src/$folder")
  [ ${#files[@]} -gt 0 ] || continue
  checked=$((checked + ${#files[@]}))
  while IFS= read -r hit; do
    fail "$hit" "$folder/ may include only: ${may_include[$folder]//|/, }"
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z]+/' "${files[@]}" /dev/null |
             grep -vE "#[[:space:]]*include[[:space:]]*\"(${may_include[$folder]})[/\"]" || true)
done
summary "$checked files of src/ by folder: includes of lower layers only"

if [ ${#failures[@]} -gt 0 ]; then
  echo "layers: ${#failures[@]} broken include rule(s):" >&2
  printf '  %s\n' "${failures[@]}" >&2
  exit 1
fi
echo "layers: ok"
