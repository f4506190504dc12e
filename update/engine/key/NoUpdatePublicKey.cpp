// Built without LUMETRA_UPDATE_PUBLIC_KEY: releases are taken as they come, as before
// signed releases existed.
#include "UpdatePublicKey.h"

const char* EmbeddedUpdatePublicKey() { return ""; }
