// A timeline of the program's stages for measuring where a period's time goes: with the
// environment variable CARVELUND_TRACE naming a file, each stage appends one line, the
// system time in seconds and the stage's name. Without it nothing is written.
#pragma once

void TraceStage(const char* stage);
