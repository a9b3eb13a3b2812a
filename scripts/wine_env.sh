# Sourced by the run scripts: a private Wine prefix inside the build tree,
# made once, and a persistent wineserver so that each test executable starts
# quickly.
: "${BUILD:=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}"
export WINEDEBUG=-all
export WINEPREFIX="$BUILD/wineprefix"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating Wine prefix in $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi
# No crash dialogs and no debugger: a crashing process just ends.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 1 /f >/dev/null 2>&1 || true
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d '' /f >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
# Xvfb runs no window manager: Wine draws the window frames itself instead of
# waiting for one on every window it hides.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
# Wine's own dialog font has Latin, Greek and Cyrillic letters only, and it
# takes the letters it lacks from the first linked font that exists: that
# is Unifont (install_deps.sh), which has the Chinese, Japanese, Korean,
# Arabic and Hebrew ones too.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v Tahoma /t REG_MULTI_SZ /d 'unifont.otf,Unifont' /f >/dev/null 2>&1 || true
wineserver -p >/dev/null 2>&1 || true
