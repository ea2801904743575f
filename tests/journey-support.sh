# Sourced by the GUI journeys and the installer tests: the recordings they make and how they
# compare a conversion with its source.
#   winpath UNIX_PATH          the same path as Wine's Z: drive spells it
#   wrap_tivo MPEG OUT         a .TiVo container as TiVo Desktop keeps one (16-byte header, one
#                              plain XML chunk, padding up to the MPEG offset, the program stream)
#   probe_counts FILE          codec and packet count per stream, sorted
winpath() { echo "Z:${1//\//\\}"; }

# big-endian 32-bit number as printf escapes
be32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 >> 24 & 255)) $(($1 >> 16 & 255)) $(($1 >> 8 & 255)) $(($1 & 255)); }

wrap_tivo() {
  local input=$1 output=$2 offset=10240
  local xml='<?xml version="1.0" encoding="utf-8"?><license xmlns="http://www.tivo.com/developer/xml/license-1.0"><notice>Korvane journey</notice></license>'
  local data=${#xml} chunk=$((12 + ${#xml}))
  {
    printf 'TiVo\x00\x04\x00\x0d\x00\x00'; printf "$(be32 $offset)"; printf '\x00\x01'
    printf "$(be32 $chunk)"; printf "$(be32 $data)"; printf '\x00\x03\x00\x00'; printf '%s' "$xml"
    head -c $((offset - 16 - chunk)) /dev/zero
    cat "$input"
  } >"$output"
}

probe_counts() {
  ffprobe -v error -count_packets -show_entries stream=codec_name,nb_read_packets -of csv=p=0 "$1" | sort
}
