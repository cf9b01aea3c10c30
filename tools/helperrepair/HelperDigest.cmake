# cmake -DINPUT=<file> -DOUTPUT=<header> -P HelperDigest.cmake
# Writes a header defining HELPER_SHA256, the file's SHA-256 digest in
# lower-case hex.
file(SHA256 "${INPUT}" digest)
file(WRITE "${OUTPUT}.tmp"
     "/* Generated from ${INPUT}; do not edit. */\n#define HELPER_SHA256 \"${digest}\"\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
