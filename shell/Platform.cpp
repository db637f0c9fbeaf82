#include "shell/Wintools.h"

PlatformCalls& Platform() {
    static PlatformCalls calls;
    return calls;
}
