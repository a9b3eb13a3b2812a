# Sourced by the end-to-end tests, scripts/run_main.sh and
# scripts/bench_install.sh: makes an unpacked package folder from a build.
#
#   make_test_package BIN DIR [OPTION...]
#     BIN is the build's bin/ folder (kavor_setup.exe, kavor_installer.dll
#     and the stand-ins), DIR the package folder to make (must not exist).
#     Options:
#       --host-name=NAME     the host's name in the package (kavor_setup.exe)
#       --no-version         kavor.exe without a version resource
#       --empty-files-list   an empty files_list
#       --package-version=V  a package_version file holding V
#       --prefs-include=JSON an installer_prefs_include.json holding JSON
#       --extra-list=FILE    further entries (relative paths, one a line)
#                            appended to files_list; the files must be in
#                            DIR already or be made by the caller afterwards
#       --7z[=OPTIONS]       lays DIR out as a downloaded package
#                            (pack_test_package below; OPTIONS are 7zz's,
#                            blank-separated)
#
#   pack_test_package DIR [7ZZ_OPTION...]
#     turns the unpacked package DIR into a downloaded one: every file of it
#     goes into the 7z archive DIR/kavor_package, and beside the archive stay
#     only what the download folder holds besides: the installer that runs
#     from there (the host and its library), package_version and
#     installer_prefs_include.json when there are such, and the "ready"
#     marker. A backend given --package-dir=DIR without --inside-package
#     unpacks the archive into the version folder and hands over to the
#     installer.exe it unpacked, which reads the lists from there.
#
# The package holds the host and the library, a second copy of the host as
# installer.exe (the one that runs from the installation), the browser,
# launcher and helper stand-ins and one resource. The copy from the package
# appends files_list, root_files_list, launcher.exe and the helper itself,
# so the lists leave them out. The host goes to the root list: it is the one
# file that a run from the installation moves up into the install folder.

make_test_package() {
  local bin="$1" dir="$2"
  shift 2
  local host=kavor_setup.exe no_version=0 empty=0 package_version=""
  local prefs="" extra="" pack=0 pack_options=""
  local opt
  for opt in "$@"; do
    case "$opt" in
      --host-name=*) host="${opt#*=}" ;;
      --no-version) no_version=1 ;;
      --empty-files-list) empty=1 ;;
      --package-version=*) package_version="${opt#*=}" ;;
      --prefs-include=*) prefs="${opt#*=}" ;;
      --extra-list=*) extra="${opt#*=}" ;;
      --7z) pack=1 ;;
      --7z=*) pack=1 pack_options="${opt#*=}" ;;
      *) echo "make_test_package: unknown option $opt" >&2; return 2 ;;
    esac
  done
  mkdir -p "$dir/resources" || return 1
  cp "$bin/kavor_setup.exe" "$dir/$host" &&
    cp "$bin/kavor_setup.exe" "$dir/installer.exe" &&
    cp "$bin/kavor_installer.dll" "$dir/kavor_installer.dll" &&
    cp "$bin/kavor_launcher_standin.exe" "$dir/launcher.exe" &&
    cp "$bin/kavor_helper_standin.exe" "$dir/installer_helper_64.exe" ||
    return 1
  if [ "$no_version" = 1 ]; then
    cp "$bin/kavor_helper_standin.exe" "$dir/kavor.exe" || return 1
  else
    cp "$bin/kavor_browser_standin.exe" "$dir/kavor.exe" || return 1
  fi
  printf 'resource a\n' >"$dir/resources/a.pak"
  [ -n "$package_version" ] && printf '%s' "$package_version" >"$dir/package_version"
  [ -n "$prefs" ] && printf '%s' "$prefs" >"$dir/installer_prefs_include.json"

  : >"$dir/files_list"
  if [ "$empty" = 0 ]; then
    {
      printf '%s\r\n' installer.exe kavor_installer.dll kavor.exe 'resources\a.pak'
      if [ -n "$extra" ]; then
        local line
        while IFS= read -r line; do printf '%s\r\n' "$line"; done <"$extra"
      fi
    } >"$dir/files_list"
  fi
  printf '%s\r\n' "$host" >"$dir/root_files_list"
  if [ "$pack" = 1 ]; then
    # shellcheck disable=SC2086 # the options are blank-separated on purpose
    pack_test_package "$dir" $pack_options || return 1
  fi
}

pack_test_package() {
  local dir="$1" host
  shift
  host=$(tr -d '\r' <"$dir/root_files_list" | head -n1)
  local beside
  beside="$(cd "$(dirname "$dir")" && pwd)/$(basename "$dir").beside"
  rm -rf "$beside" && mkdir -p "$beside" || return 1
  cp "$dir/$host" "$dir/kavor_installer.dll" "$beside/" || return 1
  local f
  for f in package_version installer_prefs_include.json; do
    if [ -f "$dir/$f" ]; then mv "$dir/$f" "$beside/" || return 1; fi
  done
  # 7zz names an archive without an extension .7z.
  (cd "$dir" && 7zz a -bd -bso0 -bsp0 "$@" "$beside/kavor_package.7z" .) &&
    mv "$beside/kavor_package.7z" "$beside/kavor_package" || return 1
  rm -rf "$dir" && mv "$beside" "$dir" && : >"$dir/ready"
}
