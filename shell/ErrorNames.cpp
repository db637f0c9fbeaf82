#include "shell/Wintools.h"

// Interim: the generated table replaces this file.
const char* SystemErrorName(int32_t) { return "*UnKnwon Error*"; }
