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
# This Wine has no fonts of its own: the dialog font (Tahoma) and the
# caption font become DejaVu Sans, which has the Latin, Greek, Cyrillic,
# Arabic and Hebrew letters, and the Chinese, Japanese and Korean ones come
# from WenQuanYi Micro Hei, linked behind it (both from install_deps.sh).
for face in Tahoma 'Microsoft Sans Serif'; do
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d 'DejaVu Sans' /f >/dev/null 2>&1 || true
done
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /t REG_SZ /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1 || true
for face in Tahoma 'DejaVu Sans' 'DejaVu Sans Bold'; do
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" /t REG_MULTI_SZ \
    /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1 || true
done
wineserver -p >/dev/null 2>&1 || true
