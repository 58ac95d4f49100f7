# Sourced: finds ImageMagick's own programs. A program of the same name that
# is not ImageMagick's (another package's, or a stand-in earlier on PATH)
# must not take a screenshot or read a pixel in its place.
#   imagemagick PROGRAM   prints its path, or one line why there is none and fails
imagemagick() {
  local entry version
  local IFS=:
  for entry in $PATH; do
    [ -x "$entry/$1" ] || continue
    version=$("$entry/$1" -version </dev/null 2>/dev/null) || continue
    case ${version%%$'\n'*} in
      *ImageMagick*) echo "$entry/$1"; return 0 ;;
    esac
  done
  echo "ImageMagick's $1 is not installed (scripts/install-cross-deps.sh installs imagemagick)" >&2
  return 1
}

# crop_to_window ROBOT_OUT PICTURE: cuts a screenshot down to the window whose
# "winrect" line the robot printed; or prints why not and fails.
crop_to_window() {
  local geometry convert
  geometry=$(awk '$1 == "winrect" { printf "%dx%d+%d+%d", $4, $5, $2, $3; exit }' "$1")
  [ -n "$geometry" ] || { echo "the robot gave no window rectangle; see $1"; return 1; }
  convert=$(imagemagick convert 2>&1) || { echo "$convert"; return 1; }
  "$convert" "$2" -crop "$geometry" +repage "$2" 2>"$2.err" ||
    { echo "picture $2 was not made: $(head -n1 "$2.err")"; return 1; }
  rm -f "$2.err"
}
