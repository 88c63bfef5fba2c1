#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a scratch
# root (dpkg -x) and checks what a user would get: the programs run from
# there, each with its manual page and completion, the example kernels and the
# licence, and every shared library they load belongs to a package the .deb
# depends on.
#   check_deb.sh CPACK BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
cpack=$1 build=$2 source=$3 version=$4

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "FAIL: $*"
  status=1
}
# Whether the package's Depends names `package` (with or without a version).
depends_on() {
  local entry
  local IFS=','
  for entry in $depends; do
    entry=${entry# }
    [[ ${entry%% *} == "$1" ]] && return 0
  done
  return 1
}
status=0

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; exit 1; }
debs=("$scratch"/out/*.deb)
[[ ${#debs[@]} == 1 && -f ${debs[0]} ]] || { echo "FAIL: no single .deb in ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}
[[ $(basename "$deb") == "kdsp_${version}_amd64.deb" ]] || fail "package file named $(basename "$deb")"
[[ $(dpkg-deb -f "$deb" Package) == kdsp ]] || fail "package name"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version $(dpkg-deb -f "$deb" Version)"
[[ $(dpkg-deb -f "$deb" Description) == *"Licence: MIT"* ]] || fail "the description does not name the licence"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"

root=$scratch/root
dpkg -x "$deb" "$root"
cmp -s "$root/usr/share/doc/kdsp/copyright" "$source/LICENSE" || fail "LICENSE not installed as the copyright file"
examples=$(find "$source/examples" -name '*.kasm' | wc -l)
installed=$(find "$root/usr/share/kdsp/examples" -name '*.kasm' | wc -l)
((examples > 0 && installed == examples)) || fail "$installed of $examples example kernels installed"

declare -A libraries owners  # library path: the programs that load it; its package
programs=()
for program in kdsp kdsp-as kdsp-dis kdsp-scan kdsp-synth kdsp-rx; do
  if [[ -e $build/$program || -e $build/tools/$program/$program ]]; then programs+=("$program"); fi
done
for program in "${programs[@]}"; do
  bin=$root/usr/bin/$program
  [[ -x $bin ]] || { fail "$program not installed"; continue; }
  [[ -f $root/usr/share/man/man1/$program.1.gz ]] || fail "$program: no manual page"
  [[ -f $root/usr/share/bash-completion/completions/$program ]] || fail "$program: no completion"

  # Each library it is linked against comes from a package named in Depends
  # (the libraries' own needs are their packages' business).
  needed=$(objdump -p "$bin" | awk '$1 == "NEEDED" { print $2 }')
  for name in $needed; do
    path=$(ldd "$bin" | awk -v n="$name" '$1 == n && $3 ~ /^\// { print $3 }')
    [[ -n $path ]] || { fail "$program: $name not found"; continue; }
    libraries[$path]+=" $program"
  done

  out=$("$bin" --version 2>"$scratch/err") && code=0 || code=$?
  err=$(cat "$scratch/err")
  if [[ $program == kdsp ]]; then
    # kdsp keeps its one command line: any other argument count is the usage error.
    [[ $code == 11 && $err == "usage: $bin capture.iq kernel.kdsp [output.wav]" ]] ||
      fail "kdsp --version: status $code, '$err'"
  else
    [[ $code == 0 && $out == "$program $version" && -z $err ]] ||
      fail "$program --version: status $code, '$out', '$err'"
  fi
  echo "$program: $code ${out:-$err}" | head -1
done

# One look-up in dpkg's database for all the libraries, each by both of its
# names where /lib is /usr/lib: a package may have shipped either.
other_name() { if [[ $1 == /usr/* ]]; then echo "${1#/usr}"; else echo "/usr$1"; fi; }
names=()
for library in "${!libraries[@]}"; do names+=("$library" "$(other_name "$library")"); done
while IFS= read -r line; do
  owners[${line#*: }]=${line%%:*}
done < <(dpkg -S "${names[@]}" 2>/dev/null || true)
for library in "${!libraries[@]}"; do
  owner=${owners[$library]:-${owners[$(other_name "$library")]:-}}
  if [[ -z $owner ]]; then
    fail "${libraries[$library]# } loads $library, which no package owns"
  elif ! depends_on "$owner"; then
    fail "${libraries[$library]# } loads $library from $owner, not in Depends"
  fi
done
((${#programs[@]} >= 5)) || fail "only ${programs[*]} built"
exit "$status"
