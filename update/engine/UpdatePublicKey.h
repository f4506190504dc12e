#pragma once
// The publisher's public key built into the program (the CMake cache variable
// LUMETRA_UPDATE_PUBLIC_KEY names its PEM file): "" when the program was built without
// one, and then no update run asks for signatures.

const char* EmbeddedUpdatePublicKey();
