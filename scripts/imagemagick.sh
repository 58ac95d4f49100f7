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
