# Sourced by the scripts that run Wine: `ov_wine_env PREFIX` sets the
# environment every Wine program of the project runs with.
ov_wine_env() {
   export WINEPREFIX="$1"
   export WINEARCH=win64
   export WINEDEBUG="${OV_WINEDEBUG:--all}"
   # No Mono/Gecko install prompts, no menu entries or file associations in $HOME.
   export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}
