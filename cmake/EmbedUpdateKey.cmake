# cmake -DPEM=<public key file> -DOUT=<source file> -P EmbedUpdateKey.cmake
# Writes the source that builds the publisher's public key into the program. Runs at build
# time, so that a new key file is picked up by the next build.
file(READ "${PEM}" text)
if(NOT text MATCHES "-----BEGIN PUBLIC KEY-----" OR NOT text MATCHES "-----END PUBLIC KEY-----")
  message(FATAL_ERROR "${PEM} holds no PEM public key (make one with: openssl ec -in key.pem -pubout -out ${PEM})")
endif()
string(REGEX MATCH "-----BEGIN PUBLIC KEY-----[^-]*-----END PUBLIC KEY-----" block "${text}")
string(REPLACE "\r" "" block "${block}")
file(WRITE "${OUT}.part" "// Generated from ${PEM} by cmake/EmbedUpdateKey.cmake.\n"
  "#include \"UpdatePublicKey.h\"\n\n"
  "const char* EmbeddedUpdatePublicKey() {\n    return R\"LUMETRAKEY(${block}\n)LUMETRAKEY\";\n}\n")
file(RENAME "${OUT}.part" "${OUT}")
