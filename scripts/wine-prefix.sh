# Sourced by the scripts that run the Windows programs: a throwaway Wine prefix, without the .NET
# and HTML runtimes (whose installers would ask) and without desktop integration, removed on exit.
# Wine's Recycle Bin is the freedesktop trash under XDG_DATA_HOME, so that is kept inside it too:
# nothing is written outside the prefix.
WINEPREFIX=$(mktemp -d)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export XDG_DATA_HOME="$WINEPREFIX/xdg-data"
wine_prefix_cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap wine_prefix_cleanup EXIT
wineboot --init >/dev/null 2>&1
wineserver -w
